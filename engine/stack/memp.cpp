#include "engine/stack/memp.h"

#include <cstdlib>
#include <new>

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
    }
}

void memp_set_limit(memp_t type, size_t limit) {
    pools[type].limit = limit;
}
