#include "engine/stack/ip4.h"

#include <cstring>

#include "engine/stack/icmp.h"
#include "engine/stack/inet_chksum.h"
#include "engine/stack/ip4_frag.h"
#include "engine/stack/ip6.h"
#include "engine/stack/tcp_priv.h"

ip_globals ip_data;

// One identification counter for every header the stack builds; it runs on
// across engine runs.
static uint16_t ip_id = 0;

netif* ip_route_lookup(const ip4_addr_t* dest) {
    for (netif* n = netif_list; n != nullptr; n = n->next) {
        if (netif_is_up(n) && ip4_addr_netcmp(dest, &n->ip_addr, &n->netmask)) return n;
    }
    if (netif_default != nullptr && netif_is_up(netif_default)) return netif_default;
    return nullptr;
}

bool ip4_addr_isbroadcast(const ip4_addr_t* addr, const netif* n) {
    uint32_t a = addr->addr;
    if (a == 0 || a == 0xffffffffU) return true;
    if (!(n->flags & NETIF_FLAG_BROADCAST)) return false;
    if (a == n->ip_addr.addr) return false;
    return ip4_addr_netcmp(addr, &n->ip_addr, &n->netmask) && (a & ~n->netmask.addr) == ~n->netmask.addr;
}

static bool Accepts(const netif* n, const ip4_addr_t* dest) {
    return netif_is_up(n) && n->ip_addr.addr != 0 &&
           (dest->addr == n->ip_addr.addr || ip4_addr_isbroadcast(dest, n));
}

static void ClearContext() {
    ip_data.current_netif = nullptr;
    ip_data.current_ip4_header = nullptr;
    ip_data.current_ip6_header = nullptr;
    ip_data.current_ip_header_tot_len = 0;
    ip_data.current_ip_isipv6 = false;
    std::memset(&ip_data.current_iphdr_src, 0, sizeof(ip_data.current_iphdr_src));
    std::memset(&ip_data.current_iphdr_dest, 0, sizeof(ip_data.current_iphdr_dest));
}

err_t ip_input_dispatch(pbuf* p, netif* inp) {
    // A header must lie whole in the first buffer; anything shorter than the
    // fixed 20 bytes or claiming less is malformed.
    if (p->len < IP_HLEN) {
        pbuf_free(p);
        return ERR_OK;
    }
    auto* iphdr = static_cast<ip_hdr*>(p->payload);
    if (IPH_V(iphdr) != 4) {
        pbuf_free(p);
        return ERR_OK;
    }
    uint16_t hlen = static_cast<uint16_t>(IPH_HL(iphdr) * 4);
    uint16_t iplen = ntohs(iphdr->_len);
    if (hlen < IP_HLEN || hlen > p->len || iplen > p->tot_len || iplen < hlen) {
        pbuf_free(p);
        return ERR_OK;
    }
    if (inet_chksum(iphdr, hlen) != 0) {
        pbuf_free(p);
        return ERR_OK;
    }
    pbuf_realloc(p, iplen);

    ip4_addr_t src{iphdr->src}, dest{iphdr->dest};
    ipX_addr_set_ip4(&ip_data.current_iphdr_src, &src);
    ipX_addr_set_ip4(&ip_data.current_iphdr_dest, &dest);
    ip_data.current_ip_isipv6 = false;

    netif* accepted = nullptr;
    if (Accepts(inp, &dest)) {
        accepted = inp;
    } else {
        for (netif* n = netif_list; n != nullptr; n = n->next) {
            if (n != inp && Accepts(n, &dest)) {
                accepted = n;
                break;
            }
        }
    }
    if (ip4_addr_isbroadcast(&src, inp) || ip4_addr_ismulticast(&src)) {
        pbuf_free(p);
        ClearContext();
        return ERR_OK;
    }
    if (accepted == nullptr) {
        if ((inp->flags & NETIF_FLAG_ACCEPT_ANY_TCP) && iphdr->_proto == IP_PROTO_TCP) {
            accepted = inp;
        } else {
            pbuf_free(p);
            ClearContext();
            return ERR_OK;
        }
    }

    if ((ntohs(iphdr->_offset) & (IP_OFFMASK | IP_MF)) != 0) {
        p = ip_reassemble(p);
        if (p == nullptr) {
            ClearContext();
            return ERR_OK;
        }
        iphdr = static_cast<ip_hdr*>(p->payload);
        hlen = static_cast<uint16_t>(IPH_HL(iphdr) * 4);
    }

    ip_data.current_netif = inp;
    ip_data.current_ip4_header = iphdr;
    ip_data.current_ip_header_tot_len = hlen;
    pbuf_header(p, static_cast<int16_t>(-hlen));
    switch (iphdr->_proto) {
        case IP_PROTO_ICMP:
            icmp_input(p, inp);
            break;
        case IP_PROTO_TCP:
            tcp_input(p, inp);
            break;
        default:
            if (!ip4_addr_isbroadcast(&dest, accepted) && !ip4_addr_ismulticast(&dest)) {
                pbuf_header(p, static_cast<int16_t>(hlen));
                icmp_dest_unreach(p, ICMP_DUR_PROTO);
            }
            pbuf_free(p);
            break;
    }
    ClearContext();
    return ERR_OK;
}

err_t ip_output_if(pbuf* p, const ip4_addr_t* src, const ip4_addr_t* dest, uint8_t ttl, uint8_t tos,
                   uint8_t proto, netif* n) {
    LWIP_ASSERT("p->ref == 1", p->ref == 1);
    ip4_addr_t next_hop;
    if (dest != nullptr) {
        if (pbuf_header(p, IP_HLEN)) return ERR_BUF;
        auto* h = static_cast<ip_hdr*>(p->payload);
        h->_v_hl = 0x45;
        h->_tos = tos;
        h->_len = htons(p->tot_len);
        h->_id = htons(ip_id);
        ++ip_id;
        h->_offset = 0;
        h->_ttl = ttl;
        h->_proto = proto;
        h->src = ip4_addr_isany(src) ? n->ip_addr.addr : src->addr;
        h->dest = dest->addr;
        h->_chksum = 0;
        h->_chksum = inet_chksum(h, IP_HLEN);
        next_hop = *dest;
    } else {
        next_hop.addr = static_cast<ip_hdr*>(p->payload)->dest;
    }
    if (n->mtu != 0 && p->tot_len > n->mtu) return ip_frag(p, n, &next_hop);
    return n->output(n, p, &next_hop);
}

err_t ip_output(pbuf* p, const ip4_addr_t* src, const ip4_addr_t* dest, uint8_t ttl, uint8_t tos,
                uint8_t proto) {
    LWIP_ASSERT("p->ref == 1", p->ref == 1);
    netif* n = ip_route_lookup(dest);
    if (n == nullptr) return ERR_RTE;
    return ip_output_if(p, src, dest, ttl, tos, proto, n);
}

err_t ipX_output(bool isipv6, pbuf* p, const ipX_addr_t* src, const ipX_addr_t* dest, uint8_t ttl,
                 uint8_t tos, uint8_t proto) {
    if (isipv6) return ip6_output(p, &src->ip6, &dest->ip6, ttl, tos, proto);
    return ip_output(p, &src->ip4, &dest->ip4, ttl, tos, proto);
}
