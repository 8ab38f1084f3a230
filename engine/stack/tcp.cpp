// TCP control blocks: allocation, lists and their 4-tuple tables, the
// application interface, close and abort, and the two timers.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <random>

#include "engine/stack/ip4.h"
#include "engine/stack/ip6.h"
#include "engine/stack/memp.h"
#include "engine/stack/nd6.h"
#include "engine/stack/tcp_priv.h"

tcp_pcb_listen* tcp_listen_pcbs = nullptr;
tcp_pcb* tcp_bound_pcbs = nullptr;
tcp_pcb* tcp_active_pcbs = nullptr;
tcp_pcb* tcp_tw_pcbs = nullptr;
uint32_t tcp_ticks = 0;
tcp_timer_tuning tcp_tuning;
uint8_t tcp_active_pcbs_changed = 0;
uint8_t tcp_timer_ctr = 0;
tcp_pcb* tcp_input_pcb = nullptr;
tcp_pcb* tcp_cb_pcb = nullptr;
bool tcp_cb_pcb_released = false;

static uint32_t iss_counter = 6510;
static uint8_t tcp_timer = 0;

static const uint8_t tcp_backoff[13] = {1, 2, 3, 4, 5, 6, 7, 7, 7, 7, 7, 7, 7};
static const uint8_t tcp_persist_backoff[7] = {3, 6, 12, 24, 48, 96, 120};

const char* tcp_state_str(tcp_state s) {
    static const char* const names[] = {"CLOSED",      "LISTEN",     "SYN_SENT",   "SYN_RCVD",
                                        "ESTABLISHED", "FIN_WAIT_1", "FIN_WAIT_2", "CLOSE_WAIT",
                                        "CLOSING",     "LAST_ACK",   "TIME_WAIT"};
    return s <= TIME_WAIT ? names[s] : "?";
}

// ---------------------------------------------------------------------------
// 4-tuple tables: connection lookup per segment without walking the lists.

namespace {

constexpr uint32_t kInitialBuckets = 256;

// Chained buckets; the first array is built in, so a block can always be
// entered even when growing the table fails (the chains only get longer).
struct PcbTable {
    tcp_pcb* inline_buckets[kInitialBuckets] = {};
    tcp_pcb** buckets = inline_buckets;
    uint32_t mask = kInitialBuckets - 1;
    uint32_t count = 0;
};

PcbTable active_table;
PcbTable tw_table;
uint64_t hash_seed = 0;

uint32_t TupleHash(bool isipv6, const ipX_addr_t* local, const ipX_addr_t* remote, uint16_t lport,
                   uint16_t rport) {
    uint64_t h = hash_seed ^ (isipv6 ? 0x51afd7ed558ccd7ULL : 0);
    auto mix = [&h](uint64_t v) {
        h ^= v;
        h *= 0x9e3779b97f4a7c15ULL;
        h ^= h >> 29;
    };
    mix((uint64_t(lport) << 16) | rport);
    int words = isipv6 ? 4 : 1;
    for (int i = 0; i < words; ++i) mix((uint64_t(local->ip6.addr[i]) << 32) | remote->ip6.addr[i]);
    return static_cast<uint32_t>(h ^ (h >> 32));
}

uint32_t PcbHash(const tcp_pcb* pcb) {
    return TupleHash(pcb->isipv6, &pcb->local_ip, &pcb->remote_ip, pcb->local_port, pcb->remote_port);
}

void TableInsertRaw(PcbTable& t, tcp_pcb* pcb) {
    tcp_pcb** b = &t.buckets[PcbHash(pcb) & t.mask];
    pcb->hash_next = *b;
    *b = pcb;
}

void TableGrow(PcbTable& t) {
    uint32_t n = (t.mask + 1) * 2;
    auto** nb = static_cast<tcp_pcb**>(std::calloc(n, sizeof(tcp_pcb*)));
    if (nb == nullptr) return;
    tcp_pcb** old = t.buckets;
    uint32_t old_n = t.mask + 1;
    t.buckets = nb;
    t.mask = n - 1;
    for (uint32_t i = 0; i < old_n; ++i) {
        for (tcp_pcb* p = old[i]; p != nullptr;) {
            tcp_pcb* next = p->hash_next;
            TableInsertRaw(t, p);
            p = next;
        }
    }
    if (old != t.inline_buckets) std::free(old);
}

void TableInsert(PcbTable& t, tcp_pcb* pcb) {
    if (t.count >= t.mask + 1) TableGrow(t);
    TableInsertRaw(t, pcb);
    ++t.count;
}

void TableRemove(PcbTable& t, tcp_pcb* pcb) {
    for (tcp_pcb** pp = &t.buckets[PcbHash(pcb) & t.mask]; *pp != nullptr; pp = &(*pp)->hash_next) {
        if (*pp == pcb) {
            *pp = pcb->hash_next;
            pcb->hash_next = nullptr;
            --t.count;
            return;
        }
    }
}

tcp_pcb* TableFind(const PcbTable& t, bool isipv6, const ipX_addr_t* local, const ipX_addr_t* remote,
                   uint16_t lport, uint16_t rport) {
    for (tcp_pcb* p = t.buckets[TupleHash(isipv6, local, remote, lport, rport) & t.mask]; p != nullptr;
         p = p->hash_next) {
        if (p->remote_port == rport && p->local_port == lport && p->isipv6 == isipv6 &&
            ipX_addr_cmp(&p->remote_ip, remote) && ipX_addr_cmp(&p->local_ip, local)) {
            return p;
        }
    }
    return nullptr;
}

void TableFree(PcbTable& t) {
    if (t.buckets != t.inline_buckets) std::free(t.buckets);
    std::memset(t.inline_buckets, 0, sizeof(t.inline_buckets));
    t.buckets = t.inline_buckets;
    t.mask = kInitialBuckets - 1;
    t.count = 0;
}

void ListPush(tcp_pcb** head, tcp_pcb* pcb) {
    pcb->prev = nullptr;
    pcb->next = *head;
    if (*head != nullptr) (*head)->prev = pcb;
    *head = pcb;
}

void ListRemove(tcp_pcb** head, tcp_pcb* pcb) {
    if (pcb->prev != nullptr) {
        pcb->prev->next = pcb->next;
    } else {
        *head = pcb->next;
    }
    if (pcb->next != nullptr) pcb->next->prev = pcb->prev;
    pcb->next = pcb->prev = nullptr;
}

}  // namespace

