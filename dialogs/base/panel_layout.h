#pragma once
// Where the wait panel puts its still picture, animation and message line
// for a client area of the given size, from the controls' present rectangles.

#include "ui/base/pixmap.h"

struct LoadingPanelLayout {
    PixRect still;    // the square picture
    PixRect anim;     // the animation, its size kept
    PixRect message;  // the message line, its size kept
};

// The square's side is the smaller side of `still`, at least 128; the three
// stand centred one under the other, the square's top at a third of the
// height the three leave over, 10 pixels between them.
LoadingPanelLayout LayoutLoadingPanel(int clientWidth, int clientHeight, const PixRect& still,
                                      const PixRect& anim, const PixRect& message);
