#include "engine/tun2socks/core.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>

#include "engine/base/blog.h"
#include "engine/flow/device_input.h"
#include "engine/stack/init.h"
#include "engine/stack/memp.h"
#include "engine/tun2socks/stack_netif.h"
#include "engine/tun2socks/tcp_client.h"
#include "engine/tun2socks/tun2socks_state.h"
#include "engine/tun2socks/udp_relay.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_tun2socks

namespace {

constexpr btime_t kTcpTimerMs = TCP_FAST_INTERVAL;

EngineCore& core = g_engine.core;

// Writes one packet, or with a segment size one packet of joined TCP
// segments; jobs the write sets run before control goes back into the stack.
// 0 when the device refused joined segments.
int write_to_device(const uint8_t* data, int len, int segment_size = 0) {
    BReactorSyncPoint sync(&g_engine.reactor);
    int written = 1;
    if (segment_size > 0) {
        written = BTap_WriteTcpSegments(&core.device, data, len, TCP_BATCH_IP_HEADER, TCP_BATCH_HEADERS,
                                        segment_size);
    } else {
        BTap_WritePacket(&core.device, data, len);
    }
    sync.Run();
    return written;
}

void flush_tcp_batch() {
    int segments, segment_size;
    int len = TcpBatch_Finish(&core.tcp_batch, &segments, &segment_size);
    if (len == 0 || g_engine.quitting) return;
    if (!write_to_device(core.tcp_batch.buf, len, segments > 1 ? segment_size : 0)) {
        // The stack sends these again; from now on one by one.
        BLog(BLOG_WARNING, "device refused joined TCP segments");
        core.batching = 0;
    }
}

// Every packet the stack sends goes through here, so that held-back
// segments always leave before anything sent after them.
void device_write_packet(const uint8_t* data, int len) {
    if (core.batching && TcpBatch_Eligible(data, len)) {
        if (!TcpBatch_Add(&core.tcp_batch, data, len)) {
            flush_tcp_batch();
            TcpBatch_Add(&core.tcp_batch, data, len);
        }
        // Jobs run before the reactor looks for I/O again: the burst is over then.
        if (!BJob_IsSet(&core.tcp_batch_job)) BJob_Set(&core.tcp_batch_job);
        return;
    }
    flush_tcp_batch();
    write_to_device(data, len);
}

err_t common_netif_output(netif*, pbuf* p) {
    BLog(BLOG_DEBUG, "device write: send packet");
    if (g_engine.quitting) return ERR_OK;
    // Whatever the stack sends may start a retransmission timer.
    if (core.have_tcp_timer && !BReactorTimer_IsRunning(&core.rexmit_timer)) {
        BReactor_StartTimer(&g_engine.reactor, &core.rexmit_timer, TCP_REXMIT_INTERVAL);
    }
    int mtu = BTap_GetFrameMtu(&core.device);
    if (p->next == nullptr) {
        if (p->len > mtu) {
            BLog(BLOG_WARNING, "netif func output: no space left");
            return ERR_OK;
        }
        device_write_packet(static_cast<const uint8_t*>(p->payload), p->len);
        return ERR_OK;
    }
    int len = 0;
    for (pbuf* q = p; q != nullptr; q = q->next) {
        if (q->len > mtu - len) {
            BLog(BLOG_WARNING, "netif func output: no space left");
            return ERR_OK;
        }
        std::memcpy(core.device_write_buf + len, q->payload, q->len);
        len += q->len;
    }
    device_write_packet(core.device_write_buf, len);
    return ERR_OK;
}

err_t netif_output_hook(netif* n, pbuf* p, const ip4_addr_t*) {
    return common_netif_output(n, p);
}

err_t netif_output_hook_ip6(netif* n, pbuf* p, const ip6_addr_t*) {
    return common_netif_output(n, p);
}

}  // namespace

// ---- init and free pairs -----------------------------------------------------

int core_init_device(void) {
    if (!BTap_Init(&core.device, &g_engine.reactor, g_engine.options.tundev, device_error_handler, nullptr)) {
        return 0;
    }
    DeviceInput_Init(&core.device_input, BReactor_JobStack(&g_engine.reactor), BTap_GetReadMtu(&core.device),
                     device_read_handler_send, nullptr);
    core.have_device = 1;
    return 1;
}

