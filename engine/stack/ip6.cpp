#include "engine/stack/ip6.h"

#include "engine/stack/icmp6.h"
#include "engine/stack/ip4.h"
#include "engine/stack/ip6_frag.h"
#include "engine/stack/nd6.h"
#include "engine/stack/tcp_priv.h"

int netif_ip6_addr_index(const netif* n, const ip6_addr_t* addr, bool valid_only) {
    for (int i = 0; i < LWIP_IPV6_NUM_ADDRESSES; ++i) {
        uint8_t st = n->ip6_addr_state[i];
        if ((valid_only ? ip6_addr_isvalid(st) : st != IP6_ADDR_INVALID) &&
            ip6_addr_cmp(&n->ip6_addr[i], addr)) {
            return i;
        }
    }
    return -1;
}

static bool IsAllNodes(const ip6_addr_t* a) {
    return (a->addr[0] == htonl(0xff010000U) || a->addr[0] == htonl(0xff020000U)) && a->addr[1] == 0 &&
           a->addr[2] == 0 && a->addr[3] == htonl(1);
}

static bool IsSolicitedNode(const ip6_addr_t* a) {
    return a->addr[0] == htonl(0xff020000U) && a->addr[1] == 0 && a->addr[2] == htonl(1) &&
           (ntohl(a->addr[3]) & 0xff000000U) == 0xff000000U;
}

static bool SolicitedNodeMatches(const netif* n, const ip6_addr_t* a) {
    for (int i = 0; i < LWIP_IPV6_NUM_ADDRESSES; ++i) {
        if (n->ip6_addr_state[i] != IP6_ADDR_INVALID &&
            (ntohl(n->ip6_addr[i].addr[3]) & 0x00ffffffU) == (ntohl(a->addr[3]) & 0x00ffffffU)) {
            return true;
        }
    }
    return false;
}

static void ClearContext() {
    std::memset(&ip_data, 0, sizeof(ip_data));
}

err_t ip6_input_dispatch(pbuf* p, netif* inp) {
    if (p->len < IP6_HLEN) {
        pbuf_free(p);
        return ERR_OK;
    }
    auto* h = static_cast<ip6_hdr*>(p->payload);
    uint32_t plen = ntohs(h->_plen);
    if ((ntohl(h->_v_tc_fl) >> 28) != 6 || plen + IP6_HLEN > p->tot_len) {
        pbuf_free(p);
        return ERR_OK;
    }
    pbuf_realloc(p, static_cast<uint16_t>(plen + IP6_HLEN));
    ip6_addr_t src = ip6_hdr_src(h), dest = ip6_hdr_dest(h);

    netif* accepted = nullptr;
    if (ip6_addr_ismulticast(&dest)) {
        if (IsAllNodes(&dest) || (IsSolicitedNode(&dest) && SolicitedNodeMatches(inp, &dest))) accepted = inp;
    } else {
        if (netif_is_up(inp) && netif_ip6_addr_index(inp, &dest, true) >= 0) {
            accepted = inp;
        } else if (!ip6_addr_islinklocal(&dest)) {
            for (netif* n = netif_list; n != nullptr; n = n->next) {
                if (n != inp && netif_is_up(n) && netif_ip6_addr_index(n, &dest, true) >= 0) {
                    accepted = n;
                    break;
                }
            }
        }
        if (accepted == nullptr && (inp->flags & NETIF_FLAG_ACCEPT_ANY_TCP) && h->_nexth == IP6_NEXTH_TCP) {
            accepted = inp;
        }
    }
    if (accepted == nullptr || (ip6_addr_isany(&src) && !IsSolicitedNode(&dest))) {
        pbuf_free(p);
        return ERR_OK;
    }

    ip_data.current_netif = inp;
    ip_data.current_ip4_header = nullptr;
    ip_data.current_ip6_header = h;
    ip_data.current_ip_isipv6 = true;
    ip_data.current_iphdr_src.ip6 = src;
    ip_data.current_iphdr_dest.ip6 = dest;

    uint8_t nexth = h->_nexth;
    uint16_t hlen_tot = IP6_HLEN;
    uint16_t nexth_off = 6;  // where the field naming the next header lies
    pbuf_header(p, -IP6_HLEN);
    for (;;) {
        if (nexth == IP6_NEXTH_HOPBYHOP || nexth == IP6_NEXTH_ROUTING || nexth == IP6_NEXTH_DESTOPTS) {
            if (p->len < 2) goto drop;
            const auto* eh = static_cast<const uint8_t*>(p->payload);
            uint16_t hlen = static_cast<uint16_t>((eh[1] + 1) * 8);
            if (hlen > p->len) goto drop;
            nexth_off = hlen_tot;
            nexth = eh[0];
            hlen_tot = static_cast<uint16_t>(hlen_tot + hlen);
            pbuf_header(p, static_cast<int16_t>(-hlen));
            continue;
        }
        if (nexth == IP6_NEXTH_FRAGMENT) {
            if (p->len < 8) goto drop;
            const auto* fh = static_cast<const uint8_t*>(p->payload);
            uint16_t off_m = static_cast<uint16_t>((fh[2] << 8) | fh[3]);
            if ((off_m & 0xfff9U) == 0) {  // a whole packet in one "fragment"
                nexth_off = hlen_tot;
                nexth = fh[0];
                hlen_tot = static_cast<uint16_t>(hlen_tot + 8);
                pbuf_header(p, -8);
                continue;
            }
            pbuf* whole = ip6_reass(p, hlen_tot, nexth_off);
            ClearContext();
            if (whole == nullptr) return ERR_OK;
            return ip6_input_dispatch(whole, inp);
        }
        break;
    }
    ip_data.current_ip_header_tot_len = hlen_tot;
    switch (nexth) {
        case IP6_NEXTH_NONE:
            goto drop;
        case IP6_NEXTH_TCP:
            tcp_input(p, inp);
            break;
        case IP6_NEXTH_ICMP6:
            icmp6_input_dispatch(p, inp);
            break;
        default:
            if (!ip6_addr_ismulticast(&dest)) {
                pbuf_header(p, static_cast<int16_t>(hlen_tot));
                icmp6_param_problem(p, ICMP6_PP_HEADER, nexth_off);
            }
            pbuf_free(p);
            break;
    }
    ClearContext();
    return ERR_OK;
drop:
    pbuf_free(p);
    ClearContext();
    return ERR_OK;
}

