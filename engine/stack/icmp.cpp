#include "engine/stack/icmp.h"

#include <cstring>

#include "engine/stack/inet_chksum.h"
#include "engine/stack/ip4.h"

#define ICMP_TTL 255
// Room for a reply's IP header and a link header in front of the ICMP header.
#define ICMP_REPLY_ROOM (PBUF_IP_HLEN + PBUF_LINK_HLEN)

void icmp_input(pbuf* p, netif* inp) {
    const uint16_t hlen = ip_data.current_ip_header_tot_len;
    if (p->len < 4) {
        pbuf_free(p);
        return;
    }
    uint8_t type = *static_cast<uint8_t*>(p->payload);
    if (type != ICMP_ECHO) {
        pbuf_free(p);
        return;
    }
    ip4_addr_t dest = ip_data.current_iphdr_dest.ip4;
    if (ip4_addr_isbroadcast(&dest, inp) || ip4_addr_ismulticast(&dest) ||
        p->tot_len < sizeof(icmp_echo_hdr) || inet_chksum_pbuf(p) != 0) {
        pbuf_free(p);
        return;
    }

    // The reply is built in place; without room in front for the headers,
    // the packet is copied into a buffer that has it.
    if (pbuf_header(p, ICMP_REPLY_ROOM)) {
        if (pbuf_header(p, static_cast<int16_t>(hlen))) {
            pbuf_free(p);
            return;
        }
        pbuf* r = pbuf_alloc(PBUF_LINK, p->tot_len, PBUF_RAM);
        if (r == nullptr) {
            pbuf_free(p);
            return;
        }
        pbuf_copy(r, p);
        pbuf_free(p);
        p = r;
        pbuf_header(p, static_cast<int16_t>(-hlen));
    } else {
        pbuf_header(p, -ICMP_REPLY_ROOM);
    }

    auto* echo = static_cast<icmp_echo_hdr*>(p->payload);
    echo->type = ICMP_ER;
    // Incremental update (RFC 1624) for the type changing from 8 to 0.
    uint32_t sum = static_cast<uint32_t>(echo->chksum) + htons(ICMP_ECHO << 8);
    echo->chksum = static_cast<uint16_t>(sum + (sum >> 16));

    pbuf_header(p, static_cast<int16_t>(hlen));
    auto* iphdr = static_cast<ip_hdr*>(p->payload);
    iphdr->src = ip_data.current_iphdr_dest.ip4.addr;
    iphdr->dest = ip_data.current_iphdr_src.ip4.addr;
    iphdr->_ttl = ICMP_TTL;
    iphdr->_chksum = 0;
    iphdr->_chksum = inet_chksum(iphdr, hlen);
    ip_output_if(p, &ip_data.current_iphdr_dest.ip4, nullptr, ICMP_TTL, 0, IP_PROTO_ICMP, inp);
    pbuf_free(p);
}

void icmp_send_response(pbuf* p, uint8_t type, uint8_t code) {
    // The message quotes the offending header and the first 8 bytes behind
    // it, never more than the packet holds.
    const auto* orig = static_cast<const ip_hdr*>(p->payload);
    uint16_t quote = static_cast<uint16_t>(IPH_HL(orig) * 4 + 8);
    if (quote > p->tot_len) quote = p->tot_len;
    pbuf* q = pbuf_alloc(PBUF_IP, static_cast<uint16_t>(8 + quote), PBUF_RAM);
    if (q == nullptr) return;
    auto* hdr = static_cast<uint8_t*>(q->payload);
    std::memset(hdr, 0, 8);
    hdr[0] = type;
    hdr[1] = code;
    pbuf_copy_partial(p, hdr + 8, quote, 0);
    uint16_t chk = inet_chksum(hdr, q->len);
    std::memcpy(hdr + 2, &chk, 2);
    ip4_addr_t dest{orig->src};
    ip_output(q, nullptr, &dest, ICMP_TTL, 0, IP_PROTO_ICMP);
    pbuf_free(q);
}
