// UDP between the TUN device and udpgw: which packets read from the device
// are taken as datagrams, and the packets built for datagrams coming back.
#include "engine/tun2socks/udp_packet.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/packet_craft.h"

namespace {

using craft::Bytes;

const uint32_t kApp = craft::Ip4(10, 198, 75, 60);
const uint32_t kRemote = craft::Ip4(10, 198, 77, 2);
const craft::Ip6 kApp6 = craft::Ip6::Parse("fd00:0:0:0:0:0:0:60");
const craft::Ip6 kRemote6 = craft::Ip6::Parse("fd00:0:0:0:0:0:0:2");

Bytes UdpSegment(uint16_t sport, uint16_t dport, const Bytes& payload) {
    Bytes u(8 + payload.size());
    craft::Put16(u, 0, sport);
    craft::Put16(u, 2, dport);
    craft::Put16(u, 4, uint16_t(u.size()));
    std::copy(payload.begin(), payload.end(), u.begin() + 8);
    return u;
}

Bytes Udp4(const Bytes& payload, uint16_t frag = 0, bool checksum = true, int checksum_delta = 0) {
    Bytes u = UdpSegment(40000, 7, payload);
    if (checksum) {
        uint16_t sum =
            craft::Finish(craft::SumBytes(u.data(), u.size(), craft::Pseudo4(kApp, kRemote, 17, u.size())));
        craft::Put16(u, 6, uint16_t((sum == 0 ? 0xffff : sum) + checksum_delta));
    }
    return craft::Ipv4(kApp, kRemote, 17, u, 1, frag);
}

Bytes Udp6(const Bytes& payload, bool checksum = true) {
    Bytes u = UdpSegment(40000, 7, payload);
    if (checksum) {
        uint16_t sum =
            craft::Finish(craft::SumBytes(u.data(), u.size(), craft::Pseudo6(kApp6, kRemote6, 17, u.size())));
        craft::Put16(u, 6, sum == 0 ? 0xffff : sum);
    }
    return craft::Ipv6(kApp6, kRemote6, 17, u);
}

Bytes Payload(size_t n) {
    Bytes p(n);
    for (size_t i = 0; i < n; ++i) p[i] = uint8_t(i * 7 + 1);
    return p;
}

// A fragment that starts further into a datagram, whose bytes happen to
// look like a whole UDP datagram with a sound checksum.
Bytes LookalikeFragment(uint16_t frag) {
    Bytes inner = Udp4(Payload(32));
    Bytes udp(inner.begin() + 20, inner.end());
    return craft::Ipv4(kApp, kRemote, 17, udp, 1, frag);
}

Bytes Truncated(Bytes packet, size_t n) {
    packet.resize(n);
    return packet;
}

Bytes TcpSyn() {
    craft::TcpFields f;
    f.sport = 40000;
    f.dport = 80;
    f.flags = craft::kSyn;
    return craft::Tcp4(kApp, kRemote, f);
}

}  // namespace

