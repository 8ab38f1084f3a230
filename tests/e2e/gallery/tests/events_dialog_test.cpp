// The events dialog in the dialog gallery: events added and deleted by
// clicks and typing give event.ini; a refused name stays in the field with
// a box; a click on no row clears the selection. In English and Chinese.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/e2e/gallery/tests/gallery_driver.h"
#include "tests/support/process.h"

using namespace gallerytest;

namespace {

const char* kChineseLanguage = "[basic]\nselected=1\nlang1=Chinese,2052\n";

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Click(const Rect& r) {
    Xdo({"mousemove", std::to_string(r.cx()), std::to_string(r.cy()), "click", "1"});
}

// Clicks into the parameter field and types `text` until the field holds it.
bool TypeParam(Gallery& g, const std::string& text) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        Click(g.rect("1114"));
        Xdo({"key", "ctrl+a", "BackSpace"});
        Xdo({"type", "--delay", "60", text});
        if (WaitFor([&] { return (g.State("events") + " ").find(" param=" + text + " ") != std::string::npos; },
                    std::chrono::seconds(2)))
            return true;
    }
    return false;
}

class EventsDialog : public ::testing::TestWithParam<bool> {};

TEST_P(EventsDialog, ClicksAddAndDeleteEventsInEventIni) {
    REQUIRE_DISPLAY();
    std::map<std::string, std::string> files;
    if (GetParam()) files["config/language.ini"] = kChineseLanguage;
    Gallery g({"events"}, files, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    const std::filesystem::path ini = g.folder() / "config" / "event.ini";
    // "After DisConnect" and "Terminate process"; nothing to delete.
    EXPECT_TRUE(g.StateHas("events", "event=3")) << g.State("events");
    EXPECT_TRUE(g.StateHas("events", "action=0"));
    EXPECT_TRUE(g.StateHas("events", "delete=0"));
    EXPECT_TRUE(g.StateHas("events.glyphs", "unknown=0")) << g.State("events.glyphs");
    if (const char* dir = std::getenv("CENDROW_SCREENSHOT_DIR")) {
        const Rect r = g.rect("events");
        testsupport::RunCommand({"import", "-window", "root", "-crop",
                                 std::to_string(r.w) + "x" + std::to_string(r.h) + "+" + std::to_string(r.x) + "+" +
                                     std::to_string(r.y),
                                 std::string(dir) + "/events-" + (GetParam() ? "zh_CN" : "en") + ".png"});
    }

    ASSERT_TRUE(TypeParam(g, "game.exe")) << g.State("events");
    Click(g.rect("1192"));
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("events", "count=1"); })) << g.State("events");
    EXPECT_TRUE(g.StateHas("events", "param=")) << "the field is cleared";
    EXPECT_EQ(ReadFile(ini), "[basic]\neventtype1=3\nactiontype1=0\nparam1=game.exe\n");

    // A path is refused with a box; the text stays.
    ASSERT_TRUE(TypeParam(g, "/usr/bin/game")) << g.State("events");
    Click(g.rect("1192"));
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("boxes", "count=1"); })) << g.State("boxes");
    EXPECT_TRUE(g.StateHas("events", "count=1"));
    EXPECT_TRUE(g.StateHas("events", "param=/usr/bin/game")) << g.State("events");

    // Select the row, delete it: no event, no file.
    g.RefreshRects();
    Click(g.rect("events.row0"));
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("events", "delete=1"); })) << g.State("events");
    Click(g.rect("1058"));
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("events", "count=0"); })) << g.State("events");
    EXPECT_FALSE(std::filesystem::exists(ini));
    EXPECT_TRUE(g.StateHas("events", "delete=0"));

    // Two rows; a click on the empty part of the list clears the selection.
    ASSERT_TRUE(TypeParam(g, "one.exe"));
    Click(g.rect("1192"));
    ASSERT_TRUE(TypeParam(g, "two.exe"));
    Click(g.rect("1192"));
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("events", "count=2"); })) << g.State("events");
    g.RefreshRects();
    Click(g.rect("events.row1"));
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("events", "selected=1"); })) << g.State("events");
    const Rect list = g.rect("1193");
    Xdo({"mousemove", std::to_string(list.cx()), std::to_string(list.y + list.h - 12), "click", "1"});
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("events", "selected=-1") && g.StateHas("events", "delete=0"); }))
        << g.State("events");
    EXPECT_EQ(ReadFile(ini),
              "[basic]\neventtype1=3\nactiontype1=0\nparam1=one.exe\neventtype2=3\nactiontype2=0\nparam2=two.exe\n");
}

INSTANTIATE_TEST_SUITE_P(Languages, EventsDialog, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Chinese" : "English"; });

}  // namespace