void core_free_device(void) {
    if (!core.have_device) return;
    DeviceInput_Free(&core.device_input);
    BTap_Free(&core.device);
    core.have_device = 0;
}

int core_init_device_reader(void) {
    core.device_read_more_buf = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(BTap_GetReadMtu(&core.device))));
    if (core.device_read_more_buf == nullptr) return 0;
    if (!SinglePacketBuffer_Init(&core.device_read_buffer, BTap_GetOutput(&core.device), &core.device_input,
                                 BReactor_JobStack(&g_engine.reactor))) {
        std::free(core.device_read_more_buf);
        core.device_read_more_buf = nullptr;
        return 0;
    }
    core.have_device_reader = 1;
    return 1;
}

void core_free_device_reader(void) {
    if (!core.have_device_reader) return;
    SinglePacketBuffer_Free(&core.device_read_buffer);
    std::free(core.device_read_more_buf);
    core.device_read_more_buf = nullptr;
    core.have_device_reader = 0;
}

void core_init_stack(void) {
    // Pending jobs run before any I/O result: the stack is up before the
    // first packet read from the device is handled.
    BJob_Init(&core.lwip_init_job, BReactor_JobStack(&g_engine.reactor), lwip_init_job_hadler, nullptr);
    BJob_Set(&core.lwip_init_job);
    core.have_netif = 0;
    core.have_stack = 1;
}

void core_free_stack(void) {
    if (!core.have_stack) return;
    if (core.have_netif) {
        netif_detach(&core.the_netif);
        core.have_netif = 0;
    }
    // Segments still queued (TIME_WAIT and the like) and the pools' memory.
    lwip_deinit();
    BJob_Free(&core.lwip_init_job);
    core.have_stack = 0;
}

int core_init_writer(void) {
    int mtu = core_device_mtu();
    core.device_write_buf = static_cast<uint8_t*>(std::malloc(mtu > 0 ? static_cast<size_t>(mtu) : 1));
    if (core.device_write_buf == nullptr || !TcpBatch_Init(&core.tcp_batch)) {
        std::free(core.device_write_buf);
        core.device_write_buf = nullptr;
        return 0;
    }
    core.batching = 1;
    BJob_Init(&core.tcp_batch_job, BReactor_JobStack(&g_engine.reactor), tcp_batch_job_handler, nullptr);
    core.have_writer = 1;
    return 1;
}

void core_free_writer(void) {
    if (!core.have_writer) return;
    BJob_Free(&core.tcp_batch_job);
    TcpBatch_Free(&core.tcp_batch);
    std::free(core.device_write_buf);
    core.device_write_buf = nullptr;
    core.have_writer = 0;
}

void core_init_tcp_timer(void) {
    BReactorTimer_Init(&core.tcp_timer, kTcpTimerMs, tcp_timer_handler, nullptr);
    BReactor_RestartTimer(&g_engine.reactor, &core.tcp_timer);
    core.tcp_timer_ticks = 0;
    BReactorTimer_Init(&core.rexmit_timer, TCP_REXMIT_INTERVAL, rexmit_timer_handler, nullptr);
    BReactorTimer_Init(&core.release_timer, g_engine.tcp.memory_release_ms, release_timer_handler, nullptr);
    BReactor_RestartTimer(&g_engine.reactor, &core.release_timer);
    core.have_tcp_timer = 1;
}

void core_free_tcp_timer(void) {
    if (!core.have_tcp_timer) return;
    BReactor_StopTimer(&g_engine.reactor, &core.tcp_timer);
    BReactor_StopTimer(&g_engine.reactor, &core.rexmit_timer);
    BReactor_StopTimer(&g_engine.reactor, &core.release_timer);
    core.have_tcp_timer = 0;
}

// ---- the device ----------------------------------------------------------------

int core_device_mtu(void) {
    return BTap_GetFrameMtu(&core.device);
}

void core_write_packet(const uint8_t* data, int len) {
    flush_tcp_batch();
    BTap_WritePacket(&core.device, data, len);
}

void device_error_handler(void*) {
    BLog(BLOG_ERROR, "device error");
    terminate();
}

void signal_handler(void*) {
    BLog(BLOG_NOTICE, "termination requested");
    terminate();
}

