// IPv4 input checks, ICMP, fragment reassembly and fragmentation.
#include "engine/stack/ip4.h"

#include <gtest/gtest.h>

#include "engine/stack/icmp.h"
#include "engine/stack/ip4_frag.h"
#include "tests/engine/stack/stack_harness.h"

namespace {

using craft::Bytes;
using craft::Ip4;

const uint32_t kApp = Ip4(10, 198, 75, 60);
const uint32_t kStack = Ip4(10, 198, 75, 61);

using Ip4Test = StackTest;

TEST_F(Ip4Test, EchoRequestToOwnAddressIsAnsweredOthersAreNot) {
    Bytes data = {'p', 'i', 'n', 'g', 1, 2, 3};
    h->Input(craft::Icmp4Echo(kApp, Ip4(192, 0, 2, 8), 0x1234, 9, data));
    EXPECT_TRUE(h->Take().empty());

    h->Input(craft::Icmp4Echo(kApp, kStack, 0x1234, 9, data));
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    const craft::Packet& r = out[0];
    EXPECT_EQ(r.src4, kStack);
    EXPECT_EQ(r.dst4, kApp);
    EXPECT_EQ(r.ttl, 255);
    EXPECT_TRUE(r.ip_checksum_ok);
    EXPECT_TRUE(r.l4_checksum_ok);
    EXPECT_EQ(r.icmp_type, 0);
    Bytes body = {0x12, 0x34, 0, 9};
    body.insert(body.end(), data.begin(), data.end());
    EXPECT_EQ(r.payload, body);
}

TEST_F(Ip4Test, EchoReplyKeepsOptionsAndALargeRequestSpanningBuffers) {
    Bytes opts = {1, 1, 1, 0};  // NOPs and end of options
    h->Input(craft::Icmp4Echo(kApp, kStack, 1, 2, Bytes(8), opts));
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].ip_hlen, 24u);
    EXPECT_TRUE(out[0].ip_checksum_ok);
    EXPECT_TRUE(out[0].l4_checksum_ok);

    Bytes big(4000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i);
    h->Input(craft::Icmp4Echo(kApp, kStack, 3, 4, big));
    out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].l4_checksum_ok);
    EXPECT_EQ(Bytes(out[0].payload.begin() + 4, out[0].payload.end()), big);
}

// The largest packet a device can deliver has no header room in front of its
// ICMP header, so the reply is built in a copy of all 65535 bytes.
TEST_F(Ip4Test, EchoRequestOfTheLargestSizeIsAnsweredWhole) {
    Bytes big(65535 - 28);
    for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 13);
    h->Input(craft::Icmp4Echo(kApp, kStack, 5, 6, big));
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].ip_len, 65535);
    EXPECT_TRUE(out[0].l4_checksum_ok);
    EXPECT_EQ(Bytes(out[0].payload.begin() + 4, out[0].payload.end()), big);
}

TEST_F(Ip4Test, UnknownProtocolToOwnAddressGetsProtocolUnreachable) {
    Bytes udp = {0x30, 0x39, 0x00, 0x35, 0x00, 0x0c, 0x00, 0x00, 'a', 'b', 'c', 'd'};
    Bytes pkt = craft::Ipv4(kApp, kStack, 17, udp);
    h->Input(pkt);
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].icmp_type, 3);
    EXPECT_EQ(out[0].icmp_code, 2);
    EXPECT_EQ(out[0].dst4, kApp);
    EXPECT_EQ(out[0].src4, kStack);
    EXPECT_TRUE(out[0].l4_checksum_ok);
    // Four unused bytes, then the offending header and its first 8 data bytes.
    ASSERT_EQ(out[0].payload.size(), 4u + 28u);
    EXPECT_EQ(Bytes(out[0].payload.begin() + 4, out[0].payload.end()), Bytes(pkt.begin(), pkt.begin() + 28));

    h->Input(craft::Ipv4(kApp, Ip4(192, 0, 2, 1), 17, udp));
    EXPECT_TRUE(h->Take().empty());
}

TEST_F(Ip4Test, UnreachableQuotesNoMoreThanTheOffendingPacketHolds) {
    Bytes pkt = craft::Ipv4(kApp, kStack, 17, {0xaa, 0xbb});
    h->Input(pkt);
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(Bytes(out[0].payload.begin() + 4, out[0].payload.end()), pkt);
}

