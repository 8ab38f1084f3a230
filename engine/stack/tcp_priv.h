#pragma once
// Internals shared by the TCP modules.

#include <cstdint>

#include "engine/stack/netif.h"
#include "engine/stack/tcp.h"

#define TCP_HLEN 20

#define TCP_FIN 0x01U
#define TCP_SYN 0x02U
#define TCP_RST 0x04U
#define TCP_PSH 0x08U
#define TCP_ACK 0x10U
#define TCP_URG 0x20U
#define TCP_FLAGS 0x3fU

struct __attribute__((packed)) tcp_hdr {
    uint16_t src;
    uint16_t dest;
    uint32_t seqno;
    uint32_t ackno;
    uint16_t _hdrlen_rsvd_flags;
    uint16_t wnd;
    uint16_t chksum;
    uint16_t urgp;
};

inline uint16_t TCPH_HDRLEN(const tcp_hdr* h) {
    return static_cast<uint16_t>(ntohs(h->_hdrlen_rsvd_flags) >> 12);
}
inline uint8_t TCPH_FLAGS(const tcp_hdr* h) {
    return static_cast<uint8_t>(ntohs(h->_hdrlen_rsvd_flags) & TCP_FLAGS);
}
inline void TCPH_HDRLEN_FLAGS_SET(tcp_hdr* h, uint16_t len, uint8_t flags) {
    h->_hdrlen_rsvd_flags = htons(static_cast<uint16_t>((len << 12) | flags));
}
inline void TCPH_SET_FLAG(tcp_hdr* h, uint8_t f) {
    h->_hdrlen_rsvd_flags |= htons(f);
}
inline void TCPH_UNSET_FLAG(tcp_hdr* h, uint8_t f) {
    h->_hdrlen_rsvd_flags &= static_cast<uint16_t>(~htons(f));
}

inline int32_t TCP_SEQ_DIFF(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b);
}
inline bool TCP_SEQ_LT(uint32_t a, uint32_t b) {
    return TCP_SEQ_DIFF(a, b) < 0;
}
inline bool TCP_SEQ_LEQ(uint32_t a, uint32_t b) {
    return TCP_SEQ_DIFF(a, b) <= 0;
}
inline bool TCP_SEQ_GT(uint32_t a, uint32_t b) {
    return TCP_SEQ_DIFF(a, b) > 0;
}
inline bool TCP_SEQ_GEQ(uint32_t a, uint32_t b) {
    return TCP_SEQ_DIFF(a, b) >= 0;
}
inline bool TCP_SEQ_BETWEEN(uint32_t a, uint32_t b, uint32_t c) {
    return TCP_SEQ_GEQ(a, b) && TCP_SEQ_LEQ(a, c);
}

inline uint16_t TCP_TCPLEN_HOSTHDR(const tcp_seg* seg, uint8_t flags) {
    return static_cast<uint16_t>(seg->len + ((flags & (TCP_FIN | TCP_SYN)) ? 1 : 0));
}
// Sequence space of an outgoing segment (header in network order).
inline uint16_t TCP_TCPLEN(const tcp_seg* seg) {
    return TCP_TCPLEN_HOSTHDR(seg, TCPH_FLAGS(seg->tcphdr));
}
inline uint8_t LWIP_TCP_OPT_LENGTH(uint8_t optflags) {
    return static_cast<uint8_t>(((optflags & TF_SEG_OPTS_MSS) ? 4 : 0) +
                                ((optflags & TF_SEG_OPTS_WND_SCALE) ? 4 : 0) +
                                ((optflags & TF_SEG_OPTS_SACK_PERM) ? 4 : 0));
}
// The largest shift a window-scale option may carry.
#define TCP_MAX_WND_SCALE 14
// SACK blocks in one segment: two NOPs, kind, length and 8 bytes a block
// fill 36 of the 40 option bytes.
#define TCP_MAX_SACK_BLOCKS 4
// Segments the peer must hold above a hole before the hole counts as lost.
#define TCP_DUPTHRESH 3

inline void tcp_ack_now(tcp_pcb* pcb) {
    pcb->flags |= TF_ACK_NOW;
}
inline void tcp_ack(tcp_pcb* pcb) {
    if (pcb->flags & TF_ACK_DELAY) {
        pcb->flags &= static_cast<uint8_t>(~TF_ACK_DELAY);
        pcb->flags |= TF_ACK_NOW;
    } else {
        pcb->flags |= TF_ACK_DELAY;
    }
}

