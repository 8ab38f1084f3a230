// TCP input: segment checks, control-block lookup, the state machine, data
// and acknowledgement processing, out-of-order queueing and the callbacks.
#include <cstring>

#include "engine/stack/inet_chksum.h"
#include "engine/stack/ip4.h"
#include "engine/stack/ip6.h"
#include "engine/stack/nd6.h"
#include "engine/stack/tcp_priv.h"

// The segment being processed (valid during one tcp_input call).
static tcp_seg inseg;
static tcp_hdr* tcphdr;
static uint32_t seqno, ackno;
static uint8_t flags;
static uint16_t tcplen;
static uint8_t recv_flags;
static pbuf* recv_data;
// What the segment's options said (tcp_parse_opt): the window shift (-1:
// none) and whether SACK is permitted.
static int opt_wnd_scale;
static bool opt_sack_perm;
static uint32_t opt_sack[TCP_MAX_SACK_BLOCKS][2];  // left and right edge, host order
static int opt_sack_count;

#define TF_RESET 0x08U
#define TF_CLOSED 0x10U
#define TF_GOT_FIN 0x20U

static err_t tcp_process(tcp_pcb* pcb);
static void tcp_receive(tcp_pcb* pcb);
static void tcp_parse_opt(tcp_pcb* pcb);
static void tcp_listen_input(tcp_pcb_listen* pcb);
static void tcp_timewait_input(tcp_pcb* pcb);
static void TakeQueuedInOrder(tcp_pcb* pcb);

static uint32_t SegSeq(const tcp_seg* s) {
    return s->tcphdr->seqno;
}  // input segments: host order

static bool DestIsBroadcastOrMulticast(netif* inp) {
    if (ip_data.current_ip_isipv6) return ip6_addr_ismulticast(&ip_data.current_iphdr_dest.ip6);
    const ip4_addr_t* d = &ip_data.current_iphdr_dest.ip4;
    return ip4_addr_isbroadcast(d, inp) || ip4_addr_ismulticast(d);
}

static void RstReply() {
    tcp_rst(ackno, seqno + tcplen, &ip_data.current_iphdr_dest, &ip_data.current_iphdr_src, tcphdr->dest,
            tcphdr->src, ip_data.current_ip_isipv6);
}

static err_t DeliverRecv(tcp_pcb* pcb, pbuf* p) {
    if (pcb->recv != nullptr) return pcb->recv(pcb->callback_arg, pcb, p, ERR_OK);
    // Nobody reads any more: acknowledge and discard.
    if (p != nullptr) {
        tcp_recved(pcb, p->tot_len);
        pbuf_free(p);
    }
    return ERR_OK;
}

// Checks the segment and takes its header off, fields in host order; false
// when it must be dropped.
static bool TakeHeader(pbuf* p, netif* inp) {
    const bool isipv6 = ip_data.current_ip_isipv6;
    if (p->len < TCP_HLEN || DestIsBroadcastOrMulticast(inp)) return false;
    if (!(p->flags & PBUF_FLAG_CHECKSUM_TRUSTED) &&
        ipX_chksum_pseudo(isipv6, p, IP_PROTO_TCP, p->tot_len, &ip_data.current_iphdr_src,
                          &ip_data.current_iphdr_dest) != 0) {
        return false;
    }
    tcphdr = static_cast<tcp_hdr*>(p->payload);
    uint16_t hdrlen = static_cast<uint16_t>(TCPH_HDRLEN(tcphdr) * 4);
    // A data offset below 5 words would read the header from the data.
    if (hdrlen < TCP_HLEN || pbuf_header(p, static_cast<int16_t>(-hdrlen))) return false;
    tcphdr->src = ntohs(tcphdr->src);
    tcphdr->dest = ntohs(tcphdr->dest);
    seqno = tcphdr->seqno = ntohl(tcphdr->seqno);
    ackno = tcphdr->ackno = ntohl(tcphdr->ackno);
    tcphdr->wnd = ntohs(tcphdr->wnd);
    flags = TCPH_FLAGS(tcphdr);
    // SYN and FIN each take a sequence number of their own.
    tcplen = static_cast<uint16_t>(p->tot_len + ((flags & (TCP_FIN | TCP_SYN)) ? 1 : 0));
    return true;
}

// The listener for a segment of no connection: one bound to its local
// address and port first, else the first one bound to the interface. The
// one found moves to the front of the list, where the next lookup starts.
static tcp_pcb_listen* FindListener(netif* inp) {
    const bool isipv6 = ip_data.current_ip_isipv6;
    const ipX_addr_t* local = &ip_data.current_iphdr_dest;
    char ifname[3];
    netif_full_name(inp, ifname);
    tcp_pcb_listen* lpcb = nullptr;
    tcp_pcb_listen* lpcb_prev = nullptr;
    tcp_pcb_listen* by_if = nullptr;
    tcp_pcb_listen* by_if_prev = nullptr;
    for (tcp_pcb_listen *l = tcp_listen_pcbs, *prev = nullptr; l != nullptr; prev = l, l = l->next) {
        if (!l->bound_to_netif) {
            if (l->local_port == tcphdr->dest &&
                (l->accept_any_ip_version ||
                 (l->isipv6 == isipv6 &&
                  (ipX_addr_cmp(&l->local_ip, local) || ipX_addr_isany(isipv6, &l->local_ip))))) {
                lpcb = l;
                lpcb_prev = prev;
                break;
            }
        } else if (by_if == nullptr && l->isipv6 == isipv6 && std::memcmp(l->local_netif, ifname, 3) == 0) {
            by_if = l;
            by_if_prev = prev;
        }
    }
    if (lpcb == nullptr) {
        lpcb = by_if;
        lpcb_prev = by_if_prev;
    }
    if (lpcb != nullptr && lpcb_prev != nullptr) {
        lpcb_prev->next = lpcb->next;
        lpcb->next = tcp_listen_pcbs;
        tcp_listen_pcbs = lpcb;
    }
    return lpcb;
}

