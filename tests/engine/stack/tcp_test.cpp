// TCP through scripted peers: handshake, data, loss, windows, closing and resets.
#include <gtest/gtest.h>

#include <functional>

#include "engine/stack/init.h"
#include "engine/stack/memp.h"
#include "engine/stack/tcp_priv.h"
#include "tests/engine/stack/stack_harness.h"

namespace {

using craft::kAck;
using craft::kFin;
using craft::kPsh;
using craft::kRst;
using craft::kSyn;

using TcpTest = StackTest;

// Everything the stack sent, as data bytes in sequence order.
std::string Data(const std::vector<craft::Packet>& pkts) {
    std::string s;
    for (const auto& p : pkts) s.append(p.payload.begin(), p.payload.end());
    return s;
}

TEST_F(TcpTest, SynToAnyAddressIsAcceptedOnlyAfterTheHandshake) {
    Peer peer;
    h->Input(peer.Seg(kSyn, "", 65535, MssOption(1460)));
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    const craft::Packet& sa = out[0];
    EXPECT_EQ(sa.flags, kSyn | kAck);
    EXPECT_EQ(sa.src4, craft::Ip4(203, 0, 113, 9));
    EXPECT_EQ(sa.sport, 8080);
    EXPECT_EQ(sa.dport, 40000);
    EXPECT_EQ(sa.ack, 1001u);
    EXPECT_EQ(sa.MssOption(), 1460);
    EXPECT_EQ(sa.wnd, TCP_WND);
    EXPECT_EQ(sa.ttl, 255);
    EXPECT_TRUE(sa.l4_checksum_ok);
    EXPECT_TRUE(h->accepted.empty());
    ASSERT_NE(tcp_active_pcbs, nullptr);
    EXPECT_EQ(tcp_active_pcbs->state, SYN_RCVD);
    EXPECT_EQ(tcp_active_pcbs->local_ip.ip4.addr, htonl(craft::Ip4(203, 0, 113, 9)));

    peer.rcv_nxt = sa.seq + 1;
    h->Input(peer.Seg(kAck));
    ASSERT_EQ(h->accepted.size(), 1u);
    EXPECT_EQ(h->accepted[0]->state, ESTABLISHED);
    EXPECT_EQ(h->accepted[0]->local_port, 8080);
    EXPECT_TRUE(h->Take().empty());
}

TEST_F(TcpTest, MssComesFromTheSynOption) {
    struct Case {
        craft::Bytes options;
        uint16_t mss;
    } cases[] = {{{}, 536},
                 {MssOption(9000), 1460},
                 {MssOption(0), 1460},
                 {MssOption(1000), 1000},
                 {{1, 1, 2, 4, 0x02, 0x00}, 512},
                 {{3, 0, 2, 4, 0x02, 0x00}, 536},
                 {{2, 5, 0, 0}, 536}};
    uint16_t port = 1000;
    for (const auto& c : cases) {
        Peer peer;
        peer.sport = port++;
        craft::Bytes opts = c.options;
        while (opts.size() % 4) opts.push_back(0);
        h->Input(peer.Seg(kSyn, "", 65535, opts));
        ASSERT_FALSE(h->Take().empty());
        EXPECT_EQ(tcp_active_pcbs->mss, c.mss) << "options of size " << c.options.size();
    }
}

// An MSS option outside the SYN changes nothing: a smaller MSS taken from it
// made the retransmission window too small for the queued segment, which was
// then never sent again.
TEST_F(TcpTest, MssOptionOutsideTheSynIsIgnored) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    std::string seg(1460, 's');
    ASSERT_EQ(tcp_write(pcb, seg.data(), 1460), ERR_OK);
    tcp_output(pcb);
    ASSERT_EQ(h->Take().size(), 1u);
    h->Input(peer.Seg(kAck, "", 65535, MssOption(100)));
    EXPECT_EQ(pcb->mss, 1460);
    h->Tick(2 * 10);  // the retransmission time-out passes
    auto out = h->Take();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out[0].payload.size(), 1460u);
}

TEST_F(TcpTest, RepeatedSynInSynRcvdResendsTheSynAck) {
    Peer peer;
    craft::Bytes syn = peer.Seg(kSyn);
    h->Input(syn);
    auto first = h->Take();
    h->Input(syn);
    auto again = h->Take();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].flags, kSyn | kAck);
    EXPECT_EQ(again[0].seq, first[0].seq);
}

// A SYN+ACK that repeats the peer's SYN and carries data completes the
// handshake; the old SYN is cut off, the data is delivered whole.
TEST_F(TcpTest, SynAckWithDataInSynRcvdKeepsEveryDataByte) {
    Peer peer;
    h->Input(peer.Seg(kSyn));
    auto sa = h->Take();
    ASSERT_EQ(sa.size(), 1u);
    peer.rcv_nxt = sa[0].seq + 1;
    h->Input(peer.SegAt(peer.snd_nxt - 1, kSyn | kAck, "abc"));
    ASSERT_EQ(h->accepted.size(), 1u);
    EXPECT_EQ(h->received, "abc");
    EXPECT_EQ(h->accepted[0]->rcv_nxt, peer.snd_nxt + 3);
}

