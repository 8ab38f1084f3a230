#include "engine/tun2socks/tcp_client.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/base/blog.h"
#include "engine/tun2socks/stack_netif.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_tun2socks

namespace {

void client_log_prefix(void* user) {
    auto* client = static_cast<tcp_client*>(user);
    char local[BADDR_MAX_PRINT_LEN] = "";
    char remote[BADDR_MAX_PRINT_LEN] = "";
    BAddr_ToText(&client->local_addr, local);
    BAddr_ToText(&client->remote_addr, remote);
    BLog_AppendText("Total Clients: %05d Local addr: %s, Remote addr: %s: ",
                    client->relay->num_clients.load(std::memory_order_relaxed), local, remote);
}

__attribute__((format(printf, 3, 4))) void client_log(tcp_client* client, int level, const char* fmt, ...) {
    if (!BLog_WouldLog(BLOG_CHANNEL_tun2socks, level)) return;
    va_list ap;
    va_start(ap, fmt);
    BLog_WriteClient(client_log_prefix, client, level, fmt, ap);
    va_end(ap);
}

#define ClientLog(client, level, fmt, ...) \
    client_log((client), (level), "[%s] " fmt, __func__ __VA_OPT__(, ) __VA_ARGS__)

// ---- stack-side watch ---------------------------------------------------------

// Notices, inside a stack callback, that the stack side was closed meanwhile.
struct StackWatch {
    ClientStackMarker marker;
    tcp_client* client;
    explicit StackWatch(tcp_client* c) : marker{0, c->marker}, client(c) { c->marker = &marker; }
    StackWatch(const StackWatch&) = delete;
    StackWatch& operator=(const StackWatch&) = delete;
    // True when the stack side was closed; the record may then be gone.
    // Otherwise the watch ends here.
    bool Closed() {
        if (marker.closed) return true;
        client->marker = marker.outer;
        return false;
    }
};

void signal_marker(tcp_client* client) {
    for (ClientStackMarker* m = client->marker; m != nullptr; m = m->outer) m->closed = 1;
    client->marker = nullptr;
}

void client_handle_freed_client(tcp_client* client);
void client_free_socks(tcp_client* client);
err_t client_recv_func(void* arg, tcp_pcb* pcb, pbuf* p, err_t err);
err_t client_sent_func(void* arg, tcp_pcb* pcb, uint32_t len);
void client_err_func(void* arg, err_t err);
void client_reset_socks(tcp_client* client);
void client_push_timer_handler(void* user);

void client_release(tcp_client* client) {
    BReactor_StopTimer(client->relay->reactor, &client->push_timer);
    BReactor_StopTimer(client->relay->reactor, &client->socks_timer);
    LinkedList_Remove(&client->relay->clients, &client->list_node);
    client->relay->num_clients.fetch_sub(1, std::memory_order_relaxed);
    std::free(client->socks_username);
    std::free(client->buf);
    std::free(client->buf_retired);
    std::free(client);
}

void client_remove_callbacks(tcp_client* client) {
    tcp_err(client->pcb, nullptr);
    tcp_recv(client->pcb, nullptr);
    tcp_sent(client->pcb, nullptr);
}

// Closes the stack side with FIN (a reset when the stack cannot close).
// 0 when the block had to be aborted and is gone.
int client_free_client(tcp_client* client) {
    client_remove_callbacks(client);
    err_t err = tcp_close(client->pcb);
    int closed = 1;
    if (err != ERR_OK) {
        ClientLog(client, BLOG_ERROR, "tcp_close failed (%d)", err);
        tcp_abandon(client->pcb, 1);
        closed = 0;
    }
    client_handle_freed_client(client);
    return closed;
}

void client_abort_stack_side(tcp_client* client) {
    client_remove_callbacks(client);
    tcp_abandon(client->pcb, 1);
    client_handle_freed_client(client);
}

void client_handle_freed_client(tcp_client* client) {
    signal_marker(client);
    client->client_closed = 1;
    if (client->socks_closed) {
        client_release(client);
    } else if (client->buf_used > 0) {
        ClientLog(client, BLOG_INFO, "waiting untill buffered data is sent to SOCKS");
    } else {
        client_free_socks(client);
    }
}

// ---- upload: stack -> SOCKS ---------------------------------------------------

void client_push_to_socks(tcp_client* client) {
    client->buf_sending = client->buf;
    StreamSink_Sender_Send(client->socks_send_if, client->buf + client->buf_start, client->buf_used);
}

// Room for `len` more bytes after the data; false when there is none and
// no memory for it.
bool client_buf_reserve(tcp_client* client, int len) {
    int need = client->buf_used + len;
    if (client->buf_start + need <= client->buf_cap) return true;
    // A send in progress reads from the buffer: its bytes stay where they are.
    bool in_flight = client->buf_sending != nullptr && client->buf_sending == client->buf;
    if (need <= client->buf_cap && !in_flight) {
        std::memmove(client->buf, client->buf + client->buf_start, static_cast<size_t>(client->buf_used));
        client->buf_start = 0;
        return true;
    }
    int cap = client->buf_cap < 16384 ? 16384 : client->buf_cap;
    while (cap < need) cap *= 2;
    auto* grown = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(cap)));
    if (grown == nullptr) return false;
    if (client->buf_used > 0)
        std::memcpy(grown, client->buf + client->buf_start, static_cast<size_t>(client->buf_used));
    if (in_flight) {
        client->buf_retired = client->buf;  // released once the send is done
    } else {
        std::free(client->buf);
    }
    client->buf = grown;
    client->buf_cap = cap;
    client->buf_start = 0;
    return true;
}

