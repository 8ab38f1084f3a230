#include "engine/stack/ip6_frag.h"

#include <cstring>

#include "engine/stack/icmp6.h"
#include "engine/stack/ip6.h"
#include "engine/stack/memp.h"

uint16_t ip6_reass_pbufcount = 0;
static ip6_reassdata* reassdatagrams = nullptr;

namespace {

void Dequeue(ip6_reassdata* ipr) {
    for (ip6_reassdata** pp = &reassdatagrams; *pp != nullptr; pp = &(*pp)->next) {
        if (*pp == ipr) {
            *pp = ipr->next;
            break;
        }
    }
    memp_free(MEMP_IP6_REASSDATA, ipr);
}

uint16_t FreeDatagram(ip6_reassdata* ipr, bool notify) {
    uint16_t freed = 0;
    for (uint8_t i = 0; i < ipr->nfrags; ++i) {
        pbuf* p = ipr->frags[i].p;
        if (notify && i == 0 && ipr->frags[0].start == 0)
            icmp6_send_response(p, ICMP6_TE_FRAG, 0, ICMP6_TYPE_TE);
        freed = static_cast<uint16_t>(freed + pbuf_clen(p));
        pbuf_free(p);
    }
    ip6_reass_pbufcount = static_cast<uint16_t>(ip6_reass_pbufcount - freed);
    Dequeue(ipr);
    return freed;
}

bool RemoveOldest(const ip6_reassdata* own, int needed) {
    int freed = 0;
    for (;;) {
        ip6_reassdata* oldest = nullptr;
        for (ip6_reassdata* r = reassdatagrams; r != nullptr; r = r->next) {
            if (r != own) oldest = r;
        }
        if (oldest == nullptr) break;
        freed += FreeDatagram(oldest, true);
        if (freed >= needed) break;
    }
    return freed >= needed;
}

}  // namespace

pbuf* ip6_reass(pbuf* p, uint16_t hdr_off, uint16_t nexth_off) {
    const auto* fh = static_cast<const uint8_t*>(p->payload);
    uint16_t off_m = static_cast<uint16_t>((fh[2] << 8) | fh[3]);
    uint32_t id;
    std::memcpy(&id, fh + 4, 4);
    uint32_t start = off_m & 0xfff8U;
    uint32_t end = start + p->tot_len - 8;
    pbuf_header(p, static_cast<int16_t>(hdr_off));  // back to the IPv6 header
    const auto* ip6h = static_cast<const ip6_hdr*>(p->payload);
    ip6_addr_t src = ip6_hdr_src(ip6h), dest = ip6_hdr_dest(ip6h);
    // Data beyond 65535 - headers cannot be put back into one packet.
    if (end > 0xffffU - hdr_off) {
        pbuf_free(p);
        return nullptr;
    }

    ip6_reassdata* ipr = reassdatagrams;
    for (; ipr != nullptr; ipr = ipr->next) {
        if (ipr->identification == id && ip6_addr_cmp(&ipr->src, &src) && ip6_addr_cmp(&ipr->dest, &dest))
            break;
    }
    uint16_t clen = pbuf_clen(p);
    if (ip6_reass_pbufcount + clen > IP6_REASS_MAX_PBUFS) {
        RemoveOldest(ipr, ip6_reass_pbufcount + clen - IP6_REASS_MAX_PBUFS);
        if (ip6_reass_pbufcount + clen > IP6_REASS_MAX_PBUFS) {
            pbuf_free(p);
            return nullptr;
        }
    }
    if (ipr == nullptr) {
        ipr = static_cast<ip6_reassdata*>(memp_malloc(MEMP_IP6_REASSDATA));
        if (ipr == nullptr && RemoveOldest(nullptr, clen)) {
            ipr = static_cast<ip6_reassdata*>(memp_malloc(MEMP_IP6_REASSDATA));
        }
        if (ipr == nullptr) {
            pbuf_free(p);
            return nullptr;
        }
        std::memset(ipr, 0, sizeof(*ipr));
        ipr->src = src;
        ipr->dest = dest;
        ipr->identification = id;
        ipr->timer = IP_REASS_MAXAGE;
        ipr->next = reassdatagrams;
        reassdatagrams = ipr;
    }

    // Insert by start; a duplicate or an overlap is dropped.
    uint8_t pos = 0;
    while (pos < ipr->nfrags && ipr->frags[pos].start < start) ++pos;
    bool overlap = (pos < ipr->nfrags && ipr->frags[pos].start < end) ||
                   (pos < ipr->nfrags && ipr->frags[pos].start == start) ||
                   (pos > 0 && ipr->frags[pos - 1].end > start) || ipr->nfrags >= IP6_REASS_MAX_PBUFS;
    if (overlap) {
        pbuf_free(p);
        return nullptr;
    }
    ip6_reass_pbufcount = static_cast<uint16_t>(ip6_reass_pbufcount + clen);
    if (!(off_m & 1U)) {
        ipr->flags |= 1;
        ipr->datagram_len = static_cast<uint16_t>(end);
    }
    std::memmove(&ipr->frags[pos + 1], &ipr->frags[pos], (ipr->nfrags - pos) * sizeof(ip6_reass_frag));
    ipr->frags[pos] =
        ip6_reass_frag{p, static_cast<uint16_t>(start), static_cast<uint16_t>(end), hdr_off, nexth_off};
    ++ipr->nfrags;

    if (!(ipr->flags & 1)) return nullptr;
    uint16_t expect = 0;
    for (uint8_t i = 0; i < ipr->nfrags; ++i) {
        if (ipr->frags[i].start != expect) return nullptr;
        expect = ipr->frags[i].end;
    }
    if (expect != ipr->datagram_len) return nullptr;
    if (ipr->frags[0].hdr_len + uint32_t(ipr->datagram_len) > 0xffffU) {
        FreeDatagram(ipr, false);
        return nullptr;
    }

    // Whole: the first fragment keeps its unfragmentable part without the
    // fragment header; the others lose all their headers.
    ip6_reass_frag first = ipr->frags[0];
    pbuf* whole = first.p;
    auto* base = static_cast<uint8_t*>(whole->payload);
    uint16_t unfrag = static_cast<uint16_t>(first.hdr_len);
    uint8_t frag_nexth = base[unfrag];
    base[first.nexth_off] = frag_nexth;
    std::memmove(base + 8, base, unfrag);
    pbuf_header(whole, -8);
    for (uint8_t i = 1; i < ipr->nfrags; ++i) {
        pbuf* r = ipr->frags[i].p;
        pbuf_header(r, static_cast<int16_t>(-(ipr->frags[i].hdr_len + 8)));
        pbuf_cat(whole, r);
    }
    auto* h = static_cast<ip6_hdr*>(whole->payload);
    h->_plen = htons(static_cast<uint16_t>(unfrag - IP6_HLEN + ipr->datagram_len));
    ip6_reass_pbufcount = static_cast<uint16_t>(ip6_reass_pbufcount - pbuf_clen(whole));
    Dequeue(ipr);
    return whole;
}

void ip6_reass_free_all() {
    while (reassdatagrams != nullptr) FreeDatagram(reassdatagrams, false);
}
