#include "engine/tun2socks/udp_relay.h"

#include <arpa/inet.h>

#include "engine/base/blog.h"
#include "engine/socksclient/udpgw_proto.h"
#include "engine/tun2socks/core.h"
#include "engine/tun2socks/tun2socks_state.h"
#include "engine/tun2socks/udp_packet.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_tun2socks

namespace {

constexpr btime_t kUdpgwKeepaliveMs = 10000;
constexpr btime_t kUdpgwReconnectMs = 5000;
constexpr int kMaxIPv4UdpPayload = 65507;
constexpr int kMaxIPv6UdpPayload = 65527;

UdpRelay& udp = g_engine.udp;

}  // namespace

int udp_relay_set_mtu(int device_mtu) {
    int udp_mtu = device_mtu - UDP_PACKET_IPV4_OVERHEAD;
    if (g_engine.args.have_netif_ip6addr && device_mtu - UDP_PACKET_IPV6_OVERHEAD > udp_mtu) {
        udp_mtu = device_mtu - UDP_PACKET_IPV6_OVERHEAD;
    }
    if (udp_mtu < 0) udp_mtu = 0;
    udp.udp_mtu = udp_mtu;
    int packet_mtu = UdpGw_PacketMtu(udp_mtu);
    return packet_mtu >= 0 && packet_mtu <= 65535;
}

int udp_relay_init(void) {
    if (!udpgw_relayed()) return 1;
    const EngineArgs& args = g_engine.args;
    const EngineOptions& options = g_engine.options;
    if (!SocksUdpGwClient_Init(&udp.udpgw_client, udp.udp_mtu, options.udpgw_max_connections,
                               options.udpgw_connection_buffer_size, kUdpgwKeepaliveMs,
                               args.socks_server_addr, args.socks_auth_info, args.socks_num_auth_info,
                               args.udpgw_remote_server_addr, kUdpgwReconnectMs, &g_engine.reactor, nullptr,
                               udpgw_client_handler_received)) {
        return 0;
    }
    udp.have_client = 1;
    return 1;
}

void udp_relay_free(void) {
    if (!udp.have_client) return;
    SocksUdpGwClient_Free(&udp.udpgw_client);
    udp.have_client = 0;
}

int process_device_udp_packet(uint8_t* data, int data_len) {
    if (!udpgw_relayed()) return 0;
    const EngineArgs& args = g_engine.args;
    DeviceUdpDatagram dgram;
    if (!UdpPacket_ParseDevice(data, data_len, args.have_netif_ip6addr, &dgram)) return 0;
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
                 dgram.remote_addr.ipv4.ip == args.netif_ipaddr.ipv4 &&
                 dgram.remote_addr.ipv4.port == htons(53);
    } else {
        BLog(BLOG_INFO, "UDP/IPv6: from device %d bytes", dgram.data_len);
        BLog(BLOG_INFO, "UDP: from device %d bytes,local addr: %s, remote addr: %s", dgram.data_len, local,
             remote);
    }
    if (dgram.data_len > udp.udp_mtu) {
        BLog(BLOG_ERROR, "packet is too large, cannot send to udpgw");
        return 0;
    }
    SocksUdpGwClient_SendDatagram(&udp.udpgw_client, dgram.local_addr, dgram.remote_addr, is_dns, dgram.data,
                                  dgram.data_len);
    return 1;
}

void udpgw_client_handler_received(void*, BAddr local_addr, BAddr remote_addr, const uint8_t* data,
                                   int data_len) {
    char local[BADDR_MAX_PRINT_LEN] = "", remote[BADDR_MAX_PRINT_LEN] = "";
    if (BLog_WouldLog(BLOG_CURRENT_CHANNEL, BLOG_INFO)) {
        BAddr_ToText(&local_addr, local);
        BAddr_ToText(&remote_addr, remote);
    }
    int mtu = core_device_mtu();
    uint8_t* packet = g_engine.core.device_write_buf;
    int len;
    if (local_addr.type == BADDR_TYPE_IPV4) {
        BLog(BLOG_INFO, "UDP: from udpgw %d bytes,local addr: %s, remote addr: %s", data_len, local, remote);
        if (data_len > kMaxIPv4UdpPayload || data_len > mtu - UDP_PACKET_IPV4_OVERHEAD) {
            BLog(BLOG_ERROR, "UDP: packet is too large");
            return;
        }
        len = UdpPacket_BuildIPv4(packet, &local_addr, &remote_addr, data, data_len);
    } else {
        BLog(BLOG_INFO, "UDP/IPv6: from udpgw %d bytes,local addr: %s, remote addr: %s", data_len, local,
             remote);
        if (!g_engine.args.have_netif_ip6addr) {
            BLog(BLOG_ERROR, "got IPv6 packet from udpgw but IPv6 is disabled");
            return;
        }
        if (data_len > kMaxIPv6UdpPayload || data_len > mtu - UDP_PACKET_IPV6_OVERHEAD) {
            BLog(BLOG_ERROR, "UDP/IPv6: packet is too large");
            return;
        }
        len = UdpPacket_BuildIPv6(packet, &local_addr, &remote_addr, data, data_len);
    }
    if (g_engine.quitting) return;
    core_write_packet(packet, len);
}
