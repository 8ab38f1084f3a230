#include "engine/socksclient/socks_udpgw_client.h"

#include "engine/base/blog.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_SocksUdpGwClient

namespace {

void TryConnect(SocksUdpGwClient* o);

// Ends the current SOCKS connection and schedules the next attempt.
void Reconnect(SocksUdpGwClient* o) {
    if (o->socks_up) {
        UdpGwClient_DropServer(&o->udpgw_client);
        o->socks_up = 0;
    }
    if (o->have_socks) {
        BSocksClient_Free(&o->socks_client);
        o->have_socks = 0;
    }
    BReactor_RestartTimer(o->reactor, &o->reconnect_timer);
}

void SocksHandler(void* user, int event) {
    auto* o = static_cast<SocksUdpGwClient*>(user);
    if (event != BSOCKSCLIENT_EVENT_UP) {
        BLog(BLOG_INFO, "SOCKS error");
        Reconnect(o);
        return;
    }
    BLog(BLOG_INFO, "SOCKS up");
    if (!UdpGwClient_ConnectServer(&o->udpgw_client, BSocksClient_GetSendInterface(&o->socks_client),
                                   BSocksClient_GetRecvInterface(&o->socks_client))) {
        BLog(BLOG_ERROR, "UdpGwClient_ConnectServer failed");
        Reconnect(o);
        return;
    }
    o->socks_up = 1;
}

void ServerError(void* user) {
    auto* o = static_cast<SocksUdpGwClient*>(user);
    BLog(BLOG_ERROR, "client reports server error");
    Reconnect(o);
}

void Received(void* user, BAddr local_addr, BAddr remote_addr, const uint8_t* data, int data_len) {
    auto* o = static_cast<SocksUdpGwClient*>(user);
    o->handler_received(o->user, local_addr, remote_addr, data, data_len);
}

void TryConnect(SocksUdpGwClient* o) {
    if (!BSocksClient_Init(&o->socks_client, o->socks_server_addr, o->auth_info, o->num_auth_info,
                           o->remote_udpgw_addr, SocksHandler, o, o->reactor)) {
        BLog(BLOG_ERROR, "BSocksClient_Init failed");
        BReactor_RestartTimer(o->reactor, &o->reconnect_timer);
        return;
    }
    o->have_socks = 1;
}

void ReconnectTimer(void* user) {
    TryConnect(static_cast<SocksUdpGwClient*>(user));
}

}  // namespace

int SocksUdpGwClient_Init(SocksUdpGwClient* o, int udp_mtu, int max_connections, int send_buffer_size,
                          btime_t keepalive_time, BAddr socks_server_addr,
                          const BSocksClient_auth_info* auth_info, size_t num_auth_info,
                          BAddr remote_udpgw_addr, btime_t reconnect_time, BReactor* reactor, void* user,
                          SocksUdpGwClient_handler_received handler_received) {
    o->udp_mtu = udp_mtu;
    o->socks_server_addr = socks_server_addr;
    o->auth_info = auth_info;
    o->num_auth_info = num_auth_info;
    o->remote_udpgw_addr = remote_udpgw_addr;
    o->reactor = reactor;
    o->user = user;
    o->handler_received = handler_received;
    o->have_socks = 0;
    o->socks_up = 0;
    if (!UdpGwClient_Init(&o->udpgw_client, udp_mtu, max_connections, send_buffer_size, keepalive_time,
                          reactor, o, ServerError, Received)) {
        return 0;
    }
    BReactorTimer_Init(&o->reconnect_timer, reconnect_time, ReconnectTimer, o);
    TryConnect(o);
    return 1;
}

void SocksUdpGwClient_Free(SocksUdpGwClient* o) {
    // The udpgw client first: it still sends into the SOCKS streams.
    UdpGwClient_Free(&o->udpgw_client);
    o->socks_up = 0;
    if (o->have_socks) {
        BSocksClient_Free(&o->socks_client);
        o->have_socks = 0;
    }
    BReactor_StopTimer(o->reactor, &o->reconnect_timer);
}

void SocksUdpGwClient_SendDatagram(SocksUdpGwClient* o, BAddr local_addr, BAddr remote_addr, int is_dns,
                                   const uint8_t* data, int data_len) {
    UdpGwClient_SendDatagram(&o->udpgw_client, local_addr, remote_addr, is_dns, data, data_len);
}
