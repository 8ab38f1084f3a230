// The TCP/IP stack alone, in-process: bulk TCP transfer against a scripted
// peer in each direction, and packets per second of the input path for small
// segments. The peer costs a little too (it builds and reads packets).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "engine/stack/init.h"
#include "engine/stack/ip4.h"
#include "engine/stack/netif.h"
#include "engine/stack/tcp.h"
#include "tests/support/packet_craft.h"
#include "tests/support/stack_netif.h"

namespace {

using craft::Bytes;

constexpr uint32_t kPeer = craft::Ip4(10, 198, 75, 60);
constexpr uint32_t kDst = craft::Ip4(203, 0, 113, 9);

// What the stack's output says to the peer.
struct Seen {
    uint32_t ack = 0;
    uint16_t wnd = 0;
    uint32_t next = 0;  // sequence just after the last byte (or SYN/FIN) sent
    bool any = false;
};

struct Bench {
    netif nif{};
    tcp_pcb* pcb = nullptr;
    Seen seen;
    uint32_t peer_seq = 1000;
    std::string payload;
    size_t app_received = 0;

    static Bench* self;

    static err_t Output(netif*, pbuf* p, const ip4_addr_t*) {
        uint8_t h[40];
        if (pbuf_copy_partial(p, h, 40, 0) != 40) return ERR_OK;
        Bytes v(h, h + 40);
        size_t hl = size_t(v[0] & 15) * 4;
        uint32_t seq = craft::Get32(v, hl + 4);
        uint32_t len = uint32_t(p->tot_len - hl - size_t(v[hl + 12] >> 4) * 4);
        uint32_t end = seq + len + ((v[hl + 13] & (craft::kSyn | craft::kFin)) ? 1 : 0);
        Seen& s = self->seen;
        s.ack = craft::Get32(v, hl + 8);
        s.wnd = craft::Get16(v, hl + 14);
        if (!s.any || int32_t(end - s.next) > 0) s.next = end;
        s.any = true;
        return ERR_OK;
    }
    static err_t OnRecv(void*, tcp_pcb* pcb, pbuf* p, err_t) {
        if (p == nullptr) return ERR_OK;
        self->app_received += p->tot_len;
        tcp_recved(pcb, p->tot_len);
        pbuf_free(p);
        return ERR_OK;
    }
    static err_t OnAccept(void*, tcp_pcb* pcb, err_t) {
        self->pcb = pcb;
        tcp_recv(pcb, OnRecv);
        return ERR_OK;
    }

    Bench() {
        self = this;
        stacktest::InterfaceUp(&nif, nullptr, Output);
        StackNetif_Listen(&nif, 0, OnAccept, nullptr);
        Feed(Seg(craft::kSyn, 0, {2, 4, 0x05, 0xb4}));
        peer_seq += 1;
        Feed(Seg(craft::kAck, 0));
    }
    ~Bench() { lwip_deinit(); }

    Bytes Seg(uint8_t flags, size_t len, Bytes options = {}) {
        craft::TcpFields f;
        f.sport = 40000;
        f.dport = 80;
        f.seq = peer_seq;
        f.ack = (flags & craft::kAck) ? seen.next : 0;
        f.flags = flags;
        f.wnd = 65535;
        f.options = std::move(options);
        f.payload.assign(payload.begin(), payload.begin() + len);
        return craft::Tcp4(kPeer, kDst, f);
    }
    void Feed(const Bytes& b) {
        pbuf* p = pbuf_alloc(PBUF_RAW, uint16_t(b.size()), PBUF_POOL);
        pbuf_take(p, b.data(), uint16_t(b.size()));
        nif.input(p, &nif);
    }
};
Bench* Bench::self = nullptr;

}  // namespace

// Peer to stack: the peer sends full segments as fast as the stack's window
// allows. The segments are built before the timed part; the stack sends no
// data, so the peer's acknowledgement number never changes.
static void BM_BulkPeerToStack(benchmark::State& state) {
    Bench b;
    b.payload.assign(1460, 'x');
    if (b.pcb == nullptr) {
        state.SkipWithError("no connection");
        return;
    }
    const size_t segs = 718;  // about 1 MiB
    std::vector<Bytes> pkts;
    for (auto _ : state) {
        state.PauseTiming();
        pkts.clear();
        uint32_t first = b.peer_seq;
        for (size_t i = 0; i < segs; ++i) {
            pkts.push_back(b.Seg(craft::kAck, 1460));
            b.peer_seq += 1460;
        }
        state.ResumeTiming();
        size_t next = 0;
        while (next < segs) {
            uint32_t right = b.seen.ack + b.seen.wnd;
            int sent = 0;
            while (next < segs && int32_t(right - (first + uint32_t(next + 1) * 1460)) >= 0) {
                b.Feed(pkts[next++]);
                ++sent;
            }
            if (sent == 0) tcp_tmr();  // let a delayed acknowledgement out
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(segs * 1460));
}
BENCHMARK(BM_BulkPeerToStack)->Unit(benchmark::kMillisecond);

// Stack to peer: the application writes as much as the send buffer takes; the
// peer acknowledges every segment at once.
static void BM_BulkStackToPeer(benchmark::State& state) {
    Bench b;
    if (b.pcb == nullptr) {
        state.SkipWithError("no connection");
        return;
    }
    std::string data(0xffff, 'y');  // as much as one write may take
    const size_t chunk = 1 << 20;
    for (auto _ : state) {
        size_t written = 0;
        while (written < chunk) {
            size_t n = std::min<size_t>({tcp_sndbuf(b.pcb), 0xffff, chunk - written});
            if (n > 0) {
                if (tcp_write(b.pcb, data.data(), uint16_t(n)) == ERR_OK) written += n;
                tcp_output(b.pcb);
            }
            b.Feed(b.Seg(craft::kAck, 0));
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(chunk));
}
BENCHMARK(BM_BulkStackToPeer)->Unit(benchmark::kMillisecond);

// Small in-order data segments through the whole input path.
static void BM_InputSmallSegments(benchmark::State& state) {
    Bench b;
    b.payload.assign(64, 's');
    if (b.pcb == nullptr) {
        state.SkipWithError("no connection");
        return;
    }
    const int batch = 1000;
    std::vector<Bytes> pkts;
    for (auto _ : state) {
        state.PauseTiming();
        pkts.clear();
        for (int i = 0; i < batch; ++i) {
            pkts.push_back(b.Seg(craft::kAck, 64));
            b.peer_seq += 64;
        }
        state.ResumeTiming();
        for (const auto& p : pkts) b.Feed(p);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * batch);
}
BENCHMARK(BM_InputSmallSegments)->Unit(benchmark::kMicrosecond);
