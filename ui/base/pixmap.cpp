#include "ui/base/pixmap.h"

#include <algorithm>

Pixmap::Pixmap(int width, int height, uint32_t argb) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        int64_t{width} * height > kMaxPixels)
        return;
    width_ = width;
    height_ = height;
    px_.assign(static_cast<size_t>(width) * height, argb);
}

void Pixmap::Fill(uint32_t argb) {
    std::fill(px_.begin(), px_.end(), argb);
}

void Pixmap::FillRect(const PixRect& r, uint32_t argb) {
    const int x0 = std::max(0, r.x), y0 = std::max(0, r.y);
    const int x1 = static_cast<int>(std::min<int64_t>(width_, int64_t{r.x} + r.width));
    const int y1 = static_cast<int>(std::min<int64_t>(height_, int64_t{r.y} + r.height));
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) Set(x, y, argb);
    }
}

namespace {

template <typename Put>
void CopyClipped(Pixmap& dst, int dx, int dy, const Pixmap& src, int sx, int sy, int w, int h, Put put) {
    if (w <= 0 || h <= 0) return;
    // Offsets are 64-bit: sizes from files may be anything up to INT_MAX.
    const int64_t x0 = std::max<int64_t>({0, -int64_t{dx}, -int64_t{sx}});
    const int64_t y0 = std::max<int64_t>({0, -int64_t{dy}, -int64_t{sy}});
    const int64_t x1 = std::min<int64_t>({w, int64_t{dst.width()} - dx, int64_t{src.width()} - sx});
    const int64_t y1 = std::min<int64_t>({h, int64_t{dst.height()} - dy, int64_t{src.height()} - sy});
    for (int64_t y = y0; y < y1; ++y) {
        for (int64_t x = x0; x < x1; ++x) {
            put(static_cast<int>(dx + x), static_cast<int>(dy + y),
                src.At(static_cast<int>(sx + x), static_cast<int>(sy + y)));
        }
    }
}

uint32_t Grey(uint32_t p) {
    if ((p & 0x00FFFFFFu) == 0) return p;
    const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    const int v = std::clamp(static_cast<int>(0.299 * r + 0.587 * g + 0.114 * b + 0.5), 0, 255);
    return (p & 0xFF000000u) | (static_cast<uint32_t>(v) << 16) | (static_cast<uint32_t>(v) << 8) |
           static_cast<uint32_t>(v);
}

uint32_t Darker(uint32_t p) {
    if ((p & 0x00FFFFFFu) == 0) return p;
    const uint32_t r = ((p >> 16) & 0xFF) * 3 / 4, g = ((p >> 8) & 0xFF) * 3 / 4, b = (p & 0xFF) * 3 / 4;
    return (p & 0xFF000000u) | (r << 16) | (g << 8) | b;
}

template <typename F>
Pixmap MapPixels(const Pixmap& src, F f) {
    Pixmap out = src;
    for (int y = 0; y < out.height(); ++y) {
        for (int x = 0; x < out.width(); ++x) out.Set(x, y, f(out.At(x, y)));
    }
    return out;
}

}  // namespace

void CopyPixels(Pixmap& dst, int dx, int dy, const Pixmap& src, int sx, int sy, int w, int h) {
    CopyClipped(dst, dx, dy, src, sx, sy, w, h, [&](int x, int y, uint32_t p) { dst.Set(x, y, p); });
}

void CopyPixelsMasked(Pixmap& dst, int dx, int dy, const Pixmap& src, int sx, int sy, int w, int h) {
    CopyClipped(dst, dx, dy, src, sx, sy, w, h, [&](int x, int y, uint32_t p) {
        if ((p >> 24) >= 128) dst.Set(x, y, p | 0xFF000000u);
    });
}

void StretchPixels(Pixmap& dst, const PixRect& to, const Pixmap& src, const PixRect& from) {
    if (to.IsEmpty() || from.IsEmpty() || !dst.IsOk() || !src.IsOk()) return;
    const int64_t x0 = std::max<int64_t>(0, to.x), y0 = std::max<int64_t>(0, to.y);
    const int64_t x1 = std::min<int64_t>(dst.width(), int64_t{to.x} + to.width);
    const int64_t y1 = std::min<int64_t>(dst.height(), int64_t{to.y} + to.height);
    for (int64_t y = y0; y < y1; ++y) {
        const int64_t syy = from.y + (y - to.y) * from.height / to.height;
        if (syy < 0 || syy >= src.height()) continue;
        for (int64_t x = x0; x < x1; ++x) {
            const int64_t sxx = from.x + (x - to.x) * from.width / to.width;
            if (sxx < 0 || sxx >= src.width()) continue;
            dst.Set(static_cast<int>(x), static_cast<int>(y),
                    src.At(static_cast<int>(sxx), static_cast<int>(syy)));
        }
    }
}

Pixmap GreyCopy(const Pixmap& src) {
    return MapPixels(src, Grey);
}
Pixmap DarkerCopy(const Pixmap& src) {
    return MapPixels(src, Darker);
}
