#pragma once
// The main window's layouts as functions of the controls' present places:
// each takes the rectangles of the controls that exist (client coordinates,
// keyed by control id) and moves them. Gaps between rows are measured from
// the places they are given, so running a layout again changes nothing.

#include <map>
#include <vector>

#include "ui/base/pixmap.h"

using ControlRects = std::map<int, PixRect>;

// The logo square at start: the side is the smaller side of picture 1021,
// 128 below 129; its top 10 below the client top, centred.
PixRect LogoSquare(const PixRect& picture, int clientWidth);
// The UDP warning icon: 16 x 16, 10 right of the logo, bottoms level.
PixRect UdpWarningPlace(const PixRect& logo);

// The base window: traffic panel, logo, node and mode rows, CONNECT, the
// small button row with the links, the web panel between them.
void LayoutBaseWindow(ControlRects& rects, int clientWidth, int clientHeight, int statusHeight);

// The account edition: rows under the web panel, the account lines and the
// row of five account buttons.
void LayoutAccountWindow(ControlRects& rects, int clientWidth);

// Five buttons of `size` in a row at `top`: gap = (width - 5 W) / 10, button
// i at gap + i (W + 2 gap).
std::vector<PixRect> AccountButtonRow(int clientWidth, int top, int buttonWidth, int buttonHeight);
