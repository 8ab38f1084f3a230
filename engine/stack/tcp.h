#pragma once
// TCP control blocks and the application interface of the stack's TCP.

#include <cstdint>

#include "engine/stack/err.h"
#include "engine/stack/ip_addr.h"
#include "engine/stack/opt.h"
#include "engine/stack/pbuf.h"

enum tcp_state : uint8_t {
    CLOSED = 0,
    LISTEN = 1,
    SYN_SENT = 2,
    SYN_RCVD = 3,
    ESTABLISHED = 4,
    FIN_WAIT_1 = 5,
    FIN_WAIT_2 = 6,
    CLOSE_WAIT = 7,
    CLOSING = 8,
    LAST_ACK = 9,
    TIME_WAIT = 10,
};

const char* tcp_state_str(tcp_state s);

// Control-block flags.
#define TF_ACK_DELAY 0x01U
#define TF_ACK_NOW 0x02U
#define TF_INFR 0x04U
#define TF_TIMESTAMP 0x08U
#define TF_RXCLOSED 0x10U
#define TF_FIN 0x20U
#define TF_NODELAY 0x40U
#define TF_NAGLEMEMERR 0x80U

// Socket options.
#define SOF_ACCEPTCONN 0x02U
#define SOF_REUSEADDR 0x04U
#define SOF_KEEPALIVE 0x08U
#define SOF_LINGER 0x80U
#define SOF_INHERITED (SOF_REUSEADDR | SOF_KEEPALIVE | SOF_LINGER)

struct tcp_pcb;

typedef err_t (*tcp_accept_fn)(void* arg, tcp_pcb* newpcb, err_t err);
typedef err_t (*tcp_recv_fn)(void* arg, tcp_pcb* tpcb, pbuf* p, err_t err);
typedef err_t (*tcp_sent_fn)(void* arg, tcp_pcb* tpcb, uint32_t len);
typedef err_t (*tcp_poll_fn)(void* arg, tcp_pcb* tpcb);
typedef void (*tcp_err_fn)(void* arg, err_t err);
typedef err_t (*tcp_connected_fn)(void* arg, tcp_pcb* tpcb, err_t err);

// A queued segment; its first buffer holds the TCP header in front of the data.
struct tcp_seg {
    tcp_seg* next;
    pbuf* p;
    uint16_t len;  // data bytes, without SYN and FIN
    uint8_t flags;
    struct tcp_hdr* tcphdr;
};
#define TF_SEG_OPTS_MSS 0x01U
#define TF_SEG_OPTS_TS 0x02U
#define TF_SEG_OPTS_WND_SCALE 0x04U  // NOP and window scale, on a SYN
#define TF_SEG_OPTS_SACK_PERM 0x08U  // two NOPs and SACK permitted, on a SYN
#define TF_SEG_SACKED 0x10U          // on the unacknowledged queue: the peer holds it (SACK)
#define TF_SEG_RETX 0x20U            // on the unacknowledged queue: resent in this loss recovery

// What listening and connected blocks share.
struct tcp_pcb_common {
    uint8_t isipv6;
    ipX_addr_t local_ip;
    ipX_addr_t remote_ip;
    uint8_t so_options;
    uint8_t tos;
    uint8_t ttl;
    void* callback_arg;
    tcp_accept_fn accept;
    tcp_state state;
    uint8_t prio;
    uint8_t bound_to_netif;
    uint16_t local_port;
    char local_netif[3];
};

struct tcp_pcb_listen : tcp_pcb_common {
    tcp_pcb_listen* next;
    uint8_t accept_any_ip_version;
};

struct tcp_pcb : tcp_pcb_common {
    tcp_pcb* next;
    tcp_pcb* prev;       // lists are doubly linked so unlinking is O(1)
    tcp_pcb* hash_next;  // chain in the 4-tuple table of its list
    uint8_t on_list;     // which list holds it (internal)

    uint16_t remote_port;
    uint8_t flags;
    uint8_t polltmr;
    uint8_t pollinterval;
    uint8_t last_timer;
    uint32_t tmr;  // activity time in slow ticks

    uint32_t rcv_nxt;
    uint32_t rcv_wnd;
    uint32_t rcv_ann_wnd;
    uint32_t rcv_ann_right_edge;
    uint32_t rcv_wnd_max;     // the window when the application has read everything
    uint8_t snd_scale;        // the peer's window shift (0: no scaling)
    uint8_t rcv_scale;        // ours
    uint8_t sack_ok;          // both sides use selective acknowledgements
    uint32_t ooseq_last;      // start of the out-of-order segment that arrived last
    uint32_t recovery_point;  // SND.NXT when loss recovery began; it ends once that is acknowledged