TEST_F(TcpTest, SegmentsForNoConnectionGetAReset) {
    Peer peer;
    peer.rcv_nxt = 777;
    h->Input(peer.Seg(kAck));  // a stale connection: the listener answers
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].flags, kRst | kAck);
    EXPECT_EQ(out[0].seq, 777u);
    EXPECT_EQ(out[0].wnd, TCP_WND);
    EXPECT_EQ(out[0].ttl, 255);

    h->Input(peer.Seg(kRst | kAck));
    EXPECT_TRUE(h->Take().empty());
    h->Input(peer.Seg(0));  // neither SYN nor ACK: ignored
    EXPECT_TRUE(h->Take().empty());
}

TEST(TcpNoListener, SegmentGetsResetAcknowledgingItsSequenceSpace) {
    {
        StackHarness h(false);
        Peer peer;
        h.Input(peer.Seg(kSyn | kFin, "abc"));
        auto out = h.Take();
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].flags, kRst | kAck);
        EXPECT_EQ(out[0].ack, 1000u + 3 + 1);
    }
    ExpectNothingAllocated();
}

TEST_F(TcpTest, MalformedSegmentsAreDroppedSilently) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    std::vector<std::pair<const char*, craft::Bytes>> cases;
    craft::Bytes bad = peer.SegAt(peer.snd_nxt, kAck | kPsh, "hello");
    bad[bad.size() - 1] ^= 0x20;
    cases.push_back({"bad checksum", bad});
    auto with_offset = [&](uint8_t words, size_t keep) {
        craft::Bytes b = peer.SegAt(peer.snd_nxt, kAck, std::string(20, 'x'));
        b.resize(keep);
        craft::Put16(b, 2, uint16_t(b.size()));
        craft::Put16(b, 10, 0);
        craft::Put16(b, 10, craft::Finish(craft::SumBytes(b.data(), 20)));
        b[20 + 12] = uint8_t(words << 4);
        craft::Put16(b, 20 + 16, 0);
        craft::Put16(b, 20 + 16,
                     craft::Finish(craft::SumBytes(b.data() + 20, b.size() - 20,
                                                   craft::Pseudo4(peer.ip, peer.dst, 6, b.size() - 20))));
        return b;
    };
    cases.push_back({"data offset 15 in a 40-byte packet", with_offset(15, 40)});
    cases.push_back({"data offset 2", with_offset(2, 60)});
    cases.push_back({"data offset 0", with_offset(0, 60)});
    for (auto& c : cases) {
        h->Input(c.second);
        EXPECT_TRUE(h->Take().empty()) << c.first;
    }
    EXPECT_EQ(h->received, "");
    EXPECT_EQ(pcb->state, ESTABLISHED);
}

// Sends in-order data the application does not read until `left` bytes of
// the receive window remain.
void FillWindowTo(StackHarness& h, Peer& peer, uint16_t left) {
    size_t fill = TCP_WND - left;
    while (fill > 0) {
        size_t n = fill < 1460 ? fill : 1460;
        h.Input(peer.Seg(kAck, std::string(n, 'f')));
        fill -= n;
    }
    h.Take();
}

TEST_F(TcpTest, DataBothWaysWithDelayedAcknowledgement) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);

    h->Input(peer.Seg(kAck | kPsh, "one"));
    EXPECT_EQ(h->received, "one");
    EXPECT_TRUE(h->Take().empty());  // a single segment waits for the fast timer
    h->Tick();
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].ack, peer.snd_nxt);

    h->Input(peer.Seg(kAck, "two"));
    EXPECT_TRUE(h->Take().empty());
    h->Input(peer.Seg(kAck, "three"));
    out = h->Take();  // every second segment is acknowledged at once
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].ack, peer.snd_nxt);
    EXPECT_EQ(h->received, "onetwothree");

    ASSERT_EQ(tcp_write(pcb, "reply", 5), ERR_OK);
    EXPECT_EQ(tcp_output(pcb), ERR_OK);
    out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(Data(out), "reply");
    EXPECT_TRUE(out[0].flags & kPsh);
    EXPECT_EQ(tcp_sndbuf(pcb), TCP_SND_BUF - 5);
    peer.rcv_nxt = out[0].seq + 5;
    h->Input(peer.Seg(kAck));
    EXPECT_EQ(h->sent_bytes, 5u);
    EXPECT_EQ(tcp_sndbuf(pcb), TCP_SND_BUF);
}

