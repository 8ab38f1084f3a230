// TCP output: the send queue, segment building, transmission under the send
// and congestion windows and Nagle, retransmission, resets and probes.
#include <cstring>

#include "engine/stack/inet_chksum.h"
#include "engine/stack/ip4.h"
#include "engine/stack/ip6.h"
#include "engine/stack/memp.h"
#include "engine/stack/tcp_priv.h"

static uint32_t SegSeqOut(const tcp_seg* s) {
    return ntohl(s->tcphdr->seqno);
}

static tcp_seg* tcp_create_segment(tcp_pcb* pcb, pbuf* p, uint8_t hdrflags, uint32_t seqno,
                                   uint8_t optflags) {
    uint8_t optlen = LWIP_TCP_OPT_LENGTH(optflags);
    auto* seg = static_cast<tcp_seg*>(memp_malloc(MEMP_TCP_SEG));
    if (seg == nullptr) {
        pbuf_free(p);
        return nullptr;
    }
    seg->flags = optflags;
    seg->next = nullptr;
    seg->p = p;
    seg->len = static_cast<uint16_t>(p->tot_len - optlen);
    if (pbuf_header(p, TCP_HLEN)) {
        memp_free(MEMP_TCP_SEG, seg);
        pbuf_free(p);
        return nullptr;
    }
    seg->tcphdr = static_cast<tcp_hdr*>(p->payload);
    seg->tcphdr->src = htons(pcb->local_port);
    seg->tcphdr->dest = htons(pcb->remote_port);
    seg->tcphdr->seqno = htonl(seqno);
    TCPH_HDRLEN_FLAGS_SET(seg->tcphdr, static_cast<uint16_t>(5 + optlen / 4), hdrflags);
    seg->tcphdr->urgp = 0;
    return seg;
}

// A buffer for `length` bytes; while Nagle may hold the data back, it gets
// spare room so later small writes fill it instead of making new segments.
static pbuf* tcp_pbuf_prealloc(pbuf_layer layer, uint16_t length, uint16_t max_length, uint16_t* oversize,
                               tcp_pcb* pcb, bool first_seg) {
    uint16_t alloc = length;
    if (length < max_length && !(pcb->flags & TF_NODELAY) &&
        (!first_seg || pcb->unsent != nullptr || pcb->unacked != nullptr)) {
        uint32_t want = (uint32_t(length) + TCP_MSS + 3U) & ~3U;
        alloc = static_cast<uint16_t>(want < max_length ? want : max_length);
    }
    pbuf* p = pbuf_alloc(layer, alloc, PBUF_RAM);
    if (p == nullptr) return nullptr;
    LWIP_ASSERT("need unchained pbuf", p->next == nullptr);
    *oversize = static_cast<uint16_t>(p->len - length);
    p->len = p->tot_len = length;
    return p;
}

static err_t tcp_write_checks(tcp_pcb* pcb, uint16_t len) {
    if (pcb->state != ESTABLISHED && pcb->state != CLOSE_WAIT && pcb->state != SYN_SENT &&
        pcb->state != SYN_RCVD) {
        return ERR_CONN;
    }
    if (len == 0) return ERR_OK;
    if (len > pcb->snd_buf || pcb->snd_queuelen >= TCP_SND_QUEUELEN) {
        pcb->flags |= TF_NAGLEMEMERR;
        return ERR_MEM;
    }
    return ERR_OK;
}

