// Connections whose peer is gone still end: keepalive on an idle connection,
// and a limit on unanswered zero-window probes.
#include <gtest/gtest.h>

#include "engine/stack/tcp_priv.h"
#include "tests/engine/stack/stack_harness.h"

namespace {

using craft::kAck;
using craft::kRst;

using TcpLivenessTest = StackTest;

// Slow ticks (500 ms) until the stack sends something or the block is gone;
// 0 when neither happened within `limit`.
int SlowTicksUntilOutput(StackHarness& h, int limit, std::vector<craft::Packet>* out) {
    for (int slow = 1; slow <= limit; ++slow) {
        h.Tick(2);
        *out = h.Take();
        if (!out->empty() || !h.errors.empty()) return slow;
    }
    return 0;
}

TEST_F(TcpLivenessTest, KeepaliveProbesAnIdleConnectionAndEndsItWhenUnanswered) {
    enum Answer { kAcknowledge, kReset, kSilence };
    struct Case {
        const char* name;
        Answer answer;
    } cases[] = {{"peer alive", kAcknowledge}, {"peer resets", kReset}, {"peer gone", kSilence}};
    const int idle_ticks = TCP_KEEPIDLE_DEFAULT / TCP_SLOW_INTERVAL;
    const int intvl_ticks = TCP_KEEPINTVL_DEFAULT / TCP_SLOW_INTERVAL;
    uint16_t port = 41000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        h->errors.clear();
        Peer peer;
        peer.sport = port++;
        tcp_pcb* pcb = Connect(*h, peer);
        ASSERT_NE(pcb, nullptr);
        pcb->so_options |= SOF_KEEPALIVE;  // as the engine sets it on every accepted block
        h->Take();

        std::vector<craft::Packet> out;
        int at = SlowTicksUntilOutput(*h, 2 * idle_ticks, &out);
        // Silence for the idle time, then one probe: the sequence before the
        // next byte, so the peer must answer it.
        EXPECT_GE(at, idle_ticks);
        EXPECT_LE(at, idle_ticks + 2);
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].seq, pcb->snd_nxt - 1);
        EXPECT_EQ(out[0].flags, kAck);
        EXPECT_TRUE(out[0].payload.empty());

        if (c.answer == kAcknowledge) {
            h->Input(peer.Seg(kAck));
            // The next probe comes only after a whole idle time again.
            at = SlowTicksUntilOutput(*h, 2 * idle_ticks, &out);
            EXPECT_GE(at, idle_ticks - 1);
            EXPECT_TRUE(h->errors.empty());
            ASSERT_EQ(out.size(), 1u);
            h->Input(peer.Seg(kAck));
            tcp_abort(pcb);
            continue;
        }
        if (c.answer == kReset) {
            h->Input(peer.SegAt(out[0].ack, kRst));
            EXPECT_EQ(h->errors, std::vector<err_t>{ERR_RST});
            continue;
        }
        // Unanswered: a probe every interval, then a reset and the error.
        int probes = 1;
        for (;;) {
            at = SlowTicksUntilOutput(*h, 2 * intvl_ticks, &out);
            ASSERT_GT(at, 0);
            EXPECT_GE(at, intvl_ticks - 1);
            EXPECT_LE(at, intvl_ticks + 1);
            if (!h->errors.empty()) break;
            ASSERT_EQ(out.size(), 1u);
            EXPECT_TRUE(out[0].payload.empty());
            ++probes;
        }
        EXPECT_EQ(probes, int(TCP_KEEPCNT_DEFAULT));
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].flags & kRst, kRst);
        EXPECT_EQ(h->errors, std::vector<err_t>{ERR_ABRT});
    }
    EXPECT_EQ(tcp_active_pcbs, nullptr);
}

TEST_F(TcpLivenessTest, BlockWithoutKeepaliveStaysIdleForever) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    h->Take();
    h->Tick(4 * TCP_KEEPIDLE_DEFAULT / TCP_SLOW_INTERVAL);
    EXPECT_TRUE(h->Take().empty());
    EXPECT_TRUE(h->errors.empty());
    tcp_abort(pcb);
}

// A peer that shows a zero window gets probes for as long as it answers them;
// once it stops answering, the connection ends after the retransmission limit.
TEST_F(TcpLivenessTest, UnansweredZeroWindowProbesEndTheConnection) {
    for (bool answered : {true, false}) {
        SCOPED_TRACE(answered ? "probes answered" : "probes unanswered");
        h->errors.clear();
        Peer peer;
        peer.sport = answered ? 42000 : 42001;
        tcp_pcb* pcb = Connect(*h, peer);
        ASSERT_NE(pcb, nullptr);
        h->Input(peer.Seg(kAck, "z"));
        h->Input(peer.Seg(kAck, "", 0));  // the reader stopped: its window is closed
        h->Take();
        ASSERT_EQ(tcp_write(pcb, "stuck", 5), ERR_OK);
        tcp_output(pcb);
        EXPECT_TRUE(h->Take().empty());

        int probes = 0;
        for (int slow = 0; slow < 4000 && h->errors.empty(); ++slow) {
            h->Tick(2);
            for (const auto& p : h->Take()) {
                if ((p.flags & kRst) || p.payload.empty()) continue;  // the reset, a delayed ACK
                ASSERT_EQ(p.payload.size(), 1u);
                ++probes;
                if (answered) h->Input(peer.Seg(kAck, "", 0));
            }
            if (answered && probes > 2 * TCP_MAXRTX) break;
        }
        if (answered) {
            EXPECT_TRUE(h->errors.empty());
            EXPECT_GT(probes, 2 * TCP_MAXRTX);
            tcp_abort(pcb);
        } else {
            EXPECT_EQ(probes, TCP_MAXRTX);
            EXPECT_EQ(h->errors, std::vector<err_t>{ERR_ABRT});
        }
    }
    EXPECT_EQ(tcp_active_pcbs, nullptr);
}

TEST_F(TcpLivenessTest, ProbeIntervalsStopGrowingAtTheTunedMaximum) {
    struct Restore {
        ~Restore() { tcp_tuning = tcp_timer_tuning{}; }
    } restore;
    tcp_tuning.persist_max_ticks = 2;
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer);
    ASSERT_NE(pcb, nullptr);
    h->Input(peer.Seg(kAck, "z"));
    h->Input(peer.Seg(kAck, "", 0));
    h->Take();
    ASSERT_EQ(tcp_write(pcb, "x", 1), ERR_OK);
    tcp_output(pcb);
    std::vector<int> at;
    for (int slow = 1; slow <= 40 && h->errors.empty(); ++slow) {
        h->Tick(2);
        for (const auto& p : h->Take()) {
            if (!(p.flags & kRst) && !p.payload.empty()) at.push_back(slow);
        }
    }
    ASSERT_EQ(at.size(), size_t(TCP_MAXRTX));
    for (size_t i = 1; i < at.size(); ++i) EXPECT_EQ(at[i] - at[i - 1], 2) << i;
    EXPECT_EQ(h->errors, std::vector<err_t>{ERR_ABRT});
}

}  // namespace
