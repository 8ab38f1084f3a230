#pragma once
// The stack's interface as tests, benchmarks and the fuzz target bring it up,
// the way the engine does: 10.198.75.61/24 named "ho", up, taking TCP for any
// destination, the default interface; packets dispatched by IP version.
// Header-only: for targets that link the engine.

#include "engine/stack/init.h"
#include "engine/stack/ip4.h"
#include "engine/stack/ip6.h"
#include "engine/stack/netif.h"
#include "engine/stack/tcp.h"

namespace stacktest {

inline err_t InputByVersion(pbuf* p, netif* inp) {
    uint8_t v = p->len > 0 ? static_cast<uint8_t*>(p->payload)[0] >> 4 : 0;
    if (v == 4) return ip_input_dispatch(p, inp);
    if (v == 6) return ip6_input_dispatch(p, inp);
    pbuf_free(p);
    return ERR_OK;
}

inline err_t NameInterface(netif* n) {
    n->name[0] = 'h';
    n->name[1] = 'o';
    return ERR_OK;
}

// Initialises the stack and adds the interface with the given outputs.
inline void InterfaceUp(netif* nif, void* state, netif_output_fn out4, netif_output_ip6_fn out6 = nullptr) {
    lwip_init();
    ip4_addr_t addr = ip4_addr_make(10, 198, 75, 61), mask = ip4_addr_make(255, 255, 255, 0), gw{0};
    netif_add(nif, &addr, &mask, &gw, state, NameInterface, InputByVersion);
    nif->output = out4;
    if (out6 != nullptr) nif->output_ip6 = out6;
    netif_set_up(nif);
    nif->flags |= NETIF_FLAG_ACCEPT_ANY_TCP;
    netif_set_default(nif);
}

// A listener bound to the interface, as the engine makes it.
inline tcp_pcb_listen* Listen(netif* nif, bool v6, void* arg, tcp_accept_fn accept) {
    tcp_pcb* pcb = v6 ? tcp_new_ip6() : tcp_new();
    char name[3];
    netif_full_name(nif, name);
    if (pcb == nullptr || tcp_bind_to_netif(pcb, name) != ERR_OK) return nullptr;
    tcp_pcb_listen* l = tcp_listen(pcb);
    tcp_arg(l, arg);
    tcp_accept(l, accept);
    return l;
}

}  // namespace stacktest