// A SYN (and nothing else of note) beyond everything the old connection
// received, as kernel stacks take it: the peer closed and reuses the port.
static bool NewConnectionInTimeWait(const tcp_pcb* tw) {
    return (flags & (TCP_SYN | TCP_RST | TCP_ACK | TCP_FIN)) == TCP_SYN && TCP_SEQ_GT(seqno, tw->rcv_nxt);
}

// A segment for no open connection: a block in TIME_WAIT, a listener, or
// else a reset in answer (never to a reset). Frees the segment.
static void InputWithoutConnection(pbuf* p, netif* inp) {
    const bool isipv6 = ip_data.current_ip_isipv6;
    tcp_pcb* tw = tcp_lookup_tw(isipv6, &ip_data.current_iphdr_dest, &ip_data.current_iphdr_src, tcphdr->dest,
                                tcphdr->src);
    if (tw != nullptr && NewConnectionInTimeWait(tw)) {
        // The application's side reused the port: the old connection ends
        // here and the SYN opens a new one.
        tcp_unlink(tw);
        tcp_free(tw);
        tw = nullptr;
    }
    if (tw != nullptr) {
        tcp_timewait_input(tw);
    } else if (tcp_pcb_listen* lpcb = FindListener(inp)) {
        tcp_listen_input(lpcb);
    } else if (!(flags & TCP_RST)) {
        RstReply();
    }
    pbuf_free(p);
}

// Tells the application what the segment brought: acknowledged bytes, data
// and the peer's FIN, in that order. True when the application's close
// released the block while a callback ran (the caller then frees it).
static bool TellApplication(tcp_pcb* pcb) {
    if (pcb->acked > 0 && pcb->sent != nullptr) {
        err_t err = pcb->sent(pcb->callback_arg, pcb, pcb->acked);
        // A close inside the callback left the release to us, whatever it returned.
        if (tcp_cb_pcb_released) return true;
        if (err == ERR_ABRT) return false;
    }
    if (recv_data != nullptr) {
        if (pcb->flags & TF_RXCLOSED) {
            // The application closed receiving; data it can never read ends the connection.
            pbuf_free(recv_data);
            recv_data = nullptr;
            tcp_abort(pcb);
            return false;
        }
        while (recv_data != nullptr) {
            pbuf* data = recv_data;
            recv_data = nullptr;
            err_t err = DeliverRecv(pcb, data);
            if (tcp_cb_pcb_released) {
                if (err != ERR_OK && err != ERR_ABRT) pbuf_free(data);
                return true;
            }
            if (err == ERR_ABRT) return false;
            if (err != ERR_OK) {
                // Refused data is offered again before the next segment is processed.
                pcb->refused_data = data;
                break;
            }
            // In-order data that did not fit the chain follows in the next one.
            TakeQueuedInOrder(pcb);
        }
    }
    if (recv_flags & TF_GOT_FIN) {
        if (pcb->refused_data != nullptr) {
            // The FIN waits behind the refused data and is told with it.
            pcb->refused_data->flags |= PBUF_FLAG_TCP_FIN;
        } else {
            // The FIN took a sequence number but no room in the window: give it back.
            if (pcb->rcv_wnd != pcb->rcv_wnd_max) ++pcb->rcv_wnd;
            err_t err = ERR_OK;
            if (pcb->recv != nullptr) err = pcb->recv(pcb->callback_arg, pcb, nullptr, ERR_OK);
            if (tcp_cb_pcb_released) return true;
            if (err == ERR_ABRT) return false;
        }
    }
    tcp_input_pcb = nullptr;
    tcp_output(pcb);
    return false;
}

// The segment on its connection: refused data first, then the state
// machine, then a reset or close, or else the application is told. True
// when the block was released under a callback.
static bool InputOnConnection(tcp_pcb* pcb) {
    if (pcb->refused_data != nullptr) {
        // While the application still refuses earlier data, a segment that
        // carries anything is dropped (the peer sends it again).
        if (tcp_process_refused_data(pcb) == ERR_ABRT || (pcb->refused_data != nullptr && tcplen > 0)) {
            return false;
        }
    }
    tcp_input_pcb = pcb;
    tcp_cb_pcb = pcb;
    tcp_cb_pcb_released = false;
    if (tcp_process(pcb) == ERR_ABRT) return false;
    if (recv_flags & TF_RESET) {
        if (pcb->errf != nullptr) pcb->errf(pcb->callback_arg, ERR_RST);
        tcp_pcb_remove(pcb);
        tcp_free(pcb);
        return false;
    }
    if (recv_flags & TF_CLOSED) {
        if (!(pcb->flags & TF_RXCLOSED) && pcb->errf != nullptr) pcb->errf(pcb->callback_arg, ERR_CLSD);
        tcp_pcb_remove(pcb);
        tcp_free(pcb);
        return false;
    }
    return TellApplication(pcb);
}

void tcp_input(pbuf* p, netif* inp) {
    if (!TakeHeader(p, inp)) {
        pbuf_free(p);
        return;
    }
    tcp_pcb* pcb = tcp_lookup_active(ip_data.current_ip_isipv6, &ip_data.current_iphdr_dest,
                                     &ip_data.current_iphdr_src, tcphdr->dest, tcphdr->src);
    if (pcb == nullptr) {
        InputWithoutConnection(p, inp);
        return;
    }
    tcp_move_to_front(pcb);

    inseg.next = nullptr;
    inseg.len = p->tot_len;
    inseg.p = p;
    inseg.tcphdr = tcphdr;
    inseg.flags = 0;
    recv_data = nullptr;
    recv_flags = 0;
    // Only this segment's acknowledgement may reach the sent callback.
    pcb->acked = 0;
    if (flags & TCP_PSH) p->flags |= PBUF_FLAG_PUSH;

    if (InputOnConnection(pcb)) {
        // The application's close released the block while its callback ran.
        tcp_cb_pcb_released = false;
        tcp_free(pcb);
    }
    tcp_input_pcb = nullptr;
    tcp_cb_pcb = nullptr;
    if (recv_data != nullptr) {
        pbuf_free(recv_data);
        recv_data = nullptr;
    }
    if (inseg.p != nullptr) {
        pbuf_free(inseg.p);
        inseg.p = nullptr;
    }
}

