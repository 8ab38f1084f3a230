#include "engine/stack/inet_chksum.h"

#include <cstring>

namespace {

uint32_t Fold(uint64_t sum) {
    while (sum >> 16) sum = (sum & 0xffffU) + (sum >> 16);
    return static_cast<uint32_t>(sum);
}

uint16_t Swap(uint32_t v) {
    return static_cast<uint16_t>(((v & 0xffU) << 8) | ((v >> 8) & 0xffU));
}

// Sum of a chain, each buffer's partial sum byte-swapped when it starts at an
// odd offset of the packet, so the split into buffers never changes the result.
uint64_t ChainSum(const pbuf* p) {
    uint64_t acc = 0;
    bool odd = false;
    for (; p != nullptr; p = p->next) {
        uint32_t part = lwip_standard_chksum(p->payload, p->len);
        acc += odd ? Swap(part) : part;
        if (p->len & 1U) odd = !odd;
    }
    return acc;
}

uint16_t Finish(uint64_t acc) {
    return static_cast<uint16_t>(~Fold(acc) & 0xffffU);
}

}  // namespace

uint16_t lwip_standard_chksum(const void* data, size_t len) {
    const auto* b = static_cast<const uint8_t*>(data);
    uint64_t sum = 0;
    while (len >= 8) {
        uint64_t v;
        std::memcpy(&v, b, 8);
        sum += (v & 0xffffffffU) + (v >> 32);
        b += 8;
        len -= 8;
    }
    while (len >= 2) {
        uint16_t w;
        std::memcpy(&w, b, 2);
        sum += w;
        b += 2;
        len -= 2;
    }
    if (len) {
        uint8_t last[2] = {*b, 0};
        uint16_t w;
        std::memcpy(&w, last, 2);
        sum += w;
    }
    return static_cast<uint16_t>(Fold(sum));
}

uint16_t inet_chksum(const void* data, uint16_t len) {
    return Finish(lwip_standard_chksum(data, len));
}

uint16_t inet_chksum_pbuf(const pbuf* p) {
    return Finish(ChainSum(p));
}

uint16_t inet_chksum_pseudo(const pbuf* p, uint8_t proto, uint16_t proto_len, const ip4_addr_t* src,
                            const ip4_addr_t* dest) {
    uint64_t acc = ChainSum(p);
    acc += (src->addr & 0xffffU) + (src->addr >> 16);
    acc += (dest->addr & 0xffffU) + (dest->addr >> 16);
    acc += htons(proto);
    acc += htons(proto_len);
    return Finish(acc);
}

uint16_t ip6_chksum_pseudo(const pbuf* p, uint8_t proto, uint16_t proto_len, const ip6_addr_t* src,
                           const ip6_addr_t* dest) {
    uint64_t acc = ChainSum(p);
    for (int i = 0; i < 4; ++i) {
        acc += (src->addr[i] & 0xffffU) + (src->addr[i] >> 16);
        acc += (dest->addr[i] & 0xffffU) + (dest->addr[i] >> 16);
    }
    acc += htons(proto);
    acc += htons(proto_len);
    return Finish(acc);
}

uint16_t ipX_chksum_pseudo(bool isipv6, const pbuf* p, uint8_t proto, uint16_t proto_len,
                           const ipX_addr_t* src, const ipX_addr_t* dest) {
    return isipv6 ? ip6_chksum_pseudo(p, proto, proto_len, &src->ip6, &dest->ip6)
                  : inet_chksum_pseudo(p, proto, proto_len, &src->ip4, &dest->ip4);
}
