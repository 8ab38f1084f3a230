// TCP options on the SYN exchange and what they change afterwards: window
// scaling (negotiation, the scaled window both ways, windows past 64 KiB)
// and selective acknowledgements (the blocks we send, the holes we resend).
#include <gtest/gtest.h>

#include "engine/stack/tcp_priv.h"
#include "tests/engine/stack/stack_harness.h"

namespace {

using craft::kAck;
using craft::kSyn;

using TcpOptionsTest = StackTest;

TEST_F(TcpOptionsTest, WindowScaleIsNegotiatedOnlyWhenThePeerOffersIt) {
    struct Case {
        const char* name;
        craft::Bytes syn_options;
        bool scaled;
        uint8_t snd_scale;
    } cases[] = {
        {"offered, shift 7", WindowScaleOption(7), true, 7},
        {"offered, shift 0", WindowScaleOption(0), true, 0},
        {"offered, shift 15 is taken as 14", WindowScaleOption(15), true, 14},
        {"not offered", {}, false, 0},
        {"malformed (length 4)", {3, 4, 7, 0}, false, 0},
    };
    uint16_t port = 43000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Peer peer;
        peer.sport = port++;
        craft::Bytes syn = MssOption(1460);
        syn.insert(syn.end(), c.syn_options.begin(), c.syn_options.end());
        h->Input(peer.Seg(kSyn, "", 65535, syn));
        auto out = h->Take();
        ASSERT_EQ(out.size(), 1u);
        ASSERT_EQ(out[0].flags, kSyn | kAck);
        EXPECT_TRUE(out[0].l4_checksum_ok);
        EXPECT_EQ(out[0].MssOption(), 1460);
        craft::Bytes ws = FindOption(out[0].options, 3);
        if (c.scaled) {
            ASSERT_EQ(ws.size(), 3u);
            EXPECT_EQ(ws[2], TCP_RCV_SCALE);
            // The SYN-ACK's own window is never scaled.
            EXPECT_EQ(out[0].wnd, 0xffff);
        } else {
            EXPECT_TRUE(ws.empty());
            EXPECT_EQ(out[0].wnd, TCP_WND);
        }
        peer.rcv_nxt = out[0].seq + 1;
        h->Input(peer.Seg(kAck, "", 1000));
        ASSERT_FALSE(h->accepted.empty());
        tcp_pcb* pcb = h->accepted.back();
        EXPECT_EQ(pcb->snd_scale, c.snd_scale);
        EXPECT_EQ(pcb->rcv_scale, c.scaled ? TCP_RCV_SCALE : 0);
        EXPECT_EQ(pcb->rcv_wnd_max, c.scaled ? TCP_WND_SCALED : TCP_WND);
        EXPECT_EQ(tcp_sndbuf(pcb), c.scaled ? TCP_SND_BUF_SCALED : TCP_SND_BUF);
        // The handshake's last ACK already carries a scaled window.
        EXPECT_EQ(pcb->snd_wnd, uint32_t(1000) << c.snd_scale);
        tcp_abort(pcb);
        h->Take();
    }
}

TEST_F(TcpOptionsTest, ScaledWindowsAtTheirEdges) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer, 1460, WindowScaleOption(14));
    ASSERT_NE(pcb, nullptr);
    // The largest window a peer can announce.
    h->Input(peer.Seg(kAck, "a", 0xffff));
    EXPECT_EQ(pcb->snd_wnd, uint32_t(0xffff) << 14);
    h->Input(peer.Seg(kAck, "b", 1));
    EXPECT_EQ(pcb->snd_wnd, 1u << 14);
    h->Input(peer.Seg(kAck, "c", 0));
    EXPECT_EQ(pcb->snd_wnd, 0u);
    h->Tick();
    auto out = h->Take();
    ASSERT_FALSE(out.empty());
    out = {out.back()};
    // Three bytes taken by the application and given back: the whole window,
    // scaled down exactly.
    EXPECT_EQ(out[0].wnd, TCP_WND_SCALED >> TCP_RCV_SCALE);

    // Held bytes that are no multiple of the scale: the field rounds up, so
    // the announced edge never moves back.
    h->consume = false;
    uint32_t edge = out[0].ack + (uint32_t(out[0].wnd) << TCP_RCV_SCALE);
    for (int n : {1, 5, 7, 8, 13}) {
        h->Input(peer.Seg(kAck, std::string(size_t(n), 'x')));
        h->Tick();
        out = h->Take();
        ASSERT_FALSE(out.empty()) << n;
        out = {out.back()};
        uint32_t new_edge = out[0].ack + (uint32_t(out[0].wnd) << TCP_RCV_SCALE);
        EXPECT_FALSE(TCP_SEQ_LT(new_edge, edge)) << n;
        // Beyond the window by less than a segment: the peer cannot overrun it.
        EXPECT_LT(new_edge - (out[0].ack + pcb->rcv_wnd), 1460u) << n;
        edge = new_edge;
    }
}

