// The settings, smart-DNS and mode-editor dialogs in the dialog gallery on
// the virtual display, with the mode list and the additional routes: the
// own-DNS fields and the hint, typed addresses saved to dns.ini, the
// editor's line counter and its refusal of bad lines, built-in modes, the
// route lookup, and the texts in Simplified Chinese. Screenshots go to $CENDROW_SHOTS
// when it is set.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/gallery/tests/gallery_driver.h"
#include "tests/support/process.h"

using namespace gallerytest;

namespace {

const Rgb kHintBlue{0, 0, 255};
const Rgb kFieldEnabled{255, 255, 255}, kFieldDisabled{240, 240, 240};
const char* kChineseLanguage = "[basic]\nselected=1\nlang1=Chinese,2052\n";

void Shot(const std::string& name) {
    const char* dir = std::getenv("CENDROW_SHOTS");
    if (!dir) return;
    std::string out;
    testsupport::RunCommand({"import", "-window", "root", std::string(dir) + "/" + name + ".png"}, &out);
}

void Click(const Rect& r) { Xdo({"mousemove", std::to_string(r.cx()), std::to_string(r.cy()), "click", "1"}); }

// Lines typed with Return between them.
void TypeLines(const std::vector<std::string>& lines) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) Xdo({"key", "Return"});
        if (!lines[i].empty()) Xdo({"type", "--delay", "40", lines[i]});
    }
}

bool Has(const std::string& state, const std::string& part) { return state.find(part) != std::string::npos; }

// The own-servers row is row 1 (row 0 is smart DNS); Google DNS row 2.
TEST(SettingsDialog, OwnServersHintAndSmartDnsButton) {
    REQUIRE_DISPLAY();
    Gallery g({"settings"}, {}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    // Smart DNS current: its button shows, the fields are greyed.
    EXPECT_TRUE(g.StateHas("settings", "smart=1")) << g.State("settings");
    const Rect field = g.rect("1067.field0");
    const Screenshot smart = TakeScreenshot();
    EXPECT_GT(smart.Count(field, kFieldDisabled, 3), field.w * field.h / 2) << ToString(smart.At(field.cx(), field.cy()));
    Shot("settings-smart");

    g.Command("act settings.row1");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("settings", "ip=1"); })) << g.State("settings");
    EXPECT_TRUE(g.StateHas("settings", "smart=0"));
    ASSERT_TRUE(WaitFor([&] {
        const Screenshot s = TakeScreenshot();
        return s.Count(field, kFieldEnabled, 3) > field.w * field.h / 2;
    }));
    Shot("settings-own");

    // Google DNS: "Recommend to proxify DNS" in blue.
    g.Command("act settings.row2");
    ASSERT_TRUE(WaitFor([&] { return Has(g.State("settings"), "hint=Recommend to proxify DNS"); }))
        << g.State("settings");
    g.RefreshRects();
    const Rect hint = g.rect("1173");
    ASSERT_GT(hint.w, 0);
    EXPECT_TRUE(WaitFor([&] { return TakeScreenshot().Count(hint, kHintBlue, 60) >= 10; }));
    EXPECT_TRUE(g.StateHas("settings", "smart=0"));
    EXPECT_TRUE(g.StateHas("settings", "ip=0"));
    Shot("settings-hint");
}

TEST(SettingsDialog, TypedOwnServerIsSaved) {
    REQUIRE_DISPLAY();
    Gallery g({"settings"}, {}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    g.Command("act settings.row1");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("settings", "ip=1"); }));
    Click(g.rect("1067.field0"));
    // "." moves on to the next field.
    Xdo({"type", "--delay", "80", "9.9.9.9"});
    Shot("settings-typed");
    g.Command("act settings.save");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("settings", "result=1"); }))
        << g.State("settings") << " " << g.State("boxes");
    EXPECT_TRUE(Has(g.State("dnsini"), "9.9.9.9")) << g.State("dnsini");
}

TEST(SettingsDialog, AHiddenAutoLoginKeepsTheStoredChoice) {
    REQUIRE_DISPLAY();
    Gallery g({"settingsnoaccount"}, {{"config/config.ini", "[basic]\nautologin=1\n"}}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    EXPECT_TRUE(g.StateHas("settingsnoaccount", "autologinshown=0")) << g.State("settingsnoaccount");
    g.Command("act settingsnoaccount.save");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("settingsnoaccount", "result=1"); }))
        << g.State("settingsnoaccount") << " " << g.State("boxes");
    EXPECT_TRUE(Has(g.State("settingsnoaccount"), ";autologin=1;")) << g.State("settingsnoaccount");
}

