#include "engine/base/btime.h"

#include <gtest/gtest.h>

TEST(BTime, StartsNearZeroAndNeverDecreases) {
    BTime_Start();
    btime_t first = BTime_NowMs();
    EXPECT_GE(first, 0);
    BTime_Start();  // later starts keep the origin
    btime_t prev = BTime_NowMs();
    EXPECT_GE(prev, first);
    for (int i = 0; i < 10000; ++i) {
        btime_t now = BTime_NowMs();
        ASSERT_GE(now, prev);
        prev = now;
    }
    EXPECT_EQ(BTime_AddSaturating(BTIME_MAX - 5, 10), BTIME_MAX);
    EXPECT_EQ(BTime_AddSaturating(5, 10), 15);
}
