#include "foundation/private_heap.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(PrivateHeap, FreeOfNullDoesNothing) {
    PrivateHeapFree(nullptr);
}

TEST(PrivateHeap, AllocIsZeroFilledAndGrowthZeroesNewBytes) {
    CreatePrivateHeap();
    auto* p = static_cast<unsigned char*>(PrivateHeapAlloc(64));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(p[i], 0);
    std::memset(p, 0xAB, 64);
    p = static_cast<unsigned char*>(PrivateHeapRealloc(4096, p));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(PrivateHeapSize(p), 4096u);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(p[i], 0xAB);
    for (int i = 64; i < 4096; ++i) ASSERT_EQ(p[i], 0) << i;
    p = static_cast<unsigned char*>(PrivateHeapRealloc(16, p));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[15], 0xAB);
    PrivateHeapFree(p);
}

TEST(PrivateHeap, ReallocOfNullAllocates) {
    void* p = PrivateHeapRealloc(10, nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(PrivateHeapSize(p), 10u);
    PrivateHeapFree(p);
}

TEST(PrivateHeap, ImpossibleSizeFailsCleanly) {
    EXPECT_EQ(PrivateHeapAlloc(SIZE_MAX), nullptr);
    void* p = PrivateHeapAlloc(8);
    EXPECT_EQ(PrivateHeapRealloc(SIZE_MAX, p), nullptr);
    PrivateHeapFree(p);
}
