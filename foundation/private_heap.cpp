#include "foundation/private_heap.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

// The header keeps the block's size so that realloc can zero what it adds;
// 16 bytes keep the payload aligned as malloc's is.
struct alignas(16) BlockHeader {
    size_t size;
};

std::atomic<bool> g_heapCreated{false};

BlockHeader* HeaderOf(const void* block) {
    return reinterpret_cast<BlockHeader*>(const_cast<char*>(static_cast<const char*>(block)) -
                                          sizeof(BlockHeader));
}

}  // namespace

bool CreatePrivateHeap() {
    g_heapCreated.store(true, std::memory_order_release);
    return true;
}

bool PrivateHeapExists() {
    return g_heapCreated.load(std::memory_order_acquire);
}

void* PrivateHeapAlloc(size_t size) {
    if (size > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
    auto* h = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + size));
    if (!h) return nullptr;
    h->size = size;
    return h + 1;
}

void* PrivateHeapRealloc(size_t size, void* block) {
    if (!block) return PrivateHeapAlloc(size);
    if (size > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
    BlockHeader* old = HeaderOf(block);
    size_t oldSize = old->size;
    auto* h = static_cast<BlockHeader*>(std::realloc(old, sizeof(BlockHeader) + size));
    if (!h) return nullptr;
    if (size > oldSize) std::memset(reinterpret_cast<char*>(h + 1) + oldSize, 0, size - oldSize);
    h->size = size;
    return h + 1;
}

bool PrivateHeapReserve(unsigned char** block, size_t size) {
    if (*block != nullptr && HeaderOf(*block)->size >= size) return true;
    void* grown = PrivateHeapRealloc(size, *block);
    if (grown == nullptr) return false;
    *block = static_cast<unsigned char*>(grown);
    return true;
}

void PrivateHeapFree(void* block) {
    if (block) std::free(HeaderOf(block));
}

size_t PrivateHeapSize(const void* block) {
    return block ? HeaderOf(block)->size : 0;
}
