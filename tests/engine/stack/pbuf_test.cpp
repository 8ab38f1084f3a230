// Packet buffers and the checksum over chains.
#include "engine/stack/pbuf.h"

#include <gtest/gtest.h>

#include <random>

#include "engine/stack/inet_chksum.h"
#include "engine/stack/memp.h"
#include "tests/engine/stack/stack_harness.h"

namespace {

uintptr_t Offset(pbuf* p) {
    return static_cast<uint8_t*>(p->payload) - reinterpret_cast<uint8_t*>(p + 1);
}

TEST(Pbuf, PoolChainsSplitIntoFixedBlocksWithHeaderRoom) {
    pbuf* p = pbuf_alloc(PBUF_RAW, 3000, PBUF_POOL);
    ASSERT_NE(p, nullptr);
    ASSERT_NE(p->next, nullptr);
    EXPECT_EQ(p->len, 1516);
    EXPECT_EQ(p->tot_len, 3000);
    EXPECT_EQ(p->next->len, 1484);
    EXPECT_EQ(p->next->tot_len, 1484);
    EXPECT_EQ(p->next->next, nullptr);
    EXPECT_EQ(pbuf_clen(p), 2);
    EXPECT_EQ(pbuf_free(p), 2);

    pbuf* t = pbuf_alloc(PBUF_TRANSPORT, 100, PBUF_POOL);
    EXPECT_EQ(Offset(t), 76u);  // 74 rounded up to 4
    EXPECT_EQ(t->len, 100);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(t->payload) % 4, 0u);
    pbuf_free(t);

    pbuf* z = pbuf_alloc(PBUF_RAW, 0, PBUF_POOL);
    EXPECT_EQ(z->len, 0);
    EXPECT_EQ(z->next, nullptr);
    pbuf_free(z);
    ExpectNothingAllocated();
}

// Heap buffers of every length hold all of their bytes, the largest included
// (rounding 65533 to 65535 up to a multiple of 4 passes 16 bits).
TEST(Pbuf, HeapBuffersHoldTheirWholeLength) {
    for (uint16_t len :
         {uint16_t(1), uint16_t(100), uint16_t(1500), uint16_t(65532), uint16_t(65533), uint16_t(65535)}) {
        std::vector<uint8_t> data(len, uint8_t(len));
        pbuf* p = pbuf_alloc(PBUF_LINK, len, PBUF_RAM);
        ASSERT_NE(p, nullptr) << len;
        EXPECT_EQ(p->next, nullptr);
        EXPECT_EQ(p->tot_len, len);
        EXPECT_EQ(pbuf_take(p, data.data(), len), ERR_OK);
        EXPECT_EQ(static_cast<uint8_t*>(p->payload)[len - 1], uint8_t(len)) << len;
        pbuf_free(p);
    }
    ExpectNothingAllocated();
}

TEST(Pbuf, ReallocShrinksAndReleasesTheTail) {
    pbuf* p = pbuf_alloc(PBUF_RAW, 3000, PBUF_POOL);
    pbuf_realloc(p, 4000);
    EXPECT_EQ(p->tot_len, 3000);
    pbuf_realloc(p, 1000);
    EXPECT_EQ(p->next, nullptr);
    EXPECT_EQ(p->len, 1000);
    EXPECT_EQ(p->tot_len, 1000);
    EXPECT_EQ(memp_used(MEMP_PBUF_BIG), 1u);
    pbuf_free(p);
    ExpectNothingAllocated();
}

TEST(Pbuf, HeaderMovesInsideTheRoomOnly) {
    pbuf* p = pbuf_alloc(PBUF_IP, 20, PBUF_RAM);
    void* payload = p->payload;
    EXPECT_EQ(pbuf_header(p, -30), 1);  // more than len
    EXPECT_EQ(p->payload, payload);
    EXPECT_EQ(p->len, 20);
    EXPECT_EQ(p->tot_len, 20);
    EXPECT_EQ(pbuf_header(p, 56), 0);  // the whole IP room
    EXPECT_EQ(pbuf_header(p, 1), 1);   // nothing in front of the data area
    EXPECT_EQ(p->len, 76);
    EXPECT_EQ(pbuf_header(p, -56), 0);
    EXPECT_EQ(pbuf_header(p, 0), 0);
    pbuf_free(p);

    pbuf* r = pbuf_alloc(PBUF_RAW, 10, PBUF_REF);
    static uint8_t mem[10];
    r->payload = mem;
    EXPECT_EQ(pbuf_header(r, 2), 1);  // references cannot grow
    EXPECT_EQ(pbuf_header(r, -2), 0);
    EXPECT_EQ(r->payload, mem + 2);
    pbuf_free(r);
    ExpectNothingAllocated();
}

