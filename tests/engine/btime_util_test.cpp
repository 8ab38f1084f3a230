#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "engine/base/btime.h"
#include "engine/base/engine_util.h"
#include "tests/support/temp_dir.h"

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

TEST(EngineUtil, StrDupAndJoin) {
    EXPECT_EQ(Engine_StrDup(nullptr), nullptr);
    char* d = Engine_StrDup("abc");
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d, "abc");
    std::free(d);
    const char* parts[] = {"user", "@", "10.0.0.1:80"};
    char* j = Engine_JoinStrings(3, parts);
    ASSERT_NE(j, nullptr);
    EXPECT_STREQ(j, "user@10.0.0.1:80");
    std::free(j);
    char* empty = Engine_JoinStrings(0, parts);
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    std::free(empty);
}

TEST(EngineUtil, ReadPasswordFileGrowsBuffer) {
    testsupport::TempDir dir;
    for (size_t size : {size_t{0}, size_t{127}, size_t{128}, size_t{129}, size_t{1000}}) {
        std::string content(size, 'k');
        if (size) content[size - 1] = '\0';  // binary content is kept as is
        testsupport::WriteFile(dir / "pw", content);
        size_t len = 99;
        uint8_t* buf = Engine_ReadPasswordFile((dir / "pw").c_str(), &len);
        ASSERT_NE(buf, nullptr) << size;
        EXPECT_EQ(len, size);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), content);
        std::free(buf);
    }
    size_t len;
    EXPECT_EQ(Engine_ReadPasswordFile((dir / "missing").c_str(), &len), nullptr);
}

TEST(EngineUtil, UdpGwPacketMtu) {
    EXPECT_EQ(UdpGw_PacketMtu(1472), 1493);
    EXPECT_EQ(UdpGw_PacketMtu(0), 21);
    EXPECT_EQ(UdpGw_PacketMtu(-1), -1);
    EXPECT_EQ(UdpGw_PacketMtu(INT_MAX - 21), INT_MAX);
    EXPECT_EQ(UdpGw_PacketMtu(INT_MAX - 20), -1);
}