    // Retransmission timer and round-trip estimate, in ms of tcp_now().
    uint8_t rtx_on;      // the timer runs (data or SYN/FIN in flight)
    uint8_t rtt_valid;   // a round trip has been measured
    uint8_t tlp_sent;    // this flight's tail-loss probe went out
    uint32_t rtx_start;  // when the timer was last restarted
    uint16_t mss;
    uint32_t rttest;  // when the timed segment was sent; 0: none is timed
    uint32_t rtseq;
    int32_t sa;   // smoothed round trip, times 8
    int32_t sv;   // mean deviation, times 4
    int32_t rto;  // current timeout, backoff included
    uint8_t nrtx;
    uint8_t dupacks;
    uint32_t lastack;

    uint32_t cwnd;
    uint32_t ssthresh;
    uint32_t snd_nxt;
    uint32_t snd_wl1;
    uint32_t snd_wl2;
    uint32_t snd_lbb;
    uint32_t snd_wnd;
    uint32_t snd_wnd_max;
    uint32_t acked;
    uint32_t snd_buf;
    uint16_t snd_queuelen;
    uint16_t unsent_oversize;

    tcp_seg* unsent;
    tcp_seg* unacked;
    tcp_seg* ooseq;
    pbuf* refused_data;

    tcp_sent_fn sent;
    tcp_recv_fn recv;
    tcp_connected_fn connected;
    tcp_poll_fn poll;
    tcp_err_fn errf;

    uint32_t keep_idle;   // ms without a segment from the peer before the first probe
    uint32_t keep_intvl;  // ms between probes
    uint8_t keep_cnt;     // unanswered probes that end the connection
    uint8_t persist_cnt;
    uint8_t persist_backoff;
    uint8_t persist_probes;  // zero-window probes sent since the peer last sent anything
    uint8_t keep_cnt_sent;
};

// The timer values every new control block starts with. The engine may
// change them before it starts (its tests shorten them).
struct tcp_timer_tuning {
    uint32_t keep_idle_ms = TCP_KEEPIDLE_DEFAULT;
    uint32_t keep_intvl_ms = TCP_KEEPINTVL_DEFAULT;
    uint8_t keep_cnt = TCP_KEEPCNT_DEFAULT;
    uint8_t persist_max_ticks = TCP_PERSIST_MAX_TICKS;  // longest pause between window probes
};
extern tcp_timer_tuning tcp_tuning;

// Creation, binding and listening.
tcp_pcb* tcp_new();
tcp_pcb* tcp_new_ip6();
err_t tcp_bind_to_netif(tcp_pcb* pcb, const char ifname[3]);
tcp_pcb_listen* tcp_listen(tcp_pcb* pcb);
inline tcp_pcb_listen* tcp_listen_with_backlog(tcp_pcb* pcb, uint8_t) {
    return tcp_listen(pcb);
}

// Callbacks and their argument.
void tcp_arg(tcp_pcb_common* pcb, void* arg);
void tcp_accept(tcp_pcb_listen* pcb, tcp_accept_fn accept);
void tcp_recv(tcp_pcb* pcb, tcp_recv_fn recv);
void tcp_sent(tcp_pcb* pcb, tcp_sent_fn sent);
void tcp_err(tcp_pcb* pcb, tcp_err_fn err);
void tcp_poll(tcp_pcb* pcb, tcp_poll_fn poll, uint8_t interval);

// Data path.
void tcp_recved(tcp_pcb* pcb, uint32_t len);
err_t tcp_write(tcp_pcb* pcb, const void* data, uint16_t len);
err_t tcp_output(tcp_pcb* pcb);
inline uint32_t tcp_sndbuf(const tcp_pcb* pcb) {
    return pcb->snd_buf;
}
inline uint16_t tcp_sndqueuelen(const tcp_pcb* pcb) {
    return pcb->snd_queuelen;
}

// Ending a connection.
err_t tcp_close(tcp_pcb_common* pcb);
void tcp_abort(tcp_pcb* pcb);
void tcp_abandon(tcp_pcb* pcb, int reset);

// Timers, driven every 250 ms (fast) and every 500 ms (slow).
void tcp_fasttmr();
void tcp_slowtmr();
// Retransmission timeouts and tail-loss probes, due by tcp_now(); the fast
// timer runs it too. Whether some connection still has its timer running
// (the caller keeps calling it every TCP_REXMIT_INTERVAL ms while it has).
bool tcp_rexmit_tmr();

// The stack's clock in ms (monotonic). Tests may put their own in its place
// (nullptr restores the real one).
uint32_t tcp_now();
void tcp_set_clock(uint32_t (*now_ms)());
// The engine's 250 ms tick: the fast timer every time, the slow one every second time.
void tcp_tmr();

// Lists: listening, bound, active (SYN_SENT to LAST_ACK) and TIME_WAIT.
extern tcp_pcb_listen* tcp_listen_pcbs;
extern tcp_pcb* tcp_bound_pcbs;
extern tcp_pcb* tcp_active_pcbs;
extern tcp_pcb* tcp_tw_pcbs;
extern uint32_t tcp_ticks;

// Stack start and teardown: releases every control block left from an earlier run.
void tcp_init();
void tcp_deinit();