TEST_F(TcpTest, OutOfOrderSegmentsWaitAndDuplicatesAreReacknowledged) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    uint32_t base = peer.snd_nxt;
    h->Input(peer.SegAt(base + 3, kAck, "456"));
    h->Input(peer.SegAt(base + 6, kAck, "789"));
    auto out = h->Take();
    ASSERT_EQ(out.size(), 2u);
    for (const auto& p : out) EXPECT_EQ(p.ack, base);
    h->Input(peer.SegAt(base + 6, kAck, "789"));  // duplicate of a queued one
    h->Take();
    EXPECT_EQ(h->received, "");
    h->Input(peer.SegAt(base + 1, kAck, "2345"));  // overlaps both ends
    EXPECT_EQ(h->received, "");
    h->Input(peer.SegAt(base, kAck, "12"));
    EXPECT_EQ(h->received, "123456789");
    EXPECT_EQ(pcb->rcv_nxt, base + 9);
    EXPECT_EQ(pcb->ooseq, nullptr);

    h->Take();
    h->Input(peer.SegAt(base, kAck, "12"));  // old data: acknowledged again at once
    out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].ack, base + 9);
    EXPECT_EQ(h->received, "123456789");
}

TEST_F(TcpTest, OutOfOrderDataBeyondTheWindowIsNeverDeliveredPastIt) {
    Peer peer;
    h->consume = false;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    // Unread data leaves 5840 bytes of window.
    FillWindowTo(*h, peer, 5840);
    uint32_t base = peer.snd_nxt;
    // Queued first: a small segment, then one starting before it that reaches
    // far beyond the window.
    h->Input(peer.SegAt(base + 100, kAck, std::string(10, 'b')));
    h->Input(peer.SegAt(base + 50, kAck | kFin, std::string(7000, 'c')));
    h->Input(peer.SegAt(base, kAck, std::string(50, 'a')));
    EXPECT_EQ(h->received.size(), size_t(TCP_WND));
    EXPECT_EQ(pcb->rcv_wnd, 0);
    EXPECT_EQ(h->closes, 0);   // the FIN lay beyond the window
    tcp_recved(pcb, TCP_WND);  // the application catches up
    EXPECT_EQ(pcb->rcv_wnd, TCP_WND);
}

// Both initial sequence numbers just below 2^32: reordered data, a FIN, our
// data, its acknowledgement and a retransmission all cross the wrap.
TEST_F(TcpTest, SequenceNumbersWrapAroundInBothDirections) {
    Peer first;
    first.sport = 1;
    h->Input(first.Seg(kSyn));
    uint32_t isn = h->Take().at(0).seq;
    const uint32_t ticks = tcp_ticks;
    tcp_ticks = 0xffffff00u - isn;  // the next initial sequence number is the counter plus the ticks
    Peer peer;
    peer.snd_nxt = 0xfffffff0u;
    tcp_pcb* pcb = Connect(*h, peer);
    tcp_ticks = ticks;
    ASSERT_NE(pcb, nullptr);
    EXPECT_EQ(pcb->snd_nxt, 0xffffff01u);

    uint32_t base = peer.snd_nxt;
    h->Input(peer.SegAt(base + 20, kAck, "CCCCCCCCCC"));
    h->Input(peer.SegAt(base + 10, kAck, "BBBBBBBBBB"));
    h->Input(peer.SegAt(base, kAck, "AAAAAAAAAA"));
    h->Input(peer.SegAt(base + 25, kAck | kFin, "CCCCCDD"));
    EXPECT_EQ(h->received, "AAAAAAAAAABBBBBBBBBBCCCCCCCCCCDD");
    EXPECT_EQ(h->closes, 1);
    EXPECT_EQ(pcb->state, CLOSE_WAIT);
    peer.snd_nxt = base + 33;

    std::string data(3000, 'x');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char('a' + i % 26);
    ASSERT_EQ(tcp_write(pcb, data.data(), 3000), ERR_OK);
    tcp_output(pcb);
    auto out = h->Take();
    std::string got = Data(out);
    ASSERT_FALSE(out.empty());
    peer.rcv_nxt = out[0].seq + uint32_t(got.size());
    h->Input(peer.Seg(kAck));
    got += Data(h->Take());
    EXPECT_EQ(got, data);
    peer.rcv_nxt = pcb->snd_nxt;
    h->Input(peer.Seg(kAck));
    EXPECT_EQ(h->sent_bytes, 3000u);
    EXPECT_EQ(pcb->unacked, nullptr);

    ASSERT_EQ(tcp_write(pcb, "lost", 4), ERR_OK);
    tcp_output(pcb);
    ASSERT_EQ(Data(h->Take()), "lost");
    std::string again;
    for (int i = 0; i < 2 * 20 && again.empty(); ++i) {
        h->Tick();
        again = Data(h->Take());
    }
    EXPECT_EQ(again, "lost");
}

