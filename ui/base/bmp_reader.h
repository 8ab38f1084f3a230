#pragma once
// Reads Windows bitmap files (.bmp) into a Pixmap: uncompressed 1, 4, 8, 24
// and 32 bits per pixel, bottom-up or top-down, with the core, info or later
// headers. Skin bitmaps are user files: a header that does not fit the data,
// a palette index past the palette or pixel rows cut short fail the whole read.

#include <filesystem>
#include <string_view>

#include "ui/base/pixmap.h"

// An empty Pixmap on any failure.
Pixmap DecodeBmp(std::string_view data);
Pixmap LoadBmpFile(const std::filesystem::path& path);
