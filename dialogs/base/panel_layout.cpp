#include "dialogs/base/panel_layout.h"

#include <algorithm>

LoadingPanelLayout LayoutLoadingPanel(int clientWidth, int clientHeight, const PixRect& still,
                                      const PixRect& anim, const PixRect& message) {
    LoadingPanelLayout out;
    const int side = std::max(std::min(still.width, still.height), 128);
    const int gap = (clientHeight - still.height - anim.height - message.height - 20) / 3;
    out.still = {(clientWidth - side) / 2, gap, side, side};
    const int x = (clientWidth - anim.width) / 2;
    out.anim = {x, out.still.y + out.still.height + 10, anim.width, anim.height};
    // Centred on its own width: a line wider than the animation would
    // otherwise hang off to the right.
    out.message = {(clientWidth - message.width) / 2, out.anim.y + out.anim.height + 10, message.width,
                   message.height};
    return out;
}
