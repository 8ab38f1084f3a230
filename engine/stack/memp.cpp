#include "engine/stack/memp.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <vector>

#include "engine/stack/ip4_frag.h"
#include "engine/stack/ip6_frag.h"
#include "engine/stack/pbuf.h"
#include "engine/stack/tcp.h"

#if defined(__SANITIZE_ADDRESS__)
#define MEMP_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MEMP_ASAN 1
#endif
#endif

#ifdef MEMP_ASAN
#include <sanitizer/asan_interface.h>
// Free blocks stay poisoned so that a use after release is still caught.
#define MEMP_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define MEMP_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define MEMP_POISON(p, n) ((void)(p), (void)(n))
#define MEMP_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

struct FreeBlock {
    FreeBlock* next;
};

struct Chunk {
    Chunk* next;
    size_t blocks;
    alignas(16) unsigned char data[1];
};

constexpr size_t kAlign = 16;
constexpr size_t kBlocksPerChunk = 64;

constexpr size_t RoundUp(size_t n) {
    return (n + kAlign - 1) & ~(kAlign - 1);
}

struct Pool {
    size_t size;  // 0: plain heap blocks
    FreeBlock* free_list = nullptr;
    Chunk* chunks = nullptr;
    size_t used = 0;
    size_t limit = 0;
    size_t held = 0;  // bytes of its chunks (read by other threads for figures)
};

Pool pools[MEMP_MAX] = {
    {RoundUp(sizeof(pbuf) + PBUF_SMALL_BUFSIZE)},
    {RoundUp(sizeof(pbuf) + PBUF_BIG_BUFSIZE)},
    {RoundUp(sizeof(pbuf_custom_ref))},
    {0},
    {RoundUp(sizeof(tcp_pcb))},
    {RoundUp(sizeof(tcp_pcb_listen))},
    {RoundUp(sizeof(tcp_seg))},
    {RoundUp(sizeof(ip_reassdata))},
    {RoundUp(sizeof(ip6_reassdata))},
};

bool Grow(Pool& pool) {
    size_t bytes = offsetof(Chunk, data) + pool.size * kBlocksPerChunk;
    auto* chunk = static_cast<Chunk*>(std::malloc(bytes));
    if (chunk == nullptr) return false;
    chunk->next = pool.chunks;
    chunk->blocks = kBlocksPerChunk;
    pool.chunks = chunk;
    pool.held += bytes;
    for (size_t i = kBlocksPerChunk; i-- > 0;) {
        auto* b = reinterpret_cast<FreeBlock*>(chunk->data + i * pool.size);
        b->next = pool.free_list;
        pool.free_list = b;
        MEMP_POISON(b, pool.size);
    }
    return true;
}

}  // namespace

void* memp_malloc(memp_t type) {
    Pool& pool = pools[type];
    if (pool.limit != 0 && pool.used >= pool.limit) return nullptr;
    if (pool.size == 0) return nullptr;  // heap buffers go through memp_heap_malloc
    if (pool.free_list == nullptr && !Grow(pool)) return nullptr;
    FreeBlock* b = pool.free_list;
    MEMP_UNPOISON(b, pool.size);
    pool.free_list = b->next;
    ++pool.used;
    return b;
}

void memp_free(memp_t type, void* block) {
    if (block == nullptr) return;
    Pool& pool = pools[type];
    --pool.used;
    if (pool.size == 0) {
        std::free(block);
        return;
    }
    auto* b = static_cast<FreeBlock*>(block);
    b->next = pool.free_list;
    pool.free_list = b;
    MEMP_POISON(b, pool.size);
}

void* memp_heap_malloc(size_t bytes) {
    Pool& pool = pools[MEMP_PBUF_HEAP];
    if (pool.limit != 0 && pool.used >= pool.limit) return nullptr;
    void* p = std::malloc(bytes);
    if (p != nullptr) ++pool.used;
    return p;
}

size_t memp_used(memp_t type) {
    return pools[type].used;
}