TEST_F(TcpOptionsTest, ScaledReceiveWindowHoldsMoreThan64KiB) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer, 1460, WindowScaleOption(7));
    ASSERT_NE(pcb, nullptr);
    h->consume = false;  // the application reads nothing yet
    const std::string seg(1460, 'w');
    size_t sent = 0;
    while (sent + seg.size() <= TCP_WND_SCALED) {
        h->Input(peer.Seg(kAck, seg));
        sent += seg.size();
    }
    h->Input(peer.Seg(kAck, std::string(TCP_WND_SCALED - sent, 'e')));
    EXPECT_EQ(h->received.size(), size_t(TCP_WND_SCALED));
    EXPECT_EQ(pcb->rcv_wnd, 0u);
    h->Tick();
    auto out = h->Take();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back().wnd, 0);
    EXPECT_EQ(out.back().ack, peer.snd_nxt);
    // Nothing beyond the window is taken.
    h->Input(peer.Seg(kAck, "over"));
    EXPECT_EQ(h->received.size(), size_t(TCP_WND_SCALED));
    peer.snd_nxt -= 4;
    h->Take();
    // The application catches up: one update opens the whole window again.
    tcp_recved(pcb, TCP_WND_SCALED);
    out = h->Take();
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(uint32_t(out[0].wnd) << TCP_RCV_SCALE, TCP_WND_SCALED);
}

TEST_F(TcpOptionsTest, SendingFillsAScaledWindowPast64KiB) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer, 1460, WindowScaleOption(7));
    ASSERT_NE(pcb, nullptr);
    h->Input(peer.Seg(kAck, "", 4096));  // 512 KiB
    pcb->cwnd = TCP_SND_BUF_SCALED;      // past slow start
    const std::string chunk(0xffff, 'd');
    uint32_t written = 0;
    while (tcp_sndbuf(pcb) > 0) {
        uint32_t n = tcp_sndbuf(pcb) < chunk.size() ? tcp_sndbuf(pcb) : uint32_t(chunk.size());
        ASSERT_EQ(tcp_write(pcb, chunk.data(), uint16_t(n)), ERR_OK);
        written += n;
    }
    EXPECT_EQ(written, TCP_SND_BUF_SCALED);
    tcp_output(pcb);
    size_t bytes = 0;
    for (const auto& p : h->Take()) bytes += p.payload.size();
    EXPECT_EQ(bytes, TCP_SND_BUF_SCALED);
    // One acknowledgement of all of it reaches the application in full.
    peer.rcv_nxt += TCP_SND_BUF_SCALED;
    h->Input(peer.Seg(kAck, "", 4096));
    EXPECT_EQ(h->sent_bytes, TCP_SND_BUF_SCALED);
    EXPECT_EQ(tcp_sndbuf(pcb), TCP_SND_BUF_SCALED);
}

