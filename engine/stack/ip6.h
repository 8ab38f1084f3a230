#pragma once
// IPv6: input with extension headers, output, routing and source selection.

#include <cstdint>
#include <cstring>

#include "engine/stack/err.h"
#include "engine/stack/ip_addr.h"
#include "engine/stack/netif.h"
#include "engine/stack/pbuf.h"

#define IP6_HLEN 40
#define IP6_NEXTH_HOPBYHOP 0
#define IP6_NEXTH_TCP 6
#define IP6_NEXTH_ROUTING 43
#define IP6_NEXTH_FRAGMENT 44
#define IP6_NEXTH_ICMP6 58
#define IP6_NEXTH_NONE 59
#define IP6_NEXTH_DESTOPTS 60
#define IP6_MIN_MTU 1280

struct __attribute__((packed)) ip6_hdr {
    uint32_t _v_tc_fl;
    uint16_t _plen;
    uint8_t _nexth;
    uint8_t _hoplim;
    uint8_t src[16];
    uint8_t dest[16];
};

inline ip6_addr_t ip6_hdr_src(const ip6_hdr* h) {
    ip6_addr_t a;
    std::memcpy(&a, h->src, 16);
    return a;
}
inline ip6_addr_t ip6_hdr_dest(const ip6_hdr* h) {
    ip6_addr_t a;
    std::memcpy(&a, h->dest, 16);
    return a;
}

err_t ip6_input_dispatch(pbuf* p, netif* inp);
err_t ip6_output_if(pbuf* p, const ip6_addr_t* src, const ip6_addr_t* dest, uint8_t hl, uint8_t tc,
                    uint8_t nexth, netif* netif);
err_t ip6_output(pbuf* p, const ip6_addr_t* src, const ip6_addr_t* dest, uint8_t hl, uint8_t tc,
                 uint8_t nexth);
netif* ip6_route_lookup(const ip6_addr_t* src, const ip6_addr_t* dest);
const ip6_addr_t* ip6_select_source(netif* netif, const ip6_addr_t* dest);

// Whether the interface holds the address in a usable (or any non-invalid) state.
int netif_ip6_addr_index(const netif* n, const ip6_addr_t* addr, bool valid_only);