err_t tcp_write(tcp_pcb* pcb, const void* arg, uint16_t len) {
    LWIP_ASSERT("tcp_write: arg == NULL (programmer violates API)", arg != nullptr);
    err_t err = tcp_write_checks(pcb, len);
    if (err != ERR_OK) return err;
    if (len == 0) return ERR_OK;
    const auto* data = static_cast<const uint8_t*>(arg);
    uint16_t queuelen = pcb->snd_queuelen;
    uint16_t mss_local =
        pcb->mss < pcb->snd_wnd_max / 2 ? pcb->mss : static_cast<uint16_t>(pcb->snd_wnd_max / 2);
    uint16_t pos = 0, oversize = 0, oversize_used = 0;
    tcp_seg* last_unsent = nullptr;
    tcp_seg* queue = nullptr;
    tcp_seg* prev_seg = nullptr;
    tcp_seg* seg = nullptr;
    pbuf* concat_p = nullptr;

    if (pcb->unsent != nullptr) {
        for (last_unsent = pcb->unsent; last_unsent->next != nullptr; last_unsent = last_unsent->next) {
        }
        int space = int(mss_local) - (last_unsent->len + LWIP_TCP_OPT_LENGTH(last_unsent->flags));
        oversize = pcb->unsent_oversize;
        if (oversize > 0) {
            oversize_used = oversize < len ? oversize : len;
            pos = static_cast<uint16_t>(pos + oversize_used);
            oversize = static_cast<uint16_t>(oversize - oversize_used);
            space -= oversize_used;
        }
        if (pos < len && space > 0 && last_unsent->len > 0) {
            auto seglen = static_cast<uint16_t>(space < len - pos ? space : len - pos);
            concat_p =
                tcp_pbuf_prealloc(PBUF_RAW, seglen, static_cast<uint16_t>(space), &oversize, pcb, true);
            if (concat_p == nullptr) goto memerr;
            std::memcpy(concat_p->payload, data + pos, seglen);
            pos = static_cast<uint16_t>(pos + seglen);
            queuelen = static_cast<uint16_t>(queuelen + pbuf_clen(concat_p));
        }
    }

    while (pos < len) {
        if (mss_local == 0) goto memerr;  // the peer never announced a usable window
        uint16_t left = static_cast<uint16_t>(len - pos);
        uint16_t seglen = left > mss_local ? mss_local : left;
        pbuf* p = tcp_pbuf_prealloc(PBUF_TRANSPORT, seglen, mss_local, &oversize, pcb, queue == nullptr);
        if (p == nullptr) goto memerr;
        std::memcpy(p->payload, data + pos, seglen);
        queuelen = static_cast<uint16_t>(queuelen + pbuf_clen(p));
        if (queuelen > TCP_SND_QUEUELEN) {
            pbuf_free(p);
            goto memerr;
        }
        seg = tcp_create_segment(pcb, p, 0, pcb->snd_lbb + pos, 0);
        if (seg == nullptr) goto memerr;
        if (queue == nullptr) {
            queue = seg;
        } else {
            prev_seg->next = seg;
        }
        prev_seg = seg;
        pos = static_cast<uint16_t>(pos + seglen);
    }

    // Everything is allocated: commit.
    if (oversize_used > 0) {
        for (pbuf* p = last_unsent->p; p != nullptr; p = p->next) {
            p->tot_len = static_cast<uint16_t>(p->tot_len + oversize_used);
            if (p->next == nullptr) {
                std::memcpy(static_cast<uint8_t*>(p->payload) + p->len, data, oversize_used);
                p->len = static_cast<uint16_t>(p->len + oversize_used);
            }
        }
        last_unsent->len = static_cast<uint16_t>(last_unsent->len + oversize_used);
    }
    pcb->unsent_oversize = oversize;
    if (concat_p != nullptr) {
        pbuf_cat(last_unsent->p, concat_p);
        last_unsent->len = static_cast<uint16_t>(last_unsent->len + concat_p->tot_len);
    }
    if (last_unsent == nullptr) {
        pcb->unsent = queue;
    } else {
        last_unsent->next = queue;
    }
    pcb->snd_lbb += len;
    pcb->snd_buf -= len;
    pcb->snd_queuelen = queuelen;
    if (seg == nullptr) seg = last_unsent;
    if (seg != nullptr) TCPH_SET_FLAG(seg->tcphdr, TCP_PSH);
    return ERR_OK;

memerr:
    pcb->flags |= TF_NAGLEMEMERR;
    if (concat_p != nullptr) pbuf_free(concat_p);
    tcp_segs_free(queue);
    return ERR_MEM;
}

