#pragma once
// Internet checksums (RFC 1071). Results are in network byte order: stored as
// they are into a header field; an intact packet sums to 0.

#include <cstddef>
#include <cstdint>

#include "engine/stack/ip_addr.h"
#include "engine/stack/pbuf.h"

// One's-complement sum of the bytes as 16-bit words in memory order, folded, not inverted.
uint16_t lwip_standard_chksum(const void* data, size_t len);

uint16_t inet_chksum(const void* data, uint16_t len);
uint16_t inet_chksum_pbuf(const pbuf* p);
uint16_t inet_chksum_pseudo(const pbuf* p, uint8_t proto, uint16_t proto_len, const ip4_addr_t* src,
                            const ip4_addr_t* dest);
uint16_t ip6_chksum_pseudo(const pbuf* p, uint8_t proto, uint16_t proto_len, const ip6_addr_t* src,
                           const ip6_addr_t* dest);
uint16_t ipX_chksum_pseudo(bool isipv6, const pbuf* p, uint8_t proto, uint16_t proto_len,
                           const ipX_addr_t* src, const ipX_addr_t* dest);
