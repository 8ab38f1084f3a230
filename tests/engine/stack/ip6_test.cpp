// IPv6, ICMPv6, neighbour discovery and TCP over IPv6.
#include "engine/stack/ip6.h"

#include <gtest/gtest.h>

#include "engine/stack/ip6_frag.h"
#include "engine/stack/nd6.h"
#include "engine/stack/tcp_priv.h"
#include "tests/engine/stack/stack_harness.h"

namespace {

using craft::Bytes;
using craft::Ip6;

const Ip6 kStack = Ip6::Parse("fd00:0:0:0:0:0:0:61");
const Ip6 kApp = Ip6::Parse("fd00:0:0:0:0:0:0:60");

class Ip6Test : public ::testing::Test {
protected:
    void SetUp() override { h = std::make_unique<StackHarness>(true, true); }
    void TearDown() override {
        h.reset();
        ExpectNothingAllocated();
    }
    std::unique_ptr<StackHarness> h;
};

Bytes EchoBody(uint16_t id, uint16_t seq, const Bytes& data) {
    Bytes b = {uint8_t(id >> 8), uint8_t(id), uint8_t(seq >> 8), uint8_t(seq)};
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

TEST_F(Ip6Test, EchoRequestIsAnsweredFromTheRequestedAddress) {
    Bytes body = EchoBody(7, 1, {'v', '6'});
    h->Input(craft::Icmp6(kApp, kStack, 128, 0, body));
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].version, 6);
    EXPECT_EQ(out[0].icmp_type, 129);
    EXPECT_TRUE(out[0].l4_checksum_ok);
    EXPECT_TRUE(out[0].src6 == kStack);
    EXPECT_TRUE(out[0].dst6 == kApp);
    EXPECT_EQ(out[0].ttl, 255);
    EXPECT_EQ(out[0].payload, body);

    h->Input(craft::Icmp6(kApp, Ip6::Parse("ff02:0:0:0:0:0:0:1"), 128, 0, body));
    h->Input(craft::Icmp6(kApp, Ip6::Parse("fd00:0:0:0:0:0:0:99"), 128, 0, body));  // not ours
    Bytes bad = craft::Icmp6(kApp, kStack, 128, 0, body);
    bad.back() ^= 1;
    h->Input(bad);
    h->Input(craft::Icmp6(Ip6{}, kStack, 128, 0, body));  // from ::
    EXPECT_TRUE(h->Take().empty());
}

TEST_F(Ip6Test, NeighbourSolicitationIsAnsweredAndTheSenderRemembered) {
    Bytes ns(20 + 8);
    std::memcpy(ns.data() + 4, kStack.b, 16);
    ns[20] = 1;  // source link-layer address option
    ns[21] = 1;
    for (int i = 0; i < 6; ++i) ns[22 + i] = uint8_t(0xa0 + i);
    Ip6 solicited = Ip6::Parse("ff02:0:0:0:0:1:ff00:61");
    h->Input(craft::Icmp6(kApp, solicited, 135, 0, ns));
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].icmp_type, 136);
    EXPECT_TRUE(out[0].l4_checksum_ok);
    EXPECT_TRUE(out[0].dst6 == kApp);
    EXPECT_TRUE(out[0].src6 == kStack);
    EXPECT_EQ(out[0].payload[0], 0x60);  // solicited and override
    EXPECT_EQ(0, std::memcmp(out[0].payload.data() + 4, kStack.b, 16));

    bool found = false;
    for (const auto& e : neighbor_cache) {
        if (e.state == ND6_DELAY && std::memcmp(&e.next_hop_address, kApp.b, 16) == 0) {
            found = true;
            EXPECT_EQ(e.lladdr[0], 0xa0);
        }
    }
    EXPECT_TRUE(found);
    // The entry then goes through probe and is dropped when nobody answers.
    for (int i = 0; i < 12; ++i) nd6_tmr();
    for (const auto& e : neighbor_cache) EXPECT_EQ(e.state, ND6_NO_ENTRY);
}