TEST(Pbuf, FreeStopsAtASharedBuffer) {
    pbuf* a = pbuf_alloc(PBUF_RAW, 10, PBUF_RAM);
    pbuf* b = pbuf_alloc(PBUF_RAW, 10, PBUF_RAM);
    pbuf_cat(a, b);
    EXPECT_EQ(a->tot_len, 20);
    pbuf_ref(b);
    EXPECT_EQ(pbuf_free(a), 1);
    EXPECT_EQ(b->ref, 1);
    EXPECT_EQ(pbuf_free(b), 1);
    ExpectNothingAllocated();
}

TEST(Pbuf, CopyTakeAndPartialCopyAcrossBuffers) {
    std::vector<uint8_t> data(3000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    pbuf* p = pbuf_alloc(PBUF_RAW, 3000, PBUF_POOL);
    EXPECT_EQ(pbuf_take(p, data.data(), 3000), ERR_OK);
    EXPECT_EQ(pbuf_take(p, data.data(), 0), ERR_OK);
    pbuf* small = pbuf_alloc(PBUF_RAW, 10, PBUF_RAM);
    EXPECT_EQ(pbuf_take(small, data.data(), 11), ERR_ARG);

    std::vector<uint8_t> back(100);
    EXPECT_EQ(pbuf_copy_partial(p, back.data(), 100, 1480), 100);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin() + 1480));
    EXPECT_EQ(pbuf_copy_partial(p, back.data(), 100, 2950), 50);
    EXPECT_EQ(pbuf_copy_partial(p, back.data(), 100, 3000), 0);

    pbuf* q = pbuf_alloc(PBUF_RAW, 3000, PBUF_RAM);
    EXPECT_EQ(pbuf_copy(q, p), ERR_OK);
    EXPECT_EQ(std::memcmp(q->payload, data.data(), 3000), 0);
    pbuf_free(q);
    pbuf_free(p);
    pbuf_free(small);
    ExpectNothingAllocated();
}

TEST(Pbuf, AllocationFailureReleasesWhatWasTaken) {
    memp_set_limit(MEMP_PBUF_BIG, 2);
    EXPECT_EQ(pbuf_alloc(PBUF_RAW, 5000, PBUF_POOL), nullptr);
    EXPECT_EQ(memp_used(MEMP_PBUF_BIG), 0u);
    memp_set_limit(MEMP_PBUF_BIG, 0);
}

// The checksum of a chain must not depend on how the bytes are split into
// buffers or on the alignment of each buffer.
TEST(Checksum, ChainSplitAndAlignmentDoNotChangeTheSum) {
    std::mt19937 rng(5);
    for (int round = 0; round < 200; ++round) {
        size_t n = 1 + rng() % 600;
        std::vector<uint8_t> data(n);
        for (auto& b : data) b = uint8_t(rng());
        uint16_t expect = craft::Finish(craft::SumBytes(data.data(), n));
        std::vector<std::vector<uint8_t>> storage;
        pbuf* head = nullptr;
        size_t pos = 0;
        while (pos < n) {
            size_t len = 1 + rng() % (n - pos);
            size_t misalign = rng() % 4;
            storage.emplace_back(len + misalign);
            std::memcpy(storage.back().data() + misalign, data.data() + pos, len);
            pbuf* r = pbuf_alloc(PBUF_RAW, uint16_t(len), PBUF_REF);
            r->payload = storage.back().data() + misalign;
            if (head == nullptr) {
                head = r;
            } else {
                pbuf_cat(head, r);
            }
            pos += len;
        }
        uint16_t got = inet_chksum_pbuf(head);
        EXPECT_EQ(ntohs(got), expect) << "round " << round;
        pbuf_free(head);
    }
    ExpectNothingAllocated();
}

}  // namespace