// Passes the application's end of sending on to the server; what the server
// still sends keeps coming down until it ends its side. 0 when that failed
// and the SOCKS side was closed (the record may be gone).
int client_shutdown_socks_send(tcp_client* client) {
    if (BSocksClient_ShutdownSend(&client->socks_client)) return 1;
    ClientLog(client, BLOG_INFO, "SOCKS shutdown failed");
    client_free_socks(client);
    return 0;
}

void client_socks_send_handler_done(void* user, int len) {
    auto* client = static_cast<tcp_client*>(user);
    client->buf_sending = nullptr;
    std::free(client->buf_retired);
    client->buf_retired = nullptr;
    client->buf_start += len;
    client->buf_used -= len;
    if (client->buf_used == 0) client->buf_start = 0;
    if (!client->client_closed) tcp_recved(client->pcb, static_cast<uint32_t>(len));
    if (client->buf_used > 0) {
        client_push_to_socks(client);
    } else if (client->client_closed) {
        ClientLog(client, BLOG_INFO, "removing after client went down");
        client_free_socks(client);
    } else if (client->client_send_closed) {
        client_shutdown_socks_send(client);
    }
}

// The application sent FIN. Its connection stays open for the server's
// answer: the upload buffer is drained first, then the SOCKS connection's
// sending side is shut down.
err_t client_app_finished(tcp_client* client) {
    client->client_send_closed = 1;
    if (!client->socks_up || client->socks_closed || client->buf_used > 0) return ERR_OK;
    StackWatch watch(client);
    client_shutdown_socks_send(client);
    return watch.Closed() ? ERR_ABRT : ERR_OK;
}

err_t client_recv_func(void* arg, tcp_pcb*, pbuf* p, err_t) {
    auto* client = static_cast<tcp_client*>(arg);
    if (p == nullptr) {
        ClientLog(client, BLOG_INFO, "client closed");
        return client_app_finished(client);
    }
    if (client->buf_used + p->tot_len > static_cast<int>(TCP_WND_SCALED) + 65536 ||
        !client_buf_reserve(client, p->tot_len)) {
        ClientLog(client, BLOG_ERROR, "no buffer for data !?!");
        return ERR_MEM;  // the stack keeps the data
    }
    pbuf_copy_partial(p, client->buf + client->buf_start + client->buf_used, p->tot_len, 0);
    bool was_empty = client->buf_used == 0;
    client->buf_used += p->tot_len;
    // Taken: the stack does not free what it handed over, on any path.
    pbuf_free(p);
    if (was_empty && client->socks_up && !client->socks_closed) {
        // Timers come due only once no job and no I/O result is waiting: by
        // then every segment the device already holds is in the buffer, and
        // one send carries them all.
        BReactor_StartTimer(client->relay->reactor, &client->push_timer, 0);
    }
    return ERR_OK;
}