// The window a segment announces: scaled, except on a SYN (RFC 7323).
static uint32_t SegWindow(const tcp_pcb* pcb) {
    if (flags & TCP_SYN) return tcphdr->wnd;
    return uint32_t(tcphdr->wnd) << pcb->snd_scale;
}

// What the peer's SYN offered: window scaling only when both sides use it,
// and then the larger window and send buffer.
static void TakeSynOptions(tcp_pcb* pcb) {
    if (opt_wnd_scale >= 0) {
        pcb->snd_scale =
            static_cast<uint8_t>(opt_wnd_scale > TCP_MAX_WND_SCALE ? TCP_MAX_WND_SCALE : opt_wnd_scale);
        pcb->rcv_scale = TCP_RCV_SCALE;
        pcb->rcv_wnd = pcb->rcv_ann_wnd = pcb->rcv_wnd_max = TCP_WND_SCALED;
        pcb->snd_buf = TCP_SND_BUF_SCALED;
    } else {
        pcb->snd_scale = pcb->rcv_scale = 0;
    }
    pcb->sack_ok = opt_sack_perm ? 1 : 0;
}

static void tcp_listen_input(tcp_pcb_listen* lpcb) {
    if (flags & TCP_RST) return;
    if (flags & TCP_ACK) {
        RstReply();
        return;
    }
    if (!(flags & TCP_SYN)) return;
    tcp_pcb* npcb = tcp_alloc(lpcb->prio);
    if (npcb == nullptr) return;  // the peer retransmits its SYN
    npcb->isipv6 = ip_data.current_ip_isipv6;
    npcb->local_ip = ip_data.current_iphdr_dest;
    npcb->remote_ip = ip_data.current_iphdr_src;
    npcb->bound_to_netif = lpcb->bound_to_netif;
    std::memcpy(npcb->local_netif, lpcb->local_netif, 3);
    npcb->local_port = tcphdr->dest;
    npcb->remote_port = tcphdr->src;
    npcb->state = SYN_RCVD;
    npcb->rcv_nxt = seqno + 1;
    npcb->rcv_ann_right_edge = npcb->rcv_nxt;
    npcb->snd_wl1 = seqno - 1;
    npcb->callback_arg = lpcb->callback_arg;
    npcb->accept = lpcb->accept;
    npcb->so_options = static_cast<uint8_t>(lpcb->so_options & SOF_INHERITED);
    tcp_reg_active(npcb);
    tcp_parse_opt(npcb);
    TakeSynOptions(npcb);
    npcb->snd_wnd = SegWindow(npcb);
    npcb->snd_wnd_max = npcb->snd_wnd;
    // Slow start until the first loss, up to the window the peer offers.
    npcb->ssthresh = npcb->snd_wnd << npcb->snd_scale;
    npcb->mss = tcp_eff_send_mss(npcb->mss, npcb->isipv6, &npcb->local_ip, &npcb->remote_ip);
    if (tcp_enqueue_flags(npcb, TCP_SYN | TCP_ACK) != ERR_OK) {
        tcp_abandon(npcb, 0);
        return;
    }
    tcp_output(npcb);
}

static void tcp_timewait_input(tcp_pcb* pcb) {
    if (flags & TCP_RST) return;
    if (flags & TCP_SYN) {
        if (TCP_SEQ_BETWEEN(seqno, pcb->rcv_nxt, pcb->rcv_nxt + pcb->rcv_wnd)) {
            RstReply();
            return;
        }
    } else if (flags & TCP_FIN) {
        pcb->tmr = tcp_ticks;
    }
    if (tcplen > 0) {
        pcb->flags |= TF_ACK_NOW;
        tcp_output(pcb);
    }
}

// The peer acknowledged our FIN: everything up to it was sent and acknowledged.
static bool OurFinAcked(const tcp_pcb* pcb) {
    return (flags & TCP_ACK) && ackno == pcb->snd_nxt && pcb->unsent == nullptr;
}

static void EnterTimeWait(tcp_pcb* pcb) {
    tcp_pcb_purge(pcb);
    tcp_unlink(pcb);
    pcb->state = TIME_WAIT;
    tcp_reg_tw(pcb);
}

// A reset counts only inside the receive window (in SYN_SENT: when it
// acknowledges our SYN), so a blind reset cannot end the connection.
static err_t AcceptReset(tcp_pcb* pcb) {
    bool acceptable = pcb->state == SYN_SENT
                          ? ackno == pcb->snd_nxt
                          : TCP_SEQ_BETWEEN(seqno, pcb->rcv_nxt, pcb->rcv_nxt + pcb->rcv_wnd);
    if (!acceptable) return ERR_OK;
    recv_flags |= TF_RESET;
    pcb->flags &= static_cast<uint8_t>(~TF_ACK_DELAY);
    return ERR_RST;
}

