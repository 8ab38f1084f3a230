#pragma once
// The UDP relay: UDP datagrams read from the device leave through the udpgw
// client, and the datagrams udpgw returns are rebuilt into packets for the
// device. Without a udpgw server nothing is built and UDP goes to the stack.
// Engine thread only, except the init function, which the start runs before
// the engine thread exists.

#include <cstdint>

#include "engine/base/baddr.h"
#include "engine/socksclient/socks_udpgw_client.h"

struct UdpRelay {
    int udp_mtu;  // the largest datagram relayed
    int have_client;
    SocksUdpGwClient udpgw_client;
};

// The UDP MTU for the device's MTU; 0 when the udpgw packets it makes would
// be too large.
int udp_relay_set_mtu(int device_mtu);
// Starts the udpgw client; 1 or 0. Without a udpgw server: nothing, 1.
int udp_relay_init(void);
void udp_relay_free(void);

// 1 when the packet went to udpgw, 0 when it belongs to the stack.
int process_device_udp_packet(uint8_t* data, int data_len);
void udpgw_client_handler_received(void* unused, BAddr local_addr, BAddr remote_addr, const uint8_t* data,
                                   int data_len);