TEST_F(Ip6Test, TentativeAddressIsProbedThenPreferredOrGivenUpWhenTaken) {
    h->nif.ip6_addr[1] = ip6_addr_make(0xfe800000U, 0, 0, 0x61);
    h->nif.ip6_addr_state[1] = IP6_ADDR_TENTATIVE;
    h->nif.rs_count = 0;
    nd6_tmr();
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].icmp_type, 135);
    EXPECT_TRUE(out[0].src6 == Ip6{});
    EXPECT_TRUE(out[0].dst6 == Ip6::Parse("ff02:0:0:0:0:1:ff00:61"));
    EXPECT_TRUE(out[0].l4_checksum_ok);
    nd6_tmr();
    EXPECT_EQ(h->nif.ip6_addr_state[1], IP6_ADDR_PREFERRED);

    // Another node already uses the next one.
    h->nif.ip6_addr[2] = ip6_addr_make(0xfe800000U, 0, 0, 0x62);
    h->nif.ip6_addr_state[2] = IP6_ADDR_TENTATIVE;
    Bytes na(20);
    na[0] = 0x20;
    std::memcpy(na.data() + 4, &h->nif.ip6_addr[2], 16);
    h->Input(craft::Icmp6(Ip6::Parse("fe80:0:0:0:0:0:0:99"), Ip6::Parse("ff02:0:0:0:0:0:0:1"), 136, 0, na));
    EXPECT_EQ(h->nif.ip6_addr_state[2], IP6_ADDR_INVALID);
}

TEST_F(Ip6Test, RouterAdvertisementFillsRouterPrefixAndMtu) {
    Ip6 router = Ip6::Parse("fe80:0:0:0:0:0:0:1");
    Bytes ra(12);
    ra[0] = 64;
    ra[2] = 0x07;  // lifetime 1800 s
    ra[3] = 0x08;
    craft::Put32(ra, 4, 20000);  // reachable time
    Bytes slla = {1, 1, 2, 0, 0, 0, 0, 1};
    Bytes prefix(32);
    prefix[0] = 3;
    prefix[1] = 4;
    prefix[2] = 64;
    prefix[3] = 0xc0;  // on-link, autonomous
    craft::Put32(prefix, 4, 3600);
    Ip6 pfx = Ip6::Parse("2001:db8:1:0:0:0:0:0");
    std::memcpy(prefix.data() + 16, pfx.b, 16);
    Bytes mtu = {5, 1, 0, 0, 0, 0, 0x05, 0x78};  // 1400
    ra.insert(ra.end(), slla.begin(), slla.end());
    ra.insert(ra.end(), prefix.begin(), prefix.end());
    ra.insert(ra.end(), mtu.begin(), mtu.end());
    h->Input(craft::Icmp6(router, Ip6::Parse("ff02:0:0:0:0:0:0:1"), 134, 0, ra));
    EXPECT_TRUE(h->Take().empty());
    ASSERT_NE(default_router_list[0].neighbor_entry, nullptr);
    EXPECT_EQ(default_router_list[0].invalidation_timer, 1800u);
    EXPECT_EQ(default_router_list[0].neighbor_entry->state, ND6_REACHABLE);
    EXPECT_EQ(default_router_list[0].neighbor_entry->lladdr[0], 2);
    EXPECT_EQ(reachable_time, 20000u);
    EXPECT_EQ(prefix_list[0].invalidation_timer, 3600u);
    EXPECT_EQ(0, std::memcmp(&prefix_list[0].prefix, pfx.b, 8));
    EXPECT_EQ(h->nif.mtu, 1400);
}

TEST_F(Ip6Test, PacketTooBigLowersThePathMtuButNeverBelowTheMinimum) {
    ip6_addr_t far = ip6_addr_make(0x20010db8U, 2, 0, 5);
    ASSERT_GE(nd6_get_next_hop_entry(&far, &h->nif), 0);
    h->Take();  // the solicitation for the new neighbour
    auto ptb = [&](uint32_t mtu) {
        Bytes body(4 + 48);
        craft::Put32(body, 0, mtu);
        Bytes inner = craft::Ipv6(kStack, Ip6{}, 6, Bytes(8));
        std::memcpy(inner.data() + 24, &far, 16);
        std::memcpy(body.data() + 4, inner.data(), 48);
        h->Input(craft::Icmp6(Ip6::Parse("fd00:0:0:0:0:0:0:1"), kStack, 2, 0, body));
    };
    ptb(1300);
    EXPECT_EQ(nd6_get_destination_mtu(&far, &h->nif), 1300);
    ptb(600);
    EXPECT_EQ(nd6_get_destination_mtu(&far, &h->nif), 1280);
    ipX_addr_t local{}, remote{};
    local.ip6 = h->nif.ip6_addr[0];
    remote.ip6 = far;
    EXPECT_EQ(tcp_eff_send_mss(1460, true, &local, &remote), 1220);
}

