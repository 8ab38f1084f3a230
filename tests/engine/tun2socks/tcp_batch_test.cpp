// Joining a burst of TCP segments into one packet for the device: which
// segments join, and that the kernel's cutting of the joined packet (done
// here the way the kernel does it) gives back the segments the stack sent.
#include "engine/tun2socks/tcp_batch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/packet_craft.h"

namespace {

using craft::Bytes;

const uint32_t kEngine = craft::Ip4(10, 198, 77, 2);
const uint32_t kApp = craft::Ip4(10, 198, 75, 60);
constexpr uint32_t kSeq = 0xFFFFF000;  // the series wraps around

Bytes Data(size_t n, uint8_t seed) {
    Bytes d(n);
    for (size_t i = 0; i < n; ++i) d[i] = uint8_t(seed + i * 13);
    return d;
}

Bytes Segment(uint32_t seq, size_t payload, uint8_t flags = craft::kAck, uint32_t ack = 777,
              uint16_t wnd = 5000, uint16_t dport = 40000) {
    craft::TcpFields f;
    f.sport = 80;
    f.dport = dport;
    f.seq = seq;
    f.ack = ack;
    f.flags = flags;
    f.wnd = wnd;
    Bytes d = Data(payload, uint8_t(seq));
    f.payload = d;
    return craft::Tcp4(kEngine, kApp, f);
}

struct Batch {
    TcpBatch b{};
    Batch() { EXPECT_EQ(TcpBatch_Init(&b), 1); }
    ~Batch() { TcpBatch_Free(&b); }
    bool Add(const Bytes& p) { return TcpBatch_Add(&b, p.data(), int(p.size())) == 1; }
};

// What the kernel makes of a joined packet: the checksum completed over the
// whole packet as it stands, then one segment per `mss` payload bytes.
std::vector<Bytes> CutLikeTheKernel(const Bytes& joined, int mss) {
    Bytes whole = joined;
    craft::Put16(whole, 36, craft::Finish(craft::SumBytes(whole.data() + 20, whole.size() - 20)));
    EXPECT_TRUE(craft::Parse(whole).l4_checksum_ok)
        << "the pseudo-header sum does not complete to a valid checksum";
    std::vector<Bytes> out;
    uint32_t seq = craft::Get32(whole, 24);
    for (size_t at = 40; at < whole.size(); at += size_t(mss)) {
        size_t n = std::min(size_t(mss), whole.size() - at);
        Bytes s(whole.begin(), whole.begin() + 40);
        s.insert(s.end(), whole.begin() + long(at), whole.begin() + long(at + n));
        craft::Put16(s, 2, uint16_t(s.size()));
        craft::Put16(s, 10, 0);
        craft::Put16(s, 10, craft::Finish(craft::SumBytes(s.data(), 20)));
        craft::Put32(s, 24, seq);
        seq += uint32_t(n);
        if (at + n < whole.size()) s[33] &= uint8_t(~craft::kPsh);
        craft::Put16(s, 36, 0);
        craft::Put16(s, 36,
                     craft::Finish(craft::SumBytes(s.data() + 20, s.size() - 20,
                                                   craft::Pseudo4(kEngine, kApp, 6, s.size() - 20))));
        out.push_back(s);
    }
    return out;
}

}  // namespace

TEST(TcpBatch, OnlyPlainDataSegmentsAreEligible) {
    struct Case {
        const char* name;
        Bytes packet;
        bool eligible;
    } cases[] = {
        {"data", Segment(kSeq, 1460), true},
        {"data with PSH", Segment(kSeq, 100, craft::kAck | craft::kPsh), true},
        {"no payload", Segment(kSeq, 0), false},
        {"FIN", Segment(kSeq, 10, craft::kAck | craft::kFin), false},
        {"SYN", Segment(kSeq, 0, craft::kSyn | craft::kAck), false},
        {"RST", Segment(kSeq, 0, craft::kRst | craft::kAck), false},
        {"UDP", craft::Ipv4(kEngine, kApp, 17, Data(30, 1)), false},
        {"ICMP", craft::Icmp4Echo(kEngine, kApp, 1, 1, Data(30, 1)), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TcpBatch_Eligible(c.packet.data(), int(c.packet.size())), c.eligible ? 1 : 0);
    }
    // IP or TCP options keep a segment out.
    craft::TcpFields f;
    f.flags = craft::kAck;
    f.options = {1, 1, 1, 1};
    f.payload = Data(10, 1);
    Bytes with_tcp_options = craft::Tcp4(kEngine, kApp, f);
    EXPECT_EQ(TcpBatch_Eligible(with_tcp_options.data(), int(with_tcp_options.size())), 0);
    Bytes plain = Segment(kSeq, 10);
    Bytes with_ip_options =
        craft::Ipv4(kEngine, kApp, 6, Bytes(plain.begin() + 20, plain.end()), 1, 0, 64, {1, 1, 1, 0});
    EXPECT_EQ(TcpBatch_Eligible(with_ip_options.data(), int(with_ip_options.size())), 0);
}

