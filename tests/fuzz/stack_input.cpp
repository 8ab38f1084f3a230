// Random packets into the TCP/IP stack's input path. The input is a series of
// records: a control byte, a 2-byte length and the packet (the length's top
// 4 bits t, when set, pad the packet with zeros to t * 4369 bytes and make the
// IP length cover them, so packets of up to 65535 bytes occur). The control byte can
// have the checksums fixed up (so packets get past the first checks), take the
// sequence and acknowledgement numbers from the stack's last segment (so
// conversations go on), run the timers, and make the application write,
// refuse, close or abort.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/stack/inet_chksum.h"
#include "engine/stack/init.h"
#include "engine/stack/ip4.h"
#include "engine/stack/ip6.h"
#include "engine/stack/memp.h"
#include "engine/stack/nd6.h"
#include "engine/stack/netif.h"
#include "engine/stack/tcp.h"
#include "tests/support/stack_netif.h"

namespace {

std::vector<tcp_pcb*> pcbs;

void Forget(tcp_pcb* pcb) {
    for (auto& p : pcbs) {
        if (p == pcb) p = nullptr;
    }
}

// What the stack's last TCP segment expects next from its peer.
uint32_t next_seq = 0, next_ack = 0;

void Remember(pbuf* p, size_t ip_hlen, uint8_t proto) {
    uint8_t h[20];
    if (proto != 6 || pbuf_copy_partial(p, h, 20, uint16_t(ip_hlen)) != 20) return;
    uint32_t seq, ack;
    std::memcpy(&seq, h + 4, 4);
    std::memcpy(&ack, h + 8, 4);
    size_t data = p->tot_len - ip_hlen - size_t(h[12] >> 4) * 4;
    next_seq = ntohl(ack);
    next_ack = ntohl(seq) + uint32_t(data) + ((h[13] & 0x03) ? 1 : 0);
}

err_t Output4(netif*, pbuf* p, const ip4_addr_t*) {
    uint8_t h[20];
    if (pbuf_copy_partial(p, h, 20, 0) == 20) Remember(p, size_t(h[0] & 15) * 4, h[9]);
    return ERR_OK;
}

err_t Output6(netif*, pbuf* p, const ip6_addr_t*) {
    uint8_t h[40];
    if (pbuf_copy_partial(p, h, 40, 0) == 40) Remember(p, 40, h[6]);
    return ERR_OK;
}

bool refuse = false;

err_t OnRecv(void*, tcp_pcb* pcb, pbuf* p, err_t) {
    if (p == nullptr) return ERR_OK;
    if (refuse) return ERR_MEM;
    tcp_recved(pcb, p->tot_len);
    pbuf_free(p);
    return ERR_OK;
}

void OnErr(void* arg, err_t) {
    Forget(static_cast<tcp_pcb*>(arg));
}

err_t OnAccept(void*, tcp_pcb* pcb, err_t) {
    pcbs.push_back(pcb);
    tcp_arg(pcb, pcb);
    tcp_recv(pcb, OnRecv);
    tcp_err(pcb, OnErr);
    return ERR_OK;
}

uint16_t Get16(const uint8_t* d) {
    return uint16_t((d[0] << 8) | d[1]);
}

void Put16(uint8_t* d, uint16_t v) {
    std::memcpy(d, &v, 2);
}  // v already in network order

// Continues the conversation: the stack's expected sequence and acknowledgement numbers.
void FollowStack(std::vector<uint8_t>& b) {
    size_t l4 = 0;
    if (b.size() >= 20 && (b[0] >> 4) == 4 && b[9] == 6) l4 = size_t(b[0] & 15) * 4;
    if (b.size() >= 40 && (b[0] >> 4) == 6 && b[6] == 6) l4 = 40;
    if (l4 == 0 || l4 + 20 > b.size()) return;
    uint32_t seq = htonl(next_seq), ack = htonl(next_ack);
    std::memcpy(&b[l4 + 4], &seq, 4);
    std::memcpy(&b[l4 + 8], &ack, 4);
}

// Recomputes the IPv4 header checksum and the TCP/ICMP/ICMPv6 checksum where the lengths allow.
void FixChecksums(std::vector<uint8_t>& b) {
    if (b.size() >= 20 && (b[0] >> 4) == 4) {
        size_t hl = size_t(b[0] & 15) * 4;
        if (hl < 20 || hl > b.size()) return;
        Put16(&b[10], 0);
        Put16(&b[10], inet_chksum(b.data(), uint16_t(hl)));
        size_t total = Get16(&b[2]);
        if (total > b.size() || total < hl) return;
        size_t l4 = total - hl;
        uint8_t* d = b.data() + hl;
        if (b[9] == 6 && l4 >= 20) {
            Put16(d + 16, 0);
            pbuf* p = pbuf_alloc(PBUF_RAW, uint16_t(l4), PBUF_REF);
            if (p == nullptr) return;
            p->payload = d;
            ip4_addr_t src, dst;
            std::memcpy(&src, &b[12], 4);
            std::memcpy(&dst, &b[16], 4);
            Put16(d + 16, inet_chksum_pseudo(p, 6, uint16_t(l4), &src, &dst));
            pbuf_free(p);
        } else if (b[9] == 1 && l4 >= 4) {
            Put16(d + 2, 0);
            Put16(d + 2, inet_chksum(d, uint16_t(l4)));
        }
    } else if (b.size() >= 40 && (b[0] >> 4) == 6) {
        size_t l4 = Get16(&b[4]);
        if (40 + l4 > b.size()) return;
        uint8_t* d = b.data() + 40;
        size_t off = b[6] == 6 ? 16 : b[6] == 58 ? 2 : 0;
        if (off == 0 || l4 < off + 2) return;
        Put16(d + off, 0);
        pbuf* p = pbuf_alloc(PBUF_RAW, uint16_t(l4), PBUF_REF);
        if (p == nullptr) return;
        p->payload = d;
        ip6_addr_t src, dst;
        std::memcpy(&src, &b[8], 16);
        std::memcpy(&dst, &b[24], 16);
        Put16(d + off, ip6_chksum_pseudo(p, b[6], uint16_t(l4), &src, &dst));
        pbuf_free(p);
    }
}

// Pads with zero bytes to `size` (at most 65535) and sets the IP length to match.
void Grow(std::vector<uint8_t>& b, size_t size) {
    if (b.size() < size) b.resize(size);
    uint8_t* d = b.data();
    if (b.size() >= 20 && (b[0] >> 4) == 4) {
        uint16_t total = htons(uint16_t(b.size()));
        Put16(d + 2, total);
    } else if (b.size() >= 40 && (b[0] >> 4) == 6) {
        uint16_t payload = htons(uint16_t(b.size() - 40));
        Put16(d + 4, payload);
    }
}

void AppAction(uint8_t ctl, uint8_t arg) {
    tcp_pcb* pcb = nullptr;
    for (auto it = pcbs.rbegin(); it != pcbs.rend() && pcb == nullptr; ++it) pcb = *it;
    if (pcb == nullptr) return;
    static const uint8_t data[2048] = {};
    switch ((ctl >> 5) & 3) {
        case 0: {
            uint16_t n = uint16_t(arg) * 8 + 1;
            if (n > tcp_sndbuf(pcb)) n = tcp_sndbuf(pcb);
            if (n > 0) tcp_write(pcb, data, n);
            tcp_output(pcb);
            break;
        }
        case 1:
            refuse = !refuse;
            break;
        case 2:
            Forget(pcb);
            tcp_arg(pcb, nullptr);
            tcp_err(pcb, nullptr);
            tcp_recv(pcb, nullptr);
            if (tcp_close(pcb) != ERR_OK) tcp_abort(pcb);
            break;
        case 3:
            Forget(pcb);
            tcp_err(pcb, nullptr);
            tcp_abort(pcb);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static netif nif;
    stacktest::InterfaceUp(&nif, nullptr, Output4, Output6, true);
    pcbs.clear();
    refuse = false;
    next_seq = next_ack = 0;
    StackNetif_Listen(&nif, 0, OnAccept, nullptr);
    StackNetif_Listen(&nif, 1, OnAccept, nullptr);

    size_t pos = 0;
    while (pos + 3 <= size) {
        uint8_t ctl = data[pos];
        size_t field = Get16(data + pos + 1);
        size_t len = field % 4096;
        pos += 3;
        if (len > size - pos) len = size - pos;
        std::vector<uint8_t> pkt(data + pos, data + pos + len);
        pos += len;
        if (field >> 12) Grow(pkt, (field >> 12) * 4369);
        if (ctl & 0x80) FollowStack(pkt);
        if (ctl & 0x01) FixChecksums(pkt);
        pbuf* p = pbuf_alloc(PBUF_RAW, uint16_t(pkt.size()), PBUF_POOL);
        if (p != nullptr) {
            pbuf_take(p, pkt.data(), uint16_t(pkt.size()));
            nif.input(p, &nif);
        }
        if (ctl & 0x02) {
            int ticks = 1 + ((ctl >> 2) & 7) * 40;
            for (int i = 0; i < ticks; ++i) tcp_tmr();
            nd6_tmr();
        }
        if (ctl & 0x60) AppAction(ctl, len > 0 ? pkt[0] : 0);
    }
    lwip_deinit();
    // Teardown must leave nothing behind.
    for (int t = 0; t < MEMP_MAX; ++t) {
        if (memp_used(static_cast<memp_t>(t)) != 0) std::abort();
    }
    return 0;
}
