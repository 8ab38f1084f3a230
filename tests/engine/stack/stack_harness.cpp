#include "tests/engine/stack/stack_harness.h"

#include "engine/stack/init.h"
#include "engine/stack/memp.h"
#include "tests/support/stack_netif.h"

namespace {

StackHarness* current = nullptr;
uint32_t clock_ms = 1000;

uint32_t FakeClock() {
    return clock_ms;
}

void Capture(pbuf* p) {
    craft::Bytes b(p->tot_len);
    pbuf_copy_partial(p, b.data(), p->tot_len, 0);
    current->out.push_back(std::move(b));
}

err_t Output4(netif*, pbuf* p, const ip4_addr_t*) {
    Capture(p);
    return ERR_OK;
}

err_t Output6(netif*, pbuf* p, const ip6_addr_t*) {
    Capture(p);
    return ERR_OK;
}

err_t OnRecv(void* arg, tcp_pcb* pcb, pbuf* p, err_t) {
    auto* h = static_cast<StackHarness*>(arg);
    if (p == nullptr) {
        ++h->closes;
        if (h->close_on_fin) {
            tcp_recv(pcb, nullptr);
            tcp_sent(pcb, nullptr);
            tcp_err(pcb, nullptr);
            tcp_close(pcb);
            return h->close_result;
        }
        return ERR_OK;
    }
    if (h->refuse) return ERR_MEM;
    std::string s(p->tot_len, '\0');
    pbuf_copy_partial(p, s.data(), p->tot_len, 0);
    h->received += s;
    if (h->consume) tcp_recved(pcb, p->tot_len);
    pbuf_free(p);
    return ERR_OK;
}

err_t OnSent(void* arg, tcp_pcb*, uint32_t len) {
    auto* h = static_cast<StackHarness*>(arg);
    h->sent_bytes += len;
    ++h->sent_calls;
    return ERR_OK;
}

void OnErr(void* arg, err_t err) {
    static_cast<StackHarness*>(arg)->errors.push_back(err);
}

err_t OnAccept(void* arg, tcp_pcb* pcb, err_t) {
    auto* h = static_cast<StackHarness*>(arg);
    h->accepted.push_back(pcb);
    tcp_arg(pcb, h);
    tcp_recv(pcb, OnRecv);
    tcp_sent(pcb, OnSent);
    tcp_err(pcb, OnErr);
    return ERR_OK;
}

}  // namespace

StackHarness::StackHarness(bool listen, bool ipv6) {
    current = this;
    clock_ms = 1000;
    tcp_set_clock(FakeClock);
    stacktest::InterfaceUp(&nif, nullptr, Output4, Output6, ipv6);
    if (listen) listener = StackNetif_Listen(&nif, 0, OnAccept, this);
    if (listen && ipv6) listener6 = StackNetif_Listen(&nif, 1, OnAccept, this);
}

StackHarness::~StackHarness() {
    lwip_deinit();
    tcp_set_clock(nullptr);
    current = nullptr;
}

void StackHarness::Input(const craft::Bytes& packet, bool checksum_trusted) {
    current = this;
    ASSERT_LE(packet.size(), 65535u);
    pbuf* p = pbuf_alloc(PBUF_RAW, static_cast<uint16_t>(packet.size()), PBUF_POOL);
    ASSERT_NE(p, nullptr);
    pbuf_take(p, packet.data(), static_cast<uint16_t>(packet.size()));
    if (checksum_trusted) p->flags |= PBUF_FLAG_CHECKSUM_TRUSTED;
    nif.input(p, &nif);
}

uint32_t StackHarness::Now() {
    return clock_ms;
}

void StackHarness::Advance(uint32_t ms) {
    current = this;
    for (uint32_t done = 0; done < ms; done += TCP_REXMIT_INTERVAL) {
        clock_ms += TCP_REXMIT_INTERVAL;
        tcp_rexmit_tmr();
    }
}

std::vector<craft::Packet> StackHarness::Take() {
    std::vector<craft::Packet> v;
    for (auto& b : out) v.push_back(craft::Parse(b));
    out.clear();
    return v;
}

void StackHarness::Tick(int n) {
    current = this;
    for (int i = 0; i < n; ++i) {
        clock_ms += TCP_FAST_INTERVAL;
        tcp_tmr();
    }
}

craft::Bytes MssOption(uint16_t mss) {
    return {2, 4, uint8_t(mss >> 8), uint8_t(mss)};
}

craft::Bytes Peer::SegAt(uint32_t seq, uint8_t flags, const std::string& data, uint16_t wnd,
                         const craft::Bytes& options) const {
    craft::TcpFields f;
    f.sport = sport;
    f.dport = dport;
    f.seq = seq;
    f.ack = (flags & craft::kAck) ? rcv_nxt : 0;
    f.flags = flags;
    f.wnd = wnd;
    f.options = options;
    f.payload.assign(data.begin(), data.end());
    return v6 ? craft::Tcp6(ip6, dst6, f) : craft::Tcp4(ip, dst, f);
}

craft::Bytes Peer::Seg(uint8_t flags, const std::string& data, uint16_t wnd, const craft::Bytes& options) {
    craft::Bytes b = SegAt(snd_nxt, flags, data, wnd, options);
    snd_nxt += uint32_t(data.size()) + ((flags & (craft::kSyn | craft::kFin)) ? 1 : 0);
    return b;
}

craft::Bytes WindowScaleOption(uint8_t shift) {
    return {1, 3, 3, shift};
}

craft::Bytes SackPermittedOption() {
    return {1, 1, 4, 2};
}

craft::Bytes FindOption(const craft::Bytes& options, uint8_t kind) {
    for (size_t i = 0; i < options.size();) {
        if (options[i] == 0) break;
        if (options[i] == 1) {
            ++i;
            continue;
        }
        if (i + 1 >= options.size() || options[i + 1] < 2 || i + options[i + 1] > options.size()) break;
        if (options[i] == kind)
            return craft::Bytes(options.begin() + long(i), options.begin() + long(i + options[i + 1]));
        i += options[i + 1];
    }
    return {};
}

tcp_pcb* Connect(StackHarness& h, Peer& peer, uint16_t mss, const craft::Bytes& options) {
    size_t before = h.accepted.size();
    h.Take();
    craft::Bytes syn_options = MssOption(mss);
    syn_options.insert(syn_options.end(), options.begin(), options.end());
    h.Input(peer.Seg(craft::kSyn, "", 65535, syn_options));
    auto out = h.Take();
    if (out.size() != 1 || out[0].flags != (craft::kSyn | craft::kAck)) return nullptr;
    peer.rcv_nxt = out[0].seq + 1;
    h.Input(peer.Seg(craft::kAck));
    if (h.accepted.size() != before + 1) return nullptr;
    return h.accepted.back();
}

void ExpectNothingAllocated() {
    for (int t = 0; t < MEMP_MAX; ++t) EXPECT_EQ(memp_used(static_cast<memp_t>(t)), 0u) << "pool " << t;
}

void StackTest::TearDown() {
    h.reset();
    ExpectNothingAllocated();
}
