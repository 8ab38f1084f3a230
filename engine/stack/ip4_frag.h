#pragma once
// IPv4 fragment reassembly and fragmentation of oversized output.

#include <cstdint>

#include "engine/stack/ip4.h"
#include "engine/stack/opt.h"

#define IP_REASS_FLAG_LASTFRAG 0x01

// One datagram being reassembled.
struct ip_reassdata {
    ip_reassdata* next;
    pbuf* p;       // held fragments sorted by offset
    ip_hdr iphdr;  // the first fragment's header once it arrived
    uint16_t datagram_len;
    uint8_t flags;
    uint8_t timer;
};

extern uint16_t ip_reass_pbufcount;

// Takes a fragment with its IP header exposed; returns the whole datagram once complete.
pbuf* ip_reassemble(pbuf* p);
err_t ip_frag(pbuf* p, netif* netif, const ip4_addr_t* dest);
// Releases every held datagram without any message (stack teardown).
void ip_reass_free_all();