TEST_F(Ip4Test, MalformedHeadersAreDropped) {
    Bytes good = craft::Icmp4Echo(kApp, kStack, 1, 1, Bytes(8));
    struct Case {
        const char* what;
        Bytes packet;
    };
    std::vector<Case> cases;
    auto with = [&](const char* what, auto edit) {
        Bytes b = good;
        edit(b);
        cases.push_back({what, b});
    };
    auto refix = [](Bytes& b) {
        craft::Put16(b, 10, 0);
        size_t hl = size_t(b[0] & 15) * 4;
        if (hl > b.size()) hl = b.size();
        craft::Put16(b, 10, craft::Finish(craft::SumBytes(b.data(), hl)));
    };
    with("version 5", [&](Bytes& b) {
        b[0] = 0x55;
        refix(b);
    });
    with("header length 4 words", [&](Bytes& b) {
        b[0] = 0x44;
        refix(b);
    });
    with("header length 0", [&](Bytes& b) {
        b[0] = 0x40;
        refix(b);
    });
    with("header longer than the packet", [&](Bytes& b) {
        b.resize(24);
        b[0] = 0x47;
        refix(b);
    });
    with("total length above the buffer", [&](Bytes& b) {
        craft::Put16(b, 2, uint16_t(b.size() + 1));
        refix(b);
    });
    with("total length below the header", [&](Bytes& b) {
        craft::Put16(b, 2, 19);
        refix(b);
    });
    with("bad header checksum", [&](Bytes& b) { b[10] ^= 1; });
    with("broadcast source", [&](Bytes& b) {
        craft::Put32(b, 12, 0xffffffff);
        refix(b);
    });
    with("multicast source", [&](Bytes& b) {
        craft::Put32(b, 12, Ip4(224, 0, 0, 1));
        refix(b);
    });
    with("bad ICMP checksum", [&](Bytes& b) { b[22] ^= 1; });
    with("short packet", [&](Bytes& b) { b.resize(12); });
    for (const auto& c : cases) {
        h->Input(c.packet);
        EXPECT_TRUE(h->Take().empty()) << c.what;
    }
}

TEST_F(Ip4Test, PacketIsTrimmedToItsTotalLength) {
    Bytes pkt = craft::Icmp4Echo(kApp, kStack, 1, 1, Bytes(32));  // 60 bytes
    ASSERT_EQ(pkt.size(), 60u);
    pkt.resize(64, 0xee);
    h->Input(pkt);
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].raw.size(), 60u);
}

// Fragments of an echo request of 3000 data bytes, each carrying `chunk` bytes.
std::vector<Bytes> Fragments(uint16_t id, size_t total, size_t chunk, uint32_t src = kApp) {
    Bytes msg(total);
    msg[0] = 8;
    for (size_t i = 8; i < total; ++i) msg[i] = uint8_t(i);
    craft::Put16(msg, 2, craft::Finish(craft::SumBytes(msg.data(), msg.size())));
    std::vector<Bytes> v;
    for (size_t off = 0; off < total; off += chunk) {
        size_t n = std::min(chunk, total - off);
        bool more = off + n < total;
        v.push_back(craft::Ipv4(src, kStack, 1, Bytes(msg.begin() + off, msg.begin() + off + n), id,
                                uint16_t((more ? 0x2000 : 0) | (off / 8))));
    }
    return v;
}

TEST_F(Ip4Test, FragmentsAreReassembledInAnyOrder) {
    for (bool reverse : {false, true}) {
        auto frags = Fragments(reverse ? 77 : 76, 3000, 1480);
        if (reverse) std::reverse(frags.begin(), frags.end());
        for (auto& f : frags) h->Input(f);
        auto out = h->Take();
        ASSERT_EQ(out.size(), 1u) << reverse;
        EXPECT_EQ(out[0].ip_len, 3020);
        EXPECT_TRUE(out[0].l4_checksum_ok);
    }
    EXPECT_EQ(ip_reass_pbufcount, 0);
}

TEST_F(Ip4Test, RepeatedFragmentIsDropped) {
    auto frags = Fragments(80, 2000, 1000);
    h->Input(frags[0]);
    h->Input(frags[0]);
    EXPECT_EQ(ip_reass_pbufcount, 1);
    h->Input(frags[1]);
    EXPECT_EQ(h->Take().size(), 1u);
    EXPECT_EQ(ip_reass_pbufcount, 0);
}