// A queued FIN covered by an in-order segment that fills the whole window has
// no room left: taking it over made the segment one byte longer than the
// window, whose count then wrapped to 65535.
TEST_F(TcpTest, QueuedFinBeyondAFullWindowIsNotTakenOver) {
    Peer peer;
    h->consume = false;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    FillWindowTo(*h, peer, 5840);
    uint32_t base = peer.snd_nxt;
    h->Input(peer.SegAt(base + 100, kAck | kFin));
    h->Input(peer.SegAt(base, kAck, std::string(5840, 'w')));
    EXPECT_EQ(h->received.size(), size_t(TCP_WND));
    EXPECT_EQ(pcb->rcv_nxt, base + 5840);
    EXPECT_EQ(pcb->rcv_wnd, 0);
    EXPECT_EQ(h->closes, 0);
    EXPECT_EQ(pcb->state, ESTABLISHED);
}

TEST_F(TcpTest, WritesAreCutIntoSegmentsUpToTheSendBuffer) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    std::string data(TCP_SND_BUF, 'w');
    ASSERT_EQ(tcp_write(pcb, data.data(), TCP_SND_BUF), ERR_OK);
    EXPECT_EQ(tcp_sndbuf(pcb), 0);
    EXPECT_EQ(tcp_write(pcb, "x", 1), ERR_MEM);
    std::vector<uint16_t> lens;
    for (tcp_seg* s = pcb->unsent; s != nullptr; s = s->next) lens.push_back(s->len);
    ASSERT_EQ(lens.size(), size_t(TCP_SND_BUF / 1460 + 1));
    for (size_t i = 0; i + 1 < lens.size(); ++i) EXPECT_EQ(lens[i], 1460);
    EXPECT_EQ(lens.back(), TCP_SND_BUF % 1460);
}

TEST_F(TcpTest, NagleHoldsSmallWritesAndFillsOneBuffer) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    std::string hundred(100, 'a');
    tcp_write(pcb, hundred.data(), 100);
    tcp_output(pcb);
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    tcp_write(pcb, hundred.data(), 100);
    tcp_output(pcb);
    tcp_write(pcb, hundred.data(), 100);
    tcp_output(pcb);
    EXPECT_TRUE(h->Take().empty());
    ASSERT_NE(pcb->unsent, nullptr);
    EXPECT_EQ(pcb->unsent->next, nullptr);
    EXPECT_EQ(pbuf_clen(pcb->unsent->p), 1);
    peer.rcv_nxt = out[0].seq + 100;
    h->Input(peer.Seg(kAck));
    out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].payload.size(), 200u);
}

TEST_F(TcpTest, ZeroWindowIsProbedAtGrowingIntervals) {
    Peer peer;
    h->Input(peer.Seg(kSyn, "", 0));
    auto sa = h->Take();
    peer.rcv_nxt = sa[0].seq + 1;
    h->Input(peer.Seg(kAck, "", 4000));  // the largest window seen allows writes
    h->Input(peer.Seg(kAck, "z", 4000));
    h->Input(peer.Seg(kAck, "y", 0));  // newer data carries the closed window
    ASSERT_EQ(h->accepted.size(), 1u);
    tcp_pcb* pcb = h->accepted[0];
    h->Take();
    ASSERT_EQ(tcp_write(pcb, "probe", 5), ERR_OK);
    tcp_output(pcb);
    EXPECT_TRUE(h->Take().empty());
    std::vector<int> probe_ticks;
    for (int slow = 1; slow <= 500; ++slow) {
        h->Tick(2);
        for (const auto& p : h->Take()) {
            EXPECT_EQ(p.payload.size(), 1u);
            EXPECT_EQ(p.payload[0], 'p');
            probe_ticks.push_back(slow);
        }
    }
    std::vector<int> gaps;
    for (size_t i = 0; i < probe_ticks.size(); ++i)
        gaps.push_back(probe_ticks[i] - (i ? probe_ticks[i - 1] : 0));
    std::vector<int> expect = {3, 6, 12, 24, 48, 96, 120, 120};
    ASSERT_GE(gaps.size(), expect.size());
    EXPECT_EQ(std::vector<int>(gaps.begin(), gaps.begin() + expect.size()), expect);

    h->Input(peer.Seg(kAck, "", 8000));  // the window opens: the data leaves
    EXPECT_EQ(Data(h->Take()), "probe");
}

TEST_F(TcpTest, RetransmissionsBackOffThenTheConnectionIsDropped) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    tcp_write(pcb, "lost", 4);
    tcp_output(pcb);
    ASSERT_EQ(h->Take().size(), 1u);
    std::vector<int> at;
    for (int slow = 1; slow <= 10000 && h->errors.empty(); ++slow) {
        h->Tick(2);
        for (const auto& p : h->Take()) {
            EXPECT_EQ(Data({p}), "lost");
            at.push_back(slow);
        }
    }
    ASSERT_EQ(at.size(), 12u);
    // Never shorter than the one before (give or take the 500 ms steps it is seen in).
    for (size_t i = 2; i < at.size(); ++i) EXPECT_GE(at[i] - at[i - 1] + 1, at[i - 1] - at[i - 2]);
    EXPECT_GT(at[3] - at[2], at[2] - at[1]);
    ASSERT_EQ(h->errors.size(), 1u);
    EXPECT_EQ(h->errors[0], ERR_ABRT);
    EXPECT_EQ(tcp_active_pcbs, nullptr);
}