// More than one chain can hold (64 KiB) waits behind a hole; once the hole
// is filled all of it reaches the application in order, also when the
// application refuses a chain in between.
TEST_F(TcpOptionsTest, OutOfOrderDataPast64KiBIsDeliveredWholeOnceTheHoleFills) {
    for (bool refuse_first : {false, true}) {
        SCOPED_TRACE(refuse_first ? "a chain refused" : "all taken");
        h->received.clear();
        Peer peer;
        peer.sport = refuse_first ? 44001 : 44000;
        tcp_pcb* pcb = Connect(*h, peer, 1460, WindowScaleOption(7));
        ASSERT_NE(pcb, nullptr);
        std::string all;
        for (int i = 0; i < 120; ++i) all += std::string(1460, char('a' + i % 26));
        uint32_t base = peer.snd_nxt;
        for (int i = 1; i < 120; ++i) {
            h->Input(peer.SegAt(base + uint32_t(i) * 1460, kAck, all.substr(size_t(i) * 1460, 1460)));
        }
        EXPECT_TRUE(h->received.empty());
        h->refuse = refuse_first;
        h->Input(peer.SegAt(base, kAck, all.substr(0, 1460)));
        if (refuse_first) {
            EXPECT_TRUE(h->received.empty());
            h->refuse = false;
            for (int i = 0; i < 8 && h->received.size() < all.size(); ++i) h->Tick();
        }
        EXPECT_EQ(h->received.size(), all.size());
        EXPECT_TRUE(h->received == all);
        EXPECT_EQ(pcb->rcv_nxt, base + uint32_t(all.size()));
        EXPECT_EQ(pcb->ooseq, nullptr);
        // The acknowledgement covers it all.
        h->Tick(2);
        auto out = h->Take();
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.back().ack, base + uint32_t(all.size()));
        tcp_abort(pcb);
        h->Take();
    }
}

// ---- selective acknowledgements ------------------------------------------------------

craft::Bytes Cat(craft::Bytes a, const craft::Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A SACK option with the given blocks (left, right), two NOPs in front.
craft::Bytes SackOption(const std::vector<std::pair<uint32_t, uint32_t>>& blocks) {
    craft::Bytes o = {1, 1, 5, uint8_t(2 + 8 * blocks.size())};
    for (auto [l, r] : blocks) {
        for (uint32_t v : {l, r}) {
            for (int sh = 24; sh >= 0; sh -= 8) o.push_back(uint8_t(v >> sh));
        }
    }
    return o;
}

std::vector<std::pair<uint32_t, uint32_t>> SackBlocksOf(const craft::Packet& p) {
    std::vector<std::pair<uint32_t, uint32_t>> blocks;
    craft::Bytes o = FindOption(p.options, 5);
    for (size_t i = 2; i + 8 <= o.size(); i += 8) {
        auto get = [&](size_t at) {
            return (uint32_t(o[at]) << 24) | (uint32_t(o[at + 1]) << 16) | (uint32_t(o[at + 2]) << 8) |
                   o[at + 3];
        };
        blocks.emplace_back(get(i), get(i + 4));
    }
    return blocks;
}

TEST_F(TcpOptionsTest, SackIsPermittedOnlyWhenThePeerOffersIt) {
    for (bool offered : {true, false}) {
        SCOPED_TRACE(offered ? "offered" : "not offered");
        Peer peer;
        peer.sport = offered ? 45000 : 45001;
        h->Input(peer.Seg(kSyn, "", 65535,
                          offered ? Cat(MssOption(1460), SackPermittedOption()) : MssOption(1460)));
        auto out = h->Take();
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(FindOption(out[0].options, 4).size(), offered ? 2u : 0u);
        peer.rcv_nxt = out[0].seq + 1;
        h->Input(peer.Seg(kAck));
        ASSERT_FALSE(h->accepted.empty());
        EXPECT_EQ(h->accepted.back()->sack_ok, offered ? 1 : 0);
        // Out-of-order data: blocks only towards a peer that permitted them.
        h->Input(peer.SegAt(peer.snd_nxt + 1000, kAck, std::string(500, 'o')));
        out = h->Take();
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(SackBlocksOf(out[0]).size(), offered ? 1u : 0u);
        tcp_abort(h->accepted.back());
        h->Take();
    }
}

// Holes in what the application's kernel sent: every duplicate
// acknowledgement names the queued runs, the newest arrival's first, then
// the rest from the highest down, as many as the option space holds.
TEST_F(TcpOptionsTest, SackBlocksDescribeTheOutOfOrderQueue) {
    Peer peer;
    tcp_pcb* pcb = Connect(*h, peer, 1460, Cat(WindowScaleOption(7), SackPermittedOption()));
    ASSERT_NE(pcb, nullptr);
    h->Take();
    const uint32_t base = peer.snd_nxt;
    auto seg = [&](int i) { return std::make_pair(base + uint32_t(i) * 100, base + uint32_t(i + 1) * 100); };
    using Blocks = std::vector<std::pair<uint32_t, uint32_t>>;
    struct Step {
        int segment;
        Blocks expect;
    } steps[] = {
        {1, {seg(1)}},
        {5, {seg(5), seg(1)}},
        {3, {seg(3), seg(5), seg(1)}},
        {7, {seg(7), seg(5), seg(3), seg(1)}},
        {9, {seg(9), seg(7), seg(5), seg(3)}},  // four at most: the lowest is left out
        {2, {{seg(1).first, seg(3).second}, seg(9), seg(7), seg(5)}},
    };
    for (const Step& st : steps) {
        SCOPED_TRACE(st.segment);
        h->Input(peer.SegAt(seg(st.segment).first, kAck, std::string(100, char('0' + st.segment))));
        auto out = h->Take();
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].ack, base);
        EXPECT_TRUE(out[0].l4_checksum_ok);
        EXPECT_EQ(SackBlocksOf(out[0]), st.expect);
    }
    // The hole fills: everything up to the next hole is acknowledged, the
    // blocks above it remain.
    h->Input(peer.SegAt(base, kAck, std::string(100, '0')));
    auto out = h->Take();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back().ack, seg(4).first);
    EXPECT_EQ(SackBlocksOf(out.back()), (Blocks{seg(9), seg(7), seg(5)}));
    tcp_abort(pcb);
}

