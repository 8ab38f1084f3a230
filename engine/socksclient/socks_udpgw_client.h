#pragma once
// The udpgw client on a SOCKS 5 connection to the UDP relay endpoint,
// reconnecting after a delay whenever that connection fails or ends.
// Datagrams queue in their flows while no connection is up.

#include "engine/socksclient/bsocksclient.h"
#include "engine/socksclient/udpgw_client.h"

typedef void (*SocksUdpGwClient_handler_received)(void* user, BAddr local_addr, BAddr remote_addr,
                                                  const uint8_t* data, int data_len);

struct SocksUdpGwClient {
    int udp_mtu;
    BAddr socks_server_addr;
    const BSocksClient_auth_info* auth_info;
    size_t num_auth_info;
    BAddr remote_udpgw_addr;
    BReactor* reactor;
    void* user;
    SocksUdpGwClient_handler_received handler_received;
    UdpGwClient udpgw_client;
    BReactorTimer reconnect_timer;
    int have_socks;
    BSocksClient socks_client;
    int socks_up;
};

int SocksUdpGwClient_Init(SocksUdpGwClient* o, int udp_mtu, int max_connections, int send_buffer_size,
                          btime_t keepalive_time, BAddr socks_server_addr,
                          const BSocksClient_auth_info* auth_info, size_t num_auth_info,
                          BAddr remote_udpgw_addr, btime_t reconnect_time, BReactor* reactor, void* user,
                          SocksUdpGwClient_handler_received handler_received);
void SocksUdpGwClient_Free(SocksUdpGwClient* o);
void SocksUdpGwClient_SendDatagram(SocksUdpGwClient* o, BAddr local_addr, BAddr remote_addr, int is_dns,
                                   const uint8_t* data, int data_len);