TEST_F(TcpTest, ThreeDuplicateAcksTriggerOneFastRetransmit) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    std::string seg(1460, 's');
    tcp_write(pcb, seg.data(), 1460);
    tcp_write(pcb, seg.data(), 1460);
    tcp_output(pcb);
    auto out = h->Take();
    ASSERT_EQ(out.size(), 2u);
    peer.rcv_nxt = out[0].seq;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(h->Take().empty());
        h->Input(peer.Seg(kAck));
    }
    out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].seq, peer.rcv_nxt);
    EXPECT_TRUE(pcb->flags & TF_INFR);
    EXPECT_EQ(pcb->cwnd, pcb->ssthresh + 3 * pcb->mss);
    uint16_t cwnd = pcb->cwnd;
    h->Input(peer.Seg(kAck));
    EXPECT_EQ(pcb->cwnd, cwnd + pcb->mss);
    EXPECT_TRUE(h->Take().empty());
}

// Brings a connection into a state by a script, then checks what a FIN or a
// reset from the peer does there.
struct StateCase {
    const char* name;
    std::function<void(StackHarness&, Peer&, tcp_pcb*)> setup;
    tcp_state state;
};

std::vector<StateCase> StateCases() {
    return {
        {"ESTABLISHED", [](StackHarness&, Peer&, tcp_pcb*) {}, ESTABLISHED},
        {"CLOSE_WAIT", [](StackHarness& h, Peer& p, tcp_pcb*) { h.Input(p.Seg(kAck | kFin)); }, CLOSE_WAIT},
        {"FIN_WAIT_1", [](StackHarness&, Peer&, tcp_pcb* pcb) { tcp_close(pcb); }, FIN_WAIT_1},
        {"FIN_WAIT_2",
         [](StackHarness& h, Peer& p, tcp_pcb* pcb) {
             tcp_close(pcb);
             p.rcv_nxt = pcb->snd_nxt;
             h.Input(p.Seg(kAck));
         },
         FIN_WAIT_2},
        {"LAST_ACK",
         [](StackHarness& h, Peer& p, tcp_pcb* pcb) {
             h.Input(p.Seg(kAck | kFin));
             tcp_close(pcb);
         },
         LAST_ACK},
        {"CLOSING",
         [](StackHarness& h, Peer& p, tcp_pcb* pcb) {
             tcp_close(pcb);
             h.Input(p.Seg(kAck | kFin));
         },
         CLOSING},
    };
}

TEST_F(TcpTest, ResetInsideTheWindowEndsTheConnectionInEveryState) {
    uint16_t port = 2000;
    for (const auto& c : StateCases()) {
        Peer peer;
        peer.sport = port++;
        h->errors.clear();
        tcp_pcb* pcb = Connect(*h, peer);
        ASSERT_NE(pcb, nullptr) << c.name;
        c.setup(*h, peer, pcb);
        ASSERT_EQ(pcb->state, c.state) << c.name;
        h->Take();
        h->Input(peer.SegAt(peer.snd_nxt + 100000, kRst));  // outside the window: ignored
        EXPECT_EQ(pcb->state, c.state) << c.name;
        EXPECT_TRUE(h->errors.empty()) << c.name;
        h->Input(peer.Seg(kRst));
        ASSERT_EQ(h->errors.size(), 1u) << c.name;
        EXPECT_EQ(h->errors[0], ERR_RST) << c.name;
        EXPECT_TRUE(h->Take().empty()) << c.name;
    }
    EXPECT_EQ(tcp_active_pcbs, nullptr);
}

TEST_F(TcpTest, ResetInSynRcvdReleasesTheBlockWithoutCallback) {
    Peer peer;
    h->Input(peer.Seg(kSyn));
    h->Take();
    h->Input(peer.Seg(kRst));
    EXPECT_EQ(tcp_active_pcbs, nullptr);
    EXPECT_TRUE(h->errors.empty());
}

