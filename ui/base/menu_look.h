#pragma once
// The owner-drawn menu's look, apart from any window: colour maths, the
// flat look's colours, item sizes and the places of the icon box, the icon
// and the text in an item rectangle.

#include <string>
#include <utility>

#include "ui/base/colors.h"
#include "ui/base/owner_draw.h"
#include "ui/base/pixmap.h"

// Each channel c moves to c + f (255 - c), or to c - f c; the colour stays
// as it is unless 0 < f <= 1.
COLORREF LightenColor(double f, COLORREF colour);
COLORREF DarkenColor(double f, COLORREF colour);

struct MenuColours {
    COLORREF bar;             // the icon column
    COLORREF background;
    COLORREF selection_fill;
    COLORREF selection_frame;
    COLORREF text;
    COLORREF disabled_text;
    COLORREF checked_box;           // an unselected checked item's icon box
    COLORREF checked_selected_box;  // a selected checked item's icon box
};
// The flat look's colours (the desktop is never the XP theme here).
MenuColours FlatMenuColours();

inline constexpr int kMenuGap = 7;
inline constexpr int kMenuBarWidth = 23;
inline constexpr int kMenuSystemRowHeight = 19;
// The menu system widens an owner-drawn menu by its check-mark width
// beyond the widest item, so no text ends on the popup's edge.
inline constexpr int kMenuCheckMarkWidth = 12;

// Measured from the text extent of the item (the part before and after
// a tab together) in the font it is drawn with.
ItemSize MeasureMenuItem(bool separator, int textWidth);

// The width of an item's text columns: the text, and with a shortcut a gap,
// the shortcut and the 16 pixels MenuTextRect keeps free after it; so the
// shortcut drawn right-aligned never runs into the text.
inline constexpr int kMenuShortcutGap = 24;
int MenuTextColumnsWidth(int textWidth, int shortcutWidth, bool hasTab);

// The width of a popup's items: the widest item and the check-mark allowance.
int MenuPopupWidth(int widestItem);

// The text before the first tab and after the last one (empty without a tab).
std::pair<std::wstring, std::wstring> SplitMenuText(const std::wstring& text);

PixRect MenuIconBox(const PixRect& item);
// The icon's top-left corner; checked items draw it one pixel up and left.
PixRect MenuIconPlace(const PixRect& item, bool checked);
// The text rectangle; with a tab the right edge moves 16 pixels in.
PixRect MenuTextRect(const PixRect& item, bool hasTab);

// The copy of a 16x16 icon (already drawn over `face`) that a disabled
// item shows: every pixel that differs from `face` becomes
// LightenColor(grey / 255, shadow), grey the mean of its channels.
Pixmap ShadedMenuImage(const Pixmap& overFace, COLORREF face, COLORREF shadow);
