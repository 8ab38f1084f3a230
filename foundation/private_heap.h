#pragma once
// The allocator behind every data buffer that crosses the cryptor, plug-in and
// relay interfaces. One allocator serves whether or not the local proxy service
// has "created" its heap, so a block can never be freed the wrong way; blocks
// are always zero-filled, and a grown block's new bytes are zero too.

#include <cstddef>

// Marks the heap as created (the local proxy service does this at the start of
// its listener); later calls do nothing. Returns true once the heap exists.
bool CreatePrivateHeap();
bool PrivateHeapExists();

// A zero-filled block of `size` bytes, or null when memory is exhausted.
void* PrivateHeapAlloc(size_t size);
// `block` resized to `size` bytes (new bytes zero); a null block is a fresh
// allocation. Null on failure, in which case `block` is untouched.
void* PrivateHeapRealloc(size_t size, void* block);
// Makes `*block` (null or a block from this allocator) hold at least `size`
// bytes, keeping its bytes; it is never shrunk. For buffers kept from call to
// call. False when memory is exhausted, the block then being untouched.
bool PrivateHeapReserve(unsigned char** block, size_t size);
// Returns a block; null is ignored.
void PrivateHeapFree(void* block);
// The usable size of a block from this allocator (0 for null).
size_t PrivateHeapSize(const void* block);
