#pragma once
// Dialog units of the program's dialog templates (the 8-point dialog font
// at 96 DPI: 6 x 13 pixels of base unit) in pixels.

#include "ui/base/pixmap.h"

constexpr int DialogUnitsToPixelsX(int units) {
    return units * 6 / 4;
}
constexpr int DialogUnitsToPixelsY(int units) {
    return units * 13 / 8;
}
