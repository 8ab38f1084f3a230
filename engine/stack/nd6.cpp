#include "engine/stack/nd6.h"

#include <cstring>
#include <initializer_list>

#include "engine/stack/icmp6.h"
#include "engine/stack/inet_chksum.h"
#include "engine/stack/ip4.h"
#include "engine/stack/ip6.h"

nd6_neighbor_cache_entry neighbor_cache[LWIP_ND6_NUM_NEIGHBORS];
nd6_destination_cache_entry destination_cache[LWIP_ND6_NUM_DESTINATIONS];
nd6_prefix_list_entry prefix_list[LWIP_ND6_NUM_PREFIXES];
nd6_router_list_entry default_router_list[LWIP_ND6_NUM_ROUTERS];
uint32_t reachable_time = LWIP_ND6_REACHABLE_TIME;
uint32_t retrans_timer = LWIP_ND6_RETRANS_TIMER;

#define ND6_FLAG_ROUTER 0x80U
#define ND6_FLAG_SOLICITED 0x40U
#define ND6_FLAG_OVERRIDE 0x20U
#define ND6_RA_FLAG_ONLINK 0x80U
#define ND6_OPT_SLLA 1
#define ND6_OPT_TLLA 2
#define ND6_OPT_PREFIX 3
#define ND6_OPT_MTU 5
#define ND6_MSG_MAX 1280