void tcp_reg_active(tcp_pcb* pcb) {
    ListPush(&tcp_active_pcbs, pcb);
    TableInsert(active_table, pcb);
    pcb->on_list = TCP_ON_ACTIVE;
    tcp_active_pcbs_changed = 1;
}

void tcp_reg_tw(tcp_pcb* pcb) {
    ListPush(&tcp_tw_pcbs, pcb);
    TableInsert(tw_table, pcb);
    pcb->on_list = TCP_ON_TW;
}

void tcp_unlink(tcp_pcb* pcb) {
    switch (pcb->on_list) {
        case TCP_ON_BOUND:
            ListRemove(&tcp_bound_pcbs, pcb);
            break;
        case TCP_ON_ACTIVE:
            ListRemove(&tcp_active_pcbs, pcb);
            TableRemove(active_table, pcb);
            tcp_active_pcbs_changed = 1;
            break;
        case TCP_ON_TW:
            ListRemove(&tcp_tw_pcbs, pcb);
            TableRemove(tw_table, pcb);
            break;
        default:
            break;
    }
    pcb->on_list = TCP_ON_NONE;
}

void tcp_move_to_front(tcp_pcb* pcb) {
    if (pcb->on_list != TCP_ON_ACTIVE || tcp_active_pcbs == pcb) return;
    ListRemove(&tcp_active_pcbs, pcb);
    ListPush(&tcp_active_pcbs, pcb);
}

tcp_pcb* tcp_lookup_active(bool isipv6, const ipX_addr_t* local, const ipX_addr_t* remote, uint16_t lport,
                           uint16_t rport) {
    return TableFind(active_table, isipv6, local, remote, lport, rport);
}

tcp_pcb* tcp_lookup_tw(bool isipv6, const ipX_addr_t* local, const ipX_addr_t* remote, uint16_t lport,
                       uint16_t rport) {
    return TableFind(tw_table, isipv6, local, remote, lport, rport);
}

// ---------------------------------------------------------------------------
// Segments.

void tcp_seg_free(tcp_seg* seg) {
    if (seg == nullptr) return;
    if (seg->p != nullptr) pbuf_free(seg->p);
    memp_free(MEMP_TCP_SEG, seg);
}

void tcp_segs_free(tcp_seg* seg) {
    while (seg != nullptr) {
        tcp_seg* next = seg->next;
        tcp_seg_free(seg);
        seg = next;
    }
}

tcp_seg* tcp_seg_copy(const tcp_seg* seg) {
    auto* c = static_cast<tcp_seg*>(memp_malloc(MEMP_TCP_SEG));
    if (c == nullptr) return nullptr;
    *c = *seg;
    pbuf_ref(c->p);
    return c;
}

// ---------------------------------------------------------------------------
// Allocation.

static uint32_t tcp_next_iss() {
    iss_counter += tcp_ticks;
    return iss_counter;
}

void tcp_free(tcp_pcb* pcb) {
    memp_free(MEMP_TCP_PCB, pcb);
}

