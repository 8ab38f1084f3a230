// The engine's stack interface: what reaches the stack through it, with and
// without an IPv6 address.
#include "engine/tun2socks/stack_netif.h"

#include <gtest/gtest.h>

#include "tests/engine/stack/stack_harness.h"

namespace {

using craft::Bytes;
using craft::Ip4;
using craft::Ip6;

Bytes Echo4() {
    return craft::Icmp4Echo(Ip4(10, 198, 75, 60), Ip4(10, 198, 75, 61), 1, 1, {'v', '4'});
}

Bytes Echo6() {
    return craft::Icmp6(Ip6::Parse("fd00:0:0:0:0:0:0:60"), Ip6::Parse("fd00:0:0:0:0:0:0:61"), 128, 0,
                        {0, 1, 0, 1, 'v', '6'});
}

}  // namespace

TEST(StackNetif, DispatchesByVersionAndIPv6OnlyWithAnAddress) {
    Bytes version5 = Echo4();
    version5[0] = 0x55;
    struct Case {
        const char* name;
        bool ipv6;
        Bytes packet;
        int answer_version;  // 0: nothing comes back
    } cases[] = {
        {"IPv4", false, Echo4(), 4},
        {"IPv4 beside IPv6", true, Echo4(), 4},
        {"IPv6 with an address", true, Echo6(), 6},
        {"IPv6 without an address", false, Echo6(), 0},
        {"version 5", true, version5, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            StackHarness h(true, c.ipv6);
            EXPECT_EQ(h.nif.name[0], 'h');
            EXPECT_EQ(h.nif.name[1], 'o');
            EXPECT_EQ(netif_default, &h.nif);
            h.Input(c.packet);
            auto out = h.Take();
            if (c.answer_version == 0) {
                EXPECT_TRUE(out.empty());
            } else {
                ASSERT_EQ(out.size(), 1u);
                EXPECT_EQ(out[0].version, c.answer_version);
            }
        }
        ExpectNothingAllocated();
    }
}
