#include "app/window/base/main_layout.h"

#include <algorithm>

#include "app/window/base/main_template.h"

namespace {

constexpr int kButtonSpacing = 5;

bool Has(const ControlRects& r, std::initializer_list<int> ids) {
    for (int id : ids) {
        if (!r.count(id)) return false;
    }
    return true;
}

int Bottom(const PixRect& r) {
    return r.y + r.height;
}

int Right(const PixRect& r) {
    return r.x + r.width;
}

// Moves `child` vertically so that it keeps the offset it had to `oldParent`
// below `newParent`'s top.
void KeepOffset(PixRect& child, const PixRect& oldParent, const PixRect& newParent) {
    child.y = newParent.y + (child.y - oldParent.y);
}

// A square of `side` whose right edge is `right`, at `top`.
PixRect SquareLeftOf(int right, int top, int side) {
    return {right - side, top, side, side};
}

// Squares right to left from `right`, 5 pixels apart, in the order given.
void RowFromRight(ControlRects& r, const std::vector<int>& ids, int right, int top, int side) {
    for (int id : ids) {
        r[id] = SquareLeftOf(right, top, side);
        right -= side + kButtonSpacing;
    }
}

// The node and mode rows inside the frame, the frame at `frameTop`; the
// CONNECT button below it with its gap.
void LayoutRows(ControlRects& r, int clientWidth, int frameTop) {
    if (!Has(r, {kIdRowsFrame, kIdNodeCombo, kIdTestNode, kIdProductLink})) return;
    const PixRect oldFrame = r[kIdRowsFrame];
    PixRect& frame = r[kIdRowsFrame];
    frame.y = frameTop;
    frame.width = clientWidth - 2 * frame.x;
    const PixRect oldNode = r[kIdNodeCombo];
    for (int id : {kIdProxyLabel, kIdNodeCombo}) {
        if (r.count(id)) KeepOffset(r[id], oldFrame, frame);
    }
    PixRect& node = r[kIdNodeCombo];
    const int side = std::min(r[kIdTestNode].width, r[kIdTestNode].height);
    const int right = clientWidth - r[kIdProductLink].x;
    std::vector<int> buttons;
    for (int id : {kIdTestNode, kIdEditNode, kIdDeleteNode, kIdAddNode}) {
        if (r.count(id)) buttons.push_back(id);
    }
    RowFromRight(r, buttons, right, node.y, side);
    node.width = r[buttons.back()].x - kButtonSpacing - node.x;
    if (r.count(kIdModeCombo)) {
        const PixRect oldMode = r[kIdModeCombo];
        PixRect& mode = r[kIdModeCombo];
        KeepOffset(mode, oldNode, node);
        mode.x = node.x;
        mode.width = node.width;
        if (r.count(kIdModeLabel)) KeepOffset(r[kIdModeLabel], oldMode, mode);
        if (r.count(kIdModesButton)) r[kIdModesButton] = {r[buttons.back()].x, mode.y, side, side};
    }
    if (r.count(kIdConnect)) {
        PixRect& connect = r[kIdConnect];
        connect.y = Bottom(frame) + (connect.y - Bottom(oldFrame));
        connect.width = clientWidth - 2 * connect.x;
    }
}

// The exit, donate and menu buttons below CONNECT (those present), the
// links on their row 2 pixels lower.
void LayoutSmallButtons(ControlRects& r, int clientWidth, const std::vector<int>& order) {
    if (!Has(r, {kIdExitButton, kIdConnect, kIdProductLink})) return;
    const PixRect& connect = r[kIdConnect];
    const PixRect oldExit = r[kIdExitButton];
    const int side = std::min(oldExit.width, oldExit.height);
    const int top = Bottom(connect) + (oldExit.y - connect.y - connect.height);
    std::vector<int> ids;
    for (int id : order) {
        if (r.count(id)) ids.push_back(id);
    }
    RowFromRight(r, ids, clientWidth - r[kIdProductLink].x, top, side);
    for (int id : {kIdProductLink, kIdUpdateLink}) {
        if (r.count(id)) r[id].y = top + 2;
    }
}

}  // namespace

PixRect LogoSquare(const PixRect& picture, int clientWidth) {
    int side = std::min(picture.width, picture.height);
    if (side < 129) side = 128;
    return {(clientWidth - side) / 2, 10, side, side};
}

PixRect UdpWarningPlace(const PixRect& logo) {
    return {Right(logo) + 10, Bottom(logo) - 16, 16, 16};
}

void LayoutBaseWindow(ControlRects& r, int clientWidth, int clientHeight, int statusHeight) {
    if (r.count(kIdTrafficPanel)) {
        PixRect& t = r[kIdTrafficPanel];
        t = {0, clientHeight - statusHeight - 2 - t.height, clientWidth, t.height};
    }
    if (r.count(kIdConnectedPicture)) {
        const PixRect old = r[kIdConnectedPicture];
        const PixRect logo{(clientWidth - old.width) / 2, old.y, old.width, old.width};
        for (int id : {kIdConnectedPicture, kIdDisconnectedPicture, kIdBusyPicture}) {
            if (r.count(id)) r[id] = logo;
        }
        if (r.count(kIdUdpWarning)) r[kIdUdpWarning] = UdpWarningPlace(logo);
        if (r.count(kIdRowsFrame)) {
            const int gap = r[kIdRowsFrame].y - Bottom(old);
            LayoutRows(r, clientWidth, Bottom(logo) + gap);
        }
    }
    LayoutSmallButtons(r, clientWidth, {kIdExitButton, kIdDonate, kIdMenuButton});
    if (r.count(kIdWebPanel) && r.count(kIdExitButton) && r.count(kIdTrafficPanel)) {
        const int top = Bottom(r[kIdExitButton]) + 2;
        r[kIdWebPanel] = {0, top, clientWidth, std::max(0, r[kIdTrafficPanel].y - 1 - top)};
    }
}

void LayoutAccountWindow(ControlRects& r, int clientWidth) {
    if (r.count(kIdWebPanel) && r.count(kIdRowsFrame)) {
        const int gap = r[kIdRowsFrame].y - Bottom(r[kIdWebPanel]);
        LayoutRows(r, clientWidth, Bottom(r[kIdWebPanel]) + gap);
    }
    LayoutSmallButtons(r, clientWidth, {kIdExitButton, kIdMenuButton});
    if (!Has(r, {kIdConnect, kIdAccountLine1, kIdAccountLine2, kIdAccountHome})) return;
    PixRect& line1 = r[kIdAccountLine1];
    PixRect& line2 = r[kIdAccountLine2];
    line1.y = Bottom(r[kIdConnect]) + 20;
    line2.y = Bottom(line1) + 10;
    const PixRect size = r[kIdAccountHome];
    const std::vector<PixRect> row = AccountButtonRow(clientWidth, Bottom(line2) + 20, size.width, size.height);
    const int ids[5] = {kIdAccountHome, kIdAccountCode, kIdAccountProfile, kIdAccountMenu, kIdAccountExit};
    for (int i = 0; i < 5; ++i) {
        if (r.count(ids[i])) r[ids[i]] = row[static_cast<size_t>(i)];
    }
}

std::vector<PixRect> AccountButtonRow(int clientWidth, int top, int buttonWidth, int buttonHeight) {
    const int gap = (clientWidth - 5 * buttonWidth) / 10;
    std::vector<PixRect> row;
    for (int i = 0; i < 5; ++i) row.push_back({gap + i * (buttonWidth + 2 * gap), top, buttonWidth, buttonHeight});
    return row;
}
