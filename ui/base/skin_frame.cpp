#include "ui/base/skin_frame.h"

#include <algorithm>
#include <cmath>

FrameMetrics FrameMetrics::FromSkin(const SkinSettings& s) {
    FrameMetrics m;
    m.title_height = s.TitleHeight();
    m.side_width = s.SideBorderWidth();
    m.bottom_height = s.BottomHeight();
    m.cell_width = s.sysbutton_cell_width;
    m.cell_height = s.sysbutton_cell_height;
    m.button_top = s.system_button_top;
    m.close_offset = s.close_offset;
    m.maximize_offset = s.maximize_offset;
    m.minimize_offset = s.minimize_offset;
    m.title_left = s.title_left_width;
    m.title_mid = s.title_mid_width;
    m.title_right = s.title_right_width;
    m.title_text_top = s.title_text_top;
    m.corner = s.corner_width;
    return m;
}

PixRect FrameClientRect(const FrameMetrics& m, int w, int h) {
    return {m.side_width, m.title_height, std::max(0, w - 2 * m.side_width),
            std::max(0, h - m.title_height - m.bottom_height)};
}

PixRect SysButtonRect(const FrameMetrics& m, const FrameButtons& b, int w, int which) {
    int offset = 0;
    switch (which) {
        case kSysClose:
            offset = m.close_offset;
            break;
        case kSysMaximize:
            offset = m.maximize_offset;
            break;
        case kSysMinimize:
            offset = b.maximize ? m.minimize_offset : m.maximize_offset;
            break;
        default:
            return {};
    }
    return {w - offset, m.button_top, m.cell_width, m.cell_height};
}

int FrameHitTest(const FrameMetrics& m, const FrameButtons& b, int w, int h, int x, int y) {
    if (x < 0 || y < 0 || x >= w || y >= h) return HTNOWHERE;
    int hit = HTBORDER;
    if (y < m.title_height) {
        hit = HTCAPTION;
    } else if (FrameClientRect(m, w, h).Contains(x, y)) {
        hit = HTCLIENT;
    }
    if (b.close && SysButtonRect(m, b, w, kSysClose).Contains(x, y)) hit = HTCLOSE;
    if (b.maximize && SysButtonRect(m, b, w, kSysMaximize).Contains(x, y)) hit = HTMAXBUTTON;
    if (b.minimize && SysButtonRect(m, b, w, kSysMinimize).Contains(x, y)) hit = HTMINBUTTON;
    return hit;
}

int SysCommandForButtonUp(int hit, const FrameButtons& b, bool zoomed) {
    switch (hit) {
        case HTMINBUTTON:
            return b.minimize ? SC_MINIMIZE : SC_NONE;
        case HTMAXBUTTON:
            return b.maximize ? (zoomed ? SC_RESTORE : SC_MAXIMIZE) : SC_NONE;
        case HTCLOSE:
            return b.close ? SC_CLOSE : SC_NONE;
        default:
            return SC_NONE;
    }
}

int SysCommandForDoubleClick(const FrameButtons& b, bool zoomed) {
    return b.maximize ? (zoomed ? SC_RESTORE : SC_MAXIMIZE) : SC_NONE;
}

SysButtonCell SysButtonCellFor(int which, bool zoomed, bool hover, bool leftDown) {
    SysButtonCell c;
    switch (which) {
        case kSysMinimize:
            c.column = 0;
            break;
        case kSysMaximize:
            c.column = zoomed ? 2 : 1;
            break;
        default:
            c.column = 3;
            break;
    }
    c.row = hover ? (leftDown ? 2 : 1) : 0;
    return c;
}

PixRect TitleTextRect(const FrameMetrics& m, const FrameButtons& b, int w, bool hasIcon) {
    int right = w;
    const int step = m.cell_width - 1;
    if (b.close) right -= step;
    if (b.minimize) right -= step;
    if (b.maximize) right -= step;
    const int left = m.title_left + (hasIcon ? 21 : 5);
    const int top = m.title_text_top;
    const int bottom = m.title_text_top + m.title_height - 4;
    return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

namespace {

int HitForButton(int which) {
    switch (which) {
        case kSysClose:
            return HTCLOSE;
        case kSysMaximize:
            return HTMAXBUTTON;
        default:
            return HTMINBUTTON;
    }
}

}  // namespace

void ComposeFrame(Pixmap& out, const SkinSettings& s, const FrameButtons& b, bool zoomed, int hoverHit,
                  bool leftDown) {
    const FrameMetrics m = FrameMetrics::FromSkin(s);
    const int w = out.width(), h = out.height();
    const int t = m.title_height, sw = m.side_width, bh = m.bottom_height;
    if (!out.IsOk()) return;

    // Title band: left slice, stretched middle, right slice.
    const int l = m.title_left, mid = m.title_mid, r = m.title_right;
    CopyPixels(out, 0, 0, s.title, 0, 0, l, t);
    StretchPixels(out, {l, 0, w - r - l, t}, s.title, {l, 0, mid, t});
    CopyPixels(out, w - r, 0, s.title, l + mid, 0, r, t);

    // System buttons.
    for (int which : {kSysMinimize, kSysMaximize, kSysClose}) {
        const bool shown = which == kSysClose ? b.close : which == kSysMaximize ? b.maximize : b.minimize;
        if (!shown) continue;
        const PixRect rect = SysButtonRect(m, b, w, which);
        const SysButtonCell cell = SysButtonCellFor(which, zoomed, hoverHit == HitForButton(which), leftDown);
        CopyPixels(out, rect.x, rect.y, s.sysbutton, cell.column * m.cell_width, cell.row * m.cell_height,
                   m.cell_width, m.cell_height);
    }

    // Side borders: the first row of each half stretched down the side.
    if (sw > 0) {
        StretchPixels(out, {0, t, sw, h - t}, s.side_border, {0, 0, sw, 1});
        StretchPixels(out, {w - sw, t, sw, h - t}, s.side_border, {sw, 0, sw, 1});
    }

    // Bottom band: the corners and the stretched column between them.
    const int by = h - bh;
    CopyPixels(out, 0, by, s.bottom_border, 0, 0, sw, bh);
    StretchPixels(out, {sw, by, w - 2 * sw, bh}, s.bottom_border, {sw, 0, 1, bh});
    CopyPixels(out, w - sw, by, s.bottom_border, sw + 1, 0, sw, bh);
}

std::vector<RowSpan> RoundRectSpans(int w, int h, int corner) {
    std::vector<RowSpan> rows(static_cast<size_t>(std::max(0, h)), RowSpan{0, std::max(0, w)});
    const int d = std::min({corner, w, h});
    if (d < 2) return rows;
    const double r = d / 2.0;
    for (int y = 0; y < h; ++y) {
        // Distance of the row's centre from the nearer corner circle's centre row.
        double dy = 0;
        if (y + 0.5 < r) {
            dy = r - (y + 0.5);
        } else if (y + 0.5 > h - r) {
            dy = (y + 0.5) - (h - r);
        } else {
            continue;
        }
        const double dx = std::sqrt(std::max(0.0, r * r - dy * dy));
        const int inset = std::clamp(static_cast<int>(std::lround(r - dx)), 0, w / 2);
        rows[static_cast<size_t>(y)] = {inset, w - inset};
    }
    return rows;
}
