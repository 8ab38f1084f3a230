#include "ui/base/menu_look.h"

#include <algorithm>
#include <cmath>

namespace {

int Lighten(double f, int c) {
    return static_cast<int>(c + f * (255 - c));
}
int Darken(double f, int c) {
    return static_cast<int>(c - f * c);
}

}  // namespace

COLORREF LightenColor(double f, COLORREF colour) {
    if (!(f > 0.0 && f <= 1.0)) return colour;
    return RGB(Lighten(f, GetRValue(colour)), Lighten(f, GetGValue(colour)), Lighten(f, GetBValue(colour)));
}

COLORREF DarkenColor(double f, COLORREF colour) {
    if (!(f > 0.0 && f <= 1.0)) return colour;
    return RGB(Darken(f, GetRValue(colour)), Darken(f, GetGValue(colour)), Darken(f, GetBValue(colour)));
}

MenuColours FlatMenuColours() {
    MenuColours c{};
    c.bar = LightenColor(0.25, GetSysColor(COLOR_BTNFACE));
    c.background = DarkenColor(0.02, GetSysColor(COLOR_WINDOW));
    c.selection_fill = LightenColor(0.85, GetSysColor(COLOR_HIGHLIGHT));
    c.selection_frame = GetSysColor(COLOR_HIGHLIGHT);
    c.text = GetSysColor(COLOR_MENUTEXT);
    c.disabled_text = LightenColor(0.4, GetSysColor(COLOR_GRAYTEXT));
    c.checked_box = LightenColor(0.85, GetSysColor(COLOR_HIGHLIGHT));
    c.checked_selected_box = LightenColor(0.55, GetSysColor(COLOR_HIGHLIGHT));
    return c;
}

ItemSize MeasureMenuItem(bool separator, int textWidth) {
    if (separator) return {0, 3};
    return {textWidth + kMenuGap + 24, std::max(kMenuGap + 16, kMenuSystemRowHeight)};
}

int MenuTextColumnsWidth(int textWidth, int shortcutWidth, bool hasTab) {
    return hasTab ? textWidth + kMenuShortcutGap + shortcutWidth + 16 : textWidth;
}

int MenuPopupWidth(int widestItem) {
    return widestItem + kMenuCheckMarkWidth;
}

std::pair<std::wstring, std::wstring> SplitMenuText(const std::wstring& text) {
    const size_t first = text.find(L'\t');
    if (first == std::wstring::npos) return {text, std::wstring()};
    return {text.substr(0, first), text.substr(text.rfind(L'\t') + 1)};
}

PixRect MenuIconBox(const PixRect& r) {
    return {r.x + 1, r.y + 1, 20, r.height - 2};
}

PixRect MenuIconPlace(const PixRect& r, bool checked) {
    const int y = std::max(r.y, r.y + static_cast<int>(std::lround((r.height - 16) * 0.5)));
    return {r.x + 4 - (checked ? 1 : 0), y - (checked ? 1 : 0), 16, 16};
}

PixRect MenuTextRect(const PixRect& r, bool hasTab) {
    PixRect t{r.x + 31, r.y - 1, r.width - 31, r.height};
    if (hasTab) t.width -= 16;
    return t;
}

Pixmap ShadedMenuImage(const Pixmap& overFace, COLORREF face, COLORREF shadow) {
    Pixmap out = overFace;
    const uint32_t faceArgb = ArgbOf(face);
    for (int y = 0; y < out.height(); ++y) {
        for (int x = 0; x < out.width(); ++x) {
            const uint32_t p = out.At(x, y) | 0xFF000000u;
            if (p == faceArgb) continue;
            const int grey = static_cast<int>(((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF)) / 3;
            out.Set(x, y, ArgbOf(LightenColor(grey / 255.0, shadow)));
        }
    }
    return out;
}
