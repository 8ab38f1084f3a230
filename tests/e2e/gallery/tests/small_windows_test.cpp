// The traffic panel, the current-node test window, the about box and the
// action-log window in the dialog gallery on the virtual display, in
// English and in Simplified Chinese. Screenshots of each window go to
// $CENDROW_SCREENSHOT_DIR when it is set.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/e2e/gallery/tests/gallery_driver.h"
#include "tests/support/process.h"

using namespace gallerytest;

namespace {

const char* kChineseLanguage = "[basic]\nselected=1\nlang1=Chinese,2052\n";
const char* const kFakeOpener = "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\" >> \"$(dirname \"$0\")/opened.txt\"; done\n";
const Rgb kBackground{57, 61, 64}, kLabelInk{119, 132, 137}, kWhite{255, 255, 255};
const Rgb kPassGreen{0, 200, 0}, kErrorRed{255, 0, 0};

// The number after "key=" in a state line, or -1.
int Word(const std::string& state, const std::string& key) {
    const size_t at = (" " + state).find(" " + key + "=");
    if (at == std::string::npos) return -1;
    return std::atoi(state.c_str() + at + key.size() + 1);
}

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void SaveShot(const Rect& r, const std::string& name) {
    const char* dir = std::getenv("CENDROW_SCREENSHOT_DIR");
    if (!dir || r.w <= 0 || r.h <= 0) return;
    testsupport::RunCommand({"import", "-window", "root", "-crop",
                             std::to_string(r.w) + "x" + std::to_string(r.h) + "+" + std::to_string(r.x) + "+" +
                                 std::to_string(r.y),
                             std::string(dir) + "/" + name + ".png"});
}

std::map<std::string, std::string> Language(bool chinese, std::map<std::string, std::string> files = {}) {
    if (chinese) files["config/language.ini"] = kChineseLanguage;
    return files;
}

class SmallWindows : public ::testing::TestWithParam<bool> {};

TEST_P(SmallWindows, TrafficPanelRepaintsOnlyWhenAFigureChanges) {
    REQUIRE_DISPLAY();
    Gallery g({"traffic"}, Language(GetParam()), DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    ASSERT_TRUE(WaitFor([&] { return Word(g.State("traffic"), "ticks") >= 2; })) << g.State("traffic");
    const Rect panel = g.rect("traffic");
    Screenshot shot = TakeScreenshot();
    SaveShot(panel, std::string("traffic-") + (GetParam() ? "zh_CN" : "en"));
    // The margins are background, the labels grey, the values white.
    for (auto [x, y] : {std::pair{panel.x + 3, panel.y + 2}, {panel.x + panel.w - 4, panel.y + panel.h - 2}})
        EXPECT_TRUE(Near(shot.At(x, y), kBackground, 2)) << ToString(shot.At(x, y));
    for (int i = 0; i < 3; ++i) {
        EXPECT_GT(shot.Count(g.rect("traffic.label" + std::to_string(i)), kLabelInk, 12), 4) << i;
        EXPECT_GT(shot.Count(g.rect("traffic.value" + std::to_string(i)), kWhite, 8), 4) << i;
    }
    EXPECT_TRUE(g.StateHas("traffic.glyphs", "unknown=0")) << g.State("traffic.glyphs");

    // Three ticks with the same figures: no paint.
    const int ticks = Word(g.State("traffic"), "ticks");
    const int paints = g.Paints()["traffic"];
    ASSERT_TRUE(WaitFor([&] { return Word(g.State("traffic"), "ticks") >= ticks + 3; }, std::chrono::seconds(8)));
    EXPECT_EQ(g.Paints()["traffic"], paints);
    g.Command("act traffic.change");
    EXPECT_TRUE(WaitFor([&] { return g.Paints()["traffic"] > paints; }, std::chrono::seconds(4)));
    EXPECT_TRUE(g.StateHas("traffic", "connections=4")) << g.State("traffic");
}

TEST_P(SmallWindows, TestWindowDocksAtTheScreensEdgeHidesOnCloseAndComesBackCleared) {
    REQUIRE_DISPLAY();
    Gallery g({"nodetest"}, Language(GetParam()), DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    g.Command("act nodetest.start");
    ASSERT_TRUE(WaitFor([&] { return Word(g.State("nodetest"), "lines") >= 5 && g.StateHas("nodetest", "running=0"); }))
        << g.State("nodetest");
    std::string state = g.State("nodetest");
    const int screen = Word(state, "screen");
    // Beside a main window at the right edge: against the screen's edge.
    EXPECT_EQ(Word(state, "x"), screen - Word(state, "w")) << state;
    EXPECT_EQ(Word(state, "y"), g.rect("main").y) << state;
    EXPECT_TRUE(g.StateHas("nodetest", "flag=1"));
    g.RefreshRects();
    const Rect log = g.rect("nodetest.log");
    ASSERT_TRUE(WaitFor([&] {
        const Screenshot s = TakeScreenshot();
        return s.Count(log, kPassGreen, 40) > 10 && s.Count(log, kErrorRed, 40) > 10;
    })) << "the level colours of the pass and the error lines";
    SaveShot(g.rect("nodetest"), std::string("nodetest-") + (GetParam() ? "zh_CN" : "en"));
    EXPECT_TRUE(g.StateHas("nodetest.glyphs", "unknown=0")) << g.State("nodetest.glyphs");

    // The close button hides it.
    const Rect close = g.rect("nodetest.close");
    ASSERT_GT(close.w, 0) << "the scene names the close button";
    Xdo({"mousemove", std::to_string(close.cx()), std::to_string(close.cy()), "click", "1"});
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("nodetest", "shown=0"); })) << g.State("nodetest");
    EXPECT_TRUE(g.StateHas("nodetest", "flag=0"));
    // A slow test, then a new one: the log starts afresh, and the new run's
    // lines alone fill it.
    g.Command("act nodetest.startslow");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("nodetest", "shown=1") && g.StateHas("nodetest", "lines=1"); }))
        << g.State("nodetest");
    g.Command("act nodetest.start");
    ASSERT_TRUE(WaitFor([&] { return Word(g.State("nodetest"), "lines") >= 5 && g.StateHas("nodetest", "running=0"); }))
        << g.State("nodetest");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Word(g.State("nodetest"), "lines"), 5) << g.State("nodetest");
}

