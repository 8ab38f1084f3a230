// TCP under loss and reuse: timeouts from the measured round trip, the tail
// probe for a lost final acknowledgement, a port reused while its old
// connection is in TIME_WAIT, and segments the kernel joined from several.
#include <gtest/gtest.h>

#include "engine/stack/memp.h"
#include "engine/stack/tcp_priv.h"
#include "tests/engine/stack/stack_harness.h"

namespace {

using craft::kAck;
using craft::kFin;
using craft::kRst;
using craft::kSyn;

using TcpRecoveryTest = StackTest;

// Writes `segments` full segments and sends them; returns what left.
std::vector<craft::Packet> SendSegments(StackHarness& h, tcp_pcb* pcb, int segments) {
    std::string seg(1460, 's');
    for (int i = 0; i < segments; ++i) EXPECT_EQ(tcp_write(pcb, seg.data(), 1460), ERR_OK);
    EXPECT_EQ(tcp_output(pcb), ERR_OK);
    return h.Take();
}

// Advances the clock in the engine's steps until the stack sends something;
// returns how long that took (0: nothing within `limit` ms).
uint32_t MsUntilOutput(StackHarness& h, uint32_t limit, std::vector<craft::Packet>* out) {
    uint32_t start = StackHarness::Now();
    while (StackHarness::Now() - start < limit) {
        h.Advance(TCP_REXMIT_INTERVAL);
        *out = h.Take();
        if (!out->empty()) return StackHarness::Now() - start;
    }
    return 0;
}

TEST_F(TcpRecoveryTest, LostFinalAcknowledgementIsRecoveredByATailProbe) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    auto flight = SendSegments(*h, pcb, 2);
    ASSERT_EQ(flight.size(), 2u);
    // The peer got everything; its acknowledgement is lost.
    std::vector<craft::Packet> out;
    uint32_t ms = MsUntilOutput(*h, 5000, &out);
    ASSERT_GT(ms, 0u);
    EXPECT_LE(ms, uint32_t(TCP_TLP_MIN_MS + TCP_REXMIT_INTERVAL));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].seq, flight[1].seq);  // the last segment, once
    EXPECT_EQ(out[0].payload.size(), 1460u);
    EXPECT_TRUE(out[0].l4_checksum_ok);

    // Its copy draws the acknowledgement of both: nothing more is sent.
    peer.rcv_nxt = flight[1].seq + 1460;
    h->Input(peer.Seg(kAck));
    EXPECT_EQ(pcb->unacked, nullptr);
    EXPECT_EQ(pcb->rtx_on, 0);
    h->Advance(1000);
    EXPECT_TRUE(h->Take().empty());
    EXPECT_EQ(pcb->nrtx, 0);
}

TEST_F(TcpRecoveryTest, TimeoutComesFromTheMeasuredRoundTripWithAFloor) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    // The handshake measured a round trip of 0 ms: the floor holds.
    EXPECT_EQ(pcb->rto, TCP_RTO_MIN_MS);

    // One segment lost for good: no probe for a single segment (the peer may
    // delay its acknowledgement), the timeout resends it after the floor.
    auto flight = SendSegments(*h, pcb, 1);
    ASSERT_EQ(flight.size(), 1u);
    std::vector<craft::Packet> out;
    uint32_t ms = MsUntilOutput(*h, 5000, &out);
    EXPECT_GE(ms, uint32_t(TCP_RTO_MIN_MS));
    EXPECT_LE(ms, uint32_t(TCP_RTO_MIN_MS + TCP_REXMIT_INTERVAL));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].seq, flight[0].seq);
    // Backed off: the next one takes twice as long.
    ms = MsUntilOutput(*h, 5000, &out);
    EXPECT_GE(ms, uint32_t(2 * TCP_RTO_MIN_MS));
    EXPECT_LE(ms, uint32_t(2 * TCP_RTO_MIN_MS + TCP_REXMIT_INTERVAL));
    peer.rcv_nxt = flight[0].seq + 1460;
    h->Input(peer.Seg(kAck));

    // A slow peer: 150 ms round trips raise the timeout above the floor.
    for (int i = 0; i < 4; ++i) {
        auto sent = SendSegments(*h, pcb, 1);
        ASSERT_EQ(sent.size(), 1u);
        h->Advance(150);
        h->Take();
        peer.rcv_nxt = sent[0].seq + 1460;
        h->Input(peer.Seg(kAck));
    }
    EXPECT_GT(pcb->rto, 250);
    EXPECT_LT(pcb->rto, 1500);
}

