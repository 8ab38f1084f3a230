#pragma once
// ICMPv6: echo replies, error messages, and the hand-off to neighbour discovery.

#include <cstdint>

#include "engine/stack/netif.h"
#include "engine/stack/pbuf.h"

#define ICMP6_TYPE_DUR 1
#define ICMP6_TYPE_PTB 2
#define ICMP6_TYPE_TE 3
#define ICMP6_TYPE_PP 4
#define ICMP6_TYPE_EREQ 128
#define ICMP6_TYPE_EREP 129
#define ICMP6_TYPE_RS 133
#define ICMP6_TYPE_RA 134
#define ICMP6_TYPE_NS 135
#define ICMP6_TYPE_NA 136
#define ICMP6_TYPE_RD 137

#define ICMP6_PP_HEADER 1  // unrecognised next header
#define ICMP6_TE_FRAG 1    // fragment reassembly time exceeded

// `p` starts at the ICMPv6 header; the IPv6 header is in ip_data.
void icmp6_input_dispatch(pbuf* p, netif* inp);
// `p` starts at the offending packet's IPv6 header and stays the caller's.
void icmp6_send_response(pbuf* p, uint8_t code, uint32_t data, uint8_t type);
inline void icmp6_param_problem(pbuf* p, uint8_t code, uint32_t pointer) {
    icmp6_send_response(p, code, pointer, ICMP6_TYPE_PP);
}