TEST(TcpBatch, AJoinedBurstCutsBackIntoTheSameSegments) {
    std::vector<Bytes> sent = {Segment(kSeq, 1460), Segment(kSeq + 1460, 1460),
                               Segment(kSeq + 2920, 1460, craft::kAck | craft::kPsh),
                               Segment(kSeq + 4380, 1460),
                               Segment(kSeq + 5840, 324, craft::kAck | craft::kPsh)};
    Batch batch;
    for (const auto& s : sent) ASSERT_TRUE(batch.Add(s));
    int segments = 0, mss = 0;
    int len = TcpBatch_Finish(&batch.b, &segments, &mss);
    EXPECT_EQ(segments, 5);
    EXPECT_EQ(mss, 1460);
    ASSERT_EQ(len, 40 + 4 * 1460 + 324);
    Bytes joined(batch.b.buf, batch.b.buf + len);
    craft::Packet p = craft::Parse(joined);
    EXPECT_TRUE(p.ip_checksum_ok);
    EXPECT_EQ(p.ip_len, len);

    std::vector<Bytes> cut = CutLikeTheKernel(joined, mss);
    ASSERT_EQ(cut.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        craft::Packet a = craft::Parse(cut[i]), b = craft::Parse(sent[i]);
        EXPECT_TRUE(a.ip_checksum_ok);
        EXPECT_TRUE(a.l4_checksum_ok);
        EXPECT_EQ(a.seq, b.seq);
        EXPECT_EQ(a.ack, b.ack);
        EXPECT_EQ(a.wnd, b.wnd);
        EXPECT_EQ(a.payload, b.payload);
        EXPECT_EQ(a.flags & craft::kAck, craft::kAck);
    }
    // The end of the burst is pushed.
    EXPECT_TRUE(craft::Parse(cut.back()).flags & craft::kPsh);

    // Empty afterwards; a single segment comes out untouched.
    EXPECT_EQ(TcpBatch_Finish(&batch.b, &segments, &mss), 0);
    ASSERT_TRUE(batch.Add(sent[0]));
    len = TcpBatch_Finish(&batch.b, &segments, &mss);
    EXPECT_EQ(segments, 1);
    EXPECT_EQ(Bytes(batch.b.buf, batch.b.buf + len), sent[0]);
}

TEST(TcpBatch, WhatDoesNotContinueTheBurstStartsAnother) {
    struct Case {
        const char* name;
        Bytes next;
    } cases[] = {
        {"a gap", Segment(kSeq + 1461, 1460)},
        {"a retransmission", Segment(kSeq, 1460)},
        {"another connection", Segment(kSeq + 1460, 1460, craft::kAck, 777, 5000, 40001)},
        {"a new acknowledgement", Segment(kSeq + 1460, 1460, craft::kAck, 778)},
        {"a new window", Segment(kSeq + 1460, 1460, craft::kAck, 777, 4000)},
        {"a longer segment", Segment(kSeq + 1460, 1461)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Batch batch;
        ASSERT_TRUE(batch.Add(Segment(kSeq, 1460)));
        EXPECT_FALSE(batch.Add(c.next));
    }
    // After a short segment the burst is over.
    Batch batch;
    ASSERT_TRUE(batch.Add(Segment(kSeq, 1460)));
    ASSERT_TRUE(batch.Add(Segment(kSeq + 1460, 1000)));
    EXPECT_FALSE(batch.Add(Segment(kSeq + 2460, 1000)));
    // And it never grows past an IPv4 packet's length.
    Batch full;
    uint32_t seq = kSeq;
    int added = 0;
    while (full.Add(Segment(seq, 1460))) {
        seq += 1460;
        ++added;
    }
    EXPECT_EQ(added, (TCP_BATCH_MAX - 40) / 1460);
}