void client_push_timer_handler(void* user) {
    auto* client = static_cast<tcp_client*>(user);
    if (client->socks_up && !client->socks_closed && client->buf_used > 0) client_push_to_socks(client);
}

// ---- download: SOCKS -> stack -------------------------------------------------

void client_socks_recv_start(tcp_client* client) {
    StreamSource_Receiver_Recv(client->socks_recv_if, client->socks_recv_buf, CLIENT_SOCKS_RECV_BUF_SIZE);
}

// Hands as much of the chunk to the stack as its send buffer takes; -1 when
// the stack side had to be aborted.
int client_socks_recv_send_out(tcp_client* client) {
    while (client->socks_recv_buf_sent < client->socks_recv_buf_used) {
        int to_write = client->socks_recv_buf_used - client->socks_recv_buf_sent;
        uint32_t room = tcp_sndbuf(client->pcb);
        if (room > 0xffff) room = 0xffff;  // one write takes at most this much
        if (static_cast<int>(room) < to_write) to_write = static_cast<int>(room);
        if (to_write == 0) break;
        err_t err = tcp_write(client->pcb, client->socks_recv_buf + client->socks_recv_buf_sent,
                              static_cast<uint16_t>(to_write));
        if (err == ERR_MEM) break;
        if (err != ERR_OK) {
            ClientLog(client, BLOG_INFO, "tcp_write failed (%d)", err);
            client_abort_stack_side(client);
            return -1;
        }
        client->socks_recv_buf_sent += to_write;
        client->socks_recv_tcp_pending += to_write;
    }
    err_t err = tcp_output(client->pcb);
    if (err != ERR_OK) {
        ClientLog(client, BLOG_INFO, "tcp_output failed (%d)", err);
        client_abort_stack_side(client);
        return -1;
    }
    if (client->socks_recv_buf_sent == client->socks_recv_buf_used) {
        client->socks_recv_buf_used = -1;
        return 0;
    }
    if (client->socks_recv_tcp_pending > 0) {
        client->socks_recv_waiting = 1;  // the sent callback goes on
        return 0;
    }
    ClientLog(client, BLOG_ERROR, "can't queue data, but all data was confirmed !?!");
    client_abort_stack_side(client);
    return -1;
}

void client_socks_recv_done(void* user, int len) {
    auto* client = static_cast<tcp_client*>(user);
    if (client->client_closed) return;  // nobody to deliver to
    client->socks_recv_buf_used = len;
    client->socks_recv_buf_sent = 0;
    client->socks_recv_waiting = 0;
    if (client_socks_recv_send_out(client) < 0) return;
    if (client->socks_recv_buf_used == -1) client_socks_recv_start(client);
}

err_t client_sent_func(void* arg, tcp_pcb*, uint32_t len) {
    auto* client = static_cast<tcp_client*>(arg);
    client->socks_recv_tcp_pending -= static_cast<int>(len);
    if (client->socks_recv_buf_used > 0) {
        client->socks_recv_waiting = 0;
        if (client_socks_recv_send_out(client) < 0) return ERR_ABRT;
        if (client->socks_recv_buf_used == -1 && !client->socks_closed) {
            BReactorSyncPoint sync(client->relay->reactor);
            StackWatch watch(client);
            client_socks_recv_start(client);
            sync.Run();
            if (watch.Closed()) return ERR_ABRT;
        }
        return ERR_OK;
    }
    if (client->socks_closed && client->socks_recv_tcp_pending == 0) {
        ClientLog(client, BLOG_INFO, "removing after SOCKS went down");
        // The stack sends nothing while it hands a segment to this callback;
        // it sends the queued FIN on its way out, which it would skip after
        // being told the block is gone.
        return client_free_client(client) ? ERR_OK : ERR_ABRT;
    }
    return ERR_OK;
}