TEST(ModeEditor, CounterFollowsTypedLinesAndBadLinesAreRefused) {
    REQUIRE_DISPLAY();
    Gallery g({"modeeditor"}, {}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    EXPECT_TRUE(Has(g.State("modeeditor"), "counter=[1] lines")) << g.State("modeeditor");
    Click(g.rect("1000"));
    Xdo({"type", "--delay", "60", "Lab"});
    Click(g.rect("1004"));
    TypeLines({"10.0.0.0/8", "192.168.1.0/24", "172.16.0.0/12"});
    ASSERT_TRUE(WaitFor([&] { return Has(g.State("modeeditor"), "counter=[3] lines"); })) << g.State("modeeditor");
    Shot("modeeditor-three");
    TypeLines({"", "bad line"});
    ASSERT_TRUE(WaitFor([&] { return Has(g.State("modeeditor"), "counter=[4] lines"); }));
    g.Command("act modeeditor.save");
    // The box's first line (the state ends there; the lines it lists are unit-tested).
    ASSERT_TRUE(WaitFor([&] { return Has(g.State("boxes"), "count=1 text=Some rules are not valid:"); }))
        << g.State("boxes");
    EXPECT_TRUE(g.StateHas("modeeditor", "shown=1"));
    EXPECT_TRUE(Has(g.State("modeeditor"), "counter=[4] lines"));
    EXPECT_TRUE(Has(g.State("modeeditor"), "modes=4"));  // nothing saved
}

TEST(ModeManagement, BuiltInRowsLeaveEditAndDeleteDisabled) {
    REQUIRE_DISPLAY();
    Gallery g({"modes"}, {}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    ASSERT_TRUE(Has(g.State("modes"), "rows=Global wide|Web Browser only(Global)|")) << g.State("modes");
    ASSERT_TRUE(Has(g.State("modes"), "|Office ")) << g.State("modes");
    EXPECT_TRUE(Has(g.State("modes"), "edit=0 delete=0"));
    g.RefreshRects();
    Click(g.rect("modes.row0"));
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("modes", "sel=0"); })) << g.State("modes");
    EXPECT_TRUE(WaitFor([&] { return Has(g.State("modes"), "edit=0 delete=0"); })) << g.State("modes");
    const Rect edit = g.rect("1059");
    EXPECT_GT(TakeScreenshot().Count(edit, Rgb{214, 214, 214}, 8), edit.w * edit.h / 4);
    Shot("modes-builtin");
    Click(g.rect("modes.row3"));
    ASSERT_TRUE(WaitFor([&] { return Has(g.State("modes"), "sel=3 edit=1 delete=1"); })) << g.State("modes");
    Shot("modes-file");
}

TEST(AdditionalRoutes, TheLookupDisablesTheInputsAndShowsTheWaitLabel) {
    REQUIRE_DISPLAY();
    Gallery g({"routes"}, {}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    Click(g.rect("1003"));
    Xdo({"type", "--delay", "60", "host.slow"});
    g.Command("act routes.add");
    ASSERT_TRUE(WaitFor([&] { return Has(g.State("routes"), "busy=1 wait=1 add=0 edit=0"); })) << g.State("routes");
    g.RefreshRects();
    const Rect wait = g.rect("1061");
    ASSERT_GT(wait.w, 0);
    // Ink: dark text pixels inside the wait label.
    EXPECT_TRUE(WaitFor([&] { return TakeScreenshot().Count(wait, Rgb{40, 40, 40}, 60) >= 5; }));
    Shot("routes-lookup");
    g.Command("act routes.release");
    ASSERT_TRUE(WaitFor([&] { return Has(g.State("routes"), "busy=0 wait=0 add=1 edit=1"); })) << g.State("routes");
    EXPECT_TRUE(Has(g.State("routes"), "rows=203.0.113.9/Direct")) << g.State("routes");
    Shot("routes-added");
}

TEST(DialogsPart2InChinese, TextsAreTranslatedAndHaveGlyphs) {
    REQUIRE_DISPLAY();
    Gallery g({"settings", "smartdns", "modeeditor", "modes", "routes"}, {{"config/language.ini", kChineseLanguage}},
              DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    for (const char* scene : {"settings", "smartdns", "modeeditor", "modes", "routes"}) {
        const std::string state = g.State(std::string(scene) + ".glyphs");
        EXPECT_TRUE(g.StateHas(std::string(scene) + ".glyphs", "unknown=0")) << scene << ": " << state;
    }
    // The preset list by its Chinese names ("谷歌 DNS"), labels as the catalogue has them.
    EXPECT_TRUE(Has(g.State("settings"), "\xE8\xB0\xB7\xE6\xAD\x8C DNS")) << g.State("settings");
    const std::string labels = g.State("labels");
    EXPECT_TRUE(Has(labels, "1158=\xE9\xA2\x84\xE9\x80\x89 DNS\xEF\xBC\x9A")) << labels;    // 预选 DNS：
    EXPECT_TRUE(Has(labels, "1076=\xE5\xBC\x80\xE6\x9C\xBA\xE8\x87\xAA\xE5\x8A\xA8\xE8\xBF\x90\xE8\xA1\x8C")) << labels;
    EXPECT_TRUE(Has(g.State("labels.modeeditor"), "1009=[1] \xE8\xA1\x8C")) << g.State("labels.modeeditor");
    // A mode by its Chinese name ("办公室").
    EXPECT_TRUE(Has(g.State("modes"), "|\xE5\x8A\x9E\xE5\x85\xAC\xE5\xAE\xA4 ")) << g.State("modes");
    Shot("zh-settings-smartdns-editor");
}

}  // namespace
