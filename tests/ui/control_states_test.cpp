// What the skinned and self-drawn controls show in each state.
#include "ui/base/control_states.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/ui/skin_fixture.h"
#include "ui/base/text_layout.h"

namespace {

class ControlStates : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::ResetSkin();
        uitest::WriteSkin(dir_.path(), uitest::SkinFiles{});
        ASSERT_EQ(LoadSkin(L"test"), 1);
    }
    void TearDown() override { uitest::ResetSkin(); }
    testsupport::TempDir dir_{"cendrow-controls"};
};

TEST_F(ControlStates, ButtonRows) {
    const SkinSettings& s = GetSkin();
    const struct {
        const char* name;
        bool disabled, hover, pushed;
        int row;
        COLORREF text;
        PixRect rect;
    } cases[] = {
        {"normal", false, false, false, 0, RGB(1, 2, 3), {4, 0, 76, 24}},
        {"hover", false, true, false, 1, RGB(4, 5, 6), {4, 0, 76, 24}},
        {"pushed", false, true, true, 2, RGB(7, 8, 9), {5, 1, 75, 23}},
        {"held but dragged out", false, false, true, 0, RGB(1, 2, 3), {4, 0, 76, 24}},
        {"disabled", true, true, true, 3, RGB(10, 11, 12), {4, 0, 76, 24}},
    };
    for (const auto& c : cases) {
        const SkinButtonLook look = SkinButtonLookFor(s, 80, 24, c.disabled, c.hover, c.pushed);
        EXPECT_EQ(look.row, c.row) << c.name;
        EXPECT_EQ(look.text, c.text) << c.name;
        EXPECT_EQ(look.text_rect, c.rect) << c.name;

        // The composed button shows the row's slices: left, stretched middle, right.
        Pixmap b(80, 30);
        ComposeSkinButton(b, s, look.row);
        EXPECT_EQ(ColorRefOf(b.At(2, 15)), uitest::ButtonColour(c.row, 0)) << c.name;
        EXPECT_EQ(ColorRefOf(b.At(40, 0)), uitest::ButtonColour(c.row, 1)) << c.name;
        EXPECT_EQ(ColorRefOf(b.At(40, 29)), uitest::ButtonColour(c.row, 1)) << c.name;
        EXPECT_EQ(ColorRefOf(b.At(78, 15)), uitest::ButtonColour(c.row, 2)) << c.name;
    }
}

TEST_F(ControlStates, CheckBoxCells) {
    const struct {
        bool checked, hover, pressed, disabled;
        int cell;
    } cases[] = {
        {false, false, false, false, 1}, {false, true, false, false, 2}, {false, true, true, false, 3},
        {false, true, true, true, 4},    {true, false, false, false, 5}, {true, true, false, false, 6},
        {true, false, true, false, 7},   {true, false, false, true, 8},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CheckBoxCellFor(c.checked, c.hover, c.pressed, c.disabled), c.cell)
            << c.checked << c.hover << c.pressed << c.disabled;
    }
    const SkinSettings& s = GetSkin();
    EXPECT_EQ(CheckBoxBoxRect(s, 120, 20, false), (PixRect{0, 4, 13, 13}));
    EXPECT_EQ(CheckBoxBoxRect(s, 120, 20, true), (PixRect{107, 4, 13, 13}));
    EXPECT_EQ(CheckBoxTextRect(120, 20, false), (PixRect{16, 1, 103, 18}));
    EXPECT_EQ(CheckBoxTextRect(120, 20, true), (PixRect{1, 1, 103, 18}));
}

TEST_F(ControlStates, EditColours) {
    const SkinSettings& s = GetSkin();
    const struct {
        const char* name;
        bool readOnly, disabled, hover;
        COLORREF border, background;
    } cases[] = {
        {"normal", false, false, false, RGB(1, 1, 1), RGB(255, 255, 255)},
        {"hover", false, false, true, RGB(2, 2, 2), RGB(252, 239, 226)},
        {"read-only, enabled", true, false, false, kEditDisabledBorder, RGB(233, 233, 233)},
        {"read-only, hovered", true, false, true, kEditDisabledBorder, RGB(233, 233, 233)},
        {"disabled", false, true, true, kEditDisabledBorder, RGB(233, 233, 233)},
    };
    for (const auto& c : cases) {
        const EditColours e = EditColoursFor(s, c.readOnly, c.disabled, c.hover);
        EXPECT_EQ(e.border, c.border) << c.name;
        EXPECT_EQ(e.background, c.background) << c.name;
    }
}

