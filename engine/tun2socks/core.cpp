#include "engine/tun2socks/core.h"

#include <cstring>

#include "engine/base/blog.h"
#include "engine/flow/device_input.h"
#include "engine/stack/init.h"
#include "engine/tun2socks/stack_netif.h"
#include "engine/tun2socks/tcp_client.h"
#include "engine/tun2socks/tun2socks_state.h"
#include "engine/tun2socks/udp_packet.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_tun2socks

namespace {

constexpr int kMaxIPv4UdpPayload = 65507;
constexpr int kMaxIPv6UdpPayload = 65527;

// Writes one packet, or with a segment size one packet of joined TCP
// segments; jobs the write sets run before control goes back into the stack.
// 0 when the device refused joined segments.
int write_to_device(const uint8_t* data, int len, int segment_size = 0) {
    BReactorSyncPoint sync(&g_engine.reactor);
    int written = 1;
    if (segment_size > 0) {
        written = BTap_WriteTcpSegments(&g_engine.device, data, len, TCP_BATCH_IP_HEADER, TCP_BATCH_HEADERS,
                                        segment_size);
    } else {
        BTap_WritePacket(&g_engine.device, data, len);
    }
    sync.Run();
    return written;
}

void flush_tcp_batch() {
    int segments, segment_size;
    int len = TcpBatch_Finish(&g_engine.tcp_batch, &segments, &segment_size);
    if (len == 0 || g_engine.quitting) return;
    if (!write_to_device(g_engine.tcp_batch.buf, len, segments > 1 ? segment_size : 0)) {
        // The stack sends these again; from now on one by one.
        BLog(BLOG_WARNING, "device refused joined TCP segments");
        g_engine.batching = 0;
    }
}

// Every packet for the device goes through here, so that held-back segments
// always leave before anything sent after them.
void device_write_packet(const uint8_t* data, int len) {
    if (g_engine.batching && TcpBatch_Eligible(data, len)) {
        if (!TcpBatch_Add(&g_engine.tcp_batch, data, len)) {
            flush_tcp_batch();
            TcpBatch_Add(&g_engine.tcp_batch, data, len);
        }
        // Jobs run before the reactor looks for I/O again: the burst is over then.
        if (!BJob_IsSet(&g_engine.tcp_batch_job)) BJob_Set(&g_engine.tcp_batch_job);
        return;
    }
    flush_tcp_batch();
    write_to_device(data, len);
}

err_t common_netif_output(netif*, pbuf* p) {
    BLog(BLOG_DEBUG, "device write: send packet");
    if (g_engine.quitting) return ERR_OK;
    int mtu = BTap_GetFrameMtu(&g_engine.device);
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
        std::memcpy(g_engine.device_write_buf + len, q->payload, q->len);
        len += q->len;
    }
    device_write_packet(g_engine.device_write_buf, len);
    return ERR_OK;
}

err_t netif_output_hook(netif* n, pbuf* p, const ip4_addr_t*) {
    return common_netif_output(n, p);
}

err_t netif_output_hook_ip6(netif* n, pbuf* p, const ip6_addr_t*) {
    return common_netif_output(n, p);
}

}  // namespace

void lwip_init_job_hadler(void*) {
    BLog(BLOG_DEBUG, "lwip init");
    lwip_init();

    ip4_addr_t addr{g_engine.netif_ipaddr.ipv4};
    ip4_addr_t netmask{g_engine.netif_netmask.ipv4};
    if (!StackNetif_Add(&g_engine.the_netif, &addr, &netmask,
                        g_engine.have_netif_ip6addr ? g_engine.netif_ip6addr : nullptr, nullptr,
                        netif_output_hook, netif_output_hook_ip6)) {
        goto fail;
    }
    g_engine.have_netif = 1;

    g_engine.listener = StackNetif_Listen(&g_engine.the_netif, 0, listener_accept_func, nullptr);
    if (g_engine.listener == nullptr) goto fail;
    if (g_engine.have_netif_ip6addr) {
        g_engine.listener_ip6 = StackNetif_Listen(&g_engine.the_netif, 1, listener_accept_func, nullptr);
        if (g_engine.listener_ip6 == nullptr) goto fail;
    }
    return;

fail:
    if (!g_engine.quitting) terminate();
}

void tcp_timer_handler(void*) {
    BLog(BLOG_DEBUG, "TCP timer");
    BReactor_RestartTimer(&g_engine.reactor, &g_engine.tcp_timer);
    tcp_fasttmr();
    // Every second tick, from the first on: the slow timer runs every 500 ms.
    if (++g_engine.tcp_timer_ticks & 1) tcp_slowtmr();
}

