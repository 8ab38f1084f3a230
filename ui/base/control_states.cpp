#include "ui/base/control_states.h"

#include <algorithm>

SkinButtonLook SkinButtonLookFor(const SkinSettings& s, int w, int h, bool disabled, bool hover,
                                 bool pushed) {
    SkinButtonLook look;
    bool shifted = false;
    if (disabled) {
        look.row = 3;
        look.text = s.button_disabled_color;
    } else if (hover && pushed) {
        look.row = 2;
        look.text = s.button_push_color;
        shifted = true;
    } else if (hover) {
        look.row = 1;
        look.text = s.button_active_color;
    } else {
        look.row = 0;
        look.text = s.button_normal_color;
    }
    // The left edge moves 4 pixels right; pushed, 5 pixels and one down.
    look.text_rect = shifted ? PixRect{5, 1, std::max(0, w - 5), std::max(0, h - 1)}
                             : PixRect{4, 0, std::max(0, w - 4), h};
    return look;
}

void ComposeSkinButton(Pixmap& out, const SkinSettings& s, int row) {
    const int w = out.width(), h = out.height();
    const int l = s.button_left_width, m = s.button_mid_width, r = s.button_right_width;
    const int rh = s.button_row_height, sy = row * rh;
    StretchPixels(out, {0, 0, l, h}, s.button, {0, sy, l, rh});
    StretchPixels(out, {l, 0, w - r - l, h}, s.button, {l, sy, m, rh});
    StretchPixels(out, {w - r, 0, r, h}, s.button, {l + m, sy, r, rh});
}

int CheckBoxCellFor(bool checked, bool hover, bool pressed, bool disabled) {
    int cell = 1;
    if (hover) cell = 2;
    if (pressed) cell = 3;
    if (disabled) cell = 4;
    return checked ? cell + 4 : cell;
}

PixRect CheckBoxBoxRect(const SkinSettings& s, int w, int h, bool leftText) {
    const int x = leftText ? w - 13 : 0;
    const int y = h / 2 - 6;
    return {x, y, s.checkbox_cell_width, s.checkbox.height()};
}

PixRect CheckBoxTextRect(int w, int h, bool leftText) {
    PixRect r{leftText ? 0 : 15, 0, std::max(0, w - 15), h};
    r.x += 1;
    r.y += 1;
    r.width = std::max(0, r.width - 2);
    r.height = std::max(0, r.height - 2);
    return r;
}

EditColours EditColoursFor(const SkinSettings& s, bool readOnly, bool disabled, bool hover) {
    if (readOnly || disabled) return {kEditDisabledBorder, s.edit_background_disable_color};
    if (hover) return {s.edit_hover_mid_color, s.edit_background_hover_color};
    return {s.edit_mid_color, s.edit_background_normal_color};
}

int IconEntryFor(bool pressed, bool hover, bool disabled, bool checkBoxMode, bool has1, bool has2) {
    if (pressed || (!checkBoxMode && hover)) return has1 ? 1 : 0;
    if (disabled && has2) return 2;
    return has1 ? 1 : 0;
}

COLORREF LinkTextColour(const LinkColours& c, int style, bool hover, bool active, bool visited) {
    if (hover && (style & kLinkHoverColour)) return c.hover;
    if (!active || (style & kLinkNoActiveColour)) return visited ? c.visited : c.link;
    return c.active;
}