err_t tcp_enqueue_flags(tcp_pcb* pcb, uint8_t hdrflags) {
    LWIP_ASSERT("tcp_enqueue_flags: need either TCP_SYN or TCP_FIN in flags (programmer violates API)",
                (hdrflags & (TCP_SYN | TCP_FIN)) != 0);
    if (pcb->snd_queuelen >= TCP_SND_QUEUELEN) {
        pcb->flags |= TF_NAGLEMEMERR;
        return ERR_MEM;
    }
    uint8_t optflags = 0;
    if (hdrflags & TCP_SYN) {
        optflags = TF_SEG_OPTS_MSS;
        if (pcb->rcv_scale != 0) optflags |= TF_SEG_OPTS_WND_SCALE;
        if (pcb->sack_ok) optflags |= TF_SEG_OPTS_SACK_PERM;
    }
    uint8_t optlen = LWIP_TCP_OPT_LENGTH(optflags);
    if (pcb->snd_buf == 0) return ERR_MEM;
    pbuf* p = pbuf_alloc(PBUF_TRANSPORT, optlen, PBUF_RAM);
    if (p == nullptr) {
        pcb->flags |= TF_NAGLEMEMERR;
        return ERR_MEM;
    }
    tcp_seg* seg = tcp_create_segment(pcb, p, hdrflags, pcb->snd_lbb, optflags);
    if (seg == nullptr) {
        pcb->flags |= TF_NAGLEMEMERR;
        return ERR_MEM;
    }
    if (pcb->unsent == nullptr) {
        pcb->unsent = seg;
    } else {
        tcp_seg* last = pcb->unsent;
        while (last->next != nullptr) last = last->next;
        last->next = seg;
    }
    pcb->unsent_oversize = 0;
    ++pcb->snd_lbb;
    --pcb->snd_buf;
    if (hdrflags & TCP_FIN) pcb->flags |= TF_FIN;
    pcb->snd_queuelen = static_cast<uint16_t>(pcb->snd_queuelen + pbuf_clen(seg->p));
    return ERR_OK;
}

err_t tcp_send_fin(tcp_pcb* pcb) {
    if (pcb->unsent != nullptr) {
        tcp_seg* last = pcb->unsent;
        while (last->next != nullptr) last = last->next;
        if ((TCPH_FLAGS(last->tcphdr) & (TCP_SYN | TCP_FIN | TCP_RST)) == 0) {
            TCPH_SET_FLAG(last->tcphdr, TCP_FIN);
            pcb->flags |= TF_FIN;
            return ERR_OK;
        }
    }
    return tcp_enqueue_flags(pcb, TCP_FIN);
}

// The window field of a segment, and the right edge it announces: scaled
// except on a SYN, and rounded up so that scaling never moves an announced
// edge back (the edge may then lie a few bytes beyond the window; what
// arrives there is trimmed).
static uint16_t AnnounceWindow(tcp_pcb* pcb, bool syn) {
    uint32_t wnd = pcb->rcv_ann_wnd;
    uint8_t shift = syn ? 0 : pcb->rcv_scale;
    wnd = (wnd + (1U << shift) - 1) >> shift;
    if (wnd > 0xffff) wnd = 0xffff;
    pcb->rcv_ann_right_edge = pcb->rcv_nxt + (wnd << shift);
    return static_cast<uint16_t>(wnd);
}

// A header-only segment with ACK for the block; IP room in front.
// `optlen` bytes of options (a multiple of 4) follow the header.
static pbuf* tcp_output_alloc_header(tcp_pcb* pcb, uint16_t datalen, uint32_t seqno_be, uint8_t optlen = 0) {
    pbuf* p = pbuf_alloc(PBUF_IP, static_cast<uint16_t>(TCP_HLEN + optlen + datalen), PBUF_RAM);
    if (p == nullptr) return nullptr;
    auto* h = static_cast<tcp_hdr*>(p->payload);
    h->src = htons(pcb->local_port);
    h->dest = htons(pcb->remote_port);
    h->seqno = seqno_be;
    h->ackno = htonl(pcb->rcv_nxt);
    TCPH_HDRLEN_FLAGS_SET(h, static_cast<uint16_t>(5 + optlen / 4), TCP_ACK);
    h->wnd = htons(AnnounceWindow(pcb, false));
    h->chksum = 0;
    h->urgp = 0;
    return p;
}

