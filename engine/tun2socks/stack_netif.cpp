#include "engine/tun2socks/stack_netif.h"

#include <cstring>

#include "engine/base/blog.h"
#include "engine/stack/ip4.h"
#include "engine/stack/ip6.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_tun2socks

namespace {

uint8_t ip_version(const pbuf* p) {
    return p->len > 0 ? static_cast<const uint8_t*>(p->payload)[0] >> 4 : 0;
}

// The input of an interface without an IPv6 address: IPv6 is dropped here,
// before the stack spends anything on it.
err_t netif_input_dispatch(pbuf* p, netif* inp) {
    if (ip_version(p) == 4) return ip_input_dispatch(p, inp);
    pbuf_free(p);
    return ERR_OK;
}

err_t netif_input_dispatch_ip6(pbuf* p, netif* inp) {
    uint8_t version = ip_version(p);
    if (version == 4) return ip_input_dispatch(p, inp);
    if (version == 6) return ip6_input_dispatch(p, inp);
    pbuf_free(p);
    return ERR_OK;
}

err_t netif_init_func(netif* n) {
    BLog(BLOG_DEBUG, "netif func init");
    n->name[0] = 'h';
    n->name[1] = 'o';
    return ERR_OK;
}

}  // namespace

int StackNetif_Add(netif* n, const ip4_addr_t* addr, const ip4_addr_t* netmask, const uint8_t* ip6addr,
                   void* state, netif_output_fn output, netif_output_ip6_fn output_ip6) {
    ip4_addr_t gw{0};
    if (netif_add(n, addr, netmask, &gw, state, netif_init_func,
                  ip6addr != nullptr ? netif_input_dispatch_ip6 : netif_input_dispatch) == nullptr) {
        return 0;
    }
    n->output = output;
    if (output_ip6 != nullptr) n->output_ip6 = output_ip6;
    netif_set_up(n);
    n->flags |= NETIF_FLAG_ACCEPT_ANY_TCP;
    netif_set_default(n);
    if (ip6addr != nullptr) {
        std::memcpy(n->ip6_addr[0].addr, ip6addr, 16);
        n->ip6_addr_state[0] = IP6_ADDR_VALID;
    }
    return 1;
}

tcp_pcb_listen* StackNetif_Listen(netif* n, int ipv6, tcp_accept_fn accept, void* arg, const char** failure) {
    const char* ignored;
    if (failure == nullptr) failure = &ignored;
    tcp_pcb* pcb = ipv6 ? tcp_new_ip6() : tcp_new();
    if (pcb == nullptr) {
        *failure = ipv6 ? "tcp_new_ip6 failed" : "tcp_new failed";
        return nullptr;
    }
    char name[3];
    netif_full_name(n, name);
    if (tcp_bind_to_netif(pcb, name) != ERR_OK) {
        *failure = "tcp_bind_to_netif failed";
        tcp_close(pcb);
        return nullptr;
    }
    tcp_pcb_listen* listener = tcp_listen(pcb);
    if (listener == nullptr) {
        *failure = "tcp_listen failed";
        tcp_close(pcb);
        return nullptr;
    }
    tcp_arg(listener, arg);
    tcp_accept(listener, accept);
    return listener;
}
