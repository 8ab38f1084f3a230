#pragma once
// Packet buffers: small chainable, reference-counted records. One chain is
// one packet; every buffer's tot_len is its own len plus the rest of the chain.

#include <cstdint>

#include "engine/stack/err.h"

// Header room reserved in front of the payload (rounded up to 4 by pbuf_alloc).
#define PBUF_LINK_HLEN 14
#define PBUF_IP_HLEN 40
#define PBUF_TRANSPORT_HLEN 20

// Data bytes of one pool-chain buffer: 1460 MSS + 40 IP and TCP + 14 link, rounded up to 4.
#define PBUF_POOL_BUFSIZE 1516
// Capacities of the two block sizes behind heap buffers and pool chains.
#define PBUF_SMALL_BUFSIZE 128
#define PBUF_BIG_BUFSIZE 1536

enum pbuf_layer {
    PBUF_TRANSPORT,  // 74 bytes of header room
    PBUF_IP,         // 54
    PBUF_LINK,       // 14
    PBUF_RAW,        // 0
};

enum pbuf_type : uint8_t {
    PBUF_RAM = 0,   // heap buffer: record, header room and data in one block
    PBUF_ROM = 1,   // read-only reference to memory the stack does not own
    PBUF_REF = 2,   // reference, also the base of custom buffers
    PBUF_POOL = 3,  // chain of fixed-size blocks
};

#define PBUF_FLAG_PUSH 0x01U
#define PBUF_FLAG_IS_CUSTOM 0x02U
#define PBUF_FLAG_TCP_FIN 0x20U
// A packet the device's kernel made itself (a TCP burst joined into one
// segment): its checksum field is left unfilled and is not checked.
#define PBUF_FLAG_CHECKSUM_TRUSTED 0x40U

struct pbuf {
    pbuf* next;
    void* payload;
    uint16_t tot_len;
    uint16_t len;
    uint8_t type;
    uint8_t flags;
    uint16_t ref;
    uint8_t mem;  // which allocator the record came from (internal)
};

typedef void (*pbuf_free_custom_fn)(pbuf* p);

// A reference buffer released through its own function instead of the pool.
struct pbuf_custom {
    struct pbuf pbuf;
    pbuf_free_custom_fn custom_free_function;
};

// A custom buffer that mirrors part of another buffer, on which it holds a reference.
struct pbuf_custom_ref {
    pbuf_custom pc;
    struct pbuf* original;
};

pbuf* pbuf_alloc(pbuf_layer layer, uint16_t length, pbuf_type type);
void pbuf_realloc(pbuf* p, uint16_t new_len);
uint8_t pbuf_header(pbuf* p, int16_t header_size_increment);
int pbuf_free(pbuf* p);
void pbuf_ref(pbuf* p);
uint16_t pbuf_clen(const pbuf* p);
void pbuf_cat(pbuf* head, pbuf* tail);
err_t pbuf_copy(pbuf* p_to, const pbuf* p_from);
uint16_t pbuf_copy_partial(const pbuf* p, void* dataptr, uint16_t len, uint16_t offset);
err_t pbuf_take(pbuf* buf, const void* dataptr, uint16_t len);

// A custom reference buffer record (from the record pool) and its release.
pbuf_custom_ref* pbuf_custom_ref_alloc();
void pbuf_custom_ref_free(pbuf_custom_ref* p);