TEST(IconButton, EntryChoice) {
    const struct {
        const char* name;
        bool pressed, hover, disabled, checkMode, has1, has2;
        int entry;
    } cases[] = {
        {"plain", false, false, false, false, false, false, 0},
        {"entry 1 when it exists", false, false, false, false, true, false, 1},
        {"hover", false, true, false, false, true, true, 1},
        {"hover without entry 1", false, true, false, false, false, true, 0},
        {"disabled grey copy", false, false, true, false, true, true, 2},
        {"disabled without entry 2", false, false, true, false, true, false, 1},
        {"check mode ignores hover", false, true, true, true, true, true, 2},
        {"pressed", true, false, true, false, true, true, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IconEntryFor(c.pressed, c.hover, c.disabled, c.checkMode, c.has1, c.has2), c.entry)
            << c.name;
    }
}

TEST(IconButton, GreyAndDarkerCopies) {
    Pixmap icon(3, 1);
    icon.Set(0, 0, 0xFF000000u);  // black stays black
    icon.Set(1, 0, 0x80FF0000u);  // red, half transparent
    icon.Set(2, 0, ArgbOf(RGB(100, 200, 40)));
    const Pixmap grey = GreyCopy(icon);
    EXPECT_EQ(grey.At(0, 0), 0xFF000000u);
    EXPECT_EQ(grey.At(1, 0), 0x804C4C4Cu) << "0.299 x 255 = 76, alpha kept";
    const int v = static_cast<int>(0.299 * 100 + 0.587 * 200 + 0.114 * 40 + 0.5);
    EXPECT_EQ(ColorRefOf(grey.At(2, 0)), RGB(v, v, v));
    const Pixmap dark = DarkerCopy(icon);
    EXPECT_EQ(dark.At(0, 0), 0xFF000000u);
    EXPECT_EQ(dark.At(1, 0), 0x80BF0000u);
    EXPECT_EQ(ColorRefOf(dark.At(2, 0)), RGB(75, 150, 30));
}

TEST(HyperLinkColours, ByState) {
    const LinkColours c;
    const int def = kLinkHoverColour | kLinkAutoSize | kLinkFocusOnClick;
    EXPECT_EQ(LinkTextColour(c, def, false, false, false), c.link);
    EXPECT_EQ(LinkTextColour(c, def, false, false, true), c.visited);
    EXPECT_EQ(LinkTextColour(c, def, false, true, true), c.active);
    EXPECT_EQ(LinkTextColour(c, def, true, true, true), c.hover);
    EXPECT_EQ(LinkTextColour(c, def & ~kLinkHoverColour, true, false, false), c.link);
    EXPECT_EQ(LinkTextColour(c, def | kLinkNoActiveColour, false, true, true), c.visited);
}

TEST(TextLayout, WrapsAtWords) {
    auto measure = [](const std::wstring& s) { return static_cast<int>(s.size()) * 6; };
    using V = std::vector<std::wstring>;
    EXPECT_EQ(WrapTextLines(L"one two three", 60, measure), (V{L"one two", L"three"}));
    EXPECT_EQ(WrapTextLines(L"one two three", 600, measure), (V{L"one two three"}));
    EXPECT_EQ(WrapTextLines(L"abcdefghij", 24, measure), (V{L"abcd", L"efgh", L"ij"}));
    EXPECT_EQ(WrapTextLines(L"a\nb c", 600, measure), (V{L"a", L"b c"}));
    EXPECT_EQ(WrapTextLines(L"", 60, measure), (V{L""}));
    EXPECT_EQ(WrapTextLines(L"x", 0, measure), (V{L"x"})) << "at least one character per line";
}

}  // namespace