TEST_F(TcpTest, ClosingFromEitherSideWalksTheStates) {
    // The application closes first.
    Peer a;
    tcp_pcb* pcb = Connect(*h, a);
    ASSERT_NE(pcb, nullptr);
    h->Take();
    ASSERT_EQ(tcp_close(pcb), ERR_OK);
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].flags & kFin);
    a.rcv_nxt = out[0].seq + 1;
    h->Input(a.Seg(kAck));
    EXPECT_EQ(pcb->state, FIN_WAIT_2);
    h->Input(a.Seg(kAck | kFin));
    EXPECT_EQ(pcb->state, TIME_WAIT);
    out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].ack, a.snd_nxt);
    // A retransmitted FIN in TIME_WAIT is acknowledged again.
    h->Input(a.SegAt(a.snd_nxt - 1, kAck | kFin));
    EXPECT_EQ(h->Take().size(), 1u);
    h->Tick(2 * 240);
    EXPECT_EQ(tcp_tw_pcbs, pcb);
    h->Tick(2 * 2);
    EXPECT_EQ(tcp_tw_pcbs, nullptr);

    // The peer closes first; our FIN then waits for its acknowledgement.
    Peer b;
    b.sport = 40001;
    pcb = Connect(*h, b);
    ASSERT_NE(pcb, nullptr);
    int closes = h->closes;
    h->Input(b.Seg(kAck | kFin));
    EXPECT_EQ(h->closes, closes + 1);
    EXPECT_EQ(pcb->state, CLOSE_WAIT);
    h->Take();
    tcp_close(pcb);
    EXPECT_EQ(pcb->state, LAST_ACK);
    out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    b.rcv_nxt = out[0].seq + 1;
    h->Input(b.Seg(kAck));
    EXPECT_EQ(tcp_active_pcbs, nullptr);
    EXPECT_TRUE(h->errors.empty());  // receiving was closed already: no callback

    // Simultaneous close.
    Peer c;
    c.sport = 40002;
    pcb = Connect(*h, c);
    ASSERT_NE(pcb, nullptr);
    h->Take();
    tcp_close(pcb);
    uint32_t fin_seq = h->Take()[0].seq;
    h->Input(c.Seg(kAck | kFin));
    EXPECT_EQ(pcb->state, CLOSING);
    c.rcv_nxt = fin_seq + 1;
    h->Input(c.Seg(kAck));
    EXPECT_EQ(pcb->state, TIME_WAIT);
}

TEST_F(TcpTest, CloseWithUnreadDataResetsAndHoldsTimeWait) {
    Peer peer;
    h->consume = false;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    h->Input(peer.Seg(kAck, "unread"));
    h->Take();
    tcp_close(pcb);
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].flags, kRst | kAck);
    EXPECT_EQ(tcp_tw_pcbs, pcb);
    EXPECT_EQ(tcp_active_pcbs, nullptr);
}

// Closing from inside the close notification with data still unconsumed
// releases the block; the stack must not use it after the callback returns,
// and must not lose it either when the callback reports the block gone.
TEST_F(TcpTest, CloseInsideTheCloseNotificationWithUnreadData) {
    h->consume = false;
    h->close_on_fin = true;
    uint16_t port = 40000;
    int closes = 0;
    for (err_t result : {ERR_OK, ERR_ABRT}) {
        SCOPED_TRACE(result);
        h->close_result = result;
        Peer a;
        a.sport = port++;
        tcp_pcb* pcb = Connect(*h, a);
        ASSERT_NE(pcb, nullptr);
        h->Input(a.Seg(kAck | kFin, "unread"));
        EXPECT_EQ(h->closes, ++closes);
        auto out = h->Take();
        ASSERT_FALSE(out.empty());
        EXPECT_TRUE(out.back().flags & kRst);
        EXPECT_EQ(tcp_active_pcbs, nullptr);
        EXPECT_EQ(tcp_tw_pcbs, nullptr);

        // The same when the FIN was held behind refused data and comes with the retry.
        Peer b;
        b.sport = port++;
        pcb = Connect(*h, b);
        ASSERT_NE(pcb, nullptr);
        h->refuse = true;
        h->Input(b.Seg(kAck | kFin, "held"));
        h->refuse = false;
        h->Tick();
        EXPECT_EQ(h->closes, ++closes);
        EXPECT_EQ(tcp_active_pcbs, nullptr);
    }
}

err_t AcceptThenClose(void*, tcp_pcb* pcb, err_t) {
    tcp_close(pcb);
    return ERR_OK;
}

// The peer's FIN on the handshake's last ACK while the accept callback closed:
// both sides are closing, so one FIN goes out and the block ends in TIME_WAIT
// (it used to fall back to CLOSE_WAIT and queue a second FIN).
TEST_F(TcpTest, FinWithTheHandshakeAckAfterACloseInAccept) {
    tcp_accept(h->listener, AcceptThenClose);
    Peer peer;
    h->Input(peer.Seg(kSyn));
    auto sa = h->Take();
    ASSERT_EQ(sa.size(), 1u);
    peer.rcv_nxt = sa[0].seq + 1;
    h->Input(peer.Seg(kAck | kFin));
    tcp_pcb* pcb = tcp_active_pcbs;
    ASSERT_NE(pcb, nullptr);
    EXPECT_EQ(pcb->state, CLOSING);
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].flags, kFin | kAck);
    EXPECT_EQ(out[0].ack, peer.snd_nxt);
    peer.rcv_nxt = out[0].seq + 1;
    h->Input(peer.Seg(kAck));
    EXPECT_EQ(tcp_active_pcbs, nullptr);
    EXPECT_EQ(tcp_tw_pcbs, pcb);
}