// The application's kernel closed passively and reuses its port at once
// while the stack still holds the old connection in TIME_WAIT.
TEST_F(TcpRecoveryTest, SynBeyondTheOldConnectionReplacesItsTimeWait) {
    struct Case {
        const char* name;
        int32_t seq_from_old_end;  // the new SYN's sequence number, from the old rcv_nxt
        bool opens;
    };
    const Case cases[] = {
        {"far beyond the old window", 100000000, true},
        {"just beyond the last byte", 1, true},
        {"at the old connection's next byte", 0, false},
        {"inside what was received", -5, false},
    };
    uint16_t port = 50000;
    for (const Case& c : cases) {
        Peer old;
        old.sport = port++;
        tcp_pcb* pcb = Connect(*h, old);
        ASSERT_NE(pcb, nullptr) << c.name;
        h->Input(old.Seg(kAck, "request"));
        // The stack (the server's side) closes first.
        ASSERT_EQ(tcp_close(pcb), ERR_OK);
        auto fin = h->Take();
        ASSERT_FALSE(fin.empty()) << c.name;
        old.rcv_nxt = fin.back().seq + 1;
        h->Input(old.Seg(kAck | kFin));
        ASSERT_EQ(pcb->state, TIME_WAIT) << c.name;
        h->Take();
        // A reset in TIME_WAIT is still ignored.
        h->Input(old.Seg(kRst));
        ASSERT_EQ(tcp_tw_pcbs, pcb) << c.name;

        size_t accepted = h->accepted.size();
        Peer fresh = old;
        fresh.snd_nxt = old.snd_nxt + static_cast<uint32_t>(c.seq_from_old_end);
        h->Input(fresh.Seg(kSyn, "", 65535, MssOption(1460)));
        auto out = h->Take();
        ASSERT_EQ(out.size(), 1u) << c.name;
        if (!c.opens) {
            EXPECT_NE(out[0].flags & kSyn, kSyn) << c.name;
            EXPECT_EQ(tcp_tw_pcbs, pcb) << c.name;
            tcp_abort(pcb);
            continue;
        }
        EXPECT_EQ(out[0].flags, kSyn | kAck) << c.name;
        EXPECT_EQ(out[0].ack, fresh.snd_nxt) << c.name;
        EXPECT_EQ(tcp_tw_pcbs, nullptr) << c.name;
        fresh.rcv_nxt = out[0].seq + 1;
        h->Input(fresh.Seg(kAck, "again"));
        ASSERT_EQ(h->accepted.size(), accepted + 1) << c.name;
        tcp_abort(h->accepted.back());
    }
}

// Thousands of back-to-back connections from one port to one destination,
// each closed by the stack first: every one opens at once.
TEST_F(TcpRecoveryTest, SequentialServerClosedConnectionsFromOnePortAllOpen) {
    Peer peer;
    peer.sport = 41000;
    for (int i = 0; i < 4000; ++i) {
        peer.snd_nxt += 1000000;  // a fresh initial sequence number, further on each time
        tcp_pcb* pcb = Connect(*h, peer);
        ASSERT_NE(pcb, nullptr) << "connection " << i;
        tcp_close(pcb);
        auto fin = h->Take();
        ASSERT_FALSE(fin.empty());
        peer.rcv_nxt = fin.back().seq + 1;
        h->Input(peer.Seg(kAck | kFin));
        h->Take();
    }
    // Only the last one is left, in TIME_WAIT.
    ASSERT_NE(tcp_tw_pcbs, nullptr);
    EXPECT_EQ(tcp_tw_pcbs->next, nullptr);
    EXPECT_EQ(memp_used(MEMP_TCP_PCB), 1u);
}

// A segment the kernel joined from a burst: larger than the MSS, its
// checksum field not filled in.
craft::Bytes JoinedSegment(const Peer& peer, uint32_t seq, const std::string& data) {
    craft::Bytes b = peer.SegAt(seq, kAck, data);
    b[20 + 16] ^= 0x5a;  // the checksum field holds what the kernel left there, not a checksum
    return b;
}

TEST_F(TcpRecoveryTest, JoinedSegmentIsTakenWholeAndAcknowledgedAtOnce) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    std::string data;
    for (int i = 0; i < 30000; ++i) data.push_back(static_cast<char>('a' + i % 26));
    uint32_t base = peer.snd_nxt;

    // Unmarked, the unfilled checksum gets it dropped like any bad segment.
    h->Input(JoinedSegment(peer, base, data));
    EXPECT_EQ(h->received, "");
    EXPECT_TRUE(h->Take().empty());

    h->Input(JoinedSegment(peer, base, data), true);
    EXPECT_EQ(h->received, data);
    EXPECT_EQ(pcb->rcv_nxt, base + 30000);
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);  // one acknowledgement for all of it, not delayed
    EXPECT_EQ(out[0].ack, base + 30000);
    EXPECT_EQ(out[0].payload.size(), 0u);

    // The next one continues the stream in order.
    peer.snd_nxt = base + 30000;
    h->Input(JoinedSegment(peer, peer.snd_nxt, data.substr(0, 20000)), true);
    EXPECT_EQ(h->received, data + data.substr(0, 20000));
    out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].ack, base + 50000);
}

TEST_F(TcpRecoveryTest, JoinedSegmentBeyondTheWindowIsCutAtItsEdge) {
    Peer peer;
    h->consume = false;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    uint32_t base = peer.snd_nxt;
    std::string first(TCP_WND - 3000, 'x');
    h->Input(JoinedSegment(peer, base, first), true);
    ASSERT_EQ(pcb->rcv_wnd, 3000);
    h->Take();

    // 8000 bytes and a FIN into 3000 bytes of window: the first 3000 are
    // taken, the rest and the FIN are not, exactly as for a plain segment.
    peer.snd_nxt = base + static_cast<uint32_t>(first.size());
    craft::Bytes seg = peer.SegAt(peer.snd_nxt, kAck | kFin, std::string(8000, 'y'));
    seg[20 + 16] ^= 0x5a;
    h->Input(seg, true);
    EXPECT_EQ(h->received.size(), size_t(TCP_WND));
    EXPECT_EQ(h->received.substr(first.size()), std::string(3000, 'y'));
    EXPECT_EQ(pcb->rcv_wnd, 0);
    EXPECT_EQ(pcb->rcv_nxt, base + TCP_WND);
    EXPECT_EQ(h->closes, 0);
    EXPECT_EQ(pcb->state, ESTABLISHED);
    auto out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].ack, base + TCP_WND);
    EXPECT_EQ(out[0].wnd, 0);
}

}  // namespace