static void SendHeaderOnly(tcp_pcb* pcb, pbuf* p, uint8_t tos) {
    auto* h = static_cast<tcp_hdr*>(p->payload);
    h->chksum = ipX_chksum_pseudo(pcb->isipv6, p, IP_PROTO_TCP, p->tot_len, &pcb->local_ip, &pcb->remote_ip);
    ipX_output(pcb->isipv6, p, &pcb->local_ip, &pcb->remote_ip, pcb->ttl, tos, IP_PROTO_TCP);
    pbuf_free(p);
}

// The out-of-order queue as SACK blocks (RFC 2018): runs of contiguous
// queued data, the one holding the segment that arrived last first, then
// the others from the highest down (the newest the peer sent); at most
// TCP_MAX_SACK_BLOCKS. Queued input segments carry their sequence number in
// host order.
static int SackBlocks(const tcp_pcb* pcb, uint32_t (*out)[2]) {
    uint32_t runs[TCP_MAX_SACK_BLOCKS * 4][2];
    int n = 0;
    for (const tcp_seg* s = pcb->ooseq; s != nullptr; s = s->next) {
        uint32_t left = s->tcphdr->seqno;
        uint32_t right = left + TCP_TCPLEN_HOSTHDR(s, TCPH_FLAGS(s->tcphdr));
        if (n > 0 && runs[n - 1][1] == left) {
            runs[n - 1][1] = right;
        } else if (n < int(sizeof runs / sizeof runs[0])) {
            runs[n][0] = left;
            runs[n][1] = right;
            ++n;
        } else {
            // More runs than we keep: the newest (highest) ones matter more.
            std::memmove(runs, runs + 1, sizeof runs[0] * size_t(n - 1));
            runs[n - 1][0] = left;
            runs[n - 1][1] = right;
        }
    }
    int count = 0;
    int first = -1;
    for (int i = 0; i < n; ++i) {
        if (TCP_SEQ_GEQ(pcb->ooseq_last, runs[i][0]) && TCP_SEQ_LT(pcb->ooseq_last, runs[i][1])) first = i;
    }
    if (first >= 0) {
        out[count][0] = runs[first][0];
        out[count][1] = runs[first][1];
        ++count;
    }
    for (int i = n - 1; i >= 0 && count < TCP_MAX_SACK_BLOCKS; --i) {
        if (i == first) continue;
        out[count][0] = runs[i][0];
        out[count][1] = runs[i][1];
        ++count;
    }
    return count;
}

err_t tcp_send_empty_ack(tcp_pcb* pcb) {
    uint32_t blocks[TCP_MAX_SACK_BLOCKS][2];
    int nblocks = pcb->sack_ok && pcb->ooseq != nullptr ? SackBlocks(pcb, blocks) : 0;
    auto optlen = static_cast<uint8_t>(nblocks > 0 ? 4 + 8 * nblocks : 0);
    pbuf* p = tcp_output_alloc_header(pcb, 0, htonl(pcb->snd_nxt), optlen);
    if (p == nullptr) return ERR_BUF;
    if (nblocks > 0) {
        uint8_t* o = static_cast<uint8_t*>(p->payload) + TCP_HLEN;
        o[0] = 1;
        o[1] = 1;
        o[2] = 5;
        o[3] = static_cast<uint8_t>(2 + 8 * nblocks);
        for (int i = 0; i < nblocks; ++i) {
            uint32_t edges[2] = {htonl(blocks[i][0]), htonl(blocks[i][1])};
            std::memcpy(o + 4 + 8 * i, edges, 8);
        }
    }
    pcb->flags &= static_cast<uint8_t>(~(TF_ACK_DELAY | TF_ACK_NOW));
    SendHeaderOnly(pcb, p, pcb->tos);
    return ERR_OK;
}