static void tcp_kill_timewait() {
    tcp_pcb* inactive = nullptr;
    uint32_t inactivity = 0;
    for (tcp_pcb* pcb = tcp_tw_pcbs; pcb != nullptr; pcb = pcb->next) {
        if (inactive == nullptr || tcp_ticks - pcb->tmr >= inactivity) {
            inactivity = tcp_ticks - pcb->tmr;
            inactive = pcb;
        }
    }
    if (inactive != nullptr) tcp_abort(inactive);
}

static void tcp_kill_prio(uint8_t prio) {
    tcp_pcb* inactive = nullptr;
    uint8_t mprio = 0;
    uint32_t inactivity = 0;
    for (tcp_pcb* pcb = tcp_active_pcbs; pcb != nullptr; pcb = pcb->next) {
        if (pcb->prio > prio) continue;
        uint32_t idle = tcp_ticks - pcb->tmr;
        if (inactive == nullptr || pcb->prio < mprio || (pcb->prio == mprio && idle >= inactivity)) {
            inactive = pcb;
            mprio = pcb->prio;
            inactivity = idle;
        }
    }
    if (inactive != nullptr) tcp_abort(inactive);
}

static err_t tcp_recv_default(void*, tcp_pcb* pcb, pbuf* p, err_t) {
    if (p != nullptr) {
        tcp_recved(pcb, p->tot_len);
        pbuf_free(p);
        return ERR_OK;
    }
    return tcp_close(pcb);
}

tcp_pcb* tcp_alloc(uint8_t prio) {
    auto* pcb = static_cast<tcp_pcb*>(memp_malloc(MEMP_TCP_PCB));
    if (pcb == nullptr) {
        tcp_kill_timewait();
        pcb = static_cast<tcp_pcb*>(memp_malloc(MEMP_TCP_PCB));
        if (pcb == nullptr) {
            tcp_kill_prio(prio);
            pcb = static_cast<tcp_pcb*>(memp_malloc(MEMP_TCP_PCB));
        }
    }
    if (pcb == nullptr) return nullptr;
    std::memset(static_cast<void*>(pcb), 0, sizeof(*pcb));
    pcb->prio = prio;
    pcb->snd_buf = TCP_SND_BUF;
    pcb->snd_queuelen = 0;
    pcb->rcv_wnd = TCP_WND;
    pcb->rcv_ann_wnd = TCP_WND;
    pcb->rcv_wnd_max = TCP_WND;
    pcb->tos = 0;
    pcb->ttl = TCP_TTL;
    pcb->mss = TCP_DEFAULT_MSS;
    // No round trip measured yet: the estimate (mean 0, deviation) gives the initial timeout.
    pcb->rto = TCP_INITIAL_RTO_MS;
    pcb->sa = 0;
    pcb->sv = TCP_INITIAL_RTO_MS;
    tcp_rtx_stop(pcb);
    pcb->cwnd = 1;
    uint32_t iss = tcp_next_iss();
    pcb->snd_wl2 = iss;
    pcb->snd_nxt = iss;
    pcb->lastack = iss;
    pcb->snd_lbb = iss;
    pcb->tmr = tcp_ticks;
    pcb->last_timer = tcp_timer_ctr;
    pcb->polltmr = 0;
    pcb->recv = tcp_recv_default;
    pcb->keep_idle = tcp_tuning.keep_idle_ms;
    pcb->keep_intvl = tcp_tuning.keep_intvl_ms;
    pcb->keep_cnt = tcp_tuning.keep_cnt;
    pcb->keep_cnt_sent = 0;
    pcb->state = CLOSED;
    return pcb;
}

tcp_pcb* tcp_new() {
    return tcp_alloc(TCP_PRIO_NORMAL);
}

tcp_pcb* tcp_new_ip6() {
    tcp_pcb* pcb = tcp_alloc(TCP_PRIO_NORMAL);
    if (pcb != nullptr) pcb->isipv6 = 1;
    return pcb;
}

// ---------------------------------------------------------------------------
// Binding and listening.

static bool NameTaken(const tcp_pcb_common* pcb, const char ifname[3], uint8_t isipv6) {
    return pcb->bound_to_netif && pcb->isipv6 == isipv6 && std::memcmp(pcb->local_netif, ifname, 3) == 0;
}

