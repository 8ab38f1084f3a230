#pragma once
// What a bitmap button shows: which of the four rows of its strip (0 normal,
// 1 hover, 2 pressed, 3 disabled), the text colour and where the text goes.

#include "ui/base/colors.h"
#include "ui/base/pixmap.h"

struct BmpButtonOptions {
    bool icon = false;          // a 16x16 icon at the left shifts the text
    bool whole_rect_text = false;  // the text uses the whole button
    bool selected_look = false;    // row 1 in the normal colour
    bool hot_look = false;         // row 1 in the hover colour
    COLORREF normal = RGB(0, 0, 0);
    COLORREF hover = RGB(200, 50, 50);
    COLORREF pressed = RGB(0, 0, 0);
};

struct BmpButtonLook {
    int row = 0;
    COLORREF text = 0;
    PixRect text_rect;
};

// `pressed` is the button held down (the window's selected state).
BmpButtonLook BmpButtonLookFor(const BmpButtonOptions& o, int w, int h, bool disabled, bool hover, bool pressed);

// Where the icon goes in a w x h button.
inline PixRect BmpButtonIconRect(int h) {
    return {4, (h - 18) / 2, 16, 16};
}