static bool LocalAddressReady(tcp_pcb* pcb) {
    if (!ipX_addr_isany(pcb->isipv6, &pcb->local_ip)) return true;
    ipX_addr_t local{};
    if (pcb->isipv6) {
        netif* n = ip6_route_lookup(nullptr, &pcb->remote_ip.ip6);
        const ip6_addr_t* src = n != nullptr ? ip6_select_source(n, &pcb->remote_ip.ip6) : nullptr;
        if (src == nullptr) return false;
        local.ip6 = *src;
    } else {
        netif* n = ip_route_lookup(&pcb->remote_ip.ip4);
        if (n == nullptr) return false;
        ipX_addr_set_ip4(&local, &n->ip_addr);
    }
    // The address is part of the block's key in its table.
    uint8_t list = pcb->on_list;
    tcp_unlink(pcb);
    pcb->local_ip = local;
    if (list == TCP_ON_ACTIVE) tcp_reg_active(pcb);
    if (list == TCP_ON_TW) tcp_reg_tw(pcb);
    return true;
}

static void tcp_output_segment(tcp_seg* seg, tcp_pcb* pcb) {
    seg->tcphdr->ackno = htonl(pcb->rcv_nxt);
    bool syn = (TCPH_FLAGS(seg->tcphdr) & TCP_SYN) != 0;
    seg->tcphdr->wnd = htons(AnnounceWindow(pcb, syn));
    uint8_t* opts = reinterpret_cast<uint8_t*>(seg->tcphdr) + TCP_HLEN;
    if (seg->flags & TF_SEG_OPTS_MSS) {
        uint16_t mss = tcp_eff_send_mss(TCP_MSS, pcb->isipv6, &pcb->local_ip, &pcb->remote_ip);
        uint32_t opt = htonl(0x02040000U | mss);
        std::memcpy(opts, &opt, 4);
        opts += 4;
    }
    if (seg->flags & TF_SEG_OPTS_WND_SCALE) {
        uint32_t opt = htonl(0x01030300U | pcb->rcv_scale);
        std::memcpy(opts, &opt, 4);
        opts += 4;
    }
    if (seg->flags & TF_SEG_OPTS_SACK_PERM) {
        uint32_t opt = htonl(0x01010402U);
        std::memcpy(opts, &opt, 4);
    }
    if (!pcb->rtx_on) tcp_rtx_restart(pcb);
    if (!LocalAddressReady(pcb)) return;
    if (pcb->rttest == 0) {
        uint32_t now = tcp_now();
        pcb->rttest = now != 0 ? now : 1;
        pcb->rtseq = SegSeqOut(seg);
    }
    auto hdr_off = static_cast<uint16_t>(reinterpret_cast<uint8_t*>(seg->tcphdr) -
                                         static_cast<uint8_t*>(seg->p->payload));
    seg->p->len = static_cast<uint16_t>(seg->p->len - hdr_off);
    seg->p->tot_len = static_cast<uint16_t>(seg->p->tot_len - hdr_off);
    seg->p->payload = seg->tcphdr;
    seg->tcphdr->chksum = 0;
    seg->tcphdr->chksum = ipX_chksum_pseudo(pcb->isipv6, seg->p, IP_PROTO_TCP, seg->p->tot_len,
                                            &pcb->local_ip, &pcb->remote_ip);
    ipX_output(pcb->isipv6, seg->p, &pcb->local_ip, &pcb->remote_ip, pcb->ttl, pcb->tos, IP_PROTO_TCP);
}

// Whether Nagle lets the first unsent segment go now.
static bool tcp_do_output_nagle(const tcp_pcb* pcb) {
    return pcb->unacked == nullptr || (pcb->flags & (TF_NODELAY | TF_INFR)) ||
           (pcb->unsent != nullptr && (pcb->unsent->next != nullptr || pcb->unsent->len >= pcb->mss)) ||
           pcb->snd_buf == 0 || pcb->snd_queuelen >= TCP_SND_QUEUELEN;
}

