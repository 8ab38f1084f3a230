// The pools give back chunks none of whose blocks is in use, and only those.
#include "engine/stack/memp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(MempTrim, ChunksWithNoBlockInUseGoBackOthersStay) {
    memp_trim();
    const size_t held_before = memp_held_bytes();
    const size_t used_before = memp_used(MEMP_TCP_SEG);
    // A burst: enough blocks for several chunks.
    std::vector<void*> blocks;
    for (int i = 0; i < 1000; ++i) {
        void* b = memp_malloc(MEMP_TCP_SEG);
        ASSERT_NE(b, nullptr);
        std::memset(b, 0x5a, 16);
        blocks.push_back(b);
    }
    const size_t held_peak = memp_held_bytes();
    EXPECT_GT(held_peak, held_before);
    EXPECT_EQ(memp_trim(), 0u);  // everything is in use
    // All but every 300th go: the chunks still holding one stay, with it intact.
    std::vector<void*> kept;
    for (size_t i = 0; i < blocks.size(); ++i) {
        if (i % 300 == 0) {
            kept.push_back(blocks[i]);
        } else {
            memp_free(MEMP_TCP_SEG, blocks[i]);
        }
    }
    size_t released = memp_trim();
    EXPECT_GT(released, 0u);
    EXPECT_EQ(memp_held_bytes(), held_peak - released);
    EXPECT_LT(memp_held_bytes(), held_peak / 2);
    EXPECT_EQ(memp_used(MEMP_TCP_SEG), used_before + kept.size());
    for (void* b : kept) EXPECT_EQ(static_cast<unsigned char*>(b)[15], 0x5a);
    // The free blocks left are still good for use.
    std::vector<void*> again;
    for (int i = 0; i < 1000; ++i) {
        void* b = memp_malloc(MEMP_TCP_SEG);
        ASSERT_NE(b, nullptr);
        std::memset(b, 0x33, 16);
        again.push_back(b);
    }
    for (void* b : kept) EXPECT_EQ(static_cast<unsigned char*>(b)[15], 0x5a);
    for (void* b : again) memp_free(MEMP_TCP_SEG, b);
    for (void* b : kept) memp_free(MEMP_TCP_SEG, b);
    memp_trim();
    EXPECT_LE(memp_held_bytes(), held_before);
}

}  // namespace