void client_err_func(void* arg, err_t err) {
    auto* client = static_cast<tcp_client*>(arg);
    ClientLog(client, BLOG_INFO, "client error (%d)", err);
    if (err == ERR_RST || err == ERR_ABRT) {
        // The application's connection was reset or given up: the server
        // must not take what it got so far for the whole stream.
        signal_marker(client);
        client->client_closed = 1;
        client_reset_socks(client);
        return;
    }
    client_handle_freed_client(client);  // the stack already freed the block
}

// ---- the SOCKS side -------------------------------------------------------------

void client_free_socks(tcp_client* client) {
    bool stack_open = !client->client_closed;
    if (client->socks_up && stack_open) {
        // No more upload: the stack acknowledges and drops what still comes.
        tcp_recv(client->pcb, nullptr);
    }
    BSocksClient_Free(&client->socks_client);
    client->socks_closed = 1;
    BReactor_StopTimer(client->relay->reactor, &client->push_timer);
    BReactor_StopTimer(client->relay->reactor, &client->socks_timer);
    if (client->socks_up && stack_open &&
        (client->socks_recv_buf_used > 0 || client->socks_recv_tcp_pending > 0)) {
        ClientLog(client, BLOG_INFO, "waiting until buffered data is sent to client");
        return;
    }
    if (!stack_open) {
        client_release(client);
    } else if (client->socks_up) {
        client_free_client(client);
    } else {
        // The destination was never reached: a reset tells the application
        // so, where a FIN would pass for an empty answer.
        client_abort_stack_side(client);
    }
}

// The stream was cut on one side: both sides end at once with a reset and
// whatever is still buffered either way is dropped, so that neither end
// takes a truncated stream for a complete one.
void client_reset_socks(tcp_client* client) {
    if (!client->socks_closed) {
        BSocksClient_Abort(&client->socks_client);
        client->socks_closed = 1;
    }
    BReactor_StopTimer(client->relay->reactor, &client->push_timer);
    BReactor_StopTimer(client->relay->reactor, &client->socks_timer);
    if (client->client_closed) {
        client_release(client);
    } else {
        client_abort_stack_side(client);
    }
}

void client_socks_handler(void* user, int event) {
    auto* client = static_cast<tcp_client*>(user);
    switch (event) {
        case BSOCKSCLIENT_EVENT_ERROR:
            ClientLog(client, BLOG_INFO, "SOCKS error");
            if (client->socks_up) {
                client_reset_socks(client);
            } else {
                client_free_socks(client);
            }
            return;
        case BSOCKSCLIENT_EVENT_ERROR_CLOSED:
            ClientLog(client, BLOG_INFO, "SOCKS closed");
            client_free_socks(client);
            return;
        case BSOCKSCLIENT_EVENT_UP:
            break;
        default:
            return;
    }
    ClientLog(client, BLOG_INFO, "SOCKS up");
    BReactor_StopTimer(client->relay->reactor, &client->socks_timer);
    client->socks_send_if = BSocksClient_GetSendInterface(&client->socks_client);
    client->socks_recv_if = BSocksClient_GetRecvInterface(&client->socks_client);
    StreamSink_Sender_Init(client->socks_send_if, client_socks_send_handler_done, client);
    StreamSource_Receiver_Init(client->socks_recv_if, client_socks_recv_done, client);
    client->socks_recv_buf_used = -1;
    client->socks_recv_tcp_pending = 0;
    if (!client->client_closed) tcp_sent(client->pcb, client_sent_func);
    client->socks_up = 1;
    if (client->buf_used > 0) {
        client_push_to_socks(client);
    } else if (client->client_send_closed && !client_shutdown_socks_send(client)) {
        return;
    }
    if (!client->client_closed) client_socks_recv_start(client);
}