TEST_F(Ip4Test, HeldBufferLimitEvictsTheEarliestDatagramWithTimeExceeded) {
    // Ten datagrams hold one first fragment each: the limit.
    for (uint16_t id = 1; id <= 10; ++id)
        h->Input(Fragments(id, 3000, 1480, Ip4(10, 198, 75, uint8_t(id)))[0]);
    EXPECT_EQ(ip_reass_pbufcount, 10);
    EXPECT_TRUE(h->Take().empty());
    h->Input(Fragments(11, 3000, 1480)[0]);
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].icmp_type, 11);
    EXPECT_EQ(out[0].icmp_code, 1);
    EXPECT_EQ(out[0].dst4, Ip4(10, 198, 75, 1));  // datagram 1 was created first
    EXPECT_EQ(ip_reass_pbufcount, 10);
}

TEST_F(Ip4Test, ContradictoryFragmentsNeverCompleteAndStayBounded) {
    Bytes data(112, 0x5a);
    auto frag = [&](size_t from, size_t to, bool more) {
        return craft::Ipv4(kApp, kStack, 1, Bytes(data.begin() + from, data.begin() + to), 90,
                           uint16_t((more ? 0x2000 : 0) | (from / 8)));
    };
    h->Input(frag(0, 104, true));
    h->Input(frag(64, 104, false));  // overlaps: dropped, yet fixes the length at 104
    h->Input(frag(104, 112, true));
    EXPECT_TRUE(h->Take().empty());
    EXPECT_EQ(ip_reass_pbufcount, 2);
}

TEST_F(Ip4Test, FragmentReachingBeyondTheLargestDatagramIsDropped) {
    // Offset 8189 * 8 + 100 bytes would make a datagram longer than 65535.
    h->Input(craft::Ipv4(kApp, kStack, 1, Bytes(100), 91, 8189));
    EXPECT_EQ(ip_reass_pbufcount, 0);
}

TEST_F(Ip4Test, TcpForAnyAddressReachesTcpOtherProtocolsOnlyForOwnAddress) {
    Peer peer;
    peer.dst = Ip4(198, 51, 100, 7);
    peer.dport = 443;
    h->Input(peer.Seg(craft::kSyn));
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].src4, Ip4(198, 51, 100, 7));
    EXPECT_EQ(out[0].sport, 443);
}

err_t CaptureFrags(netif*, pbuf* p, const ip4_addr_t*);
std::vector<Bytes>* frag_out = nullptr;
err_t CaptureFrags(netif*, pbuf* p, const ip4_addr_t*) {
    Bytes b(p->tot_len);
    pbuf_copy_partial(p, b.data(), p->tot_len, 0);
    frag_out->push_back(b);
    return ERR_OK;
}

TEST_F(Ip4Test, OutputLargerThanTheMtuIsFragmented) {
    std::vector<Bytes> captured;
    frag_out = &captured;
    h->nif.output = CaptureFrags;
    h->nif.mtu = 576;
    Bytes data(1400);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 3);
    pbuf* p = pbuf_alloc(PBUF_IP, uint16_t(data.size()), PBUF_RAM);
    pbuf_take(p, data.data(), uint16_t(data.size()));
    ip4_addr_t dst = ip4_addr_make(10, 198, 75, 60);
    EXPECT_EQ(ip_output(p, nullptr, &dst, 64, 0, 17), ERR_OK);
    pbuf_free(p);
    ASSERT_EQ(captured.size(), 3u);
    Bytes joined;
    for (size_t i = 0; i < captured.size(); ++i) {
        craft::Packet f = craft::Parse(captured[i]);
        EXPECT_TRUE(f.ip_checksum_ok);
        EXPECT_LE(captured[i].size(), 576u);
        EXPECT_EQ((f.frag & 0x2000) != 0, i + 1 < captured.size());
        EXPECT_EQ(size_t(f.frag & 0x1fff) * 8, joined.size());
        joined.insert(joined.end(), captured[i].begin() + 20, captured[i].end());
    }
    EXPECT_EQ(joined, data);
}

}  // namespace