namespace {

uint8_t router_round = 0;

ip6_addr_t ReadAddr(const uint8_t* m) {
    ip6_addr_t a;
    std::memcpy(&a, m, 16);
    return a;
}

uint32_t Read32(const uint8_t* m) {
    return (uint32_t(m[0]) << 24) | (uint32_t(m[1]) << 16) | (uint32_t(m[2]) << 8) | m[3];
}

int FindNeighbor(const ip6_addr_t* a) {
    for (int i = 0; i < LWIP_ND6_NUM_NEIGHBORS; ++i) {
        if (neighbor_cache[i].state != ND6_NO_ENTRY && ip6_addr_cmp(&neighbor_cache[i].next_hop_address, a))
            return i;
    }
    return -1;
}

void FreeNeighbor(int i) {
    if (neighbor_cache[i].q != nullptr) pbuf_free(neighbor_cache[i].q);
    for (auto& r : default_router_list) {
        if (r.neighbor_entry == &neighbor_cache[i]) r = nd6_router_list_entry{};
    }
    std::memset(&neighbor_cache[i], 0, sizeof(neighbor_cache[i]));
}

// A free entry, else one that is not a router's, by how little it is worth keeping.
int NewNeighbor() {
    for (int i = 0; i < LWIP_ND6_NUM_NEIGHBORS; ++i) {
        if (neighbor_cache[i].state == ND6_NO_ENTRY) return i;
    }
    for (uint8_t st : {ND6_STALE, ND6_PROBE, ND6_DELAY}) {
        for (int i = 0; i < LWIP_ND6_NUM_NEIGHBORS; ++i) {
            if (neighbor_cache[i].state == st && !neighbor_cache[i].isrouter) {
                FreeNeighbor(i);
                return i;
            }
        }
    }
    int best = -1;
    for (int i = 0; i < LWIP_ND6_NUM_NEIGHBORS; ++i) {
        const auto& e = neighbor_cache[i];
        if (e.state == ND6_REACHABLE && !e.isrouter && (best < 0 || e.counter < neighbor_cache[best].counter))
            best = i;
    }
    if (best < 0) {
        for (bool without_queue : {true, false}) {
            for (int i = 0; i < LWIP_ND6_NUM_NEIGHBORS && best < 0; ++i) {
                const auto& e = neighbor_cache[i];
                if (e.state == ND6_INCOMPLETE && !e.isrouter && (!without_queue || e.q == nullptr)) best = i;
            }
        }
    }
    if (best >= 0) FreeNeighbor(best);
    return best;
}

// The neighbour's entry; a new one in `state` when it has none (-1: no room).
int FindOrAddNeighbor(const ip6_addr_t* a, netif* n, uint8_t state, uint32_t counter) {
    int i = FindNeighbor(a);
    if (i >= 0) return i;
    i = NewNeighbor();
    if (i < 0) return -1;
    neighbor_cache[i].next_hop_address = *a;
    neighbor_cache[i].netif = n;
    neighbor_cache[i].state = state;
    neighbor_cache[i].counter = counter;
    return i;
}

int FindDestination(const ip6_addr_t* a) {
    for (int i = 0; i < LWIP_ND6_NUM_DESTINATIONS; ++i) {
        if (ip6_addr_cmp(&destination_cache[i].destination_addr, a)) return i;
    }
    return -1;
}

int NewDestination() {
    int oldest = 0;
    for (int i = 0; i < LWIP_ND6_NUM_DESTINATIONS; ++i) {
        if (ip6_addr_isany(&destination_cache[i].destination_addr)) return i;
        if (destination_cache[i].age > destination_cache[oldest].age) oldest = i;
    }
    return oldest;
}

int FindRouter(const ip6_addr_t* a) {
    for (int i = 0; i < LWIP_ND6_NUM_ROUTERS; ++i) {
        const auto* n = default_router_list[i].neighbor_entry;
        if (n != nullptr && ip6_addr_cmp(&n->next_hop_address, a)) return i;
    }
    return -1;
}

bool OnLink(const ip6_addr_t* a, const netif* n) {
    for (const auto& pfx : prefix_list) {
        if (pfx.netif == n && pfx.invalidation_timer > 0 && ip6_addr_netcmp(a, &pfx.prefix)) return true;
    }
    return false;
}

// Routers are tried in turn: reachable ones first, then any with an entry.
int SelectRouter() {
    for (int pass = 0; pass < 2; ++pass) {
        for (int k = 0; k < LWIP_ND6_NUM_ROUTERS; ++k) {
            int i = (router_round + k) % LWIP_ND6_NUM_ROUTERS;
            const auto* n = default_router_list[i].neighbor_entry;
            if (n == nullptr || n->netif == nullptr || !netif_is_up(n->netif)) continue;
            if (pass == 0 && n->state != ND6_REACHABLE) continue;
            router_round = static_cast<uint8_t>((i + 1) % LWIP_ND6_NUM_ROUTERS);
            return i;
        }
    }
    return -1;
}

void SendMessage(netif* n, pbuf* p, const ip6_addr_t* src, const ip6_addr_t* dest) {
    auto* h = static_cast<uint8_t*>(p->payload);
    uint16_t chk = ip6_chksum_pseudo(p, IP6_NEXTH_ICMP6, p->tot_len, src, dest);
    std::memcpy(h + 2, &chk, 2);
    ip6_output_if(p, src, dest, 255, 0, IP6_NEXTH_ICMP6, n);
    pbuf_free(p);
}

// A message with a link-layer address option when the interface has one.
pbuf* NewMessage(netif* n, uint8_t type, uint16_t body, uint8_t opt_type, bool with_opt) {
    bool opt = with_opt && n->hwaddr_len > 0;
    uint16_t len = static_cast<uint16_t>(body + (opt ? 8 : 0));
    pbuf* p = pbuf_alloc(PBUF_IP, len, PBUF_RAM);
    if (p == nullptr) return nullptr;
    auto* m = static_cast<uint8_t*>(p->payload);
    std::memset(m, 0, len);
    m[0] = type;
    if (opt) {
        m[body] = opt_type;
        m[body + 1] = 1;
        std::memcpy(m + body + 2, n->hwaddr, n->hwaddr_len < 6 ? n->hwaddr_len : 6);
    }
    return p;
}

ip6_addr_t SolicitedNode(const ip6_addr_t* target) {
    return ip6_addr_make(0xff020000U, 0, 1, 0xff000000U | (ntohl(target->addr[3]) & 0x00ffffffU));
}

void SendNs(netif* n, const ip6_addr_t* target, bool multicast) {
    ip6_addr_t dest = multicast ? SolicitedNode(target) : *target;
    const ip6_addr_t* sel = ip6_select_source(n, target);
    ip6_addr_t src = sel != nullptr ? *sel : ip6_addr_t{};  // :: while our address is tentative
    pbuf* p = NewMessage(n, ICMP6_TYPE_NS, 24, ND6_OPT_SLLA, sel != nullptr);
    if (p == nullptr) return;
    std::memcpy(static_cast<uint8_t*>(p->payload) + 8, target, 16);
    // ip6_output_if would pick a source for ::; DAD probes must keep it.
    if (ip6_addr_isany(&src)) {
        auto* m = static_cast<uint8_t*>(p->payload);
        uint16_t chk = ip6_chksum_pseudo(p, IP6_NEXTH_ICMP6, p->tot_len, &src, &dest);
        std::memcpy(m + 2, &chk, 2);
        if (pbuf_header(p, IP6_HLEN) == 0) {
            auto* h = static_cast<ip6_hdr*>(p->payload);
            h->_v_tc_fl = htonl(6U << 28);
            h->_plen = htons(static_cast<uint16_t>(p->tot_len - IP6_HLEN));
            h->_nexth = IP6_NEXTH_ICMP6;
            h->_hoplim = 255;
            std::memcpy(h->src, &src, 16);
            std::memcpy(h->dest, &dest, 16);
            ip6_output_if(p, nullptr, nullptr, 255, 0, IP6_NEXTH_ICMP6, n);
        }
        pbuf_free(p);
        return;
    }
    SendMessage(n, p, &src, &dest);
}

void SendNa(netif* n, const ip6_addr_t* target, uint8_t na_flags, const ip6_addr_t* dest) {
    pbuf* p = NewMessage(n, ICMP6_TYPE_NA, 24, ND6_OPT_TLLA, true);
    if (p == nullptr) return;
    auto* m = static_cast<uint8_t*>(p->payload);
    m[4] = na_flags;
    std::memcpy(m + 8, target, 16);
    SendMessage(n, p, target, dest);
}

void SendRs(netif* n) {
    ip6_addr_t dest = ip6_addr_make(0xff020000U, 0, 0, 2);
    const ip6_addr_t* src = ip6_select_source(n, &dest);
    if (src == nullptr) return;
    pbuf* p = NewMessage(n, ICMP6_TYPE_RS, 8, ND6_OPT_SLLA, true);
    if (p == nullptr) return;
    ip6_addr_t s = *src;
    SendMessage(n, p, &s, &dest);
}

void SendQueued(int i) {
    auto& e = neighbor_cache[i];
    if (e.q == nullptr || e.netif == nullptr) return;
    pbuf* q = e.q;
    e.q = nullptr;
    e.netif->output_ip6(e.netif, q, &e.next_hop_address);
    pbuf_free(q);
}

// Walks the options of a message; `fn` gets each option's type, data and length.
template <typename Fn>
void ForEachOption(const uint8_t* m, uint16_t len, uint16_t off, Fn fn) {
    while (off + 2 <= len) {
        uint16_t olen = static_cast<uint16_t>(m[off + 1] * 8);
        if (olen == 0 || off + olen > len) return;
        fn(m[off], m + off, olen);
        off = static_cast<uint16_t>(off + olen);
    }
}

const uint8_t* LinkLayerOption(const uint8_t* m, uint16_t len, uint16_t off, uint8_t type) {
    const uint8_t* found = nullptr;
    ForEachOption(m, len, off, [&](uint8_t t, const uint8_t* o, uint16_t) {
        if (t == type && found == nullptr) found = o + 2;
    });
    return found;
}

// One timer period off the time left; at the end the entry moves on.
void CountDown(nd6_neighbor_cache_entry& e, uint8_t then) {
    if (e.counter <= ND6_TMR_INTERVAL) {
        e.state = then;
        e.counter = 0;
    } else {
        e.counter -= ND6_TMR_INTERVAL;
    }
}

// A neighbour advertisement: the neighbour's link-layer address and its
// reachability; packets queued for it leave now. One sent to a multicast
// address for an address of ours means another node uses it.
void NaInput(netif* inp, const uint8_t* m, uint16_t len) {
    if (len < 24) return;
    const ip6_addr_t dest = ip_data.current_iphdr_dest.ip6;
    ip6_addr_t target = ReadAddr(m + 8);
    if (ip6_addr_ismulticast(&dest)) {
        int a = netif_ip6_addr_index(inp, &target, false);
        if (a >= 0) {
            inp->ip6_addr_state[a] = IP6_ADDR_INVALID;  // someone else uses it
            return;
        }
    }
    int i = FindNeighbor(&target);
    if (i < 0) return;
    const uint8_t* ll = LinkLayerOption(m, len, 24, ND6_OPT_TLLA);
    if (ll != nullptr && (m[4] & (ND6_FLAG_SOLICITED | ND6_FLAG_OVERRIDE))) {
        std::memcpy(neighbor_cache[i].lladdr, ll, 6);
    }
    neighbor_cache[i].state = ND6_REACHABLE;
    neighbor_cache[i].counter = reachable_time;
    SendQueued(i);
}

// A neighbour solicitation for one of our addresses: answered with an
// advertisement, and the asker enters the cache. One from the unspecified
// address is another node's duplicate-address detection.
void NsInput(netif* inp, const uint8_t* m, uint16_t len) {
    if (len < 24) return;
    const ip6_addr_t src = ip_data.current_iphdr_src.ip6;
    ip6_addr_t target = ReadAddr(m + 8);
    int a = -1;
    for (int k = 0; k < LWIP_IPV6_NUM_ADDRESSES; ++k) {
        uint8_t st = inp->ip6_addr_state[k];
        if ((ip6_addr_isvalid(st) || (ip6_addr_istentative(st) && ip6_addr_isany(&src))) &&
            ip6_addr_cmp(&inp->ip6_addr[k], &target)) {
            a = k;
            break;
        }
    }
    if (a < 0) {
        // Another node claims our tentative address.
        int t = netif_ip6_addr_index(inp, &target, false);
        if (t >= 0 && ip6_addr_istentative(inp->ip6_addr_state[t])) inp->ip6_addr_state[t] = IP6_ADDR_INVALID;
        return;
    }
    if (ip6_addr_isany(&src)) {
        // Duplicate-address detection by another node: it must not use the address.
        ip6_addr_t all = ip6_addr_make(0xff020000U, 0, 0, 1);
        SendNa(inp, &inp->ip6_addr[a], ND6_FLAG_OVERRIDE, &all);
        if (ip6_addr_istentative(inp->ip6_addr_state[a])) inp->ip6_addr_state[a] = IP6_ADDR_INVALID;
        return;
    }
    int i = FindOrAddNeighbor(&src, inp, ND6_DELAY, 0);
    if (i < 0) return;
    const uint8_t* ll = LinkLayerOption(m, len, 24, ND6_OPT_SLLA);
    if (ll != nullptr) std::memcpy(neighbor_cache[i].lladdr, ll, 6);
    neighbor_cache[i].state = ND6_DELAY;
    neighbor_cache[i].counter = LWIP_ND6_DELAY_FIRST_PROBE_TIME;
    ip6_addr_t answer = target;
    SendNa(inp, &answer, ND6_FLAG_SOLICITED | ND6_FLAG_OVERRIDE, &src);
}

// A prefix option of a router advertisement: the on-link prefix is kept (or
// refreshed) with its valid lifetime.
void RaPrefixOption(netif* inp, const uint8_t* o) {
    ip6_addr_t prefix = ReadAddr(o + 16);
    uint32_t valid = Read32(o + 4);
    int slot = -1;
    for (int k = 0; k < LWIP_ND6_NUM_PREFIXES; ++k) {
        if (prefix_list[k].netif == inp && ip6_addr_netcmp(&prefix_list[k].prefix, &prefix)) slot = k;
    }
    for (int k = 0; k < LWIP_ND6_NUM_PREFIXES && slot < 0; ++k) {
        if (prefix_list[k].netif == nullptr) slot = k;
    }
    if (slot >= 0) {
        prefix_list[slot].prefix = prefix;
        prefix_list[slot].netif = inp;
        prefix_list[slot].invalidation_timer = valid;
    }
}

// A router advertisement: the router (added when new), its lifetime and
// flags, the link's timers, then its options: its link-layer address, on-link
// prefixes and the link MTU.
void RaInput(netif* inp, const uint8_t* m, uint16_t len) {
    if (len < 16) return;
    const ip6_addr_t src = ip_data.current_iphdr_src.ip6;
    int r = FindRouter(&src);
    if (r < 0) {
        int i = FindOrAddNeighbor(&src, inp, ND6_INCOMPLETE, 0);
        if (i < 0) return;
        for (int k = 0; k < LWIP_ND6_NUM_ROUTERS && r < 0; ++k) {
            if (default_router_list[k].neighbor_entry == nullptr) r = k;
        }
        if (r < 0) return;
        default_router_list[r].neighbor_entry = &neighbor_cache[i];
        neighbor_cache[i].isrouter = 1;
    }
    default_router_list[r].invalidation_timer = static_cast<uint32_t>((m[6] << 8) | m[7]);
    default_router_list[r].flags = m[5];
    // Zero leaves the link's timer as it is.
    if (Read32(m + 8) != 0) reachable_time = Read32(m + 8);
    if (Read32(m + 12) != 0) retrans_timer = Read32(m + 12);
    nd6_neighbor_cache_entry* ne = default_router_list[r].neighbor_entry;
    ForEachOption(m, len, 16, [&](uint8_t type, const uint8_t* o, uint16_t olen) {
        if (type == ND6_OPT_SLLA) {
            std::memcpy(ne->lladdr, o + 2, 6);
            if (ne->state == ND6_INCOMPLETE) {
                ne->state = ND6_REACHABLE;
                ne->counter = reachable_time;
                SendQueued(static_cast<int>(ne - neighbor_cache));
            }
        } else if (type == ND6_OPT_PREFIX && olen >= 32 && (o[3] & ND6_RA_FLAG_ONLINK)) {
            RaPrefixOption(inp, o);
        } else if (type == ND6_OPT_MTU && olen >= 8) {
            uint32_t mtu = Read32(o + 4);
            if (mtu >= IP6_MIN_MTU && mtu <= 0xffff) inp->mtu = static_cast<uint16_t>(mtu);
        }
    });
}

// A redirect: traffic for the destination goes to the target from now on;
// with the target's link-layer address the target enters the cache.
void RedirectInput(netif* inp, const uint8_t* m, uint16_t len) {
    if (len < 40) return;
    ip6_addr_t target = ReadAddr(m + 8), destination = ReadAddr(m + 24);
    int d = FindDestination(&destination);
    if (d < 0) return;
    destination_cache[d].next_hop_addr = target;
    const uint8_t* ll = LinkLayerOption(m, len, 40, ND6_OPT_TLLA);
    if (ll == nullptr) return;
    int i = FindOrAddNeighbor(&target, inp, ND6_STALE, 0);
    if (i < 0) return;
    std::memcpy(neighbor_cache[i].lladdr, ll, 6);
    if (neighbor_cache[i].state == ND6_INCOMPLETE) {
        neighbor_cache[i].state = ND6_STALE;
        neighbor_cache[i].counter = 0;
        SendQueued(i);
    }
}

// A packet-too-big report: the path MTU toward the quoted packet's destination.
void PacketTooBigInput(const uint8_t* m, uint16_t len) {
    if (len < 8 + IP6_HLEN) return;
    ip6_addr_t target = ReadAddr(m + 8 + 24);
    int d = FindDestination(&target);
    if (d < 0) return;
    // IPv6 links carry at least 1280 bytes; a smaller report is not believed.
    uint32_t mtu = Read32(m + 4);
    if (mtu < IP6_MIN_MTU) mtu = IP6_MIN_MTU;
    destination_cache[d].pmtu = static_cast<uint16_t>(mtu > 0xffff ? 0xffff : mtu);
}

}  // namespace