// A server that accepted and never answered, or a connect that hangs: the
// application learns by a reset, and whatever it sent is dropped.
void client_socks_timer_handler(void* user) {
    auto* client = static_cast<tcp_client*>(user);
    ClientLog(client, BLOG_INFO, "SOCKS did not come up in time");
    client_free_socks(client);
}

void set_addr(BAddr* out, const tcp_pcb* pcb, const ipX_addr_t* ip, uint16_t port) {
    if (pcb->isipv6) {
        BAddr_InitIPv6(out, reinterpret_cast<const uint8_t*>(ip->ip6.addr), htons(port));
    } else {
        BAddr_InitIPv4(out, ip->ip4.addr, htons(port));
    }
}

// Engine teardown: ends both sides of a client at once and releases it.
void client_kill(tcp_client* client) {
    if (!client->client_closed) {
        client_remove_callbacks(client);
        tcp_abandon(client->pcb, 1);
        signal_marker(client);
        client->client_closed = 1;
    }
    if (!client->socks_closed) {
        BSocksClient_Free(&client->socks_client);
        client->socks_closed = 1;
    }
    client_release(client);
}

}  // namespace

err_t listener_accept_func(void* arg, tcp_pcb* newpcb, err_t) {
    auto* relay = static_cast<TcpRelay*>(arg);
    LWIP_ASSERT("listener accepting while not listening",
                relay->listener != nullptr && relay->listener->state == LISTEN);
    auto* client = static_cast<tcp_client*>(std::malloc(sizeof(tcp_client)));
    if (client == nullptr) {
        BLog(BLOG_ERROR, "listener accept: malloc failed");
        return ERR_MEM;
    }
    client->relay = relay;
    client->marker = nullptr;
    client->socks_username = nullptr;
    set_addr(&client->local_addr, newpcb, &newpcb->local_ip, newpcb->local_port);
    set_addr(&client->remote_addr, newpcb, &newpcb->remote_ip, newpcb->remote_port);

    BReactorSyncPoint sync(relay->reactor);
    if (!BSocksClient_Init(&client->socks_client, relay->socks_server_addr, relay->socks_auth_info,
                           relay->socks_num_auth_info, client->local_addr, client_socks_handler, client,
                           relay->reactor)) {
        BLog(BLOG_ERROR, "listener accept: BSocksClient_Init failed");
        std::free(client);
        return ERR_MEM;
    }

    LinkedList_Append(&relay->clients, &client->list_node);
    client->pcb = newpcb;
    client->client_closed = 0;
    client->client_send_closed = 0;
    relay->num_clients.fetch_add(1, std::memory_order_relaxed);
    tcp_arg(newpcb, client);
    tcp_err(newpcb, client_err_func);
    tcp_recv(newpcb, client_recv_func);
    client->buf = nullptr;
    client->buf_sending = nullptr;
    client->buf_retired = nullptr;
    client->buf_cap = 0;
    client->buf_start = 0;
    client->buf_used = 0;
    BReactorTimer_Init(&client->push_timer, 0, client_push_timer_handler, client);
    BReactorTimer_Init(&client->socks_timer, relay->socks_deadline_ms, client_socks_timer_handler, client);
    BReactor_RestartTimer(relay->reactor, &client->socks_timer);
    // Every connection the engine holds ends even when the application's
    // FIN or reset never arrives: keepalive finds it gone.
    newpcb->so_options |= SOF_KEEPALIVE;
    client->socks_up = 0;
    client->socks_closed = 0;
    client->socks_send_if = nullptr;
    client->socks_recv_if = nullptr;
    client->socks_recv_buf_used = -1;
    client->socks_recv_buf_sent = 0;
    client->socks_recv_waiting = 0;
    client->socks_recv_tcp_pending = 0;
    ClientLog(client, BLOG_INFO, "accepted");

    StackWatch watch(client);
    sync.Run();
    return watch.Closed() ? ERR_ABRT : ERR_OK;
}