err_t tcp_bind_to_netif(tcp_pcb* pcb, const char ifname[3]) {
    LWIP_ASSERT("tcp_bind_if: can only bind in state CLOSED", pcb->state == CLOSED);
    for (tcp_pcb_listen* l = tcp_listen_pcbs; l != nullptr; l = l->next) {
        if (NameTaken(l, ifname, pcb->isipv6)) return ERR_USE;
    }
    for (tcp_pcb* list : {tcp_bound_pcbs, tcp_active_pcbs, tcp_tw_pcbs}) {
        for (tcp_pcb* p = list; p != nullptr; p = p->next) {
            if (NameTaken(p, ifname, pcb->isipv6)) return ERR_USE;
        }
    }
    pcb->bound_to_netif = 1;
    std::memset(&pcb->local_ip, 0, sizeof(pcb->local_ip));
    pcb->local_port = 0;
    std::memcpy(pcb->local_netif, ifname, 3);
    ListPush(&tcp_bound_pcbs, pcb);
    pcb->on_list = TCP_ON_BOUND;
    return ERR_OK;
}

// Without an accept callback a new connection is refused with a reset; the
// block is aborted here because a result of ERR_ABRT promises exactly that.
static err_t tcp_accept_null(void*, tcp_pcb* pcb, err_t) {
    tcp_abort(pcb);
    return ERR_ABRT;
}

tcp_pcb_listen* tcp_listen(tcp_pcb* pcb) {
    LWIP_ASSERT("tcp_listen: pcb already connected", pcb->state == CLOSED);
    auto* lpcb = static_cast<tcp_pcb_listen*>(memp_malloc(MEMP_TCP_PCB_LISTEN));
    if (lpcb == nullptr) return nullptr;
    std::memset(static_cast<void*>(lpcb), 0, sizeof(*lpcb));
    lpcb->callback_arg = pcb->callback_arg;
    lpcb->bound_to_netif = pcb->bound_to_netif;
    lpcb->local_port = pcb->local_port;
    std::memcpy(lpcb->local_netif, pcb->local_netif, 3);
    lpcb->state = LISTEN;
    lpcb->prio = pcb->prio;
    lpcb->so_options = static_cast<uint8_t>(pcb->so_options | SOF_ACCEPTCONN);
    lpcb->ttl = pcb->ttl;
    lpcb->tos = pcb->tos;
    lpcb->isipv6 = pcb->isipv6;
    lpcb->local_ip = pcb->local_ip;
    lpcb->accept_any_ip_version = 0;
    tcp_unlink(pcb);
    tcp_free(pcb);
    lpcb->accept = tcp_accept_null;
    lpcb->next = tcp_listen_pcbs;
    tcp_listen_pcbs = lpcb;
    return lpcb;
}

void tcp_arg(tcp_pcb_common* pcb, void* arg) {
    pcb->callback_arg = arg;
}
void tcp_accept(tcp_pcb_listen* pcb, tcp_accept_fn accept) {
    pcb->accept = accept;
}

void tcp_recv(tcp_pcb* pcb, tcp_recv_fn recv) {
    LWIP_ASSERT("invalid socket state for recv callback", pcb->state != LISTEN);
    pcb->recv = recv;
}

void tcp_sent(tcp_pcb* pcb, tcp_sent_fn sent) {
    LWIP_ASSERT("invalid socket state for sent callback", pcb->state != LISTEN);
    pcb->sent = sent;
}

void tcp_err(tcp_pcb* pcb, tcp_err_fn err) {
    LWIP_ASSERT("invalid socket state for err callback", pcb->state != LISTEN);
    pcb->errf = err;
}

void tcp_poll(tcp_pcb* pcb, tcp_poll_fn poll, uint8_t interval) {
    pcb->poll = poll;
    pcb->pollinterval = interval;
}

// ---------------------------------------------------------------------------
// Receive window.

uint32_t tcp_update_rcv_ann_wnd(tcp_pcb* pcb) {
    uint32_t new_right_edge = pcb->rcv_nxt + pcb->rcv_wnd;
    uint32_t step = pcb->mss < pcb->rcv_wnd_max / 2 ? pcb->mss : pcb->rcv_wnd_max / 2;
    if (TCP_SEQ_GEQ(new_right_edge, pcb->rcv_ann_right_edge + step)) {
        pcb->rcv_ann_wnd = pcb->rcv_wnd;
        return new_right_edge - pcb->rcv_ann_right_edge;
    }
    if (TCP_SEQ_GT(pcb->rcv_nxt, pcb->rcv_ann_right_edge)) {
        pcb->rcv_ann_wnd = 0;
    } else {
        pcb->rcv_ann_wnd = pcb->rcv_ann_right_edge - pcb->rcv_nxt;
    }
    return 0;
}

void tcp_recved(tcp_pcb* pcb, uint32_t len) {
    LWIP_ASSERT("don't call tcp_recved for listen-pcbs", pcb->state != LISTEN);
    LWIP_ASSERT("tcp_recved: len would wrap rcv_wnd\n", len <= 0xffffffffU - pcb->rcv_wnd);
    uint32_t wnd = pcb->rcv_wnd + len;
    pcb->rcv_wnd = wnd > pcb->rcv_wnd_max ? pcb->rcv_wnd_max : wnd;
    if (tcp_update_rcv_ann_wnd(pcb) >= pcb->rcv_wnd_max / 4) {
        tcp_ack_now(pcb);
        tcp_output(pcb);
    }
}

