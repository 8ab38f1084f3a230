#pragma once
// The stack's network interfaces: how packets enter the stack and leave it.

#include <cstdint>

#include "engine/stack/err.h"
#include "engine/stack/ip_addr.h"
#include "engine/stack/pbuf.h"

#define NETIF_FLAG_UP 0x01U
#define NETIF_FLAG_BROADCAST 0x02U
#define NETIF_FLAG_LINK_UP 0x10U
// The interface accepts TCP segments for any destination address.
#define NETIF_FLAG_ACCEPT_ANY_TCP 0x100U

#define LWIP_IPV6_NUM_ADDRESSES 3

// IPv6 address states: bit 0x10 usable; tentative counts its probes in the low 3 bits.
#define IP6_ADDR_INVALID 0x00U
#define IP6_ADDR_TENTATIVE 0x08U
#define IP6_ADDR_VALID 0x10U
#define IP6_ADDR_PREFERRED 0x30U
#define IP6_ADDR_DEPRECATED 0x10U

struct netif;

typedef err_t (*netif_init_fn)(netif* netif);
typedef err_t (*netif_input_fn)(pbuf* p, netif* inp);
typedef err_t (*netif_output_fn)(netif* netif, pbuf* p, const ip4_addr_t* ipaddr);
typedef err_t (*netif_linkoutput_fn)(netif* netif, pbuf* p);
typedef err_t (*netif_output_ip6_fn)(netif* netif, pbuf* p, const ip6_addr_t* ipaddr);

struct netif {
    netif* next;
    ip4_addr_t ip_addr;
    ip4_addr_t netmask;
    ip4_addr_t gw;
    ip6_addr_t ip6_addr[LWIP_IPV6_NUM_ADDRESSES];
    uint8_t ip6_addr_state[LWIP_IPV6_NUM_ADDRESSES];
    netif_input_fn input;
    netif_output_fn output;
    netif_linkoutput_fn linkoutput;
    netif_output_ip6_fn output_ip6;
    void* state;
    uint8_t rs_count;
    uint16_t mtu;
    uint8_t hwaddr_len;
    uint8_t hwaddr[6];
    uint16_t flags;
    char name[2];
    uint8_t num;
};

extern netif* netif_list;
extern netif* netif_default;

// Starts numbering interfaces from 0 again (stack initialisation).
void netif_init();

netif* netif_add(netif* netif, const ip4_addr_t* ipaddr, const ip4_addr_t* netmask, const ip4_addr_t* gw,
                 void* state, netif_init_fn init, netif_input_fn input);
void netif_set_address(netif* netif, const ip4_addr_t* ipaddr, const ip4_addr_t* netmask,
                       const ip4_addr_t* gw);
void netif_set_up(netif* netif);
void netif_set_default(netif* netif);
void netif_detach(netif* netif);

inline bool netif_is_up(const netif* n) {
    return (n->flags & NETIF_FLAG_UP) != 0;
}
inline bool ip6_addr_isvalid(uint8_t state) {
    return (state & IP6_ADDR_VALID) != 0;
}
inline bool ip6_addr_istentative(uint8_t state) {
    return (state & IP6_ADDR_TENTATIVE) != 0;
}

// The interface's full name: its two characters and the digit of its number ("ho0").
void netif_full_name(const netif* n, char out[3]);