err_t tcp_output(tcp_pcb* pcb) {
    LWIP_ASSERT("don't call tcp_output for listen-pcbs", pcb->state != LISTEN);
    if (tcp_input_pcb == pcb) return ERR_OK;
    if ((pcb->flags & TF_INFR) && pcb->sack_ok) tcp_sack_rexmit(pcb);
    uint32_t wnd = pcb->snd_wnd < pcb->cwnd ? pcb->snd_wnd : pcb->cwnd;
    tcp_seg* seg = pcb->unsent;
    if ((pcb->flags & TF_ACK_NOW) && (seg == nullptr || SegSeqOut(seg) - pcb->lastack + seg->len > wnd)) {
        return tcp_send_empty_ack(pcb);
    }
    tcp_seg* useg = pcb->unacked;
    if (useg != nullptr) {
        while (useg->next != nullptr) useg = useg->next;
    }
    while (seg != nullptr && SegSeqOut(seg) - pcb->lastack + seg->len <= wnd) {
        LWIP_ASSERT("RST not expected here!", (TCPH_FLAGS(seg->tcphdr) & TCP_RST) == 0);
        if (!tcp_do_output_nagle(pcb) && (pcb->flags & (TF_NAGLEMEMERR | TF_FIN)) == 0) break;
        pcb->unsent = seg->next;
        if (pcb->state != SYN_SENT) {
            TCPH_SET_FLAG(seg->tcphdr, TCP_ACK);
            pcb->flags &= static_cast<uint8_t>(~(TF_ACK_DELAY | TF_ACK_NOW));
        }
        tcp_output_segment(seg, pcb);
        uint32_t snd_nxt = SegSeqOut(seg) + TCP_TCPLEN(seg);
        if (TCP_SEQ_LT(pcb->snd_nxt, snd_nxt)) pcb->snd_nxt = snd_nxt;
        if (TCP_TCPLEN(seg) > 0) {
            seg->next = nullptr;
            if (pcb->unacked == nullptr) {
                pcb->unacked = seg;
                useg = seg;
            } else if (TCP_SEQ_LT(SegSeqOut(seg), SegSeqOut(useg))) {
                tcp_seg** cur = &pcb->unacked;
                while (*cur != nullptr && TCP_SEQ_LT(SegSeqOut(*cur), SegSeqOut(seg))) cur = &(*cur)->next;
                seg->next = *cur;
                *cur = seg;
            } else {
                useg->next = seg;
                useg = seg;
            }
        } else {
            tcp_seg_free(seg);
        }
        seg = pcb->unsent;
    }
    if (pcb->unsent == nullptr) pcb->unsent_oversize = 0;
    pcb->flags &= static_cast<uint8_t>(~TF_NAGLEMEMERR);
    return ERR_OK;
}

void tcp_rst(uint32_t seqno, uint32_t ackno, const ipX_addr_t* local_ip, const ipX_addr_t* remote_ip,
             uint16_t local_port, uint16_t remote_port, bool isipv6) {
    pbuf* p = pbuf_alloc(PBUF_IP, TCP_HLEN, PBUF_RAM);
    if (p == nullptr) return;
    auto* h = static_cast<tcp_hdr*>(p->payload);
    h->src = htons(local_port);
    h->dest = htons(remote_port);
    h->seqno = htonl(seqno);
    h->ackno = htonl(ackno);
    TCPH_HDRLEN_FLAGS_SET(h, 5, TCP_RST | TCP_ACK);
    h->wnd = htons(TCP_WND);
    h->chksum = 0;
    h->urgp = 0;
    h->chksum = ipX_chksum_pseudo(isipv6, p, IP_PROTO_TCP, p->tot_len, local_ip, remote_ip);
    ipX_output(isipv6, p, local_ip, remote_ip, TCP_TTL, 0, IP_PROTO_TCP);
    pbuf_free(p);
}