// The retransmission timer counts from now; a new flight may be probed again.
inline void tcp_rtx_restart(tcp_pcb* pcb) {
    pcb->rtx_on = 1;
    pcb->rtx_start = tcp_now();
    pcb->tlp_sent = 0;
}
inline void tcp_rtx_stop(tcp_pcb* pcb) {
    pcb->rtx_on = 0;
    pcb->tlp_sent = 0;
}
// The timeout the round-trip estimate gives, between the floor and the ceiling.
inline int32_t tcp_rto_estimate(const tcp_pcb* pcb) {
    int32_t rto = (pcb->sa >> 3) + pcb->sv;
    if (rto < TCP_RTO_MIN_MS) return TCP_RTO_MIN_MS;
    return rto > TCP_RTO_MAX_MS ? TCP_RTO_MAX_MS : rto;
}

// Which list a connected block is on.
enum : uint8_t { TCP_ON_NONE = 0, TCP_ON_BOUND, TCP_ON_ACTIVE, TCP_ON_TW };

extern tcp_pcb* tcp_input_pcb;
// The block whose receive or sent callback is running. When the application
// closes it from inside and the close would release it, the release is left
// to the stack code that called the callback (it still uses the block).
extern tcp_pcb* tcp_cb_pcb;
extern bool tcp_cb_pcb_released;
extern uint8_t tcp_active_pcbs_changed;
extern uint8_t tcp_timer_ctr;

// List and table upkeep.
void tcp_reg_active(tcp_pcb* pcb);
void tcp_reg_tw(tcp_pcb* pcb);
void tcp_unlink(tcp_pcb* pcb);
void tcp_move_to_front(tcp_pcb* pcb);
tcp_pcb* tcp_lookup_active(bool isipv6, const ipX_addr_t* local, const ipX_addr_t* remote, uint16_t lport,
                           uint16_t rport);
tcp_pcb* tcp_lookup_tw(bool isipv6, const ipX_addr_t* local, const ipX_addr_t* remote, uint16_t lport,
                       uint16_t rport);

tcp_pcb* tcp_alloc(uint8_t prio);
void tcp_free(tcp_pcb* pcb);
void tcp_pcb_purge(tcp_pcb* pcb);
void tcp_pcb_remove(tcp_pcb* pcb);
uint32_t tcp_update_rcv_ann_wnd(tcp_pcb* pcb);
err_t tcp_process_refused_data(tcp_pcb* pcb);
// In-order data still queued behind data the application refused (one
// chain holds at most 64 KiB): the next chain of it, taken into the
// sequence space, and whether the peer's FIN came with it; nullptr when
// there is no data.
pbuf* tcp_take_queued_in_order(tcp_pcb* pcb, bool* fin);
uint16_t tcp_eff_send_mss(uint16_t sendmss, bool isipv6, const ipX_addr_t* local, const ipX_addr_t* remote);
void tcp_netif_ip4_addr_changed(const ip4_addr_t* old_addr, const ip4_addr_t* new_addr);

// Segments.
void tcp_seg_free(tcp_seg* seg);
void tcp_segs_free(tcp_seg* seg);
tcp_seg* tcp_seg_copy(const tcp_seg* seg);

// Input and output.
void tcp_input(pbuf* p, netif* inp);
err_t tcp_enqueue_flags(tcp_pcb* pcb, uint8_t flags);
err_t tcp_send_fin(tcp_pcb* pcb);
err_t tcp_send_empty_ack(tcp_pcb* pcb);
void tcp_rst(uint32_t seqno, uint32_t ackno, const ipX_addr_t* local_ip, const ipX_addr_t* remote_ip,
             uint16_t local_port, uint16_t remote_port, bool isipv6);
void tcp_rexmit_rto(tcp_pcb* pcb);
void tcp_rexmit(tcp_pcb* pcb);
void tcp_rexmit_fast(tcp_pcb* pcb);
// Takes the peer's SACK blocks into the unacknowledged queue and enters loss
// recovery when they show a hole lost; `dupacks` duplicate acknowledgements so far.
void tcp_sack_update(tcp_pcb* pcb, const uint32_t (*blocks)[2], int count);
// In loss recovery: resends lost holes while the data in flight leaves room.
void tcp_sack_rexmit(tcp_pcb* pcb);
// Sends the last unacknowledged segment once more, leaving the queues as they are.
void tcp_send_tail_probe(tcp_pcb* pcb);
void tcp_keepalive(tcp_pcb* pcb);
void tcp_zero_window_probe(tcp_pcb* pcb);
