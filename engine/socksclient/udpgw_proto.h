#pragma once
// The udpgw packet carried, one per 2-byte length-prefixed frame, on the
// stream between the engine and the UDP relay of the local proxy service:
//   flags (1) | connection id (2, little-endian) | address (4, or 16 with
//   flag IPv6) | port (2) | UDP payload
// In requests the address is the datagram's destination; in replies it is
// the source of the reply. A keepalive is the 3-byte header alone.

#include <cstdint>

#include "engine/base/baddr.h"

enum {
    UDPGW_CLIENT_FLAG_KEEPALIVE = 0x01,
    UDPGW_CLIENT_FLAG_REBIND = 0x02,
    UDPGW_CLIENT_FLAG_DNS = 0x04,
    UDPGW_CLIENT_FLAG_IPV6 = 0x08,
};

#define UDPGW_HEADER_LEN 3
#define UDPGW_IPV4_ADDR_LEN 6  // address and port
#define UDPGW_IPV6_ADDR_LEN 18

// Largest udpgw packet for a UDP MTU: the MTU behind the header and an IPv6
// address with port (21 bytes); -1 for a negative MTU or on overflow.
int UdpGw_PacketMtu(int udp_mtu);

struct UdpGwHeader {
    uint8_t flags;
    uint16_t conid;  // host order once parsed
};

// Writes header and address for `addr` (IPv4 or IPv6; the IPv6 flag is
// added as needed); returns the bytes written (9 or 21).
int UdpGw_WriteHeader(uint8_t* out, uint8_t flags, uint16_t conid, const BAddr* addr);

enum {
    UDPGW_PARSE_OK = 0,
    UDPGW_PARSE_MISSING_HEADER,
    UDPGW_PARSE_MISSING_IPV4,
    UDPGW_PARSE_MISSING_IPV6,
};

// Takes a udpgw packet apart; the payload points into `data`.
int UdpGw_ParsePacket(const uint8_t* data, int len, UdpGwHeader* header, BAddr* addr, const uint8_t** payload,
                      int* payload_len);
