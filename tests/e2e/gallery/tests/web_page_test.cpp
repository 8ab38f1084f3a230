// The web page on the virtual display: its loading cover, "testfun" boxes,
// new-window links, and keys that stay with the page.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "tests/e2e/gallery/tests/gallery_driver.h"

namespace {

using gallerytest::Gallery;
using gallerytest::MoveTo;
using gallerytest::Near;
using gallerytest::Rect;
using gallerytest::Rgb;
using gallerytest::TakeScreenshot;
using gallerytest::ToString;
using gallerytest::WaitFor;
using gallerytest::Xdo;

const Rgb kPage{30, 160, 90}, kWhite{255, 255, 255};

const char* const kPageHtml = R"html(<!doctype html>
<html><head><meta charset="utf-8"><style>
body { margin: 0; background: rgb(30,160,90); }
a { position: absolute; left: 10px; width: 120px; height: 30px; display: block; background: #fff; }
#i { position: absolute; left: 10px; top: 130px; width: 150px; height: 24px; }
</style></head><body>
<a id="nw" href="http://example.invalid/new" target="_blank" style="top: 10px">new</a>
<a id="fl" href="file:///etc/hostname" target="_blank" style="top: 50px">file</a>
<a id="js" href="javascript:void(0)" target="_blank" style="top: 90px">js</a>
<input id="i">
<script>
document.addEventListener('keydown', function (e) {
  if (e.key === 'Enter') window.keys = (window.keys || '') + 'R';
  if (e.key === 'Escape') window.keys = (window.keys || '') + 'S';
});
window.addEventListener('load', function () {
  window.external.testfun('甲', 42);
  setTimeout(function () { window.external.testfun('x'.repeat(5000), 'tail'); }, 300);
});
</script></body></html>
)html";

// Records its arguments, one per line, next to itself.
const char* const kFakeOpener = "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\" >> \"$(dirname \"$0\")/opened.txt\"; done\n";

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The gallery's children that are WebKit's helper processes.
std::vector<pid_t> WebKitChildren(pid_t parent) {
    std::vector<pid_t> out;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string stat = ReadFile(entry.path() / "stat");
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent && stat.find("WebKit") != std::string::npos) out.push_back(std::stoi(name));
    }
    return out;
}

TEST(GalleryWeb, PageScriptLinksAndKeys) {
    REQUIRE_DISPLAY();
    std::vector<pid_t> helpers;
    {
        Gallery g({"web"}, {{"page.html", kPageHtml}, {"xdg-open", kFakeOpener}});
        const Rect page = g.rect("web");
        // The page's colour once it has loaded; the cover is gone.
        EXPECT_TRUE(WaitFor([&] { return Near(TakeScreenshot().At(page.x + 300, page.y + 250), kPage, 10); },
                            std::chrono::seconds(30)))
            << ToString(TakeScreenshot().At(page.x + 300, page.y + 250));
        EXPECT_TRUE(g.StateHas("web", "loading=0")) << g.State("web");

        // testfun: both values as text in one box; a huge value is cut.
        EXPECT_TRUE(WaitFor([&] { return g.StateHas("web", "boxes=2"); }, std::chrono::seconds(10))) << g.State("web");
        EXPECT_TRUE(g.StateHas("web", "boxlen=1021")) << g.State("web");
        // (The sink keeps the last box; the first one's text is checked below.)

        // A new-window link reaches the stand-in browser; file: and javascript: do not.
        ASSERT_TRUE(MoveTo(page.x + 40, page.y + 25));
        ASSERT_TRUE(Xdo({"click", "1"}));
        EXPECT_TRUE(WaitFor([&] { return ReadFile(g.folder() / "opened.txt").find("http://example.invalid/new") !=
                                         std::string::npos; },
                            std::chrono::seconds(10)));
        ASSERT_TRUE(MoveTo(page.x + 40, page.y + 65));
        ASSERT_TRUE(Xdo({"click", "1"}));
        ASSERT_TRUE(MoveTo(page.x + 40, page.y + 105));
        ASSERT_TRUE(Xdo({"click", "1"}));
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        EXPECT_EQ(ReadFile(g.folder() / "opened.txt"), "http://example.invalid/new\n");

        // Typing in the page: no browser shortcut reloads or opens anything.
        const std::string loads = g.State("web").substr(g.State("web").find("loads="), 8);
        ASSERT_TRUE(MoveTo(page.x + 60, page.y + 142));
        ASSERT_TRUE(Xdo({"click", "1"}));
        ASSERT_TRUE(Xdo({"type", "--delay", "60", "Ab"}));
        ASSERT_TRUE(Xdo({"key", "F5"}));
        ASSERT_TRUE(Xdo({"key", "ctrl+n"}));
        ASSERT_TRUE(Xdo({"key", "ctrl+r"}));
        ASSERT_TRUE(Xdo({"key", "BackSpace"}));
        ASSERT_TRUE(Xdo({"key", "Return"}));
        ASSERT_TRUE(Xdo({"key", "Escape"}));
        EXPECT_TRUE(WaitFor([&] { return g.StateHas("web", "input=A"); })) << g.State("web");
        EXPECT_NE(g.State("web").find(loads), std::string::npos) << "nothing reloaded: " << g.State("web");
        EXPECT_TRUE(g.StateHas("web", "keys=RS")) << "Enter and Esc reach the page: " << g.State("web");
        helpers = WebKitChildren(g.pid());
    }
    // The program's WebKit helpers end with it.
    EXPECT_TRUE(WaitFor(
        [&] {
            for (pid_t p : helpers) {
                if (kill(p, 0) == 0 && std::filesystem::exists("/proc/" + std::to_string(p))) return false;
            }
            return true;
        },
        std::chrono::seconds(20)));
}

TEST(GalleryWeb, FirstBoxShowsBothValues) {
    REQUIRE_DISPLAY();
    const std::string single = std::string(kPageHtml).replace(std::string(kPageHtml).find("setTimeout"), 0, "//");
    Gallery g({"web"}, {{"page.html", single}});
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("web", "boxes=1"); }, std::chrono::seconds(30))) << g.State("web");
    EXPECT_NE(g.State("web").find("box=varStr1:甲,varStr2:42"), std::string::npos) << g.State("web");
}

TEST(GalleryWeb, EmptyAddressKeepsTheCoverUntilTheTimer) {
    REQUIRE_DISPLAY();
    Gallery g({"webempty"});
    const Rect page = g.rect("webempty");
    EXPECT_TRUE(g.StateHas("webempty", "loading=1"));
    std::this_thread::sleep_for(std::chrono::seconds(4));
    EXPECT_TRUE(g.StateHas("webempty", "loading=1")) << "nothing loads, the cover stays";
    EXPECT_TRUE(Near(TakeScreenshot().At(page.x + 5, page.y + 5), kWhite, 8)) << "the white loading page";
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("webempty", "loading=0"); }, std::chrono::seconds(15)))
        << "the 10 s timer takes the cover away";
}

}  // namespace
