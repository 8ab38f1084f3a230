#include "engine/stack/ip4_frag.h"

#include <cstring>

#include "engine/stack/icmp.h"
#include "engine/stack/inet_chksum.h"
#include "engine/stack/memp.h"

uint16_t ip_reass_pbufcount = 0;
static ip_reassdata* reassdatagrams = nullptr;

namespace {

// Kept in the first bytes of each held fragment's own (already parsed) IP header.
struct ip_reass_helper {
    pbuf* next_pbuf;
    uint16_t start;
    uint16_t end;
};
static_assert(sizeof(ip_reass_helper) <= IP_HLEN, "the link record must fit into an IP header");

ip_reass_helper GetHelper(const pbuf* p) {
    ip_reass_helper h;
    std::memcpy(&h, p->payload, sizeof(h));
    return h;
}
void SetHelper(pbuf* p, const ip_reass_helper& h) {
    std::memcpy(p->payload, &h, sizeof(h));
}

bool SameDatagram(const ip_reassdata* ipr, const ip_hdr* h) {
    return ipr->iphdr.src == h->src && ipr->iphdr.dest == h->dest && ipr->iphdr._id == h->_id;
}

void Dequeue(ip_reassdata* ipr) {
    for (ip_reassdata** pp = &reassdatagrams; *pp != nullptr; pp = &(*pp)->next) {
        if (*pp == ipr) {
            *pp = ipr->next;
            break;
        }
    }
    memp_free(MEMP_REASSDATA, ipr);
}

// Releases a held datagram; tells the source when its first fragment had come.
uint16_t FreeDatagram(ip_reassdata* ipr, bool notify) {
    uint16_t freed = 0;
    pbuf* p = ipr->p;
    if (p != nullptr) {
        ip_reass_helper h = GetHelper(p);
        if (h.start == 0) {
            pbuf* next = h.next_pbuf;
            std::memcpy(p->payload, &ipr->iphdr, IP_HLEN);
            if (notify) icmp_time_exceeded(p, ICMP_TE_FRAG);
            freed = static_cast<uint16_t>(freed + pbuf_clen(p));
            pbuf_free(p);
            p = next;
        }
    }
    while (p != nullptr) {
        pbuf* next = GetHelper(p).next_pbuf;
        freed = static_cast<uint16_t>(freed + pbuf_clen(p));
        pbuf_free(p);
        p = next;
    }
    ip_reass_pbufcount = static_cast<uint16_t>(ip_reass_pbufcount - freed);
    Dequeue(ipr);
    return freed;
}

// Evicts the earliest-created records other than the fragment's own until
// `needed` buffers were freed or no other record is left.
bool RemoveOldest(const ip_hdr* fraghdr, int needed) {
    int freed = 0;
    for (;;) {
        ip_reassdata* oldest = nullptr;
        for (ip_reassdata* r = reassdatagrams; r != nullptr; r = r->next) {
            if (!SameDatagram(r, fraghdr)) oldest = r;
        }
        if (oldest == nullptr) break;
        freed += FreeDatagram(oldest, true);
        if (freed >= needed) break;
    }
    return freed >= needed;
}

// Inserts the fragment by offset; false when it duplicates or overlaps a held one
// (it is then released).
bool Insert(ip_reassdata* ipr, pbuf* new_p, uint16_t start, uint16_t end) {
    ip_reass_helper nh{nullptr, start, end};
    pbuf* prev = nullptr;
    ip_reass_helper prev_h{};
    pbuf* q = ipr->p;
    while (q != nullptr) {
        ip_reass_helper qh = GetHelper(q);
        if (start < qh.start) {
            if ((prev != nullptr && start < prev_h.end) || end > qh.start) goto drop;
            break;
        }
        if (start < qh.end) goto drop;  // same start or overlap with a held fragment
        prev = q;
        prev_h = qh;
        q = qh.next_pbuf;
    }
    if (q == nullptr && prev != nullptr && start < prev_h.end) goto drop;
    nh.next_pbuf = q;
    SetHelper(new_p, nh);
    if (prev != nullptr) {
        prev_h.next_pbuf = new_p;
        SetHelper(prev, prev_h);
    } else {
        ipr->p = new_p;
    }
    return true;
drop:
    ip_reass_pbufcount = static_cast<uint16_t>(ip_reass_pbufcount - pbuf_clen(new_p));
    pbuf_free(new_p);
    return false;
}

bool Complete(const ip_reassdata* ipr) {
    if (!(ipr->flags & IP_REASS_FLAG_LASTFRAG) || ipr->p == nullptr) return false;
    uint16_t expect = 0;
    for (const pbuf* q = ipr->p; q != nullptr;) {
        ip_reass_helper h = GetHelper(q);
        if (h.start != expect) return false;
        expect = h.end;
        q = h.next_pbuf;
    }
    return expect == ipr->datagram_len;
}

}  // namespace