err_t ip6_output_if(pbuf* p, const ip6_addr_t* src, const ip6_addr_t* dest, uint8_t hl, uint8_t tc,
                    uint8_t nexth, netif* n) {
    LWIP_ASSERT("p->ref == 1", p->ref == 1);
    ip6_addr_t next_hop;
    if (dest != nullptr) {
        if (ip6_addr_isany(src)) {
            src = ip6_select_source(n, dest);
            if (src == nullptr) return ERR_RTE;
        }
        if (pbuf_header(p, IP6_HLEN)) return ERR_BUF;
        auto* h = static_cast<ip6_hdr*>(p->payload);
        h->_v_tc_fl = htonl((6U << 28) | (uint32_t(tc) << 20));
        h->_plen = htons(static_cast<uint16_t>(p->tot_len - IP6_HLEN));
        h->_nexth = nexth;
        h->_hoplim = hl;
        std::memcpy(h->src, src, 16);
        std::memcpy(h->dest, dest, 16);
        next_hop = *dest;
    } else {
        next_hop = ip6_hdr_dest(static_cast<ip6_hdr*>(p->payload));
    }
    return n->output_ip6(n, p, &next_hop);
}

err_t ip6_output(pbuf* p, const ip6_addr_t* src, const ip6_addr_t* dest, uint8_t hl, uint8_t tc,
                 uint8_t nexth) {
    netif* n = ip6_route_lookup(src, dest);
    if (n == nullptr) return ERR_RTE;
    return ip6_output_if(p, src, dest, hl, tc, nexth, n);
}

netif* ip6_route_lookup(const ip6_addr_t* src, const ip6_addr_t* dest) {
    if (netif_list != nullptr && netif_list->next == nullptr) return netif_list;
    if (!ip6_addr_islinklocal(dest)) {
        for (netif* n = netif_list; n != nullptr; n = n->next) {
            if (!netif_is_up(n)) continue;
            for (int i = 0; i < LWIP_IPV6_NUM_ADDRESSES; ++i) {
                if (ip6_addr_isvalid(n->ip6_addr_state[i]) && ip6_addr_netcmp(dest, &n->ip6_addr[i]))
                    return n;
            }
        }
        netif* r = nd6_find_route(dest);
        if (r != nullptr) return r;
    }
    if (!ip6_addr_isany(src)) {
        for (netif* n = netif_list; n != nullptr; n = n->next) {
            if (netif_is_up(n) && netif_ip6_addr_index(n, src, true) >= 0) return n;
        }
    }
    return netif_default;
}

const ip6_addr_t* ip6_select_source(netif* n, const ip6_addr_t* dest) {
    auto pick = [n](bool (*kind)(const ip6_addr_t*), const ip6_addr_t* same64) -> const ip6_addr_t* {
        const ip6_addr_t* any = nullptr;
        for (int i = 0; i < LWIP_IPV6_NUM_ADDRESSES; ++i) {
            if (!ip6_addr_isvalid(n->ip6_addr_state[i]) || !kind(&n->ip6_addr[i])) continue;
            if (same64 == nullptr || ip6_addr_netcmp(&n->ip6_addr[i], same64)) return &n->ip6_addr[i];
            if (any == nullptr) any = &n->ip6_addr[i];
        }
        return any;
    };
    bool mc = ip6_addr_ismulticast(dest);
    uint8_t scope = mc ? ip6_multicast_scope(dest) : 0;
    if ((!mc && ip6_addr_islinklocal(dest)) || (mc && scope == 2)) return pick(ip6_addr_islinklocal, nullptr);
    if ((!mc && ip6_addr_issitelocal(dest)) || (mc && scope == 5)) {
        const ip6_addr_t* a = pick(ip6_addr_issitelocal, dest);
        return (a != nullptr && (mc || ip6_addr_netcmp(a, dest))) ? a : nullptr;
    }
    if ((!mc && ip6_addr_isuniquelocal(dest)) || (mc && scope == 8)) {
        const ip6_addr_t* a = pick(ip6_addr_isuniquelocal, dest);
        return (a != nullptr && (mc || ip6_addr_netcmp(a, dest))) ? a : nullptr;
    }
    if ((!mc && ip6_addr_isglobal(dest)) || (mc && scope == 0xe))
        return pick(ip6_addr_isglobal, mc ? nullptr : dest);
    for (int i = 0; i < LWIP_IPV6_NUM_ADDRESSES; ++i) {
        if (ip6_addr_isvalid(n->ip6_addr_state[i]) && ip6_addr_netcmp(&n->ip6_addr[i], dest))
            return &n->ip6_addr[i];
    }
    return nullptr;
}