// Our SYN is answered: the connection is established.
static err_t SynSentInput(tcp_pcb* pcb) {
    if (!((flags & TCP_ACK) && (flags & TCP_SYN) && pcb->unacked != nullptr &&
          ackno == ntohl(pcb->unacked->tcphdr->seqno) + 1)) {
        if (flags & TCP_ACK) RstReply();
        return ERR_OK;
    }
    // The SYN took a place in the send buffer's count; it is acknowledged now.
    pcb->snd_buf++;
    pcb->rcv_nxt = seqno + 1;
    pcb->rcv_ann_right_edge = pcb->rcv_nxt;
    pcb->lastack = ackno;
    TakeSynOptions(pcb);
    pcb->snd_wnd = SegWindow(pcb);
    pcb->snd_wnd_max = pcb->snd_wnd;
    pcb->snd_wl1 = seqno - 1;
    pcb->state = ESTABLISHED;
    pcb->mss = tcp_eff_send_mss(pcb->mss, pcb->isipv6, &pcb->local_ip, &pcb->remote_ip);
    pcb->ssthresh = uint32_t(pcb->mss) * 10;
    pcb->cwnd = pcb->cwnd == 1 ? uint32_t(pcb->mss) * 2 : pcb->mss;
    LWIP_ASSERT("pcb->snd_queuelen > 0", pcb->snd_queuelen > 0);
    --pcb->snd_queuelen;
    tcp_seg* rseg = pcb->unacked;
    pcb->unacked = rseg->next;
    tcp_seg_free(rseg);
    if (pcb->unacked == nullptr) {
        tcp_rtx_stop(pcb);
    } else {
        tcp_rtx_restart(pcb);
        pcb->nrtx = 0;
    }
    if (pcb->connected != nullptr && pcb->connected(pcb->callback_arg, pcb, ERR_OK) == ERR_ABRT)
        return ERR_ABRT;
    tcp_ack_now(pcb);
    return ERR_OK;
}

// The handshake's last acknowledgement: the application accepts the
// connection, then the segment is received like any other.
static err_t SynRcvdInput(tcp_pcb* pcb) {
    if (!(flags & TCP_ACK)) {
        // Our SYN-ACK was lost: the peer sends its SYN again.
        if ((flags & TCP_SYN) && seqno == pcb->rcv_nxt - 1) tcp_rexmit(pcb);
        return ERR_OK;
    }
    if (!TCP_SEQ_BETWEEN(ackno, pcb->lastack + 1, pcb->snd_nxt)) {
        RstReply();
        return ERR_OK;
    }
    pcb->state = ESTABLISHED;
    LWIP_ASSERT("pcb->accept != NULL", pcb->accept != nullptr);
    err_t err = pcb->accept(pcb->callback_arg, pcb, ERR_OK);
    if (err != ERR_OK) {
        if (err != ERR_ABRT) tcp_abort(pcb);
        return ERR_ABRT;
    }
    uint32_t old_cwnd = pcb->cwnd;
    tcp_receive(pcb);
    // The acknowledged SYN is no data the application sent.
    if (pcb->acked != 0) --pcb->acked;
    pcb->cwnd = old_cwnd == 1 ? uint32_t(pcb->mss) * 2 : pcb->mss;
    if (recv_flags & TF_GOT_FIN) {
        tcp_ack_now(pcb);
        // The accept callback may have closed already: our FIN is
        // queued (FIN_WAIT_1) and both sides are now closing.
        pcb->state = pcb->state == FIN_WAIT_1 ? CLOSING : CLOSE_WAIT;
    }
    return ERR_OK;
}

// The state machine for one segment on a connection.
static err_t tcp_process(tcp_pcb* pcb) {
    if (flags & TCP_RST) return AcceptReset(pcb);
    if ((flags & TCP_SYN) && pcb->state != SYN_SENT && pcb->state != SYN_RCVD) {
        // A SYN inside an established connection is answered with an acknowledgement only.
        tcp_ack_now(pcb);
        return ERR_OK;
    }
    // Activity restarts the idle and keepalive timers (not once receiving is closed).
    if (!(pcb->flags & TF_RXCLOSED)) pcb->tmr = tcp_ticks;
    pcb->keep_cnt_sent = 0;
    pcb->persist_probes = 0;
    tcp_parse_opt(pcb);

    switch (pcb->state) {
        case SYN_SENT:
            return SynSentInput(pcb);
        case SYN_RCVD:
            return SynRcvdInput(pcb);
        case CLOSE_WAIT:
        case ESTABLISHED:
            tcp_receive(pcb);
            if (recv_flags & TF_GOT_FIN) {
                tcp_ack_now(pcb);
                pcb->state = CLOSE_WAIT;
            }
            break;
        case FIN_WAIT_1:
            tcp_receive(pcb);
            if (recv_flags & TF_GOT_FIN) {
                tcp_ack_now(pcb);
                if (OurFinAcked(pcb)) {
                    EnterTimeWait(pcb);
                } else {
                    pcb->state = CLOSING;
                }
            } else if (OurFinAcked(pcb)) {
                pcb->state = FIN_WAIT_2;
            }
            break;
        case FIN_WAIT_2:
            tcp_receive(pcb);
            if (recv_flags & TF_GOT_FIN) {
                tcp_ack_now(pcb);
                EnterTimeWait(pcb);
            }
            break;
        case CLOSING:
            tcp_receive(pcb);
            if (OurFinAcked(pcb)) EnterTimeWait(pcb);
            break;
        case LAST_ACK:
            tcp_receive(pcb);
            if (OurFinAcked(pcb)) recv_flags |= TF_CLOSED;
            break;
        default:
            break;
    }
    return ERR_OK;
}

// Cuts a queued input segment's data to `len` bytes; a FIN no longer at its end goes.
static void TrimSeg(tcp_seg* seg, uint16_t len) {
    if (len < seg->len) TCPH_UNSET_FLAG(seg->tcphdr, TCP_FIN);
    seg->len = len;
    pbuf_realloc(seg->p, len);
}