void nd6_input(pbuf* p, netif* inp) {
    uint8_t m[ND6_MSG_MAX];
    uint16_t len = pbuf_copy_partial(p, m, sizeof(m), 0);
    pbuf_free(p);
    switch (m[0]) {
        case ICMP6_TYPE_NA:
            NaInput(inp, m, len);
            return;
        case ICMP6_TYPE_NS:
            NsInput(inp, m, len);
            return;
        case ICMP6_TYPE_RA:
            RaInput(inp, m, len);
            return;
        case ICMP6_TYPE_RD:
            RedirectInput(inp, m, len);
            return;
        case ICMP6_TYPE_PTB:
            PacketTooBigInput(m, len);
            return;
        default:
            return;
    }
}

void nd6_tmr() {
    for (int i = 0; i < LWIP_ND6_NUM_NEIGHBORS; ++i) {
        auto& e = neighbor_cache[i];
        switch (e.state) {
            case ND6_INCOMPLETE:
                if (e.counter >= LWIP_ND6_MAX_MULTICAST_SOLICIT) {
                    FreeNeighbor(i);
                } else {
                    ++e.counter;
                    if (e.netif != nullptr) SendNs(e.netif, &e.next_hop_address, true);
                }
                break;
            case ND6_REACHABLE:
                CountDown(e, ND6_STALE);
                break;
            case ND6_STALE:
                e.counter += ND6_TMR_INTERVAL;
                break;
            case ND6_DELAY:
                CountDown(e, ND6_PROBE);
                break;
            case ND6_PROBE:
                if (e.counter >= LWIP_ND6_MAX_UNICAST_SOLICIT && !e.isrouter) {
                    FreeNeighbor(i);
                } else {
                    ++e.counter;
                    if (e.netif != nullptr) SendNs(e.netif, &e.next_hop_address, false);
                }
                break;
            default:
                break;
        }
    }
    for (auto& d : destination_cache) ++d.age;
    for (auto& r : default_router_list) {
        if (r.neighbor_entry == nullptr) continue;
        if (r.invalidation_timer > 0) --r.invalidation_timer;
        if (r.invalidation_timer == 0) {
            r.neighbor_entry->isrouter = 0;
            r = nd6_router_list_entry{};
        }
    }
    for (auto& pfx : prefix_list) {
        if (pfx.netif == nullptr) continue;
        if (pfx.invalidation_timer > 0) --pfx.invalidation_timer;
        if (pfx.invalidation_timer == 0) pfx = nd6_prefix_list_entry{};
    }
    for (netif* n = netif_list; n != nullptr; n = n->next) {
        for (int i = 0; i < LWIP_IPV6_NUM_ADDRESSES; ++i) {
            uint8_t st = n->ip6_addr_state[i];
            if (!ip6_addr_istentative(st)) continue;
            if ((st & 0x07) >= 1) {
                n->ip6_addr_state[i] = IP6_ADDR_PREFERRED;
            } else {
                SendNs(n, &n->ip6_addr[i], true);
                n->ip6_addr_state[i] = static_cast<uint8_t>(st + 1);
            }
        }
        if (n->rs_count > 0 && netif_is_up(n)) {
            SendRs(n);
            --n->rs_count;
        }
    }
}

