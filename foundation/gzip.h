#pragma once
// Gzip streams (RFC 1952) for the compressed data-file container.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Decompressed output beyond this is refused: the containers hold small
// configuration and rule files, and a crafted stream must not exhaust memory.
inline constexpr size_t kGzipMaxOutput = 64u << 20;

// The gzip stream of `data` (deflate level 6, 32 KiB window); nothing for
// empty input or when compression fails.
std::optional<std::string> GzipCompress(std::string_view data);

// The bytes of a gzip stream, with its header, CRC-32 and length checked;
// nothing for empty input, an empty result, any decoding failure, or output
// larger than `maxOutput`.
std::optional<std::string> GzipDecompress(std::string_view data, size_t maxOutput = kGzipMaxOutput);
