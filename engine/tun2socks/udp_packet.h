#pragma once
// UDP between the TUN device and udpgw: taking a datagram out of a packet
// read from the device, and building the packet that carries a datagram from
// udpgw back to the application.

#include <cstdint>

#include "engine/base/baddr.h"

// IPv4 and UDP header bytes in front of a relayed datagram.
#define UDP_PACKET_IPV4_OVERHEAD 28
#define UDP_PACKET_IPV6_OVERHEAD 48

struct DeviceUdpDatagram {
    BAddr local_addr;     // the application's end: source address and port
    BAddr remote_addr;    // the destination
    const uint8_t* data;  // points into the packet
    int data_len;
};

// 1 when the packet is one whole UDP datagram with a sound checksum: IPv4
// (a checksum field of 0 means "no checksum" there), or IPv6 when
// `ipv6_enabled`. Fragments are never datagrams: their payload is only part
// of one, however its bytes happen to add up.
int UdpPacket_ParseDevice(const uint8_t* data, int len, int ipv6_enabled, DeviceUdpDatagram* out);

// Write the packet for a datagram from udpgw into `out` (room for the
// overhead plus `data_len`): source = remote, destination = local. Return the
// packet's length.
int UdpPacket_BuildIPv4(uint8_t* out, const BAddr* local_addr, const BAddr* remote_addr, const uint8_t* data,
                        int data_len);
int UdpPacket_BuildIPv6(uint8_t* out, const BAddr* local_addr, const BAddr* remote_addr, const uint8_t* data,
                        int data_len);
