#pragma once
// Views of the IPv4, IPv6 and UDP headers, the checks that take a packet
// apart, and the Internet checksums used to pass UDP datagrams between the
// device and the udpgw client. Header fields stay in network byte order; the
// checks copy the header out, so the packet itself may be unaligned.

#include <cstdint>

struct IPv4Header {
    uint8_t version4_ihl4;
    uint8_t ds;
    uint16_t total_length;
    uint16_t identification;
    uint16_t flags3_fragmentoffset13;
    uint8_t ttl;
    uint8_t protocol;
    uint16_t checksum;
    uint32_t source_address;
    uint32_t destination_address;
};
static_assert(sizeof(IPv4Header) == 20);

struct IPv6Header {
    uint32_t version4_tc8_fl20;
    uint16_t payload_length;
    uint8_t next_header;
    uint8_t hop_limit;
    uint8_t source_address[16];
    uint8_t destination_address[16];
};
static_assert(sizeof(IPv6Header) == 40);

struct UdpHeader {
    uint16_t source_port;
    uint16_t dest_port;
    uint16_t length;
    uint16_t checksum;
};
static_assert(sizeof(UdpHeader) == 8);

#define IPV4_PROTOCOL_UDP 17
#define IPV6_NEXT_UDP 17

// Each returns 1 and fills its outputs when the header is sound, else 0.
int IPv4Header_Check(const uint8_t* data, int data_len, IPv4Header* out_header, const uint8_t** out_payload,
                     int* out_payload_len);
int IPv6Header_Check(const uint8_t* data, int data_len, IPv6Header* out_header, const uint8_t** out_payload,
                     int* out_payload_len);
int UdpHeader_Check(const uint8_t* data, int data_len, UdpHeader* out_header, const uint8_t** out_payload,
                    int* out_payload_len);

// RFC 1071 checksum of the header (its checksum field as given) and options,
// in network order.
uint16_t IPv4Header_Checksum(const IPv4Header* header, const uint8_t* opts, int opts_len);

// RFC 768 / RFC 8200 checksums with the pseudo-header, in network order;
// the header's checksum field is included as the caller left it (normally 0).
// A computed 0 is returned as 0xFFFF.
uint16_t UdpChecksum_IPv4(const UdpHeader* header, const uint8_t* payload, int payload_len,
                          uint32_t source_addr, uint32_t dest_addr);
uint16_t UdpChecksum_IPv6(const UdpHeader* header, const uint8_t* payload, int payload_len,
                          const uint8_t* source_addr, const uint8_t* dest_addr);

// Sum of length/2 big-endian 16-bit words, not folded.
uint64_t Checksum_SumWords(int length, const uint8_t* data);