// A connection with scaling and SACK on which `segments` full segments are
// in flight at once; nullptr when they did not all leave.
tcp_pcb* ConnectAndSend(StackHarness& h, Peer& peer, int segments) {
    tcp_pcb* pcb = Connect(h, peer, 1460, Cat(WindowScaleOption(7), SackPermittedOption()));
    if (pcb == nullptr) return nullptr;
    pcb->cwnd = 20 * 1460;
    const std::string data(1460, 's');
    for (int i = 0; i < segments; ++i) {
        if (tcp_write(pcb, data.data(), 1460) != ERR_OK) return nullptr;
    }
    tcp_output(pcb);
    return h.Take().size() == size_t(segments) ? pcb : nullptr;
}

// The engine sends ten segments; the application's kernel holds all but
// the first and the fourth and says so: exactly those two go again, and no
// others, until everything is acknowledged.
TEST_F(TcpOptionsTest, SenderResendsExactlyTheHolesTheSackNames) {
    Peer peer;
    tcp_pcb* pcb = ConnectAndSend(*h, peer, 10);
    ASSERT_NE(pcb, nullptr);
    const uint32_t base = pcb->lastack;
    auto at = [&](int i) { return base + uint32_t(i) * 1460; };

    h->Input(peer.Seg(kAck, "", 4096, SackOption({{at(1), at(3)}})));
    EXPECT_TRUE(h->Take().empty());  // not yet enough evidence of a loss
    h->Input(peer.Seg(kAck, "", 4096, SackOption({{at(4), at(10)}, {at(1), at(3)}})));
    auto resent = h->Take();
    ASSERT_EQ(resent.size(), 2u);
    EXPECT_EQ(resent[0].seq, at(0));
    EXPECT_EQ(resent[1].seq, at(3));
    for (const auto& p : resent) EXPECT_EQ(p.payload.size(), 1460u);
    EXPECT_TRUE(pcb->flags & TF_INFR);
    // More duplicates with the same news send nothing again.
    h->Input(peer.Seg(kAck, "", 4096, SackOption({{at(4), at(10)}, {at(1), at(3)}})));
    EXPECT_TRUE(h->Take().empty());
    // The first hole arrives: a partial acknowledgement, recovery goes on.
    peer.rcv_nxt = at(3);
    h->Input(peer.Seg(kAck, "", 4096, SackOption({{at(4), at(10)}})));
    EXPECT_TRUE(h->Take().empty());
    EXPECT_TRUE(pcb->flags & TF_INFR);
    peer.rcv_nxt = at(10);
    h->Input(peer.Seg(kAck, "", 4096));
    EXPECT_FALSE(pcb->flags & TF_INFR);
    EXPECT_EQ(pcb->unacked, nullptr);
    EXPECT_EQ(h->sent_bytes, 10u * 1460);
    h->Advance(2000);
    EXPECT_TRUE(h->Take().empty());
}

