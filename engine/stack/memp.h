#pragma once
// Fixed-size free lists for the stack's hot-path records: packet buffers,
// control blocks and segments. A pool grows in chunks taken from the heap and
// keeps released blocks for reuse, so steady traffic allocates nothing.

#include <cstddef>

enum memp_t {
    MEMP_PBUF_SMALL,  // buffer record + 128 data bytes (headers, ACKs, resets, flags)
    MEMP_PBUF_BIG,    // buffer record + 1536 data bytes (pool chains, TCP data)
    MEMP_PBUF_REF,    // buffer record only (reference and custom buffers)
    MEMP_PBUF_HEAP,   // larger heap buffers: plain heap blocks, only counted
    MEMP_TCP_PCB,
    MEMP_TCP_PCB_LISTEN,
    MEMP_TCP_SEG,
    MEMP_REASSDATA,
    MEMP_IP6_REASSDATA,
    MEMP_MAX
};

// A block of the pool's size, or nullptr when the heap (or a test limit) refuses.
void* memp_malloc(memp_t type);
void memp_free(memp_t type, void* block);
// A counted plain heap block for the rare large buffer; released with memp_free(MEMP_PBUF_HEAP, ...).
void* memp_heap_malloc(size_t bytes);

// Blocks handed out and not yet returned.
size_t memp_used(memp_t type);

// Gives the pools' chunks back to the heap where every block has been returned.
void memp_release_unused();
// Gives back every chunk none of whose blocks is handed out, also in pools
// still in use: after a burst the pools shrink to what is used. Returns the
// bytes given back.
size_t memp_trim();
// Bytes the pools hold from the heap, and the bytes of the blocks handed out.
size_t memp_held_bytes();
size_t memp_used_bytes();

// For tests: at most `limit` blocks of the type may be out at once (0 = no limit).
void memp_set_limit(memp_t type, size_t limit);