pbuf* ip_reassemble(pbuf* p) {
    auto* fraghdr = static_cast<ip_hdr*>(p->payload);
    if (IPH_HL(fraghdr) * 4 != IP_HLEN) {
        pbuf_free(p);
        return nullptr;
    }
    uint16_t off_field = ntohs(fraghdr->_offset);
    uint32_t start = (off_field & IP_OFFMASK) * 8U;
    uint32_t end = start + ntohs(fraghdr->_len) - IP_HLEN;
    // The whole datagram with its header must fit a 16-bit length.
    if (end > 0xffffU - IP_HLEN) {
        pbuf_free(p);
        return nullptr;
    }
    uint16_t clen = pbuf_clen(p);
    if (ip_reass_pbufcount + clen > IP_REASS_MAX_PBUFS) {
        RemoveOldest(fraghdr, ip_reass_pbufcount + clen - IP_REASS_MAX_PBUFS);
        if (ip_reass_pbufcount + clen > IP_REASS_MAX_PBUFS) {
            pbuf_free(p);
            return nullptr;
        }
    }

    ip_reassdata* ipr = reassdatagrams;
    for (; ipr != nullptr; ipr = ipr->next) {
        if (SameDatagram(ipr, fraghdr)) break;
    }
    if (ipr == nullptr) {
        ipr = static_cast<ip_reassdata*>(memp_malloc(MEMP_REASSDATA));
        if (ipr == nullptr && RemoveOldest(fraghdr, clen)) {
            ipr = static_cast<ip_reassdata*>(memp_malloc(MEMP_REASSDATA));
        }
        if (ipr == nullptr) {
            pbuf_free(p);
            return nullptr;
        }
        std::memset(ipr, 0, sizeof(*ipr));
        std::memcpy(&ipr->iphdr, fraghdr, IP_HLEN);
        ipr->timer = IP_REASS_MAXAGE;
        ipr->next = reassdatagrams;
        reassdatagrams = ipr;
    } else if (start == 0 && (ntohs(ipr->iphdr._offset) & IP_OFFMASK) != 0) {
        std::memcpy(&ipr->iphdr, fraghdr, IP_HLEN);
    }
    ip_reass_pbufcount = static_cast<uint16_t>(ip_reass_pbufcount + clen);
    if (!(off_field & IP_MF)) {
        ipr->flags |= IP_REASS_FLAG_LASTFRAG;
        ipr->datagram_len = static_cast<uint16_t>(end);
    }
    if (!Insert(ipr, p, static_cast<uint16_t>(start), static_cast<uint16_t>(end)) || !Complete(ipr))
        return nullptr;

    // Whole: the first fragment carries the stored header, the others lose theirs.
    pbuf* whole = ipr->p;
    pbuf* r = GetHelper(whole).next_pbuf;
    auto* h = static_cast<ip_hdr*>(whole->payload);
    std::memcpy(h, &ipr->iphdr, IP_HLEN);
    h->_len = htons(static_cast<uint16_t>(ipr->datagram_len + IP_HLEN));
    h->_offset = 0;
    h->_chksum = 0;
    h->_chksum = inet_chksum(h, IP_HLEN);
    while (r != nullptr) {
        pbuf* next = GetHelper(r).next_pbuf;
        pbuf_header(r, -IP_HLEN);
        pbuf_cat(whole, r);
        r = next;
    }
    ip_reass_pbufcount = static_cast<uint16_t>(ip_reass_pbufcount - pbuf_clen(whole));
    Dequeue(ipr);
    return whole;
}

