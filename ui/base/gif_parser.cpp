#include "ui/base/gif_parser.h"

#include "ui/base/pixmap.h"

namespace {

class Walker {
public:
    explicit Walker(std::string_view d) : d_(d) {}
    bool Has(size_t at, size_t n) const { return at <= d_.size() && n <= d_.size() - at; }
    unsigned Byte(size_t at) const { return static_cast<unsigned char>(d_[at]); }
    unsigned Le16(size_t at) const { return Byte(at) | (Byte(at + 1) << 8); }
    // Skips a chain of length-prefixed sub-blocks ended by a zero length;
    // returns the offset after it, or 0 when the chain runs past the data.
    size_t SkipSubBlocks(size_t at) const {
        for (;;) {
            if (!Has(at, 1)) return 0;
            const unsigned len = Byte(at);
            ++at;
            if (len == 0) return at;
            if (!Has(at, len)) return 0;
            at += len;
        }
    }

private:
    std::string_view d_;
};

}  // namespace

GifParse ParseGif(std::string_view data, GifInfo& info) {
    info = GifInfo{};
    if (data.size() < 3 || data.substr(0, 3) != "GIF") return GifParse::kNotGif;
    const Walker w(data);
    if (!w.Has(0, 13)) return GifParse::kBadHeader;
    info.width = static_cast<int>(w.Le16(6));
    info.height = static_cast<int>(w.Le16(8));
    if (info.width <= 0 || info.height <= 0 || int64_t{info.width} * info.height > Pixmap::kMaxPixels)
        return GifParse::kBadHeader;
    const unsigned packed = w.Byte(10);
    size_t at = 13;
    if (packed & 0x80) {
        const size_t entries = size_t{1} << ((packed & 7) + 1);
        if (!w.Has(13, 3 * entries)) return GifParse::kBadHeader;
        const unsigned index = w.Byte(11);
        if (index >= entries) return GifParse::kBadHeader;
        const size_t e = 13 + 3 * index;
        info.has_background = true;
        info.background_argb = 0xFF000000u | (w.Byte(e) << 16) | (w.Byte(e + 1) << 8) | w.Byte(e + 2);
        at += 3 * entries;
    }
    info.header_size = at;

    size_t pendingGce = 0;
    bool hasGce = false;
    int delay = -1, disposal = 0;
    while (w.Has(at, 1)) {
        const unsigned kind = w.Byte(at);
        if (kind == 0x3B) break;  // trailer
        if (kind == 0x21) {
            if (!w.Has(at, 2)) break;
            const unsigned label = w.Byte(at + 1);
            size_t next = 0;
            if (label == 0xF9) {
                if (!w.Has(at, 8)) break;
                pendingGce = at;
                hasGce = true;
                disposal = static_cast<int>((w.Byte(at + 3) >> 2) & 7);
                delay = static_cast<int>(w.Le16(at + 4));
                at += 8;
                continue;
            } else if (label == 0x01) {
                if (!w.Has(at, 15)) break;
                next = w.SkipSubBlocks(at + 15);
                if (next == 0) break;
                ++info.graphic_blocks;  // a plain-text block is a graphic block with no image
                hasGce = false;
            } else if (label == 0xFE) {
                next = w.SkipSubBlocks(at + 2);
            } else if (label == 0xFF) {
                if (!w.Has(at, 14)) break;
                next = w.SkipSubBlocks(at + 14);
            } else {
                break;
            }
            if (next == 0) break;
            at = next;
        } else if (kind == 0x2C) {
            if (!w.Has(at, 10)) break;
            GifFrameInfo f;
            f.begin = hasGce ? pendingGce : at;
            f.left = static_cast<int>(w.Le16(at + 1));
            f.top = static_cast<int>(w.Le16(at + 3));
            f.width = static_cast<int>(w.Le16(at + 5));
            f.height = static_cast<int>(w.Le16(at + 7));
            f.delay = hasGce ? delay : -1;
            f.disposal = hasGce ? disposal : 0;
            const unsigned ipacked = w.Byte(at + 9);
            size_t p = at + 10;
            if (ipacked & 0x80) p += 3 * (size_t{1} << ((ipacked & 7) + 1));
            if (!w.Has(p, 1)) break;  // the LZW code size
            const size_t next = w.SkipSubBlocks(p + 1);
            if (next == 0) break;
            f.end = next;
            info.frames.push_back(f);
            ++info.graphic_blocks;
            hasGce = false;
            at = next;
        } else {
            break;
        }
    }
    return info.graphic_blocks == 0 ? GifParse::kNoFrames : GifParse::kOk;
}

std::string BuildFrameGif(std::string_view data, const GifInfo& info, const GifFrameInfo& frame) {
    std::string out;
    if (info.header_size > data.size() || frame.begin > frame.end || frame.end > data.size()) return out;
    out.reserve(info.header_size + (frame.end - frame.begin) + 1);
    out.append(data.substr(0, info.header_size));
    out.append(data.substr(frame.begin, frame.end - frame.begin));
    out.push_back(';');
    return out;
}

int GifFrameWaitMs(int delay) {
    return delay <= 4 ? 50 : delay * 10;
}
