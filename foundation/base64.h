#pragma once
// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks) and the
// lenient decoders that the stored files and share links rely on.

#include <cstddef>
#include <string>
#include <string_view>

std::string Base64Encode(const void* data, size_t length);

// Decodes from the start up to the first '=' or the first character outside
// the alphabet (white space included); a final group of 2 or 3 characters
// gives 1 or 2 bytes, a single leftover character gives nothing.
std::string Base64Decode(std::string_view text);

// The URL-safe form: '-' and '_' read as '+' and '/', padding optional.
std::string Base64UrlDecode(std::string_view text);