// Inserts `cseg` in front of `next` in the out-of-sequence queue.
static void tcp_oos_insert_segment(tcp_seg* cseg, tcp_seg* next) {
    if (TCPH_FLAGS(cseg->tcphdr) & TCP_FIN) {
        tcp_segs_free(next);
        next = nullptr;
    } else {
        while (next != nullptr && TCP_SEQ_GEQ(SegSeq(cseg) + cseg->len, SegSeq(next) + next->len)) {
            if (TCPH_FLAGS(next->tcphdr) & TCP_FIN) TCPH_SET_FLAG(cseg->tcphdr, TCP_FIN);
            tcp_seg* old = next;
            next = next->next;
            tcp_seg_free(old);
        }
        if (next != nullptr && TCP_SEQ_GT(SegSeq(cseg) + cseg->len, SegSeq(next))) {
            TrimSeg(cseg, static_cast<uint16_t>(SegSeq(next) - SegSeq(cseg)));
        }
    }
    cseg->next = next;
}

// A copy of the incoming segment for the out-of-sequence queue, never reaching
// beyond the right edge of the receive window (which never moves left), so
// queued data always fits the window once it is in order.
static tcp_seg* CopyForOoseq(tcp_pcb* pcb) {
    tcp_seg* cseg = tcp_seg_copy(&inseg);
    if (cseg == nullptr) return nullptr;
    uint32_t right = pcb->rcv_nxt + pcb->rcv_wnd;
    if (TCP_SEQ_GT(SegSeq(cseg) + TCP_TCPLEN_HOSTHDR(cseg, TCPH_FLAGS(cseg->tcphdr)), right)) {
        TCPH_UNSET_FLAG(cseg->tcphdr, TCP_FIN);
        uint16_t len = static_cast<uint16_t>(right - SegSeq(cseg));
        if (len < cseg->len) {
            cseg->len = len;
            pbuf_realloc(cseg->p, len);
        }
    }
    return cseg;
}

static void QueueOutOfOrder(tcp_pcb* pcb) {
    pcb->ooseq_last = seqno;  // its block goes first in our SACK option
    if (pcb->ooseq == nullptr) {
        pcb->ooseq = CopyForOoseq(pcb);
        return;
    }
    tcp_seg* prev = nullptr;
    for (tcp_seg* next = pcb->ooseq; next != nullptr; next = next->next) {
        if (seqno == SegSeq(next)) {
            // Same start: keep the longer one.
            if (inseg.len > next->len) {
                tcp_seg* cseg = CopyForOoseq(pcb);
                if (cseg != nullptr) {
                    if (prev != nullptr) {
                        prev->next = cseg;
                    } else {
                        pcb->ooseq = cseg;
                    }
                    tcp_oos_insert_segment(cseg, next);
                }
            }
            return;
        }
        if (prev == nullptr) {
            if (TCP_SEQ_LT(seqno, SegSeq(next))) {
                tcp_seg* cseg = CopyForOoseq(pcb);
                if (cseg != nullptr) {
                    pcb->ooseq = cseg;
                    tcp_oos_insert_segment(cseg, next);
                }
                return;
            }
        } else if (TCP_SEQ_BETWEEN(seqno, SegSeq(prev) + 1, SegSeq(next) - 1)) {
            tcp_seg* cseg = CopyForOoseq(pcb);
            if (cseg != nullptr) {
                if (TCP_SEQ_GT(SegSeq(prev) + prev->len, seqno)) {
                    TrimSeg(prev, static_cast<uint16_t>(seqno - SegSeq(prev)));
                }
                prev->next = cseg;
                tcp_oos_insert_segment(cseg, next);
            }
            return;
        }
        if (next->next == nullptr && TCP_SEQ_GT(seqno, SegSeq(next))) {
            if (TCPH_FLAGS(next->tcphdr) & TCP_FIN) return;  // nothing follows the peer's FIN
            tcp_seg* cseg = CopyForOoseq(pcb);
            if (cseg != nullptr) {
                if (TCP_SEQ_GT(SegSeq(next) + next->len, seqno)) {
                    TrimSeg(next, static_cast<uint16_t>(seqno - SegSeq(next)));
                }
                next->next = cseg;
            }
            return;
        }
        prev = next;
    }
}

// ---- acknowledgement processing -------------------------------------------------

// Takes the peer's window from the newest segment (by sequence, then by
// acknowledgement). A window of zero starts the persist timer, which probes
// until the window opens again.
static void UpdateSendWindow(tcp_pcb* pcb) {
    if (!(TCP_SEQ_LT(pcb->snd_wl1, seqno) || (pcb->snd_wl1 == seqno && TCP_SEQ_LT(pcb->snd_wl2, ackno)) ||
          (pcb->snd_wl2 == ackno && SegWindow(pcb) > pcb->snd_wnd))) {
        return;
    }
    pcb->snd_wnd = SegWindow(pcb);
    if (pcb->snd_wnd_max < pcb->snd_wnd) pcb->snd_wnd_max = pcb->snd_wnd;
    pcb->snd_wl1 = seqno;
    pcb->snd_wl2 = ackno;
    if (pcb->snd_wnd == 0) {
        if (pcb->persist_backoff == 0) {
            pcb->persist_cnt = 0;
            pcb->persist_backoff = 1;
        }
    } else if (pcb->persist_backoff > 0) {
        pcb->persist_backoff = 0;
    }
}