namespace {

constexpr int kDeviceReadsPerPass = 32;

void handle_device_packet(uint8_t* data, int data_len) {
    if (process_device_udp_packet(data, data_len)) return;
    if (data_len > 65535) {
        BLog(BLOG_WARNING, "device read: packet too large");
        return;
    }
    pbuf* p = pbuf_alloc(PBUF_RAW, static_cast<uint16_t>(data_len), PBUF_POOL);
    if (p == nullptr) {
        BLog(BLOG_WARNING, "device read: pbuf_alloc failed");
        return;
    }
    pbuf_take(p, data, static_cast<uint16_t>(data_len));
    if (BTap_ReadChecksumTrusted(&core.device)) p->flags |= PBUF_FLAG_CHECKSUM_TRUSTED;
    if (core.the_netif.input(p, &core.the_netif) != ERR_OK) {
        BLog(BLOG_WARNING, "device read: input failed");
        pbuf_free(p);
    }
}

}  // namespace

void device_read_handler_send(void*, uint8_t* data, int data_len) {
    BLog(BLOG_DEBUG, "device: received packet");
    // Set first so that it runs last: the packet stays valid for every job
    // set while it is handled (a new udpgw flow sends its first datagram
    // from a job).
    DeviceInput_Done(&core.device_input);
    // What else the device holds now is handled in the same pass (bounded,
    // so that timers and sockets get their turn). The write of joined
    // segments is set beneath every packet's jobs: what the stack sends in
    // answer to the whole pass leaves in one write at its end, while each
    // packet's own jobs run before the next packet is read.
    if (core.batching && !BJob_IsSet(&core.tcp_batch_job)) BJob_Set(&core.tcp_batch_job);
    {
        BReactorSyncPoint sync(&g_engine.reactor);
        handle_device_packet(data, data_len);
        sync.Run();
    }
    for (int i = 0; i < kDeviceReadsPerPass && !g_engine.quitting && core.device_read_more_buf != nullptr; ++i) {
        int len = BTap_ReadNow(&core.device, core.device_read_more_buf);
        if (len < 0) break;
        BReactorSyncPoint sync(&g_engine.reactor);
        handle_device_packet(core.device_read_more_buf, len);
        sync.Run();
    }
}

void tcp_batch_job_handler(void*) {
    flush_tcp_batch();
}

// ---- the stack -------------------------------------------------------------------

void lwip_init_job_hadler(void*) {
    BLog(BLOG_DEBUG, "lwip init");
    lwip_init();

    const EngineArgs& args = g_engine.args;
    ip4_addr_t addr{args.netif_ipaddr.ipv4};
    ip4_addr_t netmask{args.netif_netmask.ipv4};
    const char* failure = "netif_add failed";
    if (StackNetif_Add(&core.the_netif, &addr, &netmask,
                       args.have_netif_ip6addr ? args.netif_ip6addr : nullptr, nullptr, netif_output_hook,
                       netif_output_hook_ip6)) {
        core.have_netif = 1;
        if (TcpRelay_Listen(&g_engine.tcp, &core.the_netif, args.have_netif_ip6addr, &failure)) return;
    }
    BLog(BLOG_ERROR, "%s", failure);
    if (!g_engine.quitting) terminate();
}

void tcp_timer_handler(void*) {
    BLog(BLOG_DEBUG, "TCP timer");
    BReactor_RestartTimer(&g_engine.reactor, &core.tcp_timer);
    tcp_fasttmr();
    // Every second tick, from the first on: the slow timer runs every 500 ms.
    if (++core.tcp_timer_ticks & 1) tcp_slowtmr();
}

// After a burst the pools, the upload buffers and the heap keep their peak;
// what nobody uses any more goes back, so the engine's memory follows use.
void release_timer_handler(void*) {
    BReactor_RestartTimer(&g_engine.reactor, &core.release_timer);
    TcpRelay_ReleaseIdleBuffers(&g_engine.tcp);
    size_t pools = memp_trim();
    malloc_trim(0);
    BLog(BLOG_DEBUG, "released %zu bytes of pool memory", pools);
}

void rexmit_timer_handler(void*) {
    if (tcp_rexmit_tmr()) BReactor_RestartTimer(&g_engine.reactor, &core.rexmit_timer);
}
