// The skin record loaded from skin folders written by the test: the usual
// skin, the cases its sections depend on, and hostile files.
#include "ui/base/skin_settings.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/ui/skin_fixture.h"
#include "ui/base/bmp_reader.h"
#include "ui/base/skin_frame.h"

namespace {

class SkinTest : public ::testing::Test {
protected:
    void SetUp() override { uitest::ResetSkin(); }
    void TearDown() override { uitest::ResetSkin(); }
    int Load(const uitest::SkinFiles& f) {
        uitest::WriteSkin(dir_.path(), f);
        return LoadSkin(L"test");
    }
    std::filesystem::path SkinDir() const { return dir_.path() / "test"; }
    testsupport::TempDir dir_{"cendrow-skin"};
};

TEST_F(SkinTest, FullSkinLoadsEverySection) {
    uitest::SkinFiles f;
    ASSERT_EQ(Load(f), 1);
    const SkinSettings& s = GetSkin();
    EXPECT_EQ(s.dialog_loaded, 1);
    EXPECT_EQ(s.button_loaded, 1);
    EXPECT_EQ(s.checkbox_loaded, 1);
    EXPECT_EQ(s.edit_loaded, 1);
    EXPECT_EQ(s.TitleHeight(), 30);
    EXPECT_EQ(s.SideBorderWidth(), 3);
    EXPECT_EQ(s.BottomHeight(), 3);
    EXPECT_EQ(s.sysbutton_cell_width, 22);
    EXPECT_EQ(s.sysbutton_cell_height, 22);
    EXPECT_EQ(s.corner_width, 6);
    EXPECT_EQ(s.system_button_top, 4);
    EXPECT_EQ(s.title_text_color, RGB(255, 255, 255));
    EXPECT_TRUE(s.has_background_brush);
    EXPECT_EQ(s.background_color, RGB(250, 251, 252));
    EXPECT_EQ(s.button_row_height, 24);
    EXPECT_EQ(s.button_left_width, 5);
    EXPECT_EQ(s.button_active_color, RGB(4, 5, 6));
    EXPECT_EQ(s.button_disabled_color, RGB(10, 11, 12));
    EXPECT_EQ(s.checkbox_cell_width, 13);
    EXPECT_EQ(s.checkbox_cell_height, 13);
    EXPECT_EQ(s.checkbox_text_color, RGB(30, 31, 32));
    EXPECT_EQ(s.edit_mid_color, RGB(1, 1, 1));
    EXPECT_EQ(s.edit_hover_mid_color, RGB(2, 2, 2));
    EXPECT_EQ(s.edit_up_color, RGB(240, 189, 136)) << "keys the skin leaves out keep their values";
    EXPECT_EQ(GetSkinFilePath(L"res.ini"), SkinDir() / "res.ini");
}

TEST_F(SkinTest, NoSkinFolderLoadsNothing) {
    SetSkinDirectory((dir_.path() / "missing").wstring().c_str());
    EXPECT_EQ(LoadSkin(L"default"), 0);
    EXPECT_EQ(IsSkinPresent(), 0);
    const SkinSettings& s = GetSkin();
    EXPECT_EQ(s.dialog_loaded + s.button_loaded + s.checkbox_loaded + s.edit_loaded, 0);
    EXPECT_EQ(LoadSkin(nullptr), 0);
}

TEST_F(SkinTest, SysButtonOffsetsFromCellWidthAndRightSlice) {
    uitest::SkinFiles f;
    f.title_right = 4;
    ASSERT_EQ(Load(f), 1);
    // Replace the system-button bitmap by one 90 x 66: cells of 22 x 22.
    uitest::WriteBmp(SkinDir() / "dialog-sysbutton.bmp", uitest::Solid(90, 66, RGB(1, 2, 3)));
    ASSERT_EQ(LoadSkin(L"test"), 1);
    const SkinSettings& s = GetSkin();
    EXPECT_EQ(s.sysbutton_cell_width, 22);
    EXPECT_EQ(s.sysbutton_cell_height, 22);
    EXPECT_EQ(s.close_offset, 27);
    EXPECT_EQ(s.maximize_offset, 50);
    EXPECT_EQ(s.minimize_offset, 73);
}

struct IniCase {
    const char* name;
    std::string ini;
    int dialog, button, checkbox;
};

TEST_F(SkinTest, SectionsFailOnTheirOwn) {
    uitest::SkinFiles base;
    const std::string full = uitest::DefaultIni(base);
    auto without = [&](const std::string& line) {
        std::string s = full;
        s.erase(s.find(line), line.size());
        return s;
    };
    const IniCase cases[] = {
        {"no title_mid_width", without("title_mid_width=2\n"), 0, 1, 1},
        {"no button_right_width", without("button_right_width=5\n"), 1, 0, 1},
        {"no checkbox section", without("[checkbox]\ncheckbox_text_color=30,31,32\n"), 1, 1, 1},
        {"empty res.ini", " ", 0, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uitest::ResetSkin();
        uitest::SkinFiles f;
        f.ini = c.ini;
        ASSERT_EQ(Load(f), 1);
        const SkinSettings& s = GetSkin();
        EXPECT_EQ(s.dialog_loaded, c.dialog);
        EXPECT_EQ(s.button_loaded, c.button);
        EXPECT_EQ(s.checkbox_loaded, c.checkbox);
        EXPECT_EQ(s.edit_loaded, 1);
        EXPECT_TRUE(s.title.IsOk()) << "the bitmaps stay loaded when res.ini fails the section";
        if (std::string(c.name) == "no checkbox section") {
            EXPECT_EQ(s.checkbox_text_color, RGB(1, 1, 1));
        }
    }
}

TEST_F(SkinTest, WithoutTitleBitmapButtonsAndCheckBoxesFallBack) {
    uitest::SkinFiles f;
    ASSERT_EQ(Load(f), 1);
    std::filesystem::remove(SkinDir() / "dialog-title.bmp");
    uitest::ResetSkin();
    SetSkinDirectory(dir_.path().wstring().c_str());
    ASSERT_EQ(LoadSkin(L"test"), 1);
    const SkinSettings& s = GetSkin();
    EXPECT_EQ(s.dialog_loaded, 0);
    EXPECT_EQ(s.button_loaded, 0);
    EXPECT_EQ(s.checkbox_loaded, 0);
    EXPECT_EQ(s.edit_loaded, 1);
    EXPECT_EQ(s.edit_mid_color, RGB(1, 1, 1)) << "the edit colours still apply";
}

TEST_F(SkinTest, BackgroundBitmapMeansNoBrush) {
    uitest::SkinFiles f;
    f.background = true;
    ASSERT_EQ(Load(f), 1);
    EXPECT_TRUE(GetSkin().background.IsOk());
    EXPECT_FALSE(GetSkin().has_background_brush);
    EXPECT_EQ(GetSkin().background_color, GetSysColor(COLOR_WINDOW)) << "background_color is not read";
}

TEST_F(SkinTest, ColourTexts) {
    const struct {
        const wchar_t* text;
        int result;
        COLORREF colour;
    } cases[] = {
        {L"1,2,3", 1, RGB(1, 2, 3)},    {L" 10, 20 ,30", 1, RGB(10, 20, 30)},
        {L"300,0,0", 1, RGB(44, 0, 0)}, {L"-1,256,511", 1, RGB(255, 0, 255)},
        {L"a,b,c", 1, RGB(0, 0, 0)},    {L"1,2", 0, RGB(7, 7, 7)},
        {L"1,2,3,4", 0, RGB(7, 7, 7)},  {L"1,,3", 1, RGB(1, 0, 3)},
        {L"", 0, RGB(7, 7, 7)},
    };
    for (const auto& c : cases) {
        COLORREF colour = RGB(7, 7, 7);
        EXPECT_EQ(ParseSkinColor(c.text, colour), c.result) << "text: " << testing::PrintToString(c.text);
        EXPECT_EQ(colour, c.colour) << "text: " << testing::PrintToString(c.text);
    }
}

TEST_F(SkinTest, TitleColourWithWrongCountKeepsItsValue) {
    uitest::SkinFiles f;
    std::string ini = uitest::DefaultIni(f);
    ini.replace(ini.find("title_text_color=255,255,255"), 28, "title_text_color=9,9");
    f.ini = ini;
    ASSERT_EQ(Load(f), 1);
    EXPECT_EQ(GetSkin().title_text_color, GetSysColor(COLOR_CAPTIONTEXT));
}

TEST_F(SkinTest, HostileNumbersAreClamped) {
    uitest::SkinFiles f;
    f.ini =
        "[dialog]\ntitle_left_width=99999999999999999999\ntitle_mid_width=4294967295\ntitle_right_width=-5\n"
        "corner_width=2147483648\nsystem_button_top=x\ntitle_text_top=\n"
        "[button]\nbutton_left_width=3000000000\nbutton_mid_width=1\nbutton_right_width=1"
        "000000000000000000000000000000000000000000000000000000000000000000000000007\n";
    ASSERT_EQ(Load(f), 1);
    const SkinSettings& s = GetSkin();
    ASSERT_EQ(s.dialog_loaded, 1);
    const int w = s.title.width();
    EXPECT_EQ(s.title_left_width, w);
    EXPECT_EQ(s.title_mid_width, 0);
    EXPECT_EQ(s.title_right_width, 0);
    EXPECT_GE(s.corner_width, 0);
    EXPECT_EQ(s.system_button_top, 0) << "text without digits reads 0";
    EXPECT_EQ(s.title_text_top, 8) << "an empty value gives the default";
    EXPECT_EQ(s.button_left_width, s.button.width());
    EXPECT_GE(s.button_right_width, 0);

    // Composing with these values stays inside every picture (ASan checks).
    Pixmap frame(300, 200);
    ComposeFrame(frame, s, FrameButtons{true, true, true}, false, HTCLOSE, true);
    EXPECT_TRUE(frame.IsOk());
}

TEST_F(SkinTest, TinyAndNarrowBitmapsCompose) {
    uitest::SkinFiles f;
    ASSERT_EQ(Load(f), 1);
    for (const char* name : {"dialog-title.bmp", "dialog-sysbutton.bmp", "left-right-border.bmp",
                             "bottom-border.bmp", "button.bmp", "checkbox.bmp"}) {
        uitest::WriteBmp(SkinDir() / name, uitest::Solid(1, 1, RGB(1, 2, 3)));
    }
    ASSERT_EQ(LoadSkin(L"test"), 1);
    const SkinSettings& s = GetSkin();
    EXPECT_EQ(s.dialog_loaded, 1);
    EXPECT_EQ(s.sysbutton_cell_width, 0);
    EXPECT_EQ(s.SideBorderWidth(), 0);
    EXPECT_EQ(s.button_row_height, 0);
    for (auto [w, h] : {std::pair{1, 1}, {2, 2}, {200, 100}}) {
        Pixmap frame(w, h);
        ComposeFrame(frame, s, FrameButtons{true, true, true}, true, HTMAXBUTTON, false);
    }

    // A bottom border narrower than two corners and a column: the corners
    // are cut to what the bitmap has.
    uitest::SkinFiles g;
    g.side = 4;
    uitest::WriteSkin(dir_.path(), g);
    uitest::WriteBmp(SkinDir() / "bottom-border.bmp", uitest::Solid(5, 3, RGB(9, 8, 7)));
    ASSERT_EQ(LoadSkin(L"test"), 1);
    Pixmap frame(100, 80, 0xFF000000u);
    ComposeFrame(frame, GetSkin(), FrameButtons{}, false, HTNOWHERE, false);
    EXPECT_EQ(ColorRefOf(frame.At(0, 79)), RGB(9, 8, 7));
    EXPECT_EQ(ColorRefOf(frame.At(99, 79)), uitest::kSide) << "the right corner has no source pixels to copy";
}

TEST_F(SkinTest, TruncatedBitmapFailsItsSection) {
    uitest::SkinFiles f;
    ASSERT_EQ(Load(f), 1);
    std::string bytes = uitest::BmpBytes(uitest::Solid(10, 96, RGB(1, 1, 1)));
    testsupport::WriteFile(SkinDir() / "button.bmp", bytes.substr(0, bytes.size() - 7));
    std::string title = uitest::BmpBytes(uitest::Solid(10, 30, RGB(1, 1, 1)));
    ASSERT_EQ(LoadSkin(L"test"), 1);
    EXPECT_EQ(GetSkin().dialog_loaded, 1);
    EXPECT_EQ(GetSkin().button_loaded, 0);
    testsupport::WriteFile(SkinDir() / "dialog-title.bmp", title.substr(0, 60));
    ASSERT_EQ(LoadSkin(L"test"), 1);
    EXPECT_EQ(GetSkin().dialog_loaded, 0);
}

TEST(BmpReader, Formats) {
    // 24-bit bottom-up written by the fixture.
    Pixmap p(3, 2);
    p.Set(0, 0, ArgbOf(RGB(1, 2, 3)));
    p.Set(2, 1, ArgbOf(RGB(200, 100, 50)));
    const Pixmap q = DecodeBmp(uitest::BmpBytes(p));
    ASSERT_TRUE(q.IsOk());
    EXPECT_EQ(ColorRefOf(q.At(0, 0)), RGB(1, 2, 3));
    EXPECT_EQ(ColorRefOf(q.At(2, 1)), RGB(200, 100, 50));

    // An 8-bit top-down picture with a two-entry palette, and an index past it.
    std::string b = "BM";
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [&](uint32_t v) {
        for (int i = 0; i < 2; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    u32(14 + 40 + 8 + 8);
    u32(0);
    u32(14 + 40 + 8);
    u32(40);
    u32(2);
    u32(static_cast<uint32_t>(-2));
    u16(1);
    u16(8);
    u32(0);
    u32(8);
    u32(0);
    u32(0);
    u32(2);
    u32(0);
    b += std::string("\x10\x20\x30\x00\x40\x50\x60\x00", 8);
    b += std::string("\x01\x00\x00\x00\x00\x01\x00\x00", 8);
    const Pixmap pal = DecodeBmp(b);
    ASSERT_TRUE(pal.IsOk());
    EXPECT_EQ(ColorRefOf(pal.At(0, 0)), RGB(0x60, 0x50, 0x40));
    EXPECT_EQ(ColorRefOf(pal.At(1, 1)), RGB(0x60, 0x50, 0x40));
    EXPECT_EQ(ColorRefOf(pal.At(1, 0)), RGB(0x30, 0x20, 0x10));
    std::string bad = b;
    bad[14 + 40 + 8] = 5;  // index 5 of a two-entry palette
    EXPECT_FALSE(DecodeBmp(bad).IsOk());

    // Not a bitmap, a header bigger than the file, a giant size.
    EXPECT_FALSE(DecodeBmp("").IsOk());
    EXPECT_FALSE(DecodeBmp("BM").IsOk());
    std::string huge = uitest::BmpBytes(uitest::Solid(1, 1, 0));
    huge[18] = huge[19] = huge[20] = '\x7F';
    EXPECT_FALSE(DecodeBmp(huge).IsOk());
}

}  // namespace
