#include "engine/base/bavl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

namespace {

struct Item {
    int key;
    BAVLNode node;
};

int CompareInts(void*, const void* a, const void* b) {
    int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
    return (x > y) - (x < y);
}

// Checks parent links, order and balance factors; returns the height.
int Verify(const BAVLNode* n, const BAVLNode* parent, int lo, int hi) {
    if (!n) return 0;
    EXPECT_EQ(n->parent, parent);
    int key = BAVL_ENTRY(const_cast<BAVLNode*>(n), Item, node)->key;
    EXPECT_GT(key, lo);
    EXPECT_LT(key, hi);
    int hl = Verify(n->link[0], n, lo, key);
    int hr = Verify(n->link[1], n, key, hi);
    EXPECT_EQ(n->balance, hr - hl);
    EXPECT_LE(std::abs(hr - hl), 1);
    return 1 + std::max(hl, hr);
}

}  // namespace

TEST(BAVL, RandomInsertRemoveKeepsInvariants) {
    std::mt19937 rng(12345);
    std::vector<Item> items(600);
    for (size_t i = 0; i < items.size(); ++i) items[i].key = static_cast<int>(i);
    std::vector<bool> in(items.size(), false);
    std::set<int> model;
    BAVL t;
    BAVL_Init(&t, BAVL_KEY_OFFSET(Item, node, key), CompareInts, nullptr);

    for (int step = 0; step < 20000; ++step) {
        size_t i = rng() % items.size();
        if (!in[i]) {
            ASSERT_EQ(BAVL_Insert(&t, &items[i].node, nullptr), 1);
            in[i] = true;
            model.insert(items[i].key);
        } else {
            BAVL_Remove(&t, &items[i].node);
            in[i] = false;
            model.erase(items[i].key);
        }
        if (step % 97 == 0) {
            Verify(t.root, nullptr, -1, 1 << 30);
            std::vector<int> walk;
            for (BAVLNode* n = BAVL_GetFirst(&t); n; n = BAVL_GetNext(&t, n))
                walk.push_back(BAVL_ENTRY(n, Item, node)->key);
            ASSERT_EQ(walk, std::vector<int>(model.begin(), model.end()));
            std::vector<int> back;
            for (BAVLNode* n = BAVL_GetLast(&t); n; n = BAVL_GetPrev(&t, n))
                back.push_back(BAVL_ENTRY(n, Item, node)->key);
            std::reverse(back.begin(), back.end());
            ASSERT_EQ(back, walk);
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TEST(BAVL, RefusesEqualKeysAndLooksUp) {
    Item a{5, {}}, b{5, {}}, c{7, {}};
    BAVL t;
    BAVL_Init(&t, BAVL_KEY_OFFSET(Item, node, key), CompareInts, nullptr);
    ASSERT_EQ(BAVL_Insert(&t, &a.node, nullptr), 1);
    BAVLNode* existing = nullptr;
    EXPECT_EQ(BAVL_Insert(&t, &b.node, &existing), 0);
    EXPECT_EQ(existing, &a.node);
    ASSERT_EQ(BAVL_Insert(&t, &c.node, nullptr), 1);
    int k = 7;
    EXPECT_EQ(BAVL_Lookup(&t, &k), &c.node);
    k = 6;
    EXPECT_EQ(BAVL_Lookup(&t, &k), nullptr);
    BAVL_Remove(&t, &a.node);
    BAVL_Remove(&t, &c.node);
    EXPECT_TRUE(BAVL_IsEmpty(&t));
}