void device_error_handler(void*) {
    BLog(BLOG_ERROR, "device error");
    terminate();
}

void signal_handler(void*) {
    BLog(BLOG_NOTICE, "termination requested");
    terminate();
}

void device_read_handler_send(void*, uint8_t* data, int data_len) {
    BLog(BLOG_DEBUG, "device: received packet");
    // Set first so that it runs last: the packet stays valid for every job
    // set while it is handled (a new udpgw flow sends its first datagram
    // from a job).
    DeviceInput_Done(&g_engine.device_input);

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
    if (g_engine.the_netif.input(p, &g_engine.the_netif) != ERR_OK) {
        BLog(BLOG_WARNING, "device read: input failed");
        pbuf_free(p);
    }
}

int process_device_udp_packet(uint8_t* data, int data_len) {
    if (g_engine.options.udpgw_remote_server_addr == nullptr) return 0;
    DeviceUdpDatagram dgram;
    if (!UdpPacket_ParseDevice(data, data_len, g_engine.have_netif_ip6addr, &dgram)) return 0;
    char local[BADDR_MAX_PRINT_LEN] = "", remote[BADDR_MAX_PRINT_LEN] = "";
    if (BLog_WouldLog(BLOG_CURRENT_CHANNEL, BLOG_INFO)) {
        BAddr_ToText(&dgram.local_addr, local);
        BAddr_ToText(&dgram.remote_addr, remote);
    }
    int is_dns = 0;
    if (dgram.local_addr.type == BADDR_TYPE_IPV4) {
        BLog(BLOG_INFO, "UDP: from device %d bytes,local addr: %s, remote addr: %s", dgram.data_len, local,
             remote);
        is_dns = g_engine.options.udpgw_transparent_dns &&
                 dgram.remote_addr.ipv4.ip == g_engine.netif_ipaddr.ipv4 &&
                 dgram.remote_addr.ipv4.port == htons(53);
    } else {
        BLog(BLOG_INFO, "UDP/IPv6: from device %d bytes", dgram.data_len);
        BLog(BLOG_INFO, "UDP: from device %d bytes,local addr: %s, remote addr: %s", dgram.data_len, local,
             remote);
    }
    if (dgram.data_len > g_engine.udp_mtu) {
        BLog(BLOG_ERROR, "packet is too large, cannot send to udpgw");
        return 0;
    }
    SocksUdpGwClient_SendDatagram(&g_engine.udpgw_client, dgram.local_addr, dgram.remote_addr, is_dns,
                                  dgram.data, dgram.data_len);
    return 1;
}

void udpgw_client_handler_received(void*, BAddr local_addr, BAddr remote_addr, const uint8_t* data,
                                   int data_len) {
    char local[BADDR_MAX_PRINT_LEN] = "", remote[BADDR_MAX_PRINT_LEN] = "";
    if (BLog_WouldLog(BLOG_CURRENT_CHANNEL, BLOG_INFO)) {
        BAddr_ToText(&local_addr, local);
        BAddr_ToText(&remote_addr, remote);
    }
    int mtu = BTap_GetFrameMtu(&g_engine.device);
    int len;
    if (local_addr.type == BADDR_TYPE_IPV4) {
        BLog(BLOG_INFO, "UDP: from udpgw %d bytes,local addr: %s, remote addr: %s", data_len, local, remote);
        if (data_len > kMaxIPv4UdpPayload || data_len > mtu - UDP_PACKET_IPV4_OVERHEAD) {
            BLog(BLOG_ERROR, "UDP: packet is too large");
            return;
        }
        len = UdpPacket_BuildIPv4(g_engine.device_write_buf, &local_addr, &remote_addr, data, data_len);
    } else {
        BLog(BLOG_INFO, "UDP/IPv6: from udpgw %d bytes,local addr: %s, remote addr: %s", data_len, local,
             remote);
        if (!g_engine.have_netif_ip6addr) {
            BLog(BLOG_ERROR, "got IPv6 packet from udpgw but IPv6 is disabled");
            return;
        }
        if (data_len > kMaxIPv6UdpPayload || data_len > mtu - UDP_PACKET_IPV6_OVERHEAD) {
            BLog(BLOG_ERROR, "UDP/IPv6: packet is too large");
            return;
        }
        len = UdpPacket_BuildIPv6(g_engine.device_write_buf, &local_addr, &remote_addr, data, data_len);
    }
    if (g_engine.quitting) return;
    flush_tcp_batch();
    BTap_WritePacket(&g_engine.device, g_engine.device_write_buf, len);
}

void tcp_batch_job_handler(void*) {
    flush_tcp_batch();
}
