#include "engine/stack/icmp6.h"

#include <cstring>

#include "engine/stack/inet_chksum.h"
#include "engine/stack/ip4.h"
#include "engine/stack/ip6.h"
#include "engine/stack/nd6.h"

#define ICMP6_HLEN 8
#define ICMP6_QUOTE 48

void icmp6_input_dispatch(pbuf* p, netif* inp) {
    if (p->len < ICMP6_HLEN ||
        ip6_chksum_pseudo(p, IP6_NEXTH_ICMP6, p->tot_len, &ip_data.current_iphdr_src.ip6,
                          &ip_data.current_iphdr_dest.ip6) != 0) {
        pbuf_free(p);
        return;
    }
    uint8_t type = *static_cast<uint8_t*>(p->payload);
    switch (type) {
        case ICMP6_TYPE_PTB:
        case ICMP6_TYPE_RA:
        case ICMP6_TYPE_NS:
        case ICMP6_TYPE_NA:
        case ICMP6_TYPE_RD:
            nd6_input(p, inp);
            return;
        case ICMP6_TYPE_EREQ: {
            if (ip6_addr_ismulticast(&ip_data.current_iphdr_dest.ip6)) break;
            pbuf* r = pbuf_alloc(PBUF_IP, p->tot_len, PBUF_RAM);
            if (r == nullptr) break;
            pbuf_copy(r, p);
            auto* h = static_cast<uint8_t*>(r->payload);
            h[0] = ICMP6_TYPE_EREP;
            h[2] = h[3] = 0;
            ip6_addr_t src = ip_data.current_iphdr_dest.ip6, dest = ip_data.current_iphdr_src.ip6;
            uint16_t chk = ip6_chksum_pseudo(r, IP6_NEXTH_ICMP6, r->tot_len, &src, &dest);
            std::memcpy(h + 2, &chk, 2);
            ip6_output_if(r, &src, &dest, 255, 0, IP6_NEXTH_ICMP6, inp);
            pbuf_free(r);
            break;
        }
        default:
            break;
    }
    pbuf_free(p);
}

void icmp6_send_response(pbuf* p, uint8_t code, uint32_t data, uint8_t type) {
    if (p->len < IP6_HLEN) return;
    const auto* orig = static_cast<const ip6_hdr*>(p->payload);
    // The reply goes back to the offending packet's source.
    ip6_addr_t reply_dest = ip6_hdr_src(orig), orig_dest = ip6_hdr_dest(orig);
    netif* n = ip6_route_lookup(&orig_dest, &reply_dest);
    if (n == nullptr) return;
    const ip6_addr_t* reply_src = &orig_dest;
    if (ip6_addr_ismulticast(&orig_dest) || ip6_addr_isany(&orig_dest)) {
        reply_src = ip6_select_source(n, &reply_dest);
        if (reply_src == nullptr) return;
    }
    ip6_addr_t src = *reply_src;
    uint16_t quote = p->tot_len < ICMP6_QUOTE ? p->tot_len : ICMP6_QUOTE;
    pbuf* q = pbuf_alloc(PBUF_IP, static_cast<uint16_t>(ICMP6_HLEN + quote), PBUF_RAM);
    if (q == nullptr) return;
    auto* h = static_cast<uint8_t*>(q->payload);
    h[0] = type;
    h[1] = code;
    h[2] = h[3] = 0;
    uint32_t d = htonl(data);
    std::memcpy(h + 4, &d, 4);
    pbuf_copy_partial(p, h + ICMP6_HLEN, quote, 0);
    uint16_t chk = ip6_chksum_pseudo(q, IP6_NEXTH_ICMP6, q->tot_len, &src, &reply_dest);
    std::memcpy(h + 2, &chk, 2);
    ip6_output_if(q, &src, &reply_dest, 255, 0, IP6_NEXTH_ICMP6, n);
    pbuf_free(q);
}