namespace {

// Reads the time-outs the environment shortens; the rest keep their defaults.
void load_timers(TcpRelay* relay) {
    tcp_tuning = tcp_timer_tuning{};
    relay->socks_deadline_ms = CLIENT_SOCKS_DEADLINE_MS;
    relay->memory_release_ms = ENGINE_MEMORY_RELEASE_MS;
    const char* env = std::getenv("CENDROW_ENGINE_TIMERS");
    if (env == nullptr) return;
    std::string text(env);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(',', at);
        if (end == std::string::npos) end = text.size();
        std::string item = text.substr(at, end - at);
        at = end + 1;
        size_t eq = item.find('=');
        if (eq == std::string::npos) continue;
        std::string key = item.substr(0, eq);
        char* rest = nullptr;
        unsigned long value = std::strtoul(item.c_str() + eq + 1, &rest, 10);
        if (rest == item.c_str() + eq + 1 || *rest != '\0' || value == 0 || value > 86400000UL) continue;
        if (key == "keepidle") {
            tcp_tuning.keep_idle_ms = static_cast<uint32_t>(value);
        } else if (key == "keepintvl") {
            tcp_tuning.keep_intvl_ms = static_cast<uint32_t>(value);
        } else if (key == "keepcnt" && value <= 255) {
            tcp_tuning.keep_cnt = static_cast<uint8_t>(value);
        } else if (key == "persistmax") {
            unsigned long ticks = (value + TCP_SLOW_INTERVAL - 1) / TCP_SLOW_INTERVAL;
            tcp_tuning.persist_max_ticks =
                static_cast<uint8_t>(ticks < TCP_PERSIST_MAX_TICKS ? ticks : TCP_PERSIST_MAX_TICKS);
        } else if (key == "socks") {
            relay->socks_deadline_ms = static_cast<btime_t>(value);
        } else if (key == "release") {
            relay->memory_release_ms = static_cast<btime_t>(value);
        }
    }
}

}  // namespace

void TcpRelay_Init(TcpRelay* relay, BReactor* reactor, BAddr socks_server_addr,
                   const BSocksClient_auth_info* auth_info, size_t num_auth_info) {
    load_timers(relay);
    relay->reactor = reactor;
    relay->socks_server_addr = socks_server_addr;
    relay->socks_auth_info = auth_info;
    relay->socks_num_auth_info = num_auth_info;
    relay->listener = nullptr;
    relay->listener_ip6 = nullptr;
    LinkedList_Init(&relay->clients);
    relay->num_clients.store(0, std::memory_order_relaxed);
}

void TcpRelay_Free(TcpRelay* relay) {
    if (relay->reactor == nullptr) return;
    while (!LinkedList_IsEmpty(&relay->clients)) {
        client_kill(LINKED_LIST_ENTRY(relay->clients.first, tcp_client, list_node));
    }
    if (relay->listener_ip6 != nullptr) {
        tcp_close(relay->listener_ip6);
        relay->listener_ip6 = nullptr;
    }
    if (relay->listener != nullptr) {
        tcp_close(relay->listener);
        relay->listener = nullptr;
    }
    relay->reactor = nullptr;
}

int TcpRelay_Listen(TcpRelay* relay, netif* n, int ipv6, const char** failure) {
    relay->listener = StackNetif_Listen(n, 0, listener_accept_func, relay, failure);
    if (relay->listener == nullptr) return 0;
    if (!ipv6) return 1;
    relay->listener_ip6 = StackNetif_Listen(n, 1, listener_accept_func, relay, failure);
    return relay->listener_ip6 != nullptr;
}

void TcpRelay_ReleaseIdleBuffers(TcpRelay* relay) {
    if (relay->reactor == nullptr) return;
    for (LinkedListNode* n = relay->clients.first; n != nullptr; n = n->next) {
        tcp_client* client = LINKED_LIST_ENTRY(n, tcp_client, list_node);
        if (client->buf == nullptr || client->buf_used > 0 || client->buf_sending != nullptr) continue;
        std::free(client->buf);
        client->buf = nullptr;
        client->buf_cap = 0;
        client->buf_start = 0;
    }
}
