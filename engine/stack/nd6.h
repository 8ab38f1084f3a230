#pragma once
// Neighbour discovery for IPv6: neighbour, destination, router and prefix
// tables, their messages and their 1000 ms timer.

#include <cstdint>

#include "engine/stack/ip_addr.h"
#include "engine/stack/netif.h"
#include "engine/stack/opt.h"
#include "engine/stack/pbuf.h"

enum nd6_state : uint8_t {
    ND6_NO_ENTRY = 0,
    ND6_INCOMPLETE = 1,
    ND6_REACHABLE = 2,
    ND6_STALE = 3,
    ND6_DELAY = 4,
    ND6_PROBE = 5,
};

struct nd6_neighbor_cache_entry {
    ip6_addr_t next_hop_address;
    struct netif* netif;
    uint8_t lladdr[6];
    pbuf* q;  // the packet waiting for the address to resolve
    uint8_t state;
    uint8_t isrouter;
    uint32_t counter;  // probes sent, or milliseconds left
};

struct nd6_destination_cache_entry {
    ip6_addr_t destination_addr;
    ip6_addr_t next_hop_addr;
    uint16_t pmtu;
    uint32_t age;
};

struct nd6_prefix_list_entry {
    ip6_addr_t prefix;
    struct netif* netif;
    uint32_t invalidation_timer;  // seconds
};

struct nd6_router_list_entry {
    nd6_neighbor_cache_entry* neighbor_entry;
    uint32_t invalidation_timer;  // seconds
    uint8_t flags;
};

extern nd6_neighbor_cache_entry neighbor_cache[LWIP_ND6_NUM_NEIGHBORS];
extern nd6_destination_cache_entry destination_cache[LWIP_ND6_NUM_DESTINATIONS];
extern nd6_prefix_list_entry prefix_list[LWIP_ND6_NUM_PREFIXES];
extern nd6_router_list_entry default_router_list[LWIP_ND6_NUM_ROUTERS];
extern uint32_t reachable_time;
extern uint32_t retrans_timer;

// ICMPv6 types 2 and 134 to 137; `p` starts at the ICMPv6 header.
void nd6_input(pbuf* p, netif* inp);
void nd6_tmr();

// The next hop's neighbour entry for a destination, made when missing; -1 when
// the tables are full. Used by interfaces with a link layer.
int nd6_get_next_hop_entry(const ip6_addr_t* dest, netif* netif);
// Holds a packet until the neighbour's address resolves (replacing an older one).
err_t nd6_queue_packet(int neighbor_index, pbuf* p);

// The interface of a default router for a destination off every on-link prefix.
netif* nd6_find_route(const ip6_addr_t* dest);
// Path MTU of a destination: its cache entry, else the interface's MTU, else 1280.
uint16_t nd6_get_destination_mtu(const ip6_addr_t* dest, netif* netif);
// Data or acknowledgements from this address arrived: its neighbour is reachable.
void nd6_reachability_hint(const ip6_addr_t* addr);

void nd6_free_all();