void tcp_rexmit_rto(tcp_pcb* pcb) {
    if (pcb->unacked == nullptr) return;
    // Everything goes again: what the peer reported holding is forgotten
    // (it may have dropped it), and so is the recovery the timeout ends.
    for (tcp_seg* s = pcb->unacked; s != nullptr; s = s->next) {
        s->flags &= static_cast<uint8_t>(~(TF_SEG_SACKED | TF_SEG_RETX));
    }
    pcb->flags &= static_cast<uint8_t>(~TF_INFR);
    tcp_seg* last = pcb->unacked;
    while (last->next != nullptr) last = last->next;
    last->next = pcb->unsent;
    pcb->unsent = pcb->unacked;
    pcb->unacked = nullptr;
    if (pcb->nrtx < 0xff) ++pcb->nrtx;
    pcb->rttest = 0;
    tcp_output(pcb);
}

void tcp_rexmit(tcp_pcb* pcb) {
    if (pcb->unacked == nullptr) return;
    tcp_seg* seg = pcb->unacked;
    pcb->unacked = seg->next;
    tcp_seg** cur = &pcb->unsent;
    while (*cur != nullptr && TCP_SEQ_LT(SegSeqOut(*cur), SegSeqOut(seg))) cur = &(*cur)->next;
    seg->next = *cur;
    *cur = seg;
    if (seg->next == nullptr) pcb->unsent_oversize = 0;
    if (pcb->nrtx < 0xff) ++pcb->nrtx;
    pcb->rttest = 0;
}

void tcp_rexmit_fast(tcp_pcb* pcb) {
    if (pcb->unacked == nullptr || (pcb->flags & TF_INFR)) return;
    tcp_rexmit(pcb);
    uint32_t wnd = pcb->cwnd < pcb->snd_wnd ? pcb->cwnd : pcb->snd_wnd;
    pcb->ssthresh = wnd / 2;
    if (pcb->ssthresh < 2U * pcb->mss) pcb->ssthresh = 2U * pcb->mss;
    pcb->cwnd = pcb->ssthresh + 3U * pcb->mss;
    pcb->flags |= TF_INFR;
}

// ---- SACK loss recovery (RFC 6675) ------------------------------------------------

void tcp_sack_update(tcp_pcb* pcb, const uint32_t (*blocks)[2], int count) {
    for (int b = 0; b < count; ++b) {
        uint32_t left = blocks[b][0], right = blocks[b][1];
        // A block at or below the cumulative acknowledgement tells nothing new.
        if (TCP_SEQ_LEQ(right, pcb->lastack) || TCP_SEQ_GT(right, pcb->snd_nxt)) continue;
        for (tcp_seg* s = pcb->unacked; s != nullptr; s = s->next) {
            uint32_t seq = SegSeqOut(s);
            if (TCP_SEQ_GEQ(seq, right)) break;
            if (TCP_SEQ_GEQ(seq, left) && TCP_SEQ_LEQ(seq + TCP_TCPLEN(s), right)) s->flags |= TF_SEG_SACKED;
        }
    }
    if (pcb->flags & TF_INFR) return;
    // The first hole is lost once the peer holds DupThresh segments above it
    // (or the third duplicate acknowledgement says as much), or holds the
    // last segment sent: all before it had their chance to arrive.
    int sacked_above = 0;
    bool hole = false;
    const tcp_seg* last = nullptr;
    for (tcp_seg* s = pcb->unacked; s != nullptr; s = s->next) {
        if (!(s->flags & TF_SEG_SACKED)) {
            hole = true;
        } else if (hole) {
            ++sacked_above;
        }
        last = s;
    }
    bool tail_held = hole && (last->flags & TF_SEG_SACKED);
    if (!hole || (sacked_above < TCP_DUPTHRESH && pcb->dupacks < TCP_DUPTHRESH && !tail_held)) return;
    uint32_t flight = pcb->snd_nxt - pcb->lastack;
    pcb->ssthresh = flight / 2;
    if (pcb->ssthresh < 2U * pcb->mss) pcb->ssthresh = 2U * pcb->mss;
    pcb->cwnd = pcb->ssthresh;
    pcb->recovery_point = pcb->snd_nxt;
    pcb->flags |= TF_INFR;
    for (tcp_seg* s = pcb->unacked; s != nullptr; s = s->next) s->flags &= static_cast<uint8_t>(~TF_SEG_RETX);
}

