#pragma once
// What the skinned and self-drawn controls show in each state, apart from
// any window: the row of the button bitmap and the text colour, the check box
// cell, the edit's border and background colours, the icon a button draws.

#include "ui/base/colors.h"
#include "ui/base/pixmap.h"
#include "ui/base/skin_settings.h"

// Skinned push button.
struct SkinButtonLook {
    int row = 0;  // of "button.bmp": 0 normal, 1 hover, 2 pushed, 3 disabled
    COLORREF text = 0;
    PixRect text_rect;  // inside the button
};
// `pushed` means the button is held down with the cursor on it.
SkinButtonLook SkinButtonLookFor(const SkinSettings& s, int w, int h, bool disabled, bool hover, bool pushed);
// Composes the button's row: left slice, stretched middle, right slice, each
// stretched to the button's height.
void ComposeSkinButton(Pixmap& out, const SkinSettings& s, int row);

// Skinned check box: the cell of "checkbox.bmp", 1-based as the bitmap is
// drawn: unchecked 1, hover 2, pressed 3, disabled 4; checked 5 to 8.
int CheckBoxCellFor(bool checked, bool hover, bool pressed, bool disabled);
// Where the 13-pixel box goes in a w x h control (box on the right with
// `leftText`), and the text rectangle beside it.
PixRect CheckBoxBoxRect(const SkinSettings& s, int w, int h, bool leftText);
PixRect CheckBoxTextRect(int w, int h, bool leftText);

// Skinned edit.
struct EditColours {
    COLORREF border = 0;
    COLORREF background = 0;
};
// The disabled border colour is fixed; the skin has no key for it.
inline constexpr COLORREF kEditDisabledBorder = RGB(232, 222, 222);
EditColours EditColoursFor(const SkinSettings& s, bool readOnly, bool disabled, bool hover);

// Icon button: which of its three icon entries it draws (0, 1 or 2); `has1`
// and `has2` tell which entries exist (entry 0 always does when this is asked).
int IconEntryFor(bool pressed, bool hover, bool disabled, bool checkBoxMode, bool has1, bool has2);

// Hyperlink text colour.
struct LinkColours {
    COLORREF link = RGB(0, 0, 255);
    COLORREF active = RGB(0, 128, 128);
    COLORREF visited = RGB(128, 0, 128);
    COLORREF hover = RGB(255, 0, 0);
};
enum LinkStyle : int {
    kLinkUnderline = 1,
    kLinkHoverColour = 2,
    kLinkAutoSize = 4,
    kLinkFollowOnDown = 8,
    kLinkFocusOnClick = 16,
    kLinkNoHandCursor = 32,
    kLinkNoActiveColour = 64,
    kLinkItalic = 128,
};
COLORREF LinkTextColour(const LinkColours& c, int style, bool hover, bool active, bool visited);