err_t tcp_process_refused_data(tcp_pcb* pcb) {
    for (;;) {
        pbuf* rest = pcb->refused_data;
        uint8_t refused_flags = rest->flags;
        pcb->refused_data = nullptr;
        tcp_pcb* outer = tcp_cb_pcb;
        tcp_cb_pcb = pcb;
        tcp_cb_pcb_released = false;
        err_t err;
        if (pcb->recv != nullptr) {
            err = pcb->recv(pcb->callback_arg, pcb, rest, ERR_OK);
        } else {
            tcp_recved(pcb, rest->tot_len);
            pbuf_free(rest);
            err = ERR_OK;
        }
        bool taken = err == ERR_OK || err == ERR_ABRT;
        if (err == ERR_OK && !tcp_cb_pcb_released && (refused_flags & PBUF_FLAG_TCP_FIN)) {
            if (pcb->rcv_wnd != pcb->rcv_wnd_max) ++pcb->rcv_wnd;
            if (pcb->recv != nullptr) err = pcb->recv(pcb->callback_arg, pcb, nullptr, ERR_OK);
        }
        tcp_cb_pcb = outer;
        if (tcp_cb_pcb_released) {
            tcp_cb_pcb_released = false;
            if (!taken) pbuf_free(rest);
            tcp_free(pcb);
            return ERR_ABRT;  // the block is gone
        }
        if (err == ERR_ABRT) return ERR_ABRT;
        if (!taken) {
            pcb->refused_data = rest;
            return ERR_OK;
        }
        if (refused_flags & PBUF_FLAG_TCP_FIN) return ERR_OK;
        // In-order data queued behind the refused chain goes next.
        bool fin = false;
        pbuf* more = tcp_take_queued_in_order(pcb, &fin);
        if (more == nullptr && fin) more = pbuf_alloc(PBUF_RAW, 0, PBUF_RAM);  // carries the FIN alone
        if (more == nullptr) return ERR_OK;
        if (fin) more->flags |= PBUF_FLAG_TCP_FIN;
        pcb->refused_data = more;
        tcp_ack_now(pcb);
        tcp_output(pcb);
    }
}

uint16_t tcp_eff_send_mss(uint16_t sendmss, bool isipv6, const ipX_addr_t* local, const ipX_addr_t* remote) {
    if (isipv6) {
        uint16_t mtu = nd6_get_destination_mtu(&remote->ip6, ip6_route_lookup(&local->ip6, &remote->ip6));
        if (mtu == 0) return sendmss;
        uint16_t m = static_cast<uint16_t>(mtu > 60 ? mtu - 60 : 0);
        return sendmss < m ? sendmss : m;
    }
    netif* n = ip_route_lookup(&remote->ip4);
    if (n == nullptr || n->mtu == 0) return sendmss;
    uint16_t m = static_cast<uint16_t>(n->mtu > 40 ? n->mtu - 40 : 0);
    return sendmss < m ? sendmss : m;
}

// ---------------------------------------------------------------------------
// Ending connections.

void tcp_pcb_purge(tcp_pcb* pcb) {
    if (pcb->state == CLOSED || pcb->state == LISTEN || pcb->state == TIME_WAIT) return;
    if (pcb->refused_data != nullptr) {
        pbuf_free(pcb->refused_data);
        pcb->refused_data = nullptr;
    }
    tcp_segs_free(pcb->ooseq);
    pcb->ooseq = nullptr;
    tcp_rtx_stop(pcb);
    tcp_segs_free(pcb->unsent);
    tcp_segs_free(pcb->unacked);
    pcb->unsent = pcb->unacked = nullptr;
    pcb->unsent_oversize = 0;
}

void tcp_pcb_remove(tcp_pcb* pcb) {
    tcp_unlink(pcb);
    tcp_pcb_purge(pcb);
    if (pcb->state != TIME_WAIT && pcb->state != LISTEN && (pcb->flags & TF_ACK_DELAY)) {
        pcb->flags |= TF_ACK_NOW;
        tcp_output(pcb);
    }
    pcb->state = CLOSED;
}