void ip_reass_free_all() {
    while (reassdatagrams != nullptr) FreeDatagram(reassdatagrams, false);
}

static void ipfrag_free_pbuf_custom(pbuf* p) {
    auto* pcr = reinterpret_cast<pbuf_custom_ref*>(p);
    if (pcr->original != nullptr) pbuf_free(pcr->original);
    pbuf_custom_ref_free(pcr);
}

err_t ip_frag(pbuf* p, netif* n, const ip4_addr_t* dest) {
    LWIP_ASSERT("this needs a pbuf in one piece!", p->len >= IP_HLEN);
    const auto* original = static_cast<const ip_hdr*>(p->payload);
    uint16_t nfb = static_cast<uint16_t>((n->mtu - IP_HLEN) / 8);
    uint16_t ofo = ntohs(original->_offset);
    uint16_t omf = ofo & IP_MF;
    ofo &= IP_OFFMASK;
    uint16_t left = static_cast<uint16_t>(p->tot_len - IP_HLEN);

    pbuf* q = p;
    uint16_t qoff = IP_HLEN;  // offset of the next data byte inside q
    err_t result = ERR_OK;
    while (left > 0) {
        bool last = left <= nfb * 8;
        uint16_t cop = last ? left : static_cast<uint16_t>(nfb * 8);
        uint16_t field = static_cast<uint16_t>(omf | (ofo & IP_OFFMASK));
        if (!last) field |= IP_MF;

        pbuf* rambuf = pbuf_alloc(PBUF_LINK, IP_HLEN, PBUF_RAM);
        if (rambuf == nullptr) return ERR_MEM;
        std::memcpy(rambuf->payload, original, IP_HLEN);
        uint16_t to_copy = cop;
        while (to_copy > 0) {
            if (qoff >= q->len) {
                q = q->next;
                qoff = 0;
                continue;
            }
            uint16_t piece = static_cast<uint16_t>(q->len - qoff);
            if (piece > to_copy) piece = to_copy;
            pbuf_custom_ref* pcr = pbuf_custom_ref_alloc();
            if (pcr == nullptr) {
                pbuf_free(rambuf);
                return ERR_MEM;
            }
            pbuf* np = &pcr->pc.pbuf;
            np->payload = static_cast<uint8_t*>(q->payload) + qoff;
            np->len = np->tot_len = piece;
            np->type = PBUF_REF;
            np->flags = PBUF_FLAG_IS_CUSTOM;
            np->ref = 1;
            pcr->original = q;
            pbuf_ref(q);
            pcr->pc.custom_free_function = ipfrag_free_pbuf_custom;
            pbuf_cat(rambuf, np);
            to_copy = static_cast<uint16_t>(to_copy - piece);
            qoff = static_cast<uint16_t>(qoff + piece);
        }
        auto* h = static_cast<ip_hdr*>(rambuf->payload);
        h->_offset = htons(field);
        h->_len = htons(static_cast<uint16_t>(cop + IP_HLEN));
        h->_chksum = 0;
        h->_chksum = inet_chksum(h, IP_HLEN);
        result = n->output(n, rambuf, dest);
        pbuf_free(rambuf);
        left = static_cast<uint16_t>(left - cop);
        ofo = static_cast<uint16_t>(ofo + nfb);
    }
    return result;
}