TEST_F(TcpTest, DataAfterTheApplicationClosedReceivingAbortsWithReset) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    tcp_close(pcb);
    h->Take();
    h->Input(peer.Seg(kAck, "late"));
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].flags & kRst);
    EXPECT_EQ(h->errors, std::vector<err_t>{ERR_ABRT});
    EXPECT_EQ(tcp_active_pcbs, nullptr);
}

TEST_F(TcpTest, RefusedDataHoldsTheFinUntilItIsTaken) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    h->refuse = true;
    h->Input(peer.Seg(kAck | kFin, "kept"));
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].ack, peer.snd_nxt);  // data and FIN acknowledged
    EXPECT_EQ(h->closes, 0);
    h->Input(peer.SegAt(peer.snd_nxt, kAck, "more"));  // dropped unprocessed: no ACK
    EXPECT_TRUE(h->Take().empty());
    tcp_write(pcb, "x", 1);
    tcp_output(pcb);
    uint32_t our = h->Take()[0].seq;
    peer.rcv_nxt = our + 1;
    h->Input(peer.SegAt(peer.snd_nxt, kAck));  // a pure ACK is still processed
    EXPECT_EQ(h->sent_bytes, 1u);
    h->Tick();
    EXPECT_EQ(h->received, "");
    h->refuse = false;
    h->Tick();
    EXPECT_EQ(h->received, "kept");
    EXPECT_EQ(h->closes, 1);
}

TEST_F(TcpTest, ReceiveWindowReopensWithAnUpdate) {
    Peer peer;
    h->consume = false;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    FillWindowTo(*h, peer, 0);
    h->Tick();
    auto out = h->Take();
    EXPECT_EQ(pcb->rcv_ann_wnd, 0);
    h->Input(peer.Seg(kAck, "over"));  // beyond the window: acknowledged, not taken
    out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].wnd, 0);
    EXPECT_EQ(h->received.size(), size_t(TCP_WND));
    // A small read is not worth an update of its own; a quarter of the window is.
    tcp_recved(pcb, 1460);
    EXPECT_TRUE(h->Take().empty());
    tcp_recved(pcb, TCP_WND_UPDATE_THRESHOLD);
    out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].wnd, 1460 + TCP_WND_UPDATE_THRESHOLD);
    tcp_recved(pcb, TCP_WND - 1460 - TCP_WND_UPDATE_THRESHOLD);
    out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].wnd, TCP_WND);
}

// An acknowledgement of part of our data must not move us to FIN_WAIT_2 while
// the rest and our FIN still wait for the peer's window.
TEST_F(TcpTest, FinIsNotTakenAsAcknowledgedWhileDataIsStillUnsent) {
    Peer peer;
    h->Input(peer.Seg(kSyn, "", 2000, MssOption(1460)));
    auto sa = h->Take();
    peer.rcv_nxt = sa[0].seq + 1;
    h->Input(peer.Seg(kAck, "", 2000));
    tcp_pcb* pcb = h->accepted.at(0);
    std::string data(3000, 'd');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char('a' + i % 26);
    ASSERT_EQ(tcp_write(pcb, data.data(), 3000), ERR_OK);
    tcp_output(pcb);
    ASSERT_EQ(tcp_close(pcb), ERR_OK);
    std::string got = Data(h->Take());
    peer.rcv_nxt += got.size();
    h->Input(peer.Seg(kAck, "", 0));  // everything sent so far, window closed
    EXPECT_EQ(pcb->state, FIN_WAIT_1);
    h->Input(peer.Seg(kAck | kFin, "", 0));  // the peer closes too
    EXPECT_EQ(pcb->state, CLOSING);
    h->Take();
    h->Input(peer.SegAt(peer.snd_nxt, kAck, "", 8000));
    for (int i = 0; i < 10 && got.size() < data.size(); ++i) {
        auto out = h->Take();
        std::string more = Data(out);
        got += more;
        peer.rcv_nxt += more.size();
        bool fin = false;
        for (auto& p : out) fin |= (p.flags & kFin) != 0;
        if (fin) peer.rcv_nxt += 1;
        h->Input(peer.SegAt(peer.snd_nxt, kAck, "", 8000));
    }
    EXPECT_EQ(got, data);
    EXPECT_EQ(pcb->state, TIME_WAIT);
}

// A segment that acknowledges nothing new must not repeat an earlier count to
// the sent callback.
TEST_F(TcpTest, SentCallbackReportsOnlyNewAcknowledgements) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    tcp_write(pcb, "abc", 3);
    tcp_output(pcb);
    peer.rcv_nxt = h->Take()[0].seq + 3;
    h->Input(peer.Seg(kAck));
    EXPECT_EQ(h->sent_calls, 1);
    h->Input(peer.SegAt(peer.snd_nxt + 100000, kRst));  // ignored reset
    h->Input(peer.Seg(kSyn));                           // SYN in ESTABLISHED: ACK only
    EXPECT_EQ(h->sent_calls, 1);
    EXPECT_EQ(h->sent_bytes, 3u);
}