// An acknowledgement of nothing new. Counted as a duplicate only when it
// carries nothing else (no data, no window change) while data is out: the
// third one resends at once, later ones inflate the congestion window for
// the segments that left the network meanwhile.
static void CountDuplicateAck(tcp_pcb* pcb, uint32_t right_wnd_edge) {
    pcb->acked = 0;
    if (tcplen == 0 && pcb->snd_wl2 + pcb->snd_wnd == right_wnd_edge && pcb->rtx_on &&
        pcb->lastack == ackno) {
        if (pcb->dupacks < 0xff) ++pcb->dupacks;
        // With SACK the blocks decide what is lost (tcp_sack_update).
        if (pcb->sack_ok) return;
        if (pcb->dupacks > 3) {
            if (pcb->cwnd + pcb->mss > pcb->cwnd) pcb->cwnd += pcb->mss;
        } else if (pcb->dupacks == 3) {
            tcp_rexmit_fast(pcb);
        }
    } else {
        pcb->dupacks = 0;
    }
}

// Frees the segments an acknowledgement covers from `*queue`; a FIN among
// them is no byte of the application's, so it leaves the acknowledged count.
static void FreeAckedSegment(tcp_pcb* pcb, tcp_seg** queue) {
    tcp_seg* next = *queue;
    *queue = next->next;
    if (pcb->acked != 0 && (TCPH_FLAGS(next->tcphdr) & TCP_FIN)) --pcb->acked;
    pcb->snd_queuelen = static_cast<uint16_t>(pcb->snd_queuelen - pbuf_clen(next->p));
    tcp_seg_free(next);
}

// An acknowledgement of new data: leaves fast recovery, grows the congestion
// window (by a segment per acknowledgement in slow start, by about a segment
// per window after) and frees what was acknowledged.
static void AcceptNewAck(tcp_pcb* pcb) {
    // With SACK, recovery goes on until everything sent before it began is
    // acknowledged; a partial acknowledgement only moves the holes along.
    if ((pcb->flags & TF_INFR) && !(pcb->sack_ok && TCP_SEQ_LT(ackno, pcb->recovery_point))) {
        pcb->flags &= static_cast<uint8_t>(~TF_INFR);
        pcb->cwnd = pcb->ssthresh;
    }
    pcb->nrtx = 0;
    pcb->rto = tcp_rto_estimate(pcb);
    pcb->acked = ackno - pcb->lastack;
    pcb->snd_buf += pcb->acked;
    pcb->dupacks = 0;
    pcb->lastack = ackno;
    if (pcb->state >= ESTABLISHED && !(pcb->flags & TF_INFR)) {
        // Never beyond what the send buffer can fill: a larger window
        // would only make the first loss look smaller than it is.
        const uint32_t cwnd_cap = 2 * TCP_SND_BUF_SCALED;
        if (pcb->cwnd < pcb->ssthresh) {
            pcb->cwnd += pcb->mss;
        } else {
            pcb->cwnd += uint32_t(pcb->mss) * pcb->mss / pcb->cwnd;
        }
        if (pcb->cwnd > cwnd_cap) pcb->cwnd = cwnd_cap;
    }
    while (pcb->unacked != nullptr &&
           TCP_SEQ_LEQ(ntohl(pcb->unacked->tcphdr->seqno) + TCP_TCPLEN(pcb->unacked), ackno)) {
        FreeAckedSegment(pcb, &pcb->unacked);
    }
    if (pcb->unacked == nullptr) {
        tcp_rtx_stop(pcb);
    } else {
        tcp_rtx_restart(pcb);
    }
    pcb->polltmr = 0;
    if (pcb->isipv6) nd6_reachability_hint(&pcb->remote_ip.ip6);
}

// The round-trip estimate (Jacobson's smoothed mean and mean deviation, in
// ms) from the segment being timed, once it is acknowledged; the first
// measurement sets it outright.
static void UpdateRoundTrip(tcp_pcb* pcb) {
    if (pcb->rttest == 0 || !TCP_SEQ_LT(pcb->rtseq, ackno)) return;
    uint32_t sample = tcp_now() - pcb->rttest;
    auto m = static_cast<int32_t>(sample > uint32_t(TCP_RTO_MAX_MS) ? TCP_RTO_MAX_MS : sample);
    if (!pcb->rtt_valid) {
        pcb->rtt_valid = 1;
        pcb->sa = m << 3;
        pcb->sv = m << 1;
    } else {
        m -= pcb->sa >> 3;
        pcb->sa += m;
        if (m < 0) m = -m;
        m -= pcb->sv >> 2;
        pcb->sv += m;
    }
    pcb->rto = tcp_rto_estimate(pcb);
    pcb->rttest = 0;
}

static void ProcessAck(tcp_pcb* pcb) {
    // The window's right edge before this segment: a duplicate leaves it alone.
    uint32_t right_wnd_edge = pcb->snd_wnd + pcb->snd_wl2;
    UpdateSendWindow(pcb);
    if (TCP_SEQ_LEQ(ackno, pcb->lastack)) {
        CountDuplicateAck(pcb, right_wnd_edge);
    } else if (TCP_SEQ_BETWEEN(ackno, pcb->lastack + 1, pcb->snd_nxt)) {
        AcceptNewAck(pcb);
    } else {
        pcb->acked = 0;  // acknowledges what was never sent
    }
    // Segments a retransmission put back on the unsent queue may be covered too.
    while (
        pcb->unsent != nullptr &&
        TCP_SEQ_BETWEEN(ackno, ntohl(pcb->unsent->tcphdr->seqno) + TCP_TCPLEN(pcb->unsent), pcb->snd_nxt)) {
        FreeAckedSegment(pcb, &pcb->unsent);
        if (pcb->unsent == nullptr) pcb->unsent_oversize = 0;
    }
    UpdateRoundTrip(pcb);
    if (pcb->sack_ok && pcb->unacked != nullptr) tcp_sack_update(pcb, opt_sack, opt_sack_count);
}

// ---- data ---------------------------------------------------------------------------