void tcp_abandon(tcp_pcb* pcb, int reset) {
    LWIP_ASSERT("don't call tcp_abort/tcp_abandon for listen-pcbs", pcb->state != LISTEN);
    if (pcb->state == TIME_WAIT) {
        tcp_unlink(pcb);
        tcp_free(pcb);
        return;
    }
    tcp_state state = pcb->state;
    uint32_t seqno = pcb->snd_nxt;
    uint32_t ackno = pcb->rcv_nxt;
    tcp_err_fn errf = pcb->errf;
    void* errf_arg = pcb->callback_arg;
    ipX_addr_t local = pcb->local_ip, remote = pcb->remote_ip;
    uint16_t lport = pcb->local_port, rport = pcb->remote_port;
    bool isipv6 = pcb->isipv6;
    tcp_pcb_remove(pcb);
    tcp_active_pcbs_changed = 1;
    if (reset && state != CLOSED) tcp_rst(seqno, ackno, &local, &remote, lport, rport, isipv6);
    tcp_free(pcb);
    if (errf != nullptr) errf(errf_arg, ERR_ABRT);
}

void tcp_abort(tcp_pcb* pcb) {
    tcp_abandon(pcb, 1);
}

static err_t tcp_close_shutdown(tcp_pcb_common* common) {
    if (common->state == LISTEN) {
        auto* lpcb = static_cast<tcp_pcb_listen*>(common);
        for (tcp_pcb_listen** pp = &tcp_listen_pcbs; *pp != nullptr; pp = &(*pp)->next) {
            if (*pp == lpcb) {
                *pp = lpcb->next;
                break;
            }
        }
        memp_free(MEMP_TCP_PCB_LISTEN, lpcb);
        return ERR_OK;
    }
    auto* pcb = static_cast<tcp_pcb*>(common);
    if ((pcb->state == ESTABLISHED || pcb->state == CLOSE_WAIT) &&
        (pcb->refused_data != nullptr || pcb->rcv_wnd != pcb->rcv_wnd_max)) {
        // The application did not take everything it was given: tell the peer.
        tcp_rst(pcb->snd_nxt, pcb->rcv_nxt, &pcb->local_ip, &pcb->remote_ip, pcb->local_port,
                pcb->remote_port, pcb->isipv6);
        tcp_pcb_purge(pcb);
        tcp_unlink(pcb);
        if (pcb->state == ESTABLISHED) {
            pcb->state = TIME_WAIT;
            pcb->tmr = tcp_ticks;
            tcp_reg_tw(pcb);
        } else if (pcb == tcp_cb_pcb) {
            pcb->state = CLOSED;
            tcp_cb_pcb_released = true;  // freed once its callback has returned
        } else {
            tcp_free(pcb);
        }
        return ERR_OK;
    }
    err_t err;
    switch (pcb->state) {
        case CLOSED:
            tcp_unlink(pcb);
            tcp_free(pcb);
            return ERR_OK;
        case SYN_SENT:
            tcp_pcb_remove(pcb);
            tcp_free(pcb);
            return ERR_OK;
        case SYN_RCVD:
        case ESTABLISHED:
            err = tcp_send_fin(pcb);
            if (err != ERR_OK) return err;
            pcb->state = FIN_WAIT_1;
            break;
        case CLOSE_WAIT:
            err = tcp_send_fin(pcb);
            if (err != ERR_OK) return err;
            pcb->state = LAST_ACK;
            break;
        default:
            return ERR_OK;
    }
    tcp_output(pcb);
    return ERR_OK;
}

err_t tcp_close(tcp_pcb_common* pcb) {
    if (pcb->state != LISTEN) static_cast<tcp_pcb*>(pcb)->flags |= TF_RXCLOSED;
    return tcp_close_shutdown(pcb);
}

void tcp_netif_ip4_addr_changed(const ip4_addr_t* old_addr, const ip4_addr_t* new_addr) {
    // An interface getting its first address leaves everything alone.
    if (old_addr->addr == 0) return;
restart:
    for (tcp_pcb* pcb = tcp_active_pcbs; pcb != nullptr; pcb = pcb->next) {
        if (!pcb->isipv6 && pcb->local_ip.ip4.addr == old_addr->addr) {
            tcp_abort(pcb);
            goto restart;
        }
    }
    for (tcp_pcb_listen* l = tcp_listen_pcbs; l != nullptr; l = l->next) {
        if (!l->isipv6 && l->local_ip.ip4.addr == old_addr->addr) ipX_addr_set_ip4(&l->local_ip, new_addr);
    }
}

// ---------------------------------------------------------------------------
// Timers.

// Visits every active block once per timer pass even when callbacks change the
// list: `visit` sets where to go on and returns true when the walk must start
// over (blocks already visited carry this pass's number and are skipped).
template <typename Visit>
static void WalkActiveOnce(Visit visit) {
restart:
    for (tcp_pcb* pcb = tcp_active_pcbs; pcb != nullptr;) {
        if (pcb->last_timer == tcp_timer_ctr) {
            pcb = pcb->next;
            continue;
        }
        pcb->last_timer = tcp_timer_ctr;
        tcp_pcb* next = pcb->next;
        if (visit(pcb, &next)) goto restart;
        pcb = next;
    }
}