int nd6_get_next_hop_entry(const ip6_addr_t* dest, netif* n) {
    int d = FindDestination(dest);
    if (d < 0) {
        d = NewDestination();
        auto& e = destination_cache[d];
        e.destination_addr = *dest;
        e.pmtu = n != nullptr ? n->mtu : 0;
        e.next_hop_addr = *dest;
        if (!ip6_addr_islinklocal(dest) && n != nullptr && !OnLink(dest, n)) {
            int r = SelectRouter();
            if (r >= 0) e.next_hop_addr = default_router_list[r].neighbor_entry->next_hop_address;
        }
    }
    destination_cache[d].age = 0;
    bool known = FindNeighbor(&destination_cache[d].next_hop_addr) >= 0;
    int i = FindOrAddNeighbor(&destination_cache[d].next_hop_addr, n, ND6_INCOMPLETE, 1);
    if (i < 0) return -1;
    if (!known && n != nullptr) SendNs(n, &neighbor_cache[i].next_hop_address, true);
    return i;
}

err_t nd6_queue_packet(int i, pbuf* p) {
    if (i < 0 || i >= LWIP_ND6_NUM_NEIGHBORS || neighbor_cache[i].state == ND6_NO_ENTRY) return ERR_ARG;
    pbuf* copy = pbuf_alloc(PBUF_LINK, p->tot_len, PBUF_RAM);
    if (copy == nullptr) return ERR_MEM;
    pbuf_copy(copy, p);
    if (neighbor_cache[i].q != nullptr) pbuf_free(neighbor_cache[i].q);
    neighbor_cache[i].q = copy;
    return ERR_OK;
}

