#pragma once
// IPv4: routing over the interface list, input checks and dispatch, output.

#include <cstdint>

#include "engine/stack/err.h"
#include "engine/stack/ip_addr.h"
#include "engine/stack/netif.h"
#include "engine/stack/pbuf.h"

#define IP_HLEN 20
#define IP_PROTO_ICMP 1
#define IP_PROTO_UDP 17
#define IP_PROTO_TCP 6
#define IP_PROTO_ICMP6 58
#define IP_RF 0x8000U
#define IP_DF 0x4000U
#define IP_MF 0x2000U
#define IP_OFFMASK 0x1fffU

// The IPv4 header as it lies in a packet; multi-byte fields in network order.
struct __attribute__((packed)) ip_hdr {
    uint8_t _v_hl;
    uint8_t _tos;
    uint16_t _len;
    uint16_t _id;
    uint16_t _offset;
    uint8_t _ttl;
    uint8_t _proto;
    uint16_t _chksum;
    uint32_t src;
    uint32_t dest;
};

inline uint8_t IPH_V(const ip_hdr* h) {
    return h->_v_hl >> 4;
}
inline uint8_t IPH_HL(const ip_hdr* h) {
    return h->_v_hl & 0x0f;
}

// What the packet being dispatched is: valid only during one input call.
struct ip_globals {
    netif* current_netif;
    const ip_hdr* current_ip4_header;
    const struct ip6_hdr* current_ip6_header;
    uint16_t current_ip_header_tot_len;
    bool current_ip_isipv6;
    ipX_addr_t current_iphdr_src;
    ipX_addr_t current_iphdr_dest;
};
extern ip_globals ip_data;

netif* ip_route_lookup(const ip4_addr_t* dest);
err_t ip_input_dispatch(pbuf* p, netif* inp);
err_t ip_output_if(pbuf* p, const ip4_addr_t* src, const ip4_addr_t* dest, uint8_t ttl, uint8_t tos,
                   uint8_t proto, netif* netif);
err_t ip_output(pbuf* p, const ip4_addr_t* src, const ip4_addr_t* dest, uint8_t ttl, uint8_t tos,
                uint8_t proto);

// Broadcast for the interface: 0.0.0.0 and 255.255.255.255 always; the subnet's
// all-ones host on a broadcast-capable interface.
bool ip4_addr_isbroadcast(const ip4_addr_t* addr, const netif* netif);

// IPv4 or IPv6 output for the transport layer.
err_t ipX_output(bool isipv6, pbuf* p, const ipX_addr_t* src, const ipX_addr_t* dest, uint8_t ttl,
                 uint8_t tos, uint8_t proto);