void tcp_sack_rexmit(tcp_pcb* pcb) {
    // Segments the peer holds above each point, counted from the end: a
    // segment not held with DupThresh held segments above it is lost.
    int sacked_total = 0;
    const tcp_seg* last = nullptr;
    for (tcp_seg* s = pcb->unacked; s != nullptr; s = s->next) {
        if (s->flags & TF_SEG_SACKED) ++sacked_total;
        last = s;
    }
    // With the last segment held, every hole below it is lost.
    const int dupthresh = last != nullptr && (last->flags & TF_SEG_SACKED) ? 1 : TCP_DUPTHRESH;
    // The data in flight: not held by the peer and not lost, plus what was resent.
    uint32_t pipe = 0;
    int sacked_seen = 0;
    for (tcp_seg* s = pcb->unacked; s != nullptr; s = s->next) {
        if (s->flags & TF_SEG_SACKED) {
            ++sacked_seen;
            continue;
        }
        bool lost = sacked_total - sacked_seen >= dupthresh || s == pcb->unacked;
        if (!lost) pipe += TCP_TCPLEN(s);
        if (s->flags & TF_SEG_RETX) pipe += TCP_TCPLEN(s);
    }
    sacked_seen = 0;
    for (tcp_seg* s = pcb->unacked; s != nullptr; s = s->next) {
        if (s->flags & TF_SEG_SACKED) {
            ++sacked_seen;
            continue;
        }
        if (sacked_total - sacked_seen < dupthresh && s != pcb->unacked) break;  // the rest is not lost
        if (s->flags & TF_SEG_RETX) continue;
        // The first hole always goes; further ones as the window allows.
        if (pipe + TCP_TCPLEN(s) > pcb->cwnd && s != pcb->unacked) break;
        tcp_output_segment(s, pcb);
        s->flags |= TF_SEG_RETX;
        pipe += TCP_TCPLEN(s);
        pcb->rttest = 0;  // no round trip from a resent segment
    }
}

void tcp_send_tail_probe(tcp_pcb* pcb) {
    tcp_seg* last = pcb->unacked;
    if (last == nullptr) return;
    while (last->next != nullptr) last = last->next;
    tcp_output_segment(last, pcb);
    // An acknowledgement may answer either copy: no round trip from it.
    pcb->rttest = 0;
}

void tcp_keepalive(tcp_pcb* pcb) {
    pbuf* p = tcp_output_alloc_header(pcb, 0, htonl(pcb->snd_nxt - 1));
    if (p == nullptr) return;
    SendHeaderOnly(pcb, p, 0);
}

void tcp_zero_window_probe(tcp_pcb* pcb) {
    tcp_seg* seg = pcb->unacked != nullptr ? pcb->unacked : pcb->unsent;
    if (seg == nullptr) return;
    bool is_fin = (TCPH_FLAGS(seg->tcphdr) & TCP_FIN) != 0 && seg->len == 0;
    pbuf* p = tcp_output_alloc_header(pcb, is_fin ? 0 : 1, seg->tcphdr->seqno);
    if (p == nullptr) return;
    auto* h = static_cast<tcp_hdr*>(p->payload);
    if (is_fin) {
        TCPH_HDRLEN_FLAGS_SET(h, 5, TCP_ACK | TCP_FIN);
    } else {
        uint8_t byte = 0;
        pbuf_copy_partial(seg->p, &byte, 1, static_cast<uint16_t>(seg->p->tot_len - seg->len));
        static_cast<uint8_t*>(p->payload)[TCP_HLEN] = byte;
    }
    SendHeaderOnly(pcb, p, 0);
}
