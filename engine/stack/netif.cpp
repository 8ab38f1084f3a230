#include "engine/stack/netif.h"

#include <cstring>

#include "engine/stack/tcp_priv.h"

netif* netif_list = nullptr;
netif* netif_default = nullptr;
static uint8_t netif_num = 0;

static err_t netif_null_output_ip6(netif*, pbuf*, const ip6_addr_t*) {
    return ERR_IF;
}

void netif_init() {
    netif_num = 0;
}

netif* netif_add(netif* n, const ip4_addr_t* ipaddr, const ip4_addr_t* netmask, const ip4_addr_t* gw,
                 void* state, netif_init_fn init, netif_input_fn input) {
    LWIP_ASSERT("No init function given", init != nullptr);
    n->ip_addr.addr = 0;
    n->netmask.addr = 0;
    n->gw.addr = 0;
    for (int i = 0; i < LWIP_IPV6_NUM_ADDRESSES; ++i) {
        std::memset(&n->ip6_addr[i], 0, sizeof(n->ip6_addr[i]));
        n->ip6_addr_state[i] = IP6_ADDR_INVALID;
    }
    n->flags = 0;
    n->state = state;
    n->num = netif_num++;
    n->input = input;
    n->output_ip6 = netif_null_output_ip6;
    n->rs_count = 3;
    netif_set_address(n, ipaddr, netmask, gw);
    if (init(n) != ERR_OK) return nullptr;
    n->next = netif_list;
    netif_list = n;
    return n;
}

void netif_set_address(netif* n, const ip4_addr_t* ipaddr, const ip4_addr_t* netmask, const ip4_addr_t* gw) {
    ip4_addr_t addr = ipaddr != nullptr ? *ipaddr : ip4_addr_t{0};
    if (addr.addr != n->ip_addr.addr) {
        tcp_netif_ip4_addr_changed(&n->ip_addr, &addr);
        n->ip_addr = addr;
    }
    n->netmask = netmask != nullptr ? *netmask : ip4_addr_t{0};
    n->gw = gw != nullptr ? *gw : ip4_addr_t{0};
}

void netif_set_up(netif* n) {
    if (!(n->flags & NETIF_FLAG_UP)) n->flags |= NETIF_FLAG_UP;
}

void netif_set_default(netif* n) {
    netif_default = n;
}

void netif_detach(netif* n) {
    if (n->flags & NETIF_FLAG_UP) n->flags &= static_cast<uint16_t>(~NETIF_FLAG_UP);
    for (netif** pp = &netif_list; *pp != nullptr; pp = &(*pp)->next) {
        if (*pp == n) {
            *pp = n->next;
            break;
        }
    }
    if (netif_default == n) netif_default = nullptr;
}

void netif_full_name(const netif* n, char out[3]) {
    out[0] = n->name[0];
    out[1] = n->name[1];
    out[2] = static_cast<char>('0' + n->num % 10);
}