void memp_release_unused() {
    for (Pool& pool : pools) {
        if (pool.size == 0 || pool.used != 0) continue;
        while (pool.chunks != nullptr) {
            Chunk* c = pool.chunks;
            pool.chunks = c->next;
            MEMP_UNPOISON(c, offsetof(Chunk, data) + pool.size * c->blocks);
            std::free(c);
        }
        pool.free_list = nullptr;
        pool.held = 0;
    }
}

namespace {

size_t ChunkBytes(const Pool& pool, const Chunk* c) {
    return offsetof(Chunk, data) + pool.size * c->blocks;
}

// Reads a free block's link (free blocks stay poisoned under ASan).
FreeBlock* NextFree(const Pool& pool, FreeBlock* b) {
    MEMP_UNPOISON(b, sizeof(FreeBlock));
    FreeBlock* next = b->next;
    MEMP_POISON(b, pool.size);
    return next;
}

void SetNextFree(const Pool& pool, FreeBlock* b, FreeBlock* next) {
    MEMP_UNPOISON(b, sizeof(FreeBlock));
    b->next = next;
    MEMP_POISON(b, pool.size);
}

struct ChunkCount {
    const unsigned char* begin;
    const unsigned char* end;
    Chunk* chunk;
    size_t free;
};

// The chunk a block lies in (the table is sorted by address).
ChunkCount* FindChunk(std::vector<ChunkCount>& table, const void* block) {
    auto* p = static_cast<const unsigned char*>(block);
    auto it = std::upper_bound(table.begin(), table.end(), p,
                               [](const unsigned char* v, const ChunkCount& c) { return v < c.begin; });
    if (it == table.begin()) return nullptr;
    --it;
    return p < it->end ? &*it : nullptr;
}

size_t TrimPool(Pool& pool) {
    if (pool.size == 0 || pool.chunks == nullptr) return 0;
    std::vector<ChunkCount> table;
    for (Chunk* c = pool.chunks; c != nullptr; c = c->next) {
        table.push_back({c->data, c->data + pool.size * c->blocks, c, 0});
    }
    std::sort(table.begin(), table.end(),
              [](const ChunkCount& a, const ChunkCount& b) { return a.begin < b.begin; });
    for (FreeBlock* b = pool.free_list; b != nullptr; b = NextFree(pool, b)) {
        if (ChunkCount* c = FindChunk(table, b)) ++c->free;
    }
    bool any = false;
    for (const ChunkCount& c : table) any = any || c.free == c.chunk->blocks;
    if (!any) return 0;
    // Unlink the blocks of the chunks that go, then the chunks.
    FreeBlock* kept = nullptr;
    FreeBlock* kept_tail = nullptr;
    for (FreeBlock* b = pool.free_list; b != nullptr;) {
        FreeBlock* next = NextFree(pool, b);
        ChunkCount* c = FindChunk(table, b);
        if (c == nullptr || c->free != c->chunk->blocks) {
            if (kept_tail == nullptr) {
                kept = b;
            } else {
                SetNextFree(pool, kept_tail, b);
            }
            kept_tail = b;
        }
        b = next;
    }
    if (kept_tail != nullptr) SetNextFree(pool, kept_tail, nullptr);
    pool.free_list = kept;
    size_t released = 0;
    for (Chunk** pc = &pool.chunks; *pc != nullptr;) {
        Chunk* c = *pc;
        ChunkCount* entry = FindChunk(table, c->data);
        if (entry != nullptr && entry->free == c->blocks) {
            *pc = c->next;
            released += ChunkBytes(pool, c);
            MEMP_UNPOISON(c, ChunkBytes(pool, c));
            std::free(c);
        } else {
            pc = &c->next;
        }
    }
    pool.held -= released;
    return released;
}

}  // namespace

size_t memp_trim() {
    size_t released = 0;
    for (Pool& pool : pools) released += TrimPool(pool);
    return released;
}

size_t memp_held_bytes() {
    size_t bytes = 0;
    for (const Pool& pool : pools) bytes += pool.held;
    return bytes;
}

size_t memp_used_bytes() {
    size_t bytes = 0;
    for (const Pool& pool : pools) bytes += pool.size * pool.used;
    return bytes;
}

void memp_set_limit(memp_t type, size_t limit) {
    pools[type].limit = limit;
}
