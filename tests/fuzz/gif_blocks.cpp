// Untrusted GIF data, as a picture resource may hold it. The block walker
// must stay inside the data whatever the lengths say; every frame it finds
// must cut out as a one-image GIF that walks again to the same frame; and
// composing frames at the places the file gives stays inside the picture.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ui/base/gif_parser.h"
#include "ui/base/picture_animation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view gif(reinterpret_cast<const char*>(data), size);
    GifInfo info;
    const GifParse r = ParseGif(gif, info);
    if (r != GifParse::kOk) {
        if (!info.frames.empty() && r != GifParse::kBadHeader) std::abort();
        return 0;
    }
    if (info.header_size > size || info.graphic_blocks < static_cast<int>(info.frames.size())) std::abort();

    std::vector<AnimationFrame> frames;
    for (const GifFrameInfo& f : info.frames) {
        if (f.begin < info.header_size || f.end > size || f.begin >= f.end) std::abort();
        const std::string one = BuildFrameGif(gif, info, f);
        GifInfo again;
        if (ParseGif(one, again) != GifParse::kOk || again.frames.size() != 1) std::abort();
        if (again.frames[0].delay != f.delay || again.frames[0].disposal != f.disposal ||
            again.frames[0].width != f.width || again.frames[0].left != f.left)
            std::abort();
        if (frames.size() < 8) {
            AnimationFrame a;
            a.image = Pixmap(std::min(f.width, 64), std::min(f.height, 64), 0xFF123456u);
            a.left = f.left;
            a.top = f.top;
            a.width = f.width;
            a.height = f.height;
            a.delay = f.delay;
            a.disposal = f.disposal;
            frames.push_back(std::move(a));
        }
    }
    PictureAnimation anim;
    const size_t n = frames.size();
    anim.Reset(std::min(info.width, 256), std::min(info.height, 256), 0xFFFFFFFFu, std::move(frames));
    anim.PrepareFirst();
    for (size_t i = 0; i < 2 * n; ++i) {
        anim.RenderCurrent();
        anim.DisposeCurrent();
        anim.Advance();
    }
    return 0;
}
