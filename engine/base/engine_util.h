#pragma once
// Small string and file helpers of the engine's argument processing. Heap
// results are released with free().

#include <cstddef>
#include <cstdint>

// A heap copy of `str`; null for a null text or when out of memory.
char* Engine_StrDup(const char* str);
// The `count` texts joined in order; null on overflow or out of memory.
char* Engine_JoinStrings(size_t count, const char* const* texts);
// The whole file in a heap buffer (not terminated); null on failure.
uint8_t* Engine_ReadPasswordFile(const char* path, size_t* out_len);
