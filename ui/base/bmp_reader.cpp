#include "ui/base/bmp_reader.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace {

uint32_t Le16(const unsigned char* p) {
    return p[0] | (p[1] << 8);
}
uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

}  // namespace

Pixmap DecodeBmp(std::string_view data) {
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    const size_t n = data.size();
    if (n < 14 + 12 || b[0] != 'B' || b[1] != 'M') return {};
    const uint32_t pixelOffset = Le32(b + 10);
    const uint32_t headerSize = Le32(b + 14);
    if (headerSize < 12 || headerSize > n - 14) return {};

    int64_t width = 0, height = 0;
    uint32_t bits = 0, compression = kBiRgb, paletteCount = 0;
    size_t paletteEntry = 4;
    if (headerSize == 12) {
        width = Le16(b + 18);
        height = static_cast<int16_t>(Le16(b + 20));
        bits = Le16(b + 24);
        paletteEntry = 3;
    } else {
        if (headerSize < 40) return {};
        width = static_cast<int32_t>(Le32(b + 18));
        height = static_cast<int32_t>(Le32(b + 22));
        bits = Le16(b + 28);
        compression = Le32(b + 30);
        paletteCount = Le32(b + 46);
    }
    const bool topDown = height < 0;
    if (topDown) height = -height;
    if (width <= 0 || height <= 0 || width > Pixmap::kMaxSide || height > Pixmap::kMaxSide ||
        width * height > Pixmap::kMaxPixels)
        return {};
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return {};

    uint32_t masks[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu};
    if (compression == kBiBitfields && bits == 32) {
        // The masks follow a 40-byte header, or sit inside a larger one.
        if (n < 14 + 40 + 12) return {};
        for (int i = 0; i < 3; ++i) masks[i] = Le32(b + 14 + 40 + 4 * i);
    } else if (compression != kBiRgb) {
        return {};
    }

    std::vector<uint32_t> palette;
    if (bits <= 8) {
        const uint32_t maxEntries = 1u << bits;
        if (paletteCount == 0 || paletteCount > maxEntries) paletteCount = maxEntries;
        const size_t at = 14 + headerSize;
        if (at + paletteCount * paletteEntry > n) return {};
        for (uint32_t i = 0; i < paletteCount; ++i) {
            const unsigned char* e = b + at + i * paletteEntry;
            palette.push_back(0xFF000000u | (e[2] << 16) | (e[1] << 8) | e[0]);
        }
    }

    const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    if (pixelOffset > n || stride * static_cast<size_t>(height) > n - pixelOffset) return {};

    auto channel = [](uint32_t v, uint32_t mask) -> uint32_t {
        if (mask == 0) return 0;
        int shift = 0;
        while (!((mask >> shift) & 1)) ++shift;
        const uint32_t m = mask >> shift;
        return m ? ((v & mask) >> shift) * 255 / m : 0;
    };

    Pixmap out(static_cast<int>(width), static_cast<int>(height));
    if (!out.IsOk()) return {};
    for (int64_t row = 0; row < height; ++row) {
        const unsigned char* line = b + pixelOffset + stride * static_cast<size_t>(row);
        const int y = static_cast<int>(topDown ? row : height - 1 - row);
        for (int x = 0; x < width; ++x) {
            uint32_t p = 0;
            if (bits == 24) {
                const unsigned char* q = line + 3 * x;
                p = 0xFF000000u | (q[2] << 16) | (q[1] << 8) | q[0];
            } else if (bits == 32) {
                const uint32_t v = Le32(line + 4 * x);
                p = 0xFF000000u | (channel(v, masks[0]) << 16) | (channel(v, masks[1]) << 8) |
                    channel(v, masks[2]);
            } else {
                const size_t bitPos = static_cast<size_t>(x) * bits;
                const unsigned byte = line[bitPos / 8];
                const unsigned index = (byte >> (8 - bits - bitPos % 8)) & ((1u << bits) - 1);
                if (index >= palette.size()) return {};
                p = palette[index];
            }
            out.Set(x, y, p);
        }
    }
    return out;
}

Pixmap LoadBmpFile(const std::filesystem::path& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size == 0 || size > (256u << 20)) return {};
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return DecodeBmp(bytes);
}