// A burst lost at the end of a flight: the tail probe's segment is the only
// one the peer reports holding. Every hole below it is lost, and goes again.
TEST_F(TcpOptionsTest, HeldTailSegmentMarksEveryHoleBelowItLost) {
    Peer peer;
    tcp_pcb* pcb = ConnectAndSend(*h, peer, 6);
    ASSERT_NE(pcb, nullptr);
    const uint32_t base = pcb->lastack;
    peer.rcv_nxt = base + 1460;  // the first segment arrived, then a burst was lost
    h->Input(peer.Seg(kAck, "", 4096));
    h->Take();
    // More data waits for room in the window: the tail is the last segment sent.
    pcb->cwnd = 5 * 1460;
    ASSERT_EQ(tcp_write(pcb, std::string(1460, 'm').data(), 1460), ERR_OK);
    tcp_output(pcb);
    EXPECT_TRUE(h->Take().empty());
    ASSERT_NE(pcb->unsent, nullptr);
    std::vector<craft::Packet> out;
    for (int i = 0; i < 100 && out.empty(); ++i) {
        h->Advance(TCP_REXMIT_INTERVAL);
        out = h->Take();
    }
    ASSERT_EQ(out.size(), 1u);  // the tail probe
    EXPECT_EQ(out[0].seq, base + 5 * 1460);
    const craft::Bytes tail = SackOption({{base + 5 * 1460, base + 6 * 1460}});
    h->Input(peer.Seg(kAck, "", 4096, tail));
    // As many as the halved window lets go; each acknowledgement lets more.
    auto resent = h->Take();
    ASSERT_EQ(resent.size(), 2u);
    EXPECT_EQ(resent[0].seq, base + 1460);
    EXPECT_EQ(resent[1].seq, base + 2 * 1460);
    peer.rcv_nxt = base + 3 * 1460;
    h->Input(peer.Seg(kAck, "", 4096, tail));
    resent = h->Take();
    ASSERT_EQ(resent.size(), 2u);
    EXPECT_EQ(resent[0].seq, base + 3 * 1460);
    EXPECT_EQ(resent[1].seq, base + 4 * 1460);
    peer.rcv_nxt = base + 6 * 1460;
    h->Input(peer.Seg(kAck, "", 4096));
    EXPECT_FALSE(pcb->flags & TF_INFR);
    // Recovery over, the waiting data leaves.
    auto rest = h->Take();
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].seq, base + 6 * 1460);
    peer.rcv_nxt = base + 7 * 1460;
    h->Input(peer.Seg(kAck, "", 4096));
    EXPECT_EQ(pcb->unacked, nullptr);
}

// The resent holes are lost as well and the peer falls silent: the
// retransmission timeout takes over and sends from the first hole on,
// forgetting what the peer said it held.
TEST_F(TcpOptionsTest, LostRetransmissionsFallBackToTheTimeout) {
    Peer peer;
    tcp_pcb* pcb = ConnectAndSend(*h, peer, 6);
    ASSERT_NE(pcb, nullptr);
    const uint32_t base = pcb->lastack;
    h->Input(peer.Seg(kAck, "", 4096, SackOption({{base + 1460, base + 6 * 1460}})));
    auto resent = h->Take();
    ASSERT_EQ(resent.size(), 1u);
    EXPECT_EQ(resent[0].seq, base);
    uint32_t waited = 0;
    std::vector<craft::Packet> out;
    while (out.empty() && waited < 5000) {
        h->Advance(TCP_REXMIT_INTERVAL);
        waited += TCP_REXMIT_INTERVAL;
        out = h->Take();
    }
    ASSERT_FALSE(out.empty());
    EXPECT_GE(waited, uint32_t(TCP_RTO_MIN_MS));
    EXPECT_EQ(out[0].seq, base);
    EXPECT_FALSE(pcb->flags & TF_INFR);
    for (tcp_seg* s = pcb->unsent; s != nullptr; s = s->next) EXPECT_FALSE(s->flags & TF_SEG_SACKED);
    for (tcp_seg* s = pcb->unacked; s != nullptr; s = s->next) EXPECT_FALSE(s->flags & TF_SEG_SACKED);
    // The peer now acknowledges everything: the connection goes on.
    peer.rcv_nxt = base + 6 * 1460;
    h->Input(peer.Seg(kAck, "", 4096));
    EXPECT_EQ(pcb->unacked, nullptr);
    EXPECT_EQ(pcb->unsent, nullptr);
}

}  // namespace