// Cuts off the start of the segment that was received already, so that it
// begins at the next expected byte.
static void TrimAlreadyReceived(tcp_pcb* pcb) {
    uint32_t off = pcb->rcv_nxt - seqno;
    if (TCPH_FLAGS(inseg.tcphdr) & TCP_SYN) {
        // The SYN takes the segment's first sequence number, not a data byte.
        TCPH_UNSET_FLAG(inseg.tcphdr, TCP_SYN);
        --off;
    }
    pbuf* p = inseg.p;
    if (off > p->tot_len) off = p->tot_len;
    const auto cut = static_cast<uint16_t>(off);
    if (p->len < off) {
        // Whole buffers at the front are emptied rather than freed: the chain stays one packet.
        auto new_tot_len = static_cast<uint16_t>(p->tot_len - off);
        while (p->len < off) {
            off -= p->len;
            p->tot_len = new_tot_len;
            p->len = 0;
            p = p->next;
        }
    }
    pbuf_header(p, static_cast<int16_t>(-static_cast<int32_t>(off)));
    inseg.len = static_cast<uint16_t>(inseg.len - cut);
    inseg.tcphdr->seqno = seqno = pcb->rcv_nxt;
}

// An in-order segment longer than the window keeps only what fits (and
// loses its FIN, which would lie beyond).
static void FitToWindow(tcp_pcb* pcb) {
    tcplen = TCP_TCPLEN_HOSTHDR(&inseg, TCPH_FLAGS(inseg.tcphdr));
    if (tcplen <= pcb->rcv_wnd) return;
    if (TCPH_FLAGS(inseg.tcphdr) & TCP_FIN) TCPH_UNSET_FLAG(inseg.tcphdr, TCP_FIN);
    inseg.len = static_cast<uint16_t>(pcb->rcv_wnd);
    if (TCPH_FLAGS(inseg.tcphdr) & TCP_SYN) --inseg.len;
    pbuf_realloc(inseg.p, inseg.len);
    tcplen = TCP_TCPLEN_HOSTHDR(&inseg, TCPH_FLAGS(inseg.tcphdr));
}

// The in-order segment against the out-of-order queue: queued segments it
// covers go (a FIN among them passes to it), and it is cut where the next
// queued one begins. A FIN of its own ends the stream: nothing queued can follow.
static void MergeWithOutOfOrder(tcp_pcb* pcb) {
    if (pcb->ooseq == nullptr) return;
    if (TCPH_FLAGS(inseg.tcphdr) & TCP_FIN) {
        tcp_segs_free(pcb->ooseq);
        pcb->ooseq = nullptr;
        return;
    }
    tcp_seg* next = pcb->ooseq;
    while (next != nullptr && TCP_SEQ_GEQ(seqno + tcplen, SegSeq(next) + next->len)) {
        // The FIN is taken over only while it still fits the window:
        // data already filling it would put the FIN one byte beyond.
        if ((TCPH_FLAGS(next->tcphdr) & TCP_FIN) && !(TCPH_FLAGS(inseg.tcphdr) & TCP_SYN) &&
            tcplen < pcb->rcv_wnd) {
            TCPH_SET_FLAG(inseg.tcphdr, TCP_FIN);
            tcplen = TCP_TCPLEN_HOSTHDR(&inseg, TCPH_FLAGS(inseg.tcphdr));
        }
        tcp_seg* prev = next;
        next = next->next;
        tcp_seg_free(prev);
    }
    if (next != nullptr && TCP_SEQ_GT(seqno + tcplen, SegSeq(next))) {
        inseg.len = static_cast<uint16_t>(SegSeq(next) - seqno);
        if (TCPH_FLAGS(inseg.tcphdr) & TCP_SYN) --inseg.len;
        TCPH_UNSET_FLAG(inseg.tcphdr, TCP_FIN);
        pbuf_realloc(inseg.p, inseg.len);
        tcplen = TCP_TCPLEN_HOSTHDR(&inseg, TCPH_FLAGS(inseg.tcphdr));
    }
    pcb->ooseq = next;
}

// Queued segments that are in order now follow the data to the application,
// as many as one chain holds (its length is 16 bits); the rest stay at the
// head of the queue for the next delivery.
static void TakeQueuedInOrder(tcp_pcb* pcb) {
    while (pcb->ooseq != nullptr && SegSeq(pcb->ooseq) == pcb->rcv_nxt) {
        tcp_seg* cseg = pcb->ooseq;
        uint16_t clen = TCP_TCPLEN_HOSTHDR(cseg, TCPH_FLAGS(cseg->tcphdr));
        if (clen > pcb->rcv_wnd) break;  // cannot happen: queued data lies inside the window
        if (recv_data != nullptr && uint32_t(recv_data->tot_len) + cseg->p->tot_len > 0xffff) break;
        pcb->rcv_nxt += clen;
        pcb->rcv_wnd -= clen;
        tcp_update_rcv_ann_wnd(pcb);
        if (cseg->p->tot_len > 0) {
            if (recv_data != nullptr) {
                pbuf_cat(recv_data, cseg->p);
            } else {
                recv_data = cseg->p;
            }
            cseg->p = nullptr;
        }
        if (TCPH_FLAGS(cseg->tcphdr) & TCP_FIN) {
            recv_flags |= TF_GOT_FIN;
            if (pcb->state == ESTABLISHED) pcb->state = CLOSE_WAIT;
        }
        pcb->ooseq = cseg->next;
        tcp_seg_free(cseg);
    }
}

pbuf* tcp_take_queued_in_order(tcp_pcb* pcb, bool* fin) {
    *fin = false;
    if (pcb->ooseq == nullptr || SegSeq(pcb->ooseq) != pcb->rcv_nxt) return nullptr;
    pbuf* saved_data = recv_data;
    uint8_t saved_flags = recv_flags;
    recv_data = nullptr;
    recv_flags = 0;
    TakeQueuedInOrder(pcb);
    pbuf* p = recv_data;
    *fin = (recv_flags & TF_GOT_FIN) != 0;
    recv_data = saved_data;
    recv_flags = saved_flags;
    return p;
}

