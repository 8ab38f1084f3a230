#pragma once
// CRC-32 and Adler-32 as the ShadowsocksR plug-ins use them.

#include <cstddef>
#include <cstdint>

// Builds the CRC-32 table once; later calls return at once.
void InitCrc32Table();
// The standard CRC-32 (reflected, polynomial 0xEDB88320, initial value and
// final complement 0xFFFFFFFF).
uint32_t Crc32(const unsigned char* data, size_t length);
// Writes Crc32(data) to `out` as 4 bytes, least significant first.
void Crc32Store(unsigned char out[4], const unsigned char* data, size_t length);
// The standard Adler-32, (B << 16) | A.
uint32_t Adler32(const unsigned char* data, size_t length);
