// The owner-drawn menu without a display: items as appended, colour maths,
// sizes and the places of icon and text.
#include <gtest/gtest.h>

#include "ui/base/menu_look.h"
#include "ui/qelt_menu.h"

namespace {

TEST(MenuLook, ColourMaths) {
    const struct {
        double f;
        COLORREF in, lighter, darker;
    } cases[] = {
        {0.5, RGB(100, 0, 255), RGB(177, 127, 255), RGB(50, 0, 127)},
        {1.0, RGB(10, 20, 30), RGB(255, 255, 255), RGB(0, 0, 0)},
        {0.0, RGB(10, 20, 30), RGB(10, 20, 30), RGB(10, 20, 30)},     // unchanged
        {1.5, RGB(10, 20, 30), RGB(10, 20, 30), RGB(10, 20, 30)},     // unchanged
        {-0.2, RGB(10, 20, 30), RGB(10, 20, 30), RGB(10, 20, 30)},    // unchanged
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LightenColor(c.f, c.in), c.lighter) << c.f;
        EXPECT_EQ(DarkenColor(c.f, c.in), c.darker) << c.f;
    }
    const MenuColours m = FlatMenuColours();
    EXPECT_EQ(m.selection_frame, GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_EQ(m.selection_fill, RGB(216, 234, 249));
    EXPECT_EQ(m.background, RGB(249, 249, 249));
    EXPECT_EQ(m.bar, RGB(243, 243, 243));
    EXPECT_EQ(m.disabled_text, RGB(167, 167, 167));
}

TEST(MenuLook, SizesAndPlaces) {
    EXPECT_EQ(MeasureMenuItem(true, 500), (ItemSize{0, 3}));
    EXPECT_EQ(MeasureMenuItem(false, 60), (ItemSize{91, 23}));
    const PixRect item{0, 46, 150, 23};
    EXPECT_EQ(MenuIconBox(item), (PixRect{1, 47, 20, 21}));
    EXPECT_EQ(MenuIconPlace(item, false), (PixRect{4, 50, 16, 16}));
    EXPECT_EQ(MenuIconPlace(item, true), (PixRect{3, 49, 16, 16}));
    EXPECT_EQ(MenuIconPlace({0, 0, 150, 10}, false).y, 0) << "never above the item";
    EXPECT_EQ(MenuTextRect(item, false), (PixRect{31, 45, 119, 23}));
    EXPECT_EQ(MenuTextRect(item, true).width, 103) << "an accelerator ends 16 pixels in";
    const auto [left, right] = SplitMenuText(L"Open\tCtrl+O");
    EXPECT_EQ(left, L"Open");
    EXPECT_EQ(right, L"Ctrl+O");
    EXPECT_EQ(SplitMenuText(L"a\tb\tc").second, L"c");
    EXPECT_EQ(SplitMenuText(L"Plain").second, L"");
}

TEST(MenuLook, TheShortcutKeepsItsOwnColumn) {
    // "Connect\tCtrl+K": text 50 wide, shortcut 40. In a row of the measured
    // width the text ends before the right-aligned shortcut begins.
    const int columns = MenuTextColumnsWidth(50, 40, true);
    const ItemSize size = MeasureMenuItem(false, columns);
    const PixRect text = MenuTextRect({0, 0, size.cx, size.cy}, true);
    const int textEnd = text.x + 50, shortcutStart = text.x + text.width - 40;
    EXPECT_GE(shortcutStart - textEnd, kMenuShortcutGap);
    EXPECT_EQ(MenuTextColumnsWidth(50, 0, false), 50) << "no shortcut, no column";
}

TEST(MenuLook, TheWidestTextEndsInsideThePopup) {
    // The widest item's text, 80 wide, leaves the check-mark allowance free
    // at the popup's right edge.
    const int popup = MenuPopupWidth(MeasureMenuItem(false, 80).cx);
    const PixRect text = MenuTextRect({0, 0, popup, 23}, false);
    EXPECT_EQ(popup - (text.x + 80), kMenuCheckMarkWidth);
}

TEST(MenuLook, ShadedCopyKeepsTheFace) {
    const COLORREF face = RGB(240, 240, 240), shadow = RGB(160, 160, 160);
    Pixmap icon(2, 1, ArgbOf(face));
    icon.Set(1, 0, ArgbOf(RGB(0, 0, 255)));  // grey level 85
    const Pixmap shaded = ShadedMenuImage(icon, face, shadow);
    EXPECT_EQ(ColorRefOf(shaded.At(0, 0)), face);
    EXPECT_EQ(ColorRefOf(shaded.At(1, 0)), LightenColor(85 / 255.0, shadow));
}

TEST(QeltMenuItems, IdZeroIsASeparator) {
    QeltMenu menu;
    const struct {
        unsigned flags;
        uintptr_t id;
        const wchar_t* text;
        unsigned want;
    } cases[] = {
        {0, 0, L"text", MF_SEPARATOR | MF_OWNERDRAW},
        {MF_BYPOSITION | MF_GRAYED | MF_CHECKED, 0, nullptr, MF_BYPOSITION | MF_SEPARATOR | MF_OWNERDRAW},
        {MF_GRAYED, 7, L"Item", MF_GRAYED | MF_OWNERDRAW},
        {0, 8, L"Item\tF8", MF_OWNERDRAW},
    };
    for (const auto& c : cases) EXPECT_TRUE(menu.AppendMenu(c.flags, c.id, c.text));
    ASSERT_EQ(menu.GetMenuItemCount(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(menu.GetItem(i)->flags, cases[i].want) << i;
    EXPECT_EQ(menu.GetItem(3)->text, L"Item\tF8");
    EXPECT_FALSE(menu.GetItem(1)->has_text);
    EXPECT_EQ(menu.GetItem(2)->own_image, -1) << "no image list, no image";
    EXPECT_EQ(menu.GetItem(9), nullptr);
    EXPECT_TRUE(menu.DestroyMenu());
    EXPECT_EQ(menu.GetMenuItemCount(), 0u);
    EXPECT_EQ(QeltMenu::GetWindowsVersionClass(), 1);
    EXPECT_FALSE(QeltMenu::IsClassicTheme());
}

}  // namespace
