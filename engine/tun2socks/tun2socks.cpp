#include "engine/tun2socks/tun2socks.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

#include "engine/base/btime.h"
#include "engine/base/engine_util.h"
#include "engine/flow/device_input.h"
#include "engine/stack/init.h"
#include "engine/system/bnetwork.h"
#include "engine/tun2socks/core.h"
#include "engine/tun2socks/engine_options.h"
#include "engine/tun2socks/tcp_client.h"
#include "engine/tun2socks/tun2socks_state.h"
#include "engine/tun2socks/udp_packet.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_tun2socks

#define PROGRAM_NAME "ostrel engine"
#define PROGRAM_VERSION "1.999.130"

Tun2SocksEngine g_engine;

namespace {

constexpr btime_t kTcpTimerMs = 250;
constexpr btime_t kUdpgwKeepaliveMs = 10000;
constexpr btime_t kUdpgwReconnectMs = 5000;
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

// Steps 8 to 19 of the start leave these built; the release runs in reverse.
enum Built {
    kBuiltNothing,
    kBuiltReactor,
    kBuiltSignal,
    kBuiltDevice,
    kBuiltDeviceInput,
    kBuiltReadBuffer,
    kBuiltUdpgw,
    kBuiltAll,
};

void ReleaseBuilt(Built built) {
    if (built >= kBuiltAll) {
        BReactor_StopTimer(&g_engine.reactor, &g_engine.tcp_timer);
        BJob_Free(&g_engine.tcp_batch_job);
        TcpBatch_Free(&g_engine.tcp_batch);
        std::free(g_engine.device_write_buf);
        g_engine.device_write_buf = nullptr;
        BJob_Free(&g_engine.lwip_init_job);
    }
    if (built >= kBuiltUdpgw && g_engine.options.udpgw_remote_server_addr != nullptr) {
        SocksUdpGwClient_Free(&g_engine.udpgw_client);
    }
    if (built >= kBuiltReadBuffer) SinglePacketBuffer_Free(&g_engine.device_read_buffer);
    if (built >= kBuiltDeviceInput) DeviceInput_Free(&g_engine.device_input);
    if (built >= kBuiltDevice) BTap_Free(&g_engine.device);
    if (built >= kBuiltSignal) BSignal_Free(&g_engine.signal);
    if (built >= kBuiltReactor) BReactor_Free(&g_engine.reactor);
    std::free(g_engine.password_file_contents);
    g_engine.password_file_contents = nullptr;
}

void* engine_thread(void*) {
    g_engine.started.store(1, std::memory_order_release);
    BReactor_Run(&g_engine.reactor);

    while (!LinkedList_IsEmpty(&g_engine.clients_list)) {
        client_kill(LINKED_LIST_ENTRY(g_engine.clients_list.first, tcp_client, list_node));
    }
    if (g_engine.listener_ip6 != nullptr) {
        tcp_close(g_engine.listener_ip6);
        g_engine.listener_ip6 = nullptr;
    }
    if (g_engine.listener != nullptr) {
        tcp_close(g_engine.listener);
        g_engine.listener = nullptr;
    }
    if (g_engine.have_netif) {
        netif_detach(&g_engine.the_netif);
        g_engine.have_netif = 0;
    }
    // Segments still queued (TIME_WAIT and the like) and the pools' memory.
    lwip_deinit();
    ReleaseBuilt(kBuiltAll);

    BLog(BLOG_NOTICE, "exiting");
    BLog_Free();
    FreeEngineOptions();
    g_engine.running.store(0, std::memory_order_release);
    return nullptr;
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
    for (int i = 0; i < BLOG_NUM_CHANNELS; ++i) {
        int level = g_engine.options.loglevels[i];
        BLog_SetChannelLevel(i, level >= 0 ? level : g_engine.options.loglevel);
    }
    BLog(BLOG_NOTICE, "initializing %s %s %s", "TAP", PROGRAM_NAME, PROGRAM_VERSION);

    Built built = kBuiltNothing;
    int mtu;
    if (!process_arguments()) {
        BLog(BLOG_ERROR, "Failed to process arguments");
        goto fail;
    }
    if (!BNetwork_GlobalInit()) {
        BLog(BLOG_ERROR, "BNetwork_GlobalInit failed");
        goto fail;
    }
    tcp_init();
    BTime_Start();
    if (!BReactor_Init(&g_engine.reactor)) {
        BLog(BLOG_ERROR, "BReactor_Init failed");
        goto fail;
    }
    built = kBuiltReactor;
    g_engine.quitting = 0;
    if (!BSignal_Init(&g_engine.signal, &g_engine.reactor, signal_handler, nullptr)) {
        BLog(BLOG_ERROR, "BSignal_Init failed");
        goto fail;
    }
    built = kBuiltSignal;
    if (!BTap_Init(&g_engine.device, &g_engine.reactor, g_engine.options.tundev, device_error_handler,
                   nullptr)) {
        BLog(BLOG_ERROR, "BTap_Init failed");
        goto fail;
    }
    built = kBuiltDevice;
    mtu = BTap_GetFrameMtu(&g_engine.device);
    DeviceInput_Init(&g_engine.device_input, BReactor_JobStack(&g_engine.reactor), mtu,
                     device_read_handler_send, nullptr);
    built = kBuiltDeviceInput;
    if (!SinglePacketBuffer_Init(&g_engine.device_read_buffer, BTap_GetOutput(&g_engine.device),
                                 &g_engine.device_input, BReactor_JobStack(&g_engine.reactor))) {
        BLog(BLOG_ERROR, "SinglePacketBuffer_Init failed");
        goto fail;
    }
    built = kBuiltReadBuffer;
    if (g_engine.options.udpgw_remote_server_addr != nullptr) {
        int udp_mtu = mtu - UDP_PACKET_IPV4_OVERHEAD;
        if (g_engine.have_netif_ip6addr && mtu - UDP_PACKET_IPV6_OVERHEAD > udp_mtu) {
            udp_mtu = mtu - UDP_PACKET_IPV6_OVERHEAD;
        }
        if (udp_mtu < 0) udp_mtu = 0;
        g_engine.udp_mtu = udp_mtu;
        int packet_mtu = UdpGw_PacketMtu(udp_mtu);
        if (packet_mtu < 0 || packet_mtu > 65535) {
            BLog(BLOG_ERROR, "device MTU is too large for UDP");
            goto fail;
        }
        if (!SocksUdpGwClient_Init(
                &g_engine.udpgw_client, udp_mtu, g_engine.options.udpgw_max_connections,
                g_engine.options.udpgw_connection_buffer_size, kUdpgwKeepaliveMs, g_engine.socks_server_addr,
                g_engine.socks_auth_info, g_engine.socks_num_auth_info, g_engine.udpgw_remote_server_addr,
                kUdpgwReconnectMs, &g_engine.reactor, nullptr, udpgw_client_handler_received)) {
            BLog(BLOG_ERROR, "SocksUdpGwClient_Init failed");
            goto fail;
        }
    }
    built = kBuiltUdpgw;

    BJob_Init(&g_engine.lwip_init_job, BReactor_JobStack(&g_engine.reactor), lwip_init_job_hadler, nullptr);
    BJob_Set(&g_engine.lwip_init_job);
    g_engine.device_write_buf = static_cast<uint8_t*>(std::malloc(mtu > 0 ? static_cast<size_t>(mtu) : 1));
    if (g_engine.device_write_buf == nullptr || !TcpBatch_Init(&g_engine.tcp_batch)) {
        std::free(g_engine.device_write_buf);
        g_engine.device_write_buf = nullptr;
        BJob_Free(&g_engine.lwip_init_job);
        BLog(BLOG_ERROR, "BAlloc failed");
        goto fail;
    }
    g_engine.batching = 1;
    BJob_Init(&g_engine.tcp_batch_job, BReactor_JobStack(&g_engine.reactor), tcp_batch_job_handler, nullptr);
    BReactorTimer_Init(&g_engine.tcp_timer, kTcpTimerMs, tcp_timer_handler, nullptr);
    BReactor_RestartTimer(&g_engine.reactor, &g_engine.tcp_timer);
    g_engine.tcp_timer_ticks = 0;
    g_engine.have_netif = 0;
    g_engine.listener = nullptr;
    g_engine.listener_ip6 = nullptr;
    LinkedList_Init(&g_engine.clients_list);
    g_engine.num_clients.store(0, std::memory_order_relaxed);
    built = kBuiltAll;

    BLog(BLOG_NOTICE, "entering event loop");
    g_engine.started.store(0, std::memory_order_relaxed);
    g_engine.running.store(1, std::memory_order_release);
    if (pthread_create(&g_thread, nullptr, engine_thread, nullptr) != 0) {
        g_engine.running.store(0, std::memory_order_release);
        goto fail;
    }
    g_have_thread = true;

    while (!g_engine.started.load(std::memory_order_acquire)) usleep(1000);
    {
        // An engine that fails early has ended within this second.
        timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_sec += kStartWaitMs / 1000;
        if (pthread_timedjoin_np(g_thread, nullptr, &until) == 0) g_have_thread = false;
    }
    BLog(BLOG_NOTICE, "module started %s", g_engine.running.load(std::memory_order_acquire) ? "YES" : "NO");
    return 1;

fail:
    ReleaseBuilt(built);
    BLog(BLOG_NOTICE, "exiting");
    BLog_Free();
    FreeEngineOptions();
    return 0;
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
    return g_engine.num_clients.load(std::memory_order_relaxed);
}
