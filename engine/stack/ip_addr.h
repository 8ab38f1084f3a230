#pragma once
// Address values of the stack, all in network byte order.

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>

struct ip4_addr_t {
    uint32_t addr;
};

struct ip6_addr_t {
    uint32_t addr[4];
};

// An IPv4 or IPv6 address in 16 bytes; IPv4 sits in the first 4, the rest zero.
union ipX_addr_t {
    ip4_addr_t ip4;
    ip6_addr_t ip6;
};

inline ip4_addr_t ip4_addr_make(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return ip4_addr_t{htonl((uint32_t(a) << 24) | (uint32_t(b) << 16) | (uint32_t(c) << 8) | d)};
}
inline bool ip4_addr_isany(const ip4_addr_t* a) {
    return a == nullptr || a->addr == 0;
}
inline bool ip4_addr_ismulticast(const ip4_addr_t* a) {
    return (ntohl(a->addr) & 0xf0000000U) == 0xe0000000U;
}
inline bool ip4_addr_netcmp(const ip4_addr_t* a, const ip4_addr_t* b, const ip4_addr_t* mask) {
    return (a->addr & mask->addr) == (b->addr & mask->addr);
}

inline bool ip6_addr_cmp(const ip6_addr_t* a, const ip6_addr_t* b) {
    return a->addr[0] == b->addr[0] && a->addr[1] == b->addr[1] && a->addr[2] == b->addr[2] &&
           a->addr[3] == b->addr[3];
}
inline bool ip6_addr_isany(const ip6_addr_t* a) {
    return a == nullptr || (a->addr[0] | a->addr[1] | a->addr[2] | a->addr[3]) == 0;
}
inline bool ip6_addr_netcmp(const ip6_addr_t* a, const ip6_addr_t* b) {  // same /64
    return a->addr[0] == b->addr[0] && a->addr[1] == b->addr[1];
}
inline uint8_t ip6_addr_byte(const ip6_addr_t* a, int i) {
    return reinterpret_cast<const uint8_t*>(a->addr)[i];
}
inline bool ip6_addr_ismulticast(const ip6_addr_t* a) {
    return ip6_addr_byte(a, 0) == 0xff;
}
inline bool ip6_addr_islinklocal(const ip6_addr_t* a) {
    return (ntohl(a->addr[0]) & 0xffc00000U) == 0xfe800000U;
}
inline bool ip6_addr_issitelocal(const ip6_addr_t* a) {
    return (ntohl(a->addr[0]) & 0xffc00000U) == 0xfec00000U;
}
inline bool ip6_addr_isuniquelocal(const ip6_addr_t* a) {
    return (ntohl(a->addr[0]) & 0xfe000000U) == 0xfc000000U;
}
inline bool ip6_addr_isglobal(const ip6_addr_t* a) {
    return (ntohl(a->addr[0]) & 0xe0000000U) == 0x20000000U;
}
inline uint8_t ip6_multicast_scope(const ip6_addr_t* a) {
    return ip6_addr_byte(a, 1) & 0x0f;
}
inline ip6_addr_t ip6_addr_make(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return ip6_addr_t{{htonl(a), htonl(b), htonl(c), htonl(d)}};
}

inline void ipX_addr_set_ip4(ipX_addr_t* dst, const ip4_addr_t* src) {
    std::memset(dst, 0, sizeof(*dst));
    if (src != nullptr) dst->ip4 = *src;
}
inline bool ipX_addr_cmp(const ipX_addr_t* a, const ipX_addr_t* b) {
    return ip6_addr_cmp(&a->ip6, &b->ip6);
}
inline bool ipX_addr_isany(bool isipv6, const ipX_addr_t* a) {
    return isipv6 ? ip6_addr_isany(&a->ip6) : ip4_addr_isany(&a->ip4);
}
