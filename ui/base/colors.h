#pragma once
// Colours as the windows keep them (COLORREF: red in the low byte, then green,
// then blue) and the system colours, which come from a fixed table of the
// usual desktop defaults so that they are the same with or without a display.

#include <cstdint>

using COLORREF = uint32_t;

constexpr COLORREF RGB(int r, int g, int b) {
    return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(COLORREF c) {
    return static_cast<int>(c & 0xFF);
}
constexpr int GetGValue(COLORREF c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int GetBValue(COLORREF c) {
    return static_cast<int>((c >> 16) & 0xFF);
}

enum SysColorIndex : int {
    COLOR_MENU = 4,
    COLOR_WINDOW = 5,
    COLOR_MENUTEXT = 7,
    COLOR_WINDOWTEXT = 8,
    COLOR_CAPTIONTEXT = 9,
    COLOR_HIGHLIGHT = 13,
    COLOR_BTNFACE = 15,
    COLOR_BTNSHADOW = 16,
    COLOR_GRAYTEXT = 17,
    COLOR_BTNTEXT = 18,
    COLOR_BTNHIGHLIGHT = 20,
    COLOR_3DDKSHADOW = 21,
    COLOR_3DLIGHT = 22,
};

// The default desktop colour of an index; black for an index not in the table.
COLORREF GetSysColor(int index);