TEST_P(SmallWindows, AboutBoxShowsSetLinksOnlyAndTheSiteLinkOpensInTheBrowser) {
    REQUIRE_DISPLAY();
    Gallery g({"about"}, Language(GetParam(), {{"xdg-open", kFakeOpener}}), DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    const std::string state = g.State("about");
    EXPECT_NE(state.find(" 1015=1 1047=0 1048=0 1054=1 1055=0"), std::string::npos) << state;
    EXPECT_NE(state.find(".16666 "), std::string::npos) << state;
    EXPECT_NE(state.find(GetParam() ? "title=\xE5\x85\xB3\xE4\xBA\x8E" : "title=About"), std::string::npos) << state;
    EXPECT_TRUE(g.StateHas("about.glyphs", "unknown=0")) << g.State("about.glyphs");
    SaveShot(g.rect("about"), std::string("about-") + (GetParam() ? "zh_CN" : "en"));
    const Rect site = g.rect("1015");
    Xdo({"mousemove", std::to_string(site.cx()), std::to_string(site.cy()), "click", "1"});
    EXPECT_TRUE(WaitFor([&] { return ReadFile(g.folder() / "opened.txt") == "https://cendrow.example/site\n"; }))
        << ReadFile(g.folder() / "opened.txt");
}

TEST_P(SmallWindows, ActionLogShowsChineseLinesAndAnEmptyOneItsTitle) {
    REQUIRE_DISPLAY();
    Gallery g({"actionlog"}, Language(GetParam()), DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    EXPECT_TRUE(g.StateHas("actionlog", "lines=3")) << g.State("actionlog");
    EXPECT_NE(g.State("actionlog").find("first=\xE6\xAD\xA3\xE5\x9C\xA8\xE8\xBF\x9E\xE6\x8E\xA5"), std::string::npos)
        << g.State("actionlog");
    EXPECT_TRUE(g.StateHas("actionlog.empty", "lines=0")) << g.State("actionlog.empty");
    const std::string title = GetParam() ? "title=\xE6\x93\x8D\xE4\xBD\x9C\xE6\x97\xA5\xE5\xBF\x97" : "title=Action";
    EXPECT_NE(g.State("actionlog.empty").find(title), std::string::npos) << g.State("actionlog.empty");
    EXPECT_TRUE(g.StateHas("actionlog.glyphs", "unknown=0")) << g.State("actionlog.glyphs");
    // Black ink in the text.
    EXPECT_GT(TakeScreenshot().Count(g.rect("actionlog.text"), Rgb{0, 0, 0}, 60), 20);
    SaveShot(g.rect("actionlog"), std::string("actionlog-") + (GetParam() ? "zh_CN" : "en"));
    SaveShot(g.rect("actionlog.empty"), std::string("actionlog-empty-") + (GetParam() ? "zh_CN" : "en"));
}

// A log longer than the window opens on its newest lines: the view is
// scrolled to the end, the last line at its bottom.
TEST_P(SmallWindows, ActionLogOpensOnItsNewestLines) {
    REQUIRE_DISPLAY();
    Gallery g({"actionlog"}, Language(GetParam()), DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    const std::string state = g.State("actionlog.long");
    EXPECT_NE(state.find("lines=300 "), std::string::npos) << state;
    EXPECT_NE(state.find("last=\xE6\x9C\x80\xE5\x90\x8E The newest line"), std::string::npos) << state;
    const auto number = [&](const std::string& key) {
        const size_t at = state.find(" " + key + "=");
        return at == std::string::npos ? -1L : std::atol(state.c_str() + at + key.size() + 2);
    };
    // Line 299 is the newest one; 300 the empty line after its line break.
    EXPECT_GE(number("bottom"), 299) << state;
    EXPECT_GT(number("top"), 200) << state;
    EXPECT_LE(number("top"), 299) << state;
    SaveShot(g.rect("actionlog.long"), std::string("actionlog-long-") + (GetParam() ? "zh_CN" : "en"));
}

INSTANTIATE_TEST_SUITE_P(Languages, SmallWindows, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Chinese" : "English"; });

}  // namespace
