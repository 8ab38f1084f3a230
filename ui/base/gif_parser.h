#pragma once
// Walks the blocks of a GIF file: the header with its global colour table,
// extensions, graphic control extensions, images and the trailer. It decodes
// no pixels; it finds each image with its delay, disposal and place, and cuts
// it out as a stand-alone one-image GIF that a picture decoder can read.
//
// Every length comes from the file and is checked against the data: the
// header and its colour table must fit, and a block that would end past the
// data ends the walk (the images before it are kept).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct GifFrameInfo {
    size_t begin = 0;  // the graphic control extension, else the image descriptor
    size_t end = 0;    // one past the image's last sub-block
    int left = 0, top = 0, width = 0, height = 0;
    int delay = -1;    // hundredths of a second; -1 without a graphic control extension
    int disposal = 0;  // (packed >> 2) & 7 of the graphic control extension
};

struct GifInfo {
    int width = 0;  // logical screen
    int height = 0;
    size_t header_size = 0;  // 13 bytes and the global colour table
    bool has_background = false;
    uint32_t background_argb = 0xFFFFFFFFu;
    int graphic_blocks = 0;  // images and plain-text extensions
    std::vector<GifFrameInfo> frames;
};

enum class GifParse {
    kOk,
    kNotGif,     // the data does not begin with "GIF"
    kBadHeader,  // shorter than 13 bytes, an empty or huge screen, a colour table past the data,
                 // or a background index past the table
    kNoFrames,   // no graphic block before the walk ended
};

GifParse ParseGif(std::string_view data, GifInfo& info);

// The file's header and global table, the frame's bytes, and the trailer.
std::string BuildFrameGif(std::string_view data, const GifInfo& info, const GifFrameInfo& frame);

// How long a frame stays: delay x 10 ms, or 50 ms for a delay of 4 or less.
int GifFrameWaitMs(int delay);
