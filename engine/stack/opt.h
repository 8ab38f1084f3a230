#pragma once
// The stack's tunable parameters in one place: window and buffer sizes,
// retransmission and timeout limits, and the sizes of the reassembly and
// neighbour-discovery tables. Everything else follows from these.

// ---- TCP -----------------------------------------------------------------------

#define TCP_MSS 1460         // the largest segment we send, and the one we announce
#define TCP_DEFAULT_MSS 536  // until the peer's SYN announces its own
// A connection's rate is window / round trip. Without window scaling the
// window and the send buffer are the largest a 16-bit window field carries;
// a peer that scales (every kernel does) gets four times as much, which
// keeps a stream going at the rates the engine reaches while bounding what
// a connection can hold: memory is taken only for data actually held.
#define TCP_WND 65528                           // receive window without scaling
#define TCP_WND_SCALED (256U * 1024U)           // receive window with scaling
#define TCP_RCV_SCALE 3                         // the shift we offer: TCP_WND_SCALED >> 3 fits 16 bits
#define TCP_WND_UPDATE_THRESHOLD (TCP_WND / 4)  // window growth that is worth a window update of its own
#define TCP_SND_BUF 65528                       // bytes a connection may hold for sending
#define TCP_SND_BUF_SCALED (256U * 1024U)       // the same towards a peer that scales
#define TCP_SND_QUEUELEN (4 * TCP_SND_BUF_SCALED / TCP_MSS)  // buffers a connection may hold for sending
#define TCP_TTL 255
#define TCP_PRIO_NORMAL 64
#define TCP_MAXRTX 12      // retransmissions of data before the connection is given up
#define TCP_SYNMAXRTX 6    // retransmissions of a SYN
#define TCP_MSL_TICKS 120  // 60 s in 500 ms ticks
#define TCP_FIN_WAIT_TIMEOUT_TICKS 40
#define TCP_SYN_RCVD_TIMEOUT_TICKS 40
// Retransmission timeout: from the measured round trip in ms, never below
// the floor (as Linux) nor above the ceiling; the initial one holds until a
// round trip has been measured.
#define TCP_INITIAL_RTO_MS 3000
#define TCP_RTO_MIN_MS 200
#define TCP_RTO_MAX_MS 60000
// A tail-loss probe resends the last segment of a flight that has gone this
// long (at least) without an acknowledgement, so that a lost final
// acknowledgement costs milliseconds instead of a timeout.
#define TCP_TLP_MIN_MS 10
// Keepalive for a peer on the same machine: its kernel answers a probe at
// once (an ACK, or a reset once the socket is gone), so a few probes close
// to each other tell a dead connection from an idle one.
#define TCP_KEEPIDLE_DEFAULT 120000U
#define TCP_KEEPINTVL_DEFAULT 10000U
#define TCP_KEEPCNT_DEFAULT 3U
// The longest pause between two zero-window probes, in slow ticks (60 s).
#define TCP_PERSIST_MAX_TICKS 120U
// The TCP timers, in ms; the engine drives them. The retransmission timer
// runs only while some connection has data in flight.
#define TCP_SLOW_INTERVAL 500
#define TCP_FAST_INTERVAL 250
#define TCP_REXMIT_INTERVAL 5

// ---- IPv4 and IPv6 reassembly --------------------------------------------------

#define IP_REASS_MAX_PBUFS 10  // fragments held at once, over all datagrams
#define IP6_REASS_MAX_PBUFS 10
// The age a datagram in reassembly starts with. No reassembly timer runs in
// the engine: the limit on held fragments is what bounds them.
#define IP_REASS_MAXAGE 3

// ---- IPv6 neighbour discovery ----------------------------------------------------

#define LWIP_ND6_NUM_NEIGHBORS 10
#define LWIP_ND6_NUM_DESTINATIONS 10
#define LWIP_ND6_NUM_ROUTERS 3
#define LWIP_ND6_NUM_PREFIXES 5
#define LWIP_ND6_MAX_MULTICAST_SOLICIT 3
#define LWIP_ND6_MAX_UNICAST_SOLICIT 3
#define LWIP_ND6_REACHABLE_TIME 30000
#define LWIP_ND6_RETRANS_TIMER 1000
#define LWIP_ND6_DELAY_FIRST_PROBE_TIME 5000
#define ND6_TMR_INTERVAL 1000
