#pragma once
// The TCP relay: every connection the stack accepts gets a client record and
// its own SOCKS 5 connection to the destination the application asked for.
// Bytes go both ways under flow control between the stack's windows and the
// SOCKS connection, and each side is closed only once what it accepted has
// reached the other side. Engine thread only.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/base/baddr.h"
#include "engine/base/linked_list.h"
#include "engine/socksclient/bsocksclient.h"
#include "engine/stack/netif.h"
#include "engine/stack/tcp.h"
#include "engine/system/breactor.h"

#define CLIENT_SOCKS_RECV_BUF_SIZE 65536
// How long a SOCKS server may take to connect and answer the CONNECT.
#define CLIENT_SOCKS_DEADLINE_MS 30000
// How often memory no longer in use goes back to the system.
#define ENGINE_MEMORY_RELEASE_MS 10000

// The relay's context: where each connection's SOCKS client goes, the
// listeners that accept connections, and the clients relaying.
struct TcpRelay {
    BReactor* reactor = nullptr;  // null while the relay is not built
    BAddr socks_server_addr;
    const BSocksClient_auth_info* socks_auth_info;
    size_t socks_num_auth_info;
    tcp_pcb_listen* listener;
    tcp_pcb_listen* listener_ip6;
    LinkedList clients;
    std::atomic<int> num_clients{0};  // readable from any thread
    btime_t socks_deadline_ms = CLIENT_SOCKS_DEADLINE_MS;
    btime_t memory_release_ms = ENGINE_MEMORY_RELEASE_MS;
};

// A relay with no listener and no client yet; the authentication list must
// outlive it. The environment variable CENDROW_ENGINE_TIMERS may shorten the
// relay's and the stack's time-outs (for tests): comma-separated
// keepidle=MS, keepintvl=MS, keepcnt=N, persistmax=MS, socks=MS, release=MS.
void TcpRelay_Init(TcpRelay* relay, BReactor* reactor, BAddr socks_server_addr,
                   const BSocksClient_auth_info* auth_info, size_t num_auth_info);
// Ends every client at once (both sides) and closes the listeners, the IPv6
// one first. Does nothing for a relay that was not built.
void TcpRelay_Free(TcpRelay* relay);
// Listens on the stack's interface: for IPv4, and with `ipv6` for IPv6 too.
// 0 with `*failure` set to the message of the call that failed.
int TcpRelay_Listen(TcpRelay* relay, netif* n, int ipv6, const char** failure);
// Frees the upload buffers that hold nothing (they grow again with data).
void TcpRelay_ReleaseIdleBuffers(TcpRelay* relay);

// Tells code that runs jobs from inside a stack callback whether the stack
// side went away meanwhile; markers nest, and the outer ones are told too.
struct ClientStackMarker {
    int closed;
    ClientStackMarker* outer;
};

struct tcp_client {
    TcpRelay* relay;
    ClientStackMarker* marker;
    LinkedListNode list_node;
    BAddr local_addr;   // the destination the application asked for
    BAddr remote_addr;  // the application's end
    tcp_pcb* pcb;
    int client_closed;       // the stack side is gone
    int client_send_closed;  // the application ended its sending side (its FIN arrived)
    // Upload data not yet taken by SOCKS: grown as data arrives (up to the
    // receive window), so a connection holds memory only for what it holds.
    uint8_t* buf;
    int buf_cap;
    int buf_start;  // where the data begins in it
    int buf_used;
    uint8_t* buf_sending;       // the buffer a send in progress reads from
    uint8_t* buf_retired;       // a buffer replaced while a send read from it
    BReactorTimer push_timer;   // hands the upload buffer to SOCKS once the device has no more for now
    BReactorTimer socks_timer;  // the SOCKS connection's deadline to come up
    char* socks_username;
    BSocksClient socks_client;
    int socks_up;
    int socks_closed;
    StreamSink* socks_send_if;
    StreamSource* socks_recv_if;
    uint8_t socks_recv_buf[CLIENT_SOCKS_RECV_BUF_SIZE];
    int socks_recv_buf_used;  // -1: no chunk in progress
    int socks_recv_buf_sent;
    int socks_recv_waiting;
    int socks_recv_tcp_pending;  // handed to the stack, not yet acknowledged
};

// The listeners' accept callback; its argument is the relay.
err_t listener_accept_func(void* arg, tcp_pcb* newpcb, err_t err);
