#include "engine/tun2socks/tun2socks.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include "engine/base/btime.h"
#include "engine/stack/tcp.h"
#include "engine/system/bnetwork.h"
#include "engine/tun2socks/tun2socks_state.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_tun2socks

#define PROGRAM_NAME "ostrel engine"
#define PROGRAM_VERSION "1.999.130"

Tun2SocksEngine g_engine;

namespace {

constexpr int kStartWaitMs = 1000;

// The engine thread's handle until it is joined: by the stop that waited for
// it, by the start that saw it end within its first second, or by the next
// start after an engine that ended by itself.
pthread_t g_thread;
bool g_have_thread = false;

void JoinEngineThread() {
    if (!g_have_thread) return;
    pthread_join(g_thread, nullptr);
    g_have_thread = false;
}

void print_version() {
    BLog(BLOG_INFO, "%s %s", PROGRAM_NAME, PROGRAM_VERSION);
}

void set_log_levels() {
    for (int i = 0; i < BLOG_NUM_CHANNELS; ++i) {
        int level = g_engine.options.loglevels[i];
        BLog_SetChannelLevel(i, level >= 0 ? level : g_engine.options.loglevel);
    }
}

// ---- the engine's own init and free pairs ------------------------------------
// The other parts' pairs live with their owners (core.h, udp_relay.h,
// tcp_client.h). Every free does nothing for what its init did not build.

int init_reactor() {
    if (!BReactor_Init(&g_engine.reactor)) return 0;
    g_engine.have_reactor = 1;
    g_engine.quitting = 0;
    return 1;
}

void free_reactor() {
    if (!g_engine.have_reactor) return;
    BReactor_Free(&g_engine.reactor);
    g_engine.have_reactor = 0;
}

int init_signal() {
    if (!BSignal_Init(&g_engine.signal, &g_engine.reactor, signal_handler, nullptr)) return 0;
    g_engine.have_signal = 1;
    return 1;
}

void free_signal() {
    if (!g_engine.have_signal) return;
    BSignal_Free(&g_engine.signal);
    g_engine.have_signal = 0;
}

void init_tcp_relay() {
    TcpRelay_Init(&g_engine.tcp, &g_engine.reactor, g_engine.args.socks_server_addr,
                  g_engine.args.socks_auth_info, g_engine.args.socks_num_auth_info);
}

// Builds the engine in its fixed order on the caller's thread. Null when
// everything was built, else the message of the step that failed (what was
// built stays for release_engine).
const char* build_engine() {
    if (!process_arguments()) return "Failed to process arguments";
    if (!BNetwork_GlobalInit()) return "BNetwork_GlobalInit failed";
    tcp_init();  // the stack's control-block lists start empty
    BTime_Start();
    if (!init_reactor()) return "BReactor_Init failed";
    if (!init_signal()) return "BSignal_Init failed";
    if (!core_init_device()) return "BTap_Init failed";
    if (!core_init_device_reader()) return "SinglePacketBuffer_Init failed";
    if (udpgw_relayed()) {
        if (!udp_relay_set_mtu(core_device_mtu())) return "device MTU is too large for UDP";
        if (!udp_relay_init()) return "SocksUdpGwClient_Init failed";
    }
    core_init_stack();
    if (!core_init_writer()) return "BAlloc failed";
    core_init_tcp_timer();
    init_tcp_relay();
    return nullptr;
}

// Undoes a whole or partial start in reverse order: the clients and
// listeners, the TCP timer, the write path, the stack, the UDP relay, the
// device, the console-event hook, the reactor.
void release_engine() {
    TcpRelay_Free(&g_engine.tcp);
    core_free_tcp_timer();
    core_free_writer();
    core_free_stack();
    udp_relay_free();
    core_free_device_reader();
    core_free_device();
    free_signal();
    free_reactor();
}

void* engine_thread(void*) {
    g_engine.started.store(1, std::memory_order_release);
    BReactor_Run(&g_engine.reactor);
    release_engine();
    BLog(BLOG_NOTICE, "exiting");
    BLog_Free();
    FreeEngineOptions();
    g_engine.running.store(0, std::memory_order_release);
    return nullptr;
}

int start_engine_thread() {
    BLog(BLOG_NOTICE, "entering event loop");
    g_engine.started.store(0, std::memory_order_relaxed);
    g_engine.running.store(1, std::memory_order_release);
    if (pthread_create(&g_thread, nullptr, engine_thread, nullptr) != 0) {
        g_engine.running.store(0, std::memory_order_release);
        return 0;
    }
    g_have_thread = true;
    return 1;
}

// Waits until the engine thread runs, then up to a second more: an engine
// that fails early has ended by then.
void wait_for_engine_thread() {
    while (!g_engine.started.load(std::memory_order_acquire)) usleep(1000);
    timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += kStartWaitMs / 1000;
    if (pthread_timedjoin_np(g_thread, nullptr, &until) == 0) g_have_thread = false;
}

}  // namespace

void terminate(void) {
    BLog(BLOG_NOTICE, "tearing down");
    g_engine.quitting = 1;
    BReactor_RequestExit(&g_engine.reactor, 1);
}

int tun2socks_start(const char* device, const char* netif_ipaddr, const char* netif_netmask,
                    const char* socks_server, const char* username, const char* password,
                    const char* udpgw_server, int transparent_dns) {
    if (g_engine.running.load(std::memory_order_acquire)) return 1;
    JoinEngineThread();  // one that ended by itself

    BLog_Init(g_engine.log_sink, nullptr);
    if (!InitEngineOptions(device, netif_ipaddr, netif_netmask, socks_server, username, password,
                           udpgw_server, transparent_dns)) {
        BLog(BLOG_INFO, "Failed to parse arguments");
        FreeEngineOptions();
        BLog_Free();
        return 0;
    }
    print_version();
    set_log_levels();
    BLog(BLOG_NOTICE, "initializing %s %s %s", "TAP", PROGRAM_NAME, PROGRAM_VERSION);

    const char* failure = build_engine();
    if (failure != nullptr) BLog(BLOG_ERROR, "%s", failure);
    if (failure != nullptr || !start_engine_thread()) {
        release_engine();
        BLog(BLOG_NOTICE, "exiting");
        BLog_Free();
        FreeEngineOptions();
        return 0;
    }
    wait_for_engine_thread();
    BLog(BLOG_NOTICE, "module started %s", g_engine.running.load(std::memory_order_acquire) ? "YES" : "NO");
    return 1;
}

void tun2socks_stop(int wait) {
    BReactor_RequestExit(&g_engine.reactor, 0);
    if (!wait) return;
    while (g_engine.running.load(std::memory_order_acquire)) usleep(1000);
    JoinEngineThread();
}

int tun2socks_is_running() {
    return g_engine.running.load(std::memory_order_acquire);
}

void tun2socks_set_log_sink(BLog_logfunc sink) {
    g_engine.log_sink = sink;
}

int tun2socks_num_clients() {
    return g_engine.tcp.num_clients.load(std::memory_order_relaxed);
}