netif* nd6_find_route(const ip6_addr_t* dest) {
    (void)dest;
    int r = SelectRouter();
    return r >= 0 ? default_router_list[r].neighbor_entry->netif : nullptr;
}

uint16_t nd6_get_destination_mtu(const ip6_addr_t* dest, netif* n) {
    int d = FindDestination(dest);
    if (d >= 0 && destination_cache[d].pmtu != 0) return destination_cache[d].pmtu;
    if (n != nullptr) return n->mtu;
    return IP6_MIN_MTU;
}

void nd6_reachability_hint(const ip6_addr_t* addr) {
    int d = FindDestination(addr);
    const ip6_addr_t* hop = d >= 0 ? &destination_cache[d].next_hop_addr : addr;
    int i = FindNeighbor(hop);
    if (i < 0 || neighbor_cache[i].state == ND6_INCOMPLETE) return;
    neighbor_cache[i].state = ND6_REACHABLE;
    neighbor_cache[i].counter = reachable_time;
}

void nd6_free_all() {
    for (int i = 0; i < LWIP_ND6_NUM_NEIGHBORS; ++i) FreeNeighbor(i);
    std::memset(destination_cache, 0, sizeof(destination_cache));
    std::memset(prefix_list, 0, sizeof(prefix_list));
    std::memset(default_router_list, 0, sizeof(default_router_list));
    reachable_time = LWIP_ND6_REACHABLE_TIME;
    retrans_timer = LWIP_ND6_RETRANS_TIMER;
    router_round = 0;
}
