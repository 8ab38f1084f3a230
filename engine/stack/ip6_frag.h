#pragma once
// IPv6 fragment reassembly.

#include <cstdint>

#include "engine/stack/ip_addr.h"
#include "engine/stack/opt.h"
#include "engine/stack/pbuf.h"

struct ip6_reass_frag {
    pbuf* p;         // payload at the fragment's IPv6 header
    uint16_t start;  // offset of its data in the datagram
    uint16_t end;
    uint16_t hdr_len;  // IPv6 header and unfragmentable headers before the fragment header
    uint16_t nexth_off;
};

struct ip6_reassdata {
    ip6_reassdata* next;
    ip6_addr_t src;
    ip6_addr_t dest;
    uint32_t identification;
    uint16_t datagram_len;
    uint8_t flags;  // bit 0: last fragment seen
    uint8_t timer;
    uint8_t nfrags;
    ip6_reass_frag frags[IP6_REASS_MAX_PBUFS];  // sorted by start
};

extern uint16_t ip6_reass_pbufcount;

// `p` starts at the fragment header; `hdr_off` bytes of headers lie before it in the
// first buffer, and the byte at `nexth_off` names the fragment header. Returns the
// whole datagram (at its IPv6 header) once complete.
pbuf* ip6_reass(pbuf* p, uint16_t hdr_off, uint16_t nexth_off);
void ip6_reass_free_all();
