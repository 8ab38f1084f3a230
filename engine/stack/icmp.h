#pragma once
// ICMP: echo replies and the two error messages the stack sends.

#include <cstdint>

#include "engine/stack/netif.h"
#include "engine/stack/pbuf.h"

#define ICMP_ER 0    // echo reply
#define ICMP_DUR 3   // destination unreachable
#define ICMP_ECHO 8  // echo request
#define ICMP_TE 11   // time exceeded

#define ICMP_DUR_PROTO 2  // protocol unreachable
#define ICMP_TE_FRAG 1    // fragment reassembly time exceeded

struct __attribute__((packed)) icmp_echo_hdr {
    uint8_t type;
    uint8_t code;
    uint16_t chksum;
    uint16_t id;
    uint16_t seqno;
};

// `p` starts after the IP header, which ip_data describes.
void icmp_input(pbuf* p, netif* inp);
// `p` starts at the offending packet's IP header; it stays the caller's.
void icmp_send_response(pbuf* p, uint8_t type, uint8_t code);
inline void icmp_dest_unreach(pbuf* p, uint8_t code) {
    icmp_send_response(p, ICMP_DUR, code);
}
inline void icmp_time_exceeded(pbuf* p, uint8_t code) {
    icmp_send_response(p, ICMP_TE, code);
}
