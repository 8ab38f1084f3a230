#pragma once
// Lower-case hexadecimal texts of digests.

#include <cstddef>
#include <string>

// The MD5 of `length` bytes as 32 lower-case hex characters. A length of 0
// hashes the zero-terminated text at `data` (a null pointer hashes nothing).
std::string Md5Hex(const void* data, size_t length);

// 16 bytes as 32 lower-case hex characters.
std::string BytesToHex16(const unsigned char* bytes16);
