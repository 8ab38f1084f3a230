#include "ui/base/bmp_button_look.h"

BmpButtonLook BmpButtonLookFor(const BmpButtonOptions& o, int w, int h, bool disabled, bool hover, bool pressed) {
    PixRect normal{0, 0, w, h};
    if (!o.whole_rect_text) {
        normal.x = o.icon ? 26 : 4;
        normal.width = w - normal.x;
    }
    PixRect pushed = normal;
    if (!o.whole_rect_text) {
        pushed.x += 1;
        pushed.y += 1;
    }
    if (disabled) return {3, o.normal, normal};
    if (hover && pressed) return {2, o.pressed, pushed};
    if (hover) return {1, o.hover, normal};
    if (o.selected_look) return {1, o.normal, normal};
    if (o.hot_look) return {1, o.hover, normal};
    return {0, o.normal, normal};
}