TEST_F(TcpTest, HandshakeThatNeverCompletesIsReleasedSilently) {
    Peer peer;
    h->Input(peer.Seg(kSyn));
    h->Tick(2 * 41);
    EXPECT_EQ(tcp_active_pcbs, nullptr);
    EXPECT_TRUE(h->accepted.empty());
}

TEST_F(TcpTest, LastAckWithoutAnswerIsReleasedWithAbort) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    h->Input(peer.Seg(kAck | kFin));
    tcp_recv(pcb, nullptr);  // like the engine while it shuts down
    tcp_close(pcb);
    for (int i = 0; i < 2 * 250 && tcp_active_pcbs != nullptr; ++i) h->Tick();
    EXPECT_EQ(tcp_active_pcbs, nullptr);
    EXPECT_EQ(h->errors, std::vector<err_t>{ERR_ABRT});
}

TEST_F(TcpTest, ManyConnectionsEachFindTheirOwnBlock) {
    std::vector<Peer> peers(1500);
    std::vector<tcp_pcb*> pcbs;
    for (size_t i = 0; i < peers.size(); ++i) {
        peers[i].sport = uint16_t(10000 + i);
        peers[i].dst = craft::Ip4(93, 184, uint8_t(i / 200), uint8_t(i % 200));
        pcbs.push_back(Connect(*h, peers[i]));
        ASSERT_NE(pcbs.back(), nullptr);
    }
    for (size_t i = peers.size(); i-- > 0;) h->Input(peers[i].Seg(kAck, std::string(1 + i % 3, 'm')));
    for (size_t i = 0; i < peers.size(); ++i) EXPECT_EQ(pcbs[i]->rcv_nxt, peers[i].snd_nxt);
    // The most recently used block is in front.
    EXPECT_EQ(tcp_active_pcbs, pcbs[0]);
}

TEST_F(TcpTest, OutOfMemoryReusesTheOldestTimeWaitBlock) {
    Peer a;
    tcp_pcb* pcb = Connect(*h, a);
    ASSERT_NE(pcb, nullptr);
    h->Take();
    tcp_close(pcb);
    a.rcv_nxt = h->Take()[0].seq + 1;
    h->Input(a.Seg(kAck | kFin));
    ASSERT_EQ(tcp_tw_pcbs, pcb);
    memp_set_limit(MEMP_TCP_PCB, 1);
    Peer b;
    b.sport = 40001;
    h->Input(b.Seg(kSyn));
    memp_set_limit(MEMP_TCP_PCB, 0);
    EXPECT_EQ(tcp_tw_pcbs, nullptr);
    ASSERT_NE(tcp_active_pcbs, nullptr);
    EXPECT_EQ(tcp_active_pcbs->remote_port, 40001);
}

TEST_F(TcpTest, SecondListenerOnTheSameInterfaceIsRefused) {
    tcp_pcb* pcb = tcp_new();
    char name[3] = {'h', 'o', '0'};
    EXPECT_EQ(tcp_bind_to_netif(pcb, name), ERR_USE);
    tcp_pcb* v6 = tcp_new_ip6();
    EXPECT_EQ(tcp_bind_to_netif(v6, name), ERR_OK);
    tcp_close(pcb);
    tcp_close(v6);
}

// Every engine start initialises the stack again: whatever the last run left
// (connections in every state, queued data, held fragments) must be freed.
TEST(TcpRestart, StartingAgainReleasesEverythingLeftBehind) {
    for (int run = 0; run < 3; ++run) {
        auto h = std::make_unique<StackHarness>();
        Peer syn_only;
        syn_only.sport = 1;
        h->Input(syn_only.Seg(kSyn));
        Peer est;
        est.sport = 2;
        tcp_pcb* pcb = Connect(*h, est);
        ASSERT_NE(pcb, nullptr);
        std::string big(8000, 'q');
        tcp_write(pcb, big.data(), 8000);
        tcp_output(pcb);
        h->Input(est.SegAt(est.snd_nxt + 10, kAck, "ooo"));
        Peer refused;
        refused.sport = 3;
        Connect(*h, refused);
        h->refuse = true;
        h->Input(refused.Seg(kAck, "stuck"));
        h->refuse = false;
        Peer tw;
        tw.sport = 4;
        tcp_pcb* twp = Connect(*h, tw);
        tcp_close(twp);
        tw.rcv_nxt = twp->snd_nxt;
        h->Input(tw.Seg(kAck | kFin));
        h->Input(craft::Ipv4(craft::Ip4(10, 198, 75, 60), craft::Ip4(10, 198, 75, 61), 1, craft::Bytes(100),
                             5, 0x2000));
        EXPECT_GT(memp_used(MEMP_TCP_PCB), 0u);
        h.reset();  // teardown
        ExpectNothingAllocated();
        EXPECT_EQ(tcp_active_pcbs, nullptr);
        EXPECT_EQ(tcp_tw_pcbs, nullptr);
        EXPECT_EQ(tcp_listen_pcbs, nullptr);
    }
}

}  // namespace
