#pragma once
// A plain picture in memory (32-bit pixels 0xAARRGGBB, rows top to bottom) and
// the copies the skinned controls compose with. Every copy is clipped to both
// its source and its destination, so sizes that come from skin files or
// picture headers can never reach outside either picture.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ui/base/colors.h"

struct PixRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool Contains(int px, int py) const { return px >= x && py >= y && px < x + width && py < y + height; }
    bool IsEmpty() const { return width <= 0 || height <= 0; }
    bool operator==(const PixRect&) const = default;
};

class Pixmap {
public:
    // Larger pictures are refused: no skin or animation needs more.
    static constexpr int kMaxSide = 16384;
    static constexpr int64_t kMaxPixels = int64_t{1} << 26;

    Pixmap() = default;
    // A picture of the size filled with `argb`; an empty one when the size is
    // not positive or too large.
    Pixmap(int width, int height, uint32_t argb = 0xFF000000u);

    bool IsOk() const { return width_ > 0 && height_ > 0; }
    int width() const { return width_; }
    int height() const { return height_; }
    uint32_t At(int x, int y) const { return px_[static_cast<size_t>(y) * width_ + x]; }
    void Set(int x, int y, uint32_t argb) { px_[static_cast<size_t>(y) * width_ + x] = argb; }
    // The pixel, or 0 outside the picture.
    uint32_t Get(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_ ? At(x, y) : 0; }
    const uint32_t* data() const { return px_.data(); }
    uint32_t* data() { return px_.data(); }

    void Fill(uint32_t argb);
    // Fills the part of `r` that lies inside the picture.
    void FillRect(const PixRect& r, uint32_t argb);

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<uint32_t> px_;
};

// Opaque ARGB of a COLORREF and back.
constexpr uint32_t ArgbOf(COLORREF c) {
    return 0xFF000000u | (static_cast<uint32_t>(GetRValue(c)) << 16) |
           (static_cast<uint32_t>(GetGValue(c)) << 8) | static_cast<uint32_t>(GetBValue(c));
}
constexpr COLORREF ColorRefOf(uint32_t argb) {
    return RGB(static_cast<int>((argb >> 16) & 0xFF), static_cast<int>((argb >> 8) & 0xFF),
               static_cast<int>(argb & 0xFF));
}

// Copies the source rectangle to (dx, dy) at its own size. Pixels outside the
// source or the destination are skipped.
void CopyPixels(Pixmap& dst, int dx, int dy, const Pixmap& src, int sx, int sy, int w, int h);

// Stretches the source rectangle over the destination rectangle (nearest
// pixel). An empty source or destination copies nothing; source pixels that
// fall outside the source picture are skipped.
void StretchPixels(Pixmap& dst, const PixRect& to, const Pixmap& src, const PixRect& from);

// Like CopyPixels, but pixels whose alpha is below 128 are left out.
void CopyPixelsMasked(Pixmap& dst, int dx, int dy, const Pixmap& src, int sx, int sy, int w, int h);

// A copy with every non-black pixel turned into the grey level
// 0.299 R + 0.587 G + 0.114 B (alpha kept).
Pixmap GreyCopy(const Pixmap& src);
// A copy with 25 % taken off each colour component of every non-black pixel.
Pixmap DarkerCopy(const Pixmap& src);