void tcp_fasttmr() {
    tcp_rexmit_tmr();
    ++tcp_timer_ctr;
    WalkActiveOnce([](tcp_pcb* pcb, tcp_pcb** next) {
        if (pcb->flags & TF_ACK_DELAY) {
            tcp_ack_now(pcb);
            tcp_output(pcb);
            pcb->flags &= static_cast<uint8_t>(~(TF_ACK_DELAY | TF_ACK_NOW));
        }
        *next = pcb->next;
        if (pcb->refused_data != nullptr) {
            tcp_active_pcbs_changed = 0;
            tcp_process_refused_data(pcb);
            if (tcp_active_pcbs_changed) return true;
        }
        return false;
    });
}

// One block's share of the slow timer; true when the active list changed under it.
static bool SlowTimerVisit(tcp_pcb* pcb, tcp_pcb** next_out) {
    bool remove = false, reset = false;
    if (pcb->state == SYN_SENT && pcb->nrtx >= TCP_SYNMAXRTX) {
        remove = true;
    } else if (pcb->nrtx >= TCP_MAXRTX) {
        remove = true;
    } else if (pcb->persist_backoff > 0) {
        ++pcb->persist_cnt;
        uint8_t due = tcp_persist_backoff[pcb->persist_backoff - 1];
        if (due > tcp_tuning.persist_max_ticks) due = tcp_tuning.persist_max_ticks;
        if (pcb->persist_cnt >= due) {
            pcb->persist_cnt = 0;
            if (pcb->persist_backoff < sizeof(tcp_persist_backoff)) ++pcb->persist_backoff;
            if (pcb->persist_probes >= TCP_MAXRTX) {
                // The peer answered none of them: it is gone, not just slow to read.
                remove = true;
                reset = true;
            } else {
                ++pcb->persist_probes;
                tcp_zero_window_probe(pcb);
            }
        }
    }
    if (pcb->state == FIN_WAIT_2 && (pcb->flags & TF_RXCLOSED) &&
        tcp_ticks - pcb->tmr > TCP_FIN_WAIT_TIMEOUT_TICKS) {
        remove = true;
    }
    if ((pcb->so_options & SOF_KEEPALIVE) && (pcb->state == ESTABLISHED || pcb->state == CLOSE_WAIT)) {
        uint64_t idle_ms = uint64_t(tcp_ticks - pcb->tmr) * TCP_SLOW_INTERVAL;
        if (idle_ms > pcb->keep_idle + uint64_t(pcb->keep_cnt) * pcb->keep_intvl) {
            remove = true;
            reset = true;
        } else if (idle_ms > pcb->keep_idle + uint64_t(pcb->keep_cnt_sent) * pcb->keep_intvl) {
            tcp_keepalive(pcb);
            ++pcb->keep_cnt_sent;
        }
    }
    if (pcb->ooseq != nullptr &&
        uint64_t(tcp_ticks - pcb->tmr) * TCP_SLOW_INTERVAL >= static_cast<uint64_t>(pcb->rto) * 6) {
        tcp_segs_free(pcb->ooseq);
        pcb->ooseq = nullptr;
    }
    if (pcb->state == SYN_RCVD && tcp_ticks - pcb->tmr > TCP_SYN_RCVD_TIMEOUT_TICKS) remove = true;
    if (pcb->state == LAST_ACK && tcp_ticks - pcb->tmr > 2 * TCP_MSL_TICKS) remove = true;

    if (remove) {
        tcp_pcb_purge(pcb);
        *next_out = pcb->next;
        tcp_unlink(pcb);
        if (reset) {
            tcp_rst(pcb->snd_nxt, pcb->rcv_nxt, &pcb->local_ip, &pcb->remote_ip, pcb->local_port,
                    pcb->remote_port, pcb->isipv6);
        }
        tcp_err_fn errf = pcb->errf;
        void* arg = pcb->callback_arg;
        tcp_free(pcb);
        tcp_active_pcbs_changed = 0;
        if (errf != nullptr) errf(arg, ERR_ABRT);
        return tcp_active_pcbs_changed != 0;
    }
    if (++pcb->polltmr >= pcb->pollinterval) {
        pcb->polltmr = 0;
        tcp_active_pcbs_changed = 0;
        err_t err = ERR_OK;
        if (pcb->poll != nullptr) err = pcb->poll(pcb->callback_arg, pcb);
        if (tcp_active_pcbs_changed) return true;
        if (err == ERR_OK) tcp_output(pcb);
    }
    *next_out = pcb->next;
    return false;
}

