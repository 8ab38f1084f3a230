#pragma once
// The stack's one network interface, as the engine brings it up: named "ho"
// (listeners bind to "ho0"), up, taking TCP segments for any destination
// address, and the stack's default interface. A packet entering it goes to
// IPv4 input, or to IPv6 input when the interface has an IPv6 address;
// anything else is dropped. Tests, benchmarks and fuzz targets bring the
// stack up through these same functions.

#include <cstdint>

#include "engine/stack/netif.h"
#include "engine/stack/tcp.h"

// Adds the interface to an initialised stack with the given outputs (a null
// `output_ip6` keeps the stack's refusing default). `ip6addr` (16 bytes) or
// null: the interface's IPv6 address, valid at once. 1, or 0 when the stack
// refused the interface.
int StackNetif_Add(netif* n, const ip4_addr_t* addr, const ip4_addr_t* netmask, const uint8_t* ip6addr,
                   void* state, netif_output_fn output, netif_output_ip6_fn output_ip6);

// A listener bound to the interface, accepting through `accept` with `arg`.
// Null on failure, with `*failure` (when given) set to the message of the
// call that failed.
tcp_pcb_listen* StackNetif_Listen(netif* n, int ipv6, tcp_accept_fn accept, void* arg,
                                  const char** failure = nullptr);