// The segment begins at the next expected byte: its data (and whatever of
// the queue follows it) is handed on and acknowledged.
static void ReceiveInOrder(tcp_pcb* pcb) {
    FitToWindow(pcb);
    MergeWithOutOfOrder(pcb);
    pcb->rcv_nxt = seqno + tcplen;
    pcb->rcv_wnd -= tcplen;
    tcp_update_rcv_ann_wnd(pcb);
    if (inseg.p->tot_len > 0) {
        recv_data = inseg.p;
        inseg.p = nullptr;
    }
    if (TCPH_FLAGS(inseg.tcphdr) & TCP_FIN) recv_flags |= TF_GOT_FIN;
    bool filled_gap = pcb->ooseq != nullptr;
    TakeQueuedInOrder(pcb);
    if (filled_gap || tcplen > TCP_MSS) {
        // A filled gap, or a segment the kernel joined from several: the
        // sender waits for this acknowledgement, no delaying it.
        tcp_ack_now(pcb);
    } else {
        tcp_ack(pcb);
    }
    if (pcb->isipv6) nd6_reachability_hint(&pcb->remote_ip.ip6);
}

static void tcp_receive(tcp_pcb* pcb) {
    LWIP_ASSERT("tcp_receive: wrong state", pcb->state >= ESTABLISHED);
    if (flags & TCP_ACK) ProcessAck(pcb);

    // After the peer's FIN (CLOSE_WAIT and on) its data is ignored.
    if (tcplen > 0 && pcb->state < CLOSE_WAIT) {
        if (TCP_SEQ_BETWEEN(pcb->rcv_nxt, seqno + 1, seqno + tcplen - 1)) {
            TrimAlreadyReceived(pcb);
        } else if (TCP_SEQ_LT(seqno, pcb->rcv_nxt)) {
            tcp_ack_now(pcb);  // all of it seen before: the peer missed our acknowledgement
        }
        if (!TCP_SEQ_BETWEEN(seqno, pcb->rcv_nxt, pcb->rcv_nxt + pcb->rcv_wnd - 1)) {
            tcp_send_empty_ack(pcb);
        } else if (pcb->rcv_nxt == seqno) {
            ReceiveInOrder(pcb);
        } else {
            // Our duplicate acknowledgement lets the peer resend the gap at
            // once; its SACK blocks include this segment.
            QueueOutOfOrder(pcb);
            tcp_send_empty_ack(pcb);
        }
    } else if (!TCP_SEQ_BETWEEN(seqno, pcb->rcv_nxt, pcb->rcv_nxt + pcb->rcv_wnd - 1)) {
        tcp_ack_now(pcb);
    }
}

static void tcp_parse_opt(tcp_pcb* pcb) {
    opt_wnd_scale = -1;
    opt_sack_perm = false;
    opt_sack_count = 0;
    if (TCPH_HDRLEN(tcphdr) <= 5) return;
    const auto* opts = reinterpret_cast<const uint8_t*>(tcphdr) + TCP_HLEN;
    uint16_t max_c = static_cast<uint16_t>((TCPH_HDRLEN(tcphdr) - 5) << 2);
    for (uint16_t c = 0; c < max_c;) {
        uint8_t opt = opts[c];
        if (opt == 0) return;  // end of options
        if (opt == 1) {        // no operation
            ++c;
            continue;
        }
        if (c + 1 >= max_c) return;
        uint8_t optlen = opts[c + 1];
        if (opt == 2) {
            if (optlen != 4 || c + 4 > max_c) return;
            uint16_t mss = static_cast<uint16_t>((opts[c + 2] << 8) | opts[c + 3]);
            // Only a SYN announces the MSS. Taken from a later segment it could
            // shrink the congestion window below the queued segments, which
            // would then never be sent again.
            if (flags & TCP_SYN) pcb->mss = (mss > TCP_MSS || mss == 0) ? TCP_MSS : mss;
            c = static_cast<uint16_t>(c + 4);
            continue;
        }
        if (opt == 3) {
            if (optlen != 3 || c + 3 > max_c) return;
            if (flags & TCP_SYN) opt_wnd_scale = opts[c + 2];
            c = static_cast<uint16_t>(c + 3);
            continue;
        }
        if (opt == 4) {
            if (optlen != 2) return;
            if (flags & TCP_SYN) opt_sack_perm = true;
            c = static_cast<uint16_t>(c + 2);
            continue;
        }
        if (opt == 5) {
            if (optlen < 10 || (optlen - 2) % 8 != 0 || c + optlen > max_c) return;
            if (pcb->sack_ok && !(flags & TCP_SYN)) {
                for (int b = 0; b < (optlen - 2) / 8 && opt_sack_count < TCP_MAX_SACK_BLOCKS; ++b) {
                    const uint8_t* e = opts + c + 2 + 8 * b;
                    uint32_t left =
                        (uint32_t(e[0]) << 24) | (uint32_t(e[1]) << 16) | (uint32_t(e[2]) << 8) | e[3];
                    uint32_t right =
                        (uint32_t(e[4]) << 24) | (uint32_t(e[5]) << 16) | (uint32_t(e[6]) << 8) | e[7];
                    if (TCP_SEQ_LT(left, right)) {
                        opt_sack[opt_sack_count][0] = left;
                        opt_sack[opt_sack_count][1] = right;
                        ++opt_sack_count;
                    }
                }
            }
            c = static_cast<uint16_t>(c + optlen);
            continue;
        }
        if (optlen < 2) return;  // a length below 2 would loop or read the next option as this one's
        c = static_cast<uint16_t>(c + optlen);
    }
}
