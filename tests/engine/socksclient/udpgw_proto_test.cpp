#include "engine/socksclient/udpgw_proto.h"

#include <gtest/gtest.h>

#include <climits>

TEST(UdpGwProto, PacketMtu) {
    EXPECT_EQ(UdpGw_PacketMtu(1472), 1493);
    EXPECT_EQ(UdpGw_PacketMtu(0), 21);
    EXPECT_EQ(UdpGw_PacketMtu(-1), -1);
    EXPECT_EQ(UdpGw_PacketMtu(INT_MAX - 21), INT_MAX);
    EXPECT_EQ(UdpGw_PacketMtu(INT_MAX - 20), -1);
}