TEST_F(Ip6Test, UnknownNextHeaderGetsParameterProblem) {
    Bytes udp(12);
    Bytes pkt = craft::Ipv6(kApp, kStack, 17, udp);
    h->Input(pkt);
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].icmp_type, 4);
    EXPECT_EQ(out[0].icmp_code, 1);
    EXPECT_TRUE(out[0].l4_checksum_ok);
    EXPECT_EQ(craft::Get32(out[0].payload, 0), 6u);  // points at the next-header field
    EXPECT_EQ(Bytes(out[0].payload.begin() + 4, out[0].payload.end()), Bytes(pkt.begin(), pkt.begin() + 48));
}

TEST_F(Ip6Test, FragmentedEchoRequestIsReassembled) {
    Bytes msg(8 + 2000);
    msg[0] = 128;
    for (size_t i = 8; i < msg.size(); ++i) msg[i] = uint8_t(i);
    craft::Put16(
        msg, 2,
        craft::Finish(craft::SumBytes(msg.data(), msg.size(), craft::Pseudo6(kApp, kStack, 58, msg.size()))));
    auto frag = [&](size_t from, size_t to, bool more) {
        Bytes f = {58, 0, uint8_t((from >> 8) & 0xff), uint8_t((from & 0xf8) | (more ? 1 : 0)), 0, 0, 0, 42};
        f.insert(f.end(), msg.begin() + from, msg.begin() + to);
        return craft::Ipv6(kApp, kStack, 44, f);
    };
    h->Input(frag(1000, 2008, false));
    h->Input(frag(1000, 2008, false));  // duplicate
    EXPECT_TRUE(h->Take().empty());
    h->Input(frag(0, 1000, true));
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].icmp_type, 129);
    EXPECT_TRUE(out[0].l4_checksum_ok);
    EXPECT_EQ(out[0].payload.size(), 2004u);
    EXPECT_EQ(ip6_reass_pbufcount, 0);
}

TEST_F(Ip6Test, TcpExchangeOverIpv6ToAnyAddress) {
    Peer peer;
    peer.v6 = true;
    peer.ip6 = kApp;
    peer.dst6 = Ip6::Parse("2001:db8:0:0:0:0:0:7");
    peer.dport = 443;
    h->Input(peer.Seg(craft::kSyn, "", 65535, MssOption(1440)));
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].version, 6);
    EXPECT_EQ(out[0].flags, craft::kSyn | craft::kAck);
    EXPECT_TRUE(out[0].src6 == peer.dst6);
    EXPECT_TRUE(out[0].l4_checksum_ok);
    peer.rcv_nxt = out[0].seq + 1;
    h->Input(peer.Seg(craft::kAck));
    ASSERT_EQ(h->accepted.size(), 1u);
    tcp_pcb* pcb = h->accepted[0];
    EXPECT_TRUE(pcb->isipv6);
    EXPECT_EQ(pcb->mss, 1440);

    h->Input(peer.Seg(craft::kAck | craft::kPsh, "over six"));
    EXPECT_EQ(h->received, "over six");
    ASSERT_EQ(tcp_write(pcb, "back", 4), ERR_OK);
    tcp_output(pcb);
    out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].l4_checksum_ok);
    EXPECT_EQ(std::string(out[0].payload.begin(), out[0].payload.end()), "back");
    EXPECT_EQ(out[0].ack, peer.snd_nxt);
    peer.rcv_nxt += 4;
    h->Input(peer.Seg(craft::kAck | craft::kFin));
    EXPECT_EQ(h->closes, 1);
    tcp_close(pcb);
    out = h->Take();
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(out.back().flags & craft::kFin);
}

}  // namespace