TEST(UdpPacket, ParsesOnlyWholeDatagramsWithASoundChecksum) {
    struct Case {
        const char* name;
        Bytes packet;
        int ipv6_enabled;
        bool taken;
    } cases[] = {
        {"IPv4", Udp4(Payload(100)), 0, true},
        {"IPv4 empty datagram", Udp4({}), 0, true},
        {"IPv4 without checksum", Udp4(Payload(100), 0, false), 0, true},
        {"IPv4 wrong checksum", Udp4(Payload(100), 0, true, 1), 0, false},
        {"non-first fragment", LookalikeFragment(100), 0, false},
        {"first fragment", LookalikeFragment(0x2000), 0, false},
        {"don't-fragment flag", Udp4(Payload(10), 0x4000), 0, true},
        {"TCP", TcpSyn(), 0, false},
        {"cut short", Truncated(Udp4(Payload(100)), 60), 0, false},
        {"empty", {}, 0, false},
        {"IPv6 while disabled", Udp6(Payload(100)), 0, false},
        {"IPv6", Udp6(Payload(100)), 1, true},
        {"IPv6 without checksum", Udp6(Payload(100), false), 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceUdpDatagram d{};
        int taken = UdpPacket_ParseDevice(c.packet.data(), int(c.packet.size()), c.ipv6_enabled, &d);
        EXPECT_EQ(taken, c.taken ? 1 : 0);
        if (!taken) continue;
        size_t header = c.packet[0] >> 4 == 4 ? 28 : 48;
        EXPECT_EQ(d.data_len, int(c.packet.size() - header));
        EXPECT_EQ(d.data, c.packet.data() + header);
        EXPECT_EQ(BAddr_GetPort(&d.local_addr), htons(40000));
        EXPECT_EQ(BAddr_GetPort(&d.remote_addr), htons(7));
        if (d.local_addr.type == BADDR_TYPE_IPV4) {
            EXPECT_EQ(d.local_addr.ipv4.ip, htonl(kApp));
            EXPECT_EQ(d.remote_addr.ipv4.ip, htonl(kRemote));
        } else {
            ASSERT_EQ(d.local_addr.type, BADDR_TYPE_IPV6);
            EXPECT_EQ(0, std::memcmp(d.local_addr.ipv6.ip, kApp6.b, 16));
            EXPECT_EQ(0, std::memcmp(d.remote_addr.ipv6.ip, kRemote6.b, 16));
        }
    }
}

// What udpgw returns goes to the application as from the remote end, and a
// peer checking every field accepts it.
TEST(UdpPacket, BuildsPacketsTheApplicationAccepts) {
    for (size_t n : {size_t(0), size_t(1), size_t(1472)}) {
        SCOPED_TRACE(n);
        Bytes payload = Payload(n);
        BAddr local, remote;
        BAddr_InitIPv4(&local, htonl(kApp), htons(40000));
        BAddr_InitIPv4(&remote, htonl(kRemote), htons(7));
        Bytes out(UDP_PACKET_IPV4_OVERHEAD + n);
        ASSERT_EQ(UdpPacket_BuildIPv4(out.data(), &local, &remote, payload.data(), int(n)), int(out.size()));
        craft::Packet p = craft::Parse(out);
        EXPECT_EQ(p.version, 4);
        EXPECT_TRUE(p.ip_checksum_ok);
        EXPECT_TRUE(p.l4_checksum_ok);
        EXPECT_EQ(p.src4, kRemote);
        EXPECT_EQ(p.dst4, kApp);
        EXPECT_EQ(p.proto, 17);
        EXPECT_EQ(p.ttl, 64);
        EXPECT_EQ(p.frag, 0);
        EXPECT_EQ(craft::Get16(out, 20), 7);
        EXPECT_EQ(craft::Get16(out, 22), 40000);
        EXPECT_EQ(craft::Get16(out, 24), 8 + n);
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), out.begin() + 28));

        BAddr_InitIPv6(&local, kApp6.b, htons(40000));
        BAddr_InitIPv6(&remote, kRemote6.b, htons(7));
        Bytes out6(UDP_PACKET_IPV6_OVERHEAD + n);
        ASSERT_EQ(UdpPacket_BuildIPv6(out6.data(), &local, &remote, payload.data(), int(n)),
                  int(out6.size()));
        craft::Packet p6 = craft::Parse(out6);
        EXPECT_EQ(p6.version, 6);
        EXPECT_TRUE(p6.l4_checksum_ok);
        EXPECT_TRUE(p6.src6 == kRemote6);
        EXPECT_TRUE(p6.dst6 == kApp6);
        EXPECT_EQ(p6.ttl, 64);
        // And what was built reads back as the same datagram, the ends swapped.
        DeviceUdpDatagram d{};
        ASSERT_EQ(UdpPacket_ParseDevice(out6.data(), int(out6.size()), 1, &d), 1);
        EXPECT_EQ(BAddr_Compare(&d.local_addr, &remote), 0);
        EXPECT_EQ(BAddr_Compare(&d.remote_addr, &local), 0);
        EXPECT_EQ(d.data_len, int(n));
    }
}