// The retransmission timeout: everything in flight goes again, from the
// first unacknowledged segment, with the timeout backed off.
static void RetransmissionTimeout(tcp_pcb* pcb) {
    if (pcb->state != SYN_SENT) {
        int64_t rto = int64_t(tcp_rto_estimate(pcb)) << tcp_backoff[pcb->nrtx < 12 ? pcb->nrtx : 12];
        pcb->rto = static_cast<int32_t>(rto > TCP_RTO_MAX_MS ? TCP_RTO_MAX_MS : rto);
    }
    tcp_rtx_restart(pcb);
    uint32_t eff_wnd = pcb->cwnd < pcb->snd_wnd ? pcb->cwnd : pcb->snd_wnd;
    pcb->ssthresh = eff_wnd >> 1;
    if (pcb->ssthresh < uint32_t(pcb->mss << 1)) pcb->ssthresh = uint32_t(pcb->mss << 1);
    pcb->cwnd = pcb->mss;
    tcp_rexmit_rto(pcb);
}

// How long a flight may go unacknowledged before its last segment is
// probed: two round trips, at least the floor. A single segment in flight
// is left to the timeout: the peer may be delaying its acknowledgement. In
// loss recovery the peer's acknowledgements already tell what is missing.
static bool TailLossProbeDue(const tcp_pcb* pcb, uint32_t elapsed) {
    if (pcb->tlp_sent || pcb->nrtx != 0 || pcb->state < ESTABLISHED || pcb->unacked->next == nullptr ||
        (pcb->flags & TF_INFR)) {
        return false;
    }
    uint32_t pto = pcb->rtt_valid ? static_cast<uint32_t>(pcb->sa >> 2) : TCP_INITIAL_RTO_MS;
    if (pto < TCP_TLP_MIN_MS) pto = TCP_TLP_MIN_MS;
    return elapsed >= pto && elapsed < static_cast<uint32_t>(pcb->rto);
}

bool tcp_rexmit_tmr() {
    bool running = false;
    ++tcp_timer_ctr;
    WalkActiveOnce([&running](tcp_pcb* pcb, tcp_pcb** next) {
        *next = pcb->next;
        // A zero window is the persist timer's (slow timer).
        if (!pcb->rtx_on || pcb->unacked == nullptr || pcb->persist_backoff > 0) return false;
        uint32_t elapsed = tcp_now() - pcb->rtx_start;
        tcp_active_pcbs_changed = 0;
        if (elapsed >= static_cast<uint32_t>(pcb->rto)) {
            RetransmissionTimeout(pcb);
        } else if (TailLossProbeDue(pcb, elapsed)) {
            pcb->tlp_sent = 1;
            tcp_send_tail_probe(pcb);
        }
        if (tcp_active_pcbs_changed) return true;
        *next = pcb->next;
        if (pcb->rtx_on) running = true;
        return false;
    });
    return running;
}

void tcp_slowtmr() {
    ++tcp_ticks;
    ++tcp_timer_ctr;
    WalkActiveOnce(SlowTimerVisit);
    for (tcp_pcb* pcb = tcp_tw_pcbs; pcb != nullptr;) {
        tcp_pcb* next = pcb->next;
        if (tcp_ticks - pcb->tmr > 2 * TCP_MSL_TICKS) {
            tcp_pcb_purge(pcb);
            tcp_unlink(pcb);
            tcp_free(pcb);
        }
        pcb = next;
    }
}

void tcp_tmr() {
    tcp_fasttmr();
    if (tcp_timer++ & 1) return;
    tcp_slowtmr();
}

// ---------------------------------------------------------------------------
// Clock.

static uint32_t SteadyMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

static uint32_t (*clock_fn)() = SteadyMs;

uint32_t tcp_now() {
    return clock_fn();
}

void tcp_set_clock(uint32_t (*now_ms)()) {
    clock_fn = now_ms != nullptr ? now_ms : SteadyMs;
}

// ---------------------------------------------------------------------------
// Start and teardown.

void tcp_deinit() {
    tcp_input_pcb = nullptr;
    while (tcp_listen_pcbs != nullptr) {
        tcp_pcb_listen* l = tcp_listen_pcbs;
        tcp_listen_pcbs = l->next;
        memp_free(MEMP_TCP_PCB_LISTEN, l);
    }
    for (tcp_pcb** list : {&tcp_bound_pcbs, &tcp_active_pcbs, &tcp_tw_pcbs}) {
        while (*list != nullptr) {
            tcp_pcb* pcb = *list;
            tcp_unlink(pcb);
            tcp_pcb_purge(pcb);
            tcp_free(pcb);
        }
    }
    TableFree(active_table);
    TableFree(tw_table);
}

void tcp_init() {
    tcp_deinit();
    if (hash_seed == 0) hash_seed = (uint64_t(std::random_device{}()) << 32) | std::random_device{}() | 1;
    tcp_timer = 0;
    tcp_active_pcbs_changed = 0;
}
