#include "engine/base/packet_headers.h"

#include <arpa/inet.h>

#include <cstring>

namespace {

uint16_t Fold(uint64_t sum) {
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(sum);
}

// Sum of a byte run, the odd last byte padded with a zero byte.
uint64_t SumBytes(const uint8_t* data, int len) {
    uint64_t sum = Checksum_SumWords(len, data);
    if (len % 2) sum += static_cast<uint64_t>(data[len - 1]) << 8;
    return sum;
}

}  // namespace

uint64_t Checksum_SumWords(int length, const uint8_t* data) {
    uint64_t sum = 0;
    for (int i = 0; i + 1 < length; i += 2) sum += static_cast<uint64_t>(data[i] << 8 | data[i + 1]);
    return sum;
}

uint16_t IPv4Header_Checksum(const IPv4Header* header, const uint8_t* opts, int opts_len) {
    uint64_t sum = Checksum_SumWords(sizeof *header, reinterpret_cast<const uint8_t*>(header));
    if (opts_len > 0) sum += Checksum_SumWords(opts_len, opts);
    return htons(static_cast<uint16_t>(~Fold(sum)));
}

int IPv4Header_Check(const uint8_t* data, int data_len, IPv4Header* out_header, const uint8_t** out_payload,
                     int* out_payload_len) {
    if (!data || data_len < static_cast<int>(sizeof(IPv4Header))) return 0;
    IPv4Header h;
    std::memcpy(&h, data, sizeof h);
    if ((h.version4_ihl4 >> 4) != 4) return 0;
    int header_len = (h.version4_ihl4 & 0x0F) * 4;
    if (header_len < static_cast<int>(sizeof h) || header_len > data_len) return 0;
    int total_len = ntohs(h.total_length);
    if (total_len < header_len || total_len > data_len) return 0;

    IPv4Header zeroed = h;
    zeroed.checksum = 0;
    if (IPv4Header_Checksum(&zeroed, data + sizeof h, header_len - static_cast<int>(sizeof h)) !=
        h.checksum) {
        return 0;
    }
    *out_header = h;
    *out_payload = data + header_len;
    *out_payload_len = total_len - header_len;
    return 1;
}

int IPv6Header_Check(const uint8_t* data, int data_len, IPv6Header* out_header, const uint8_t** out_payload,
                     int* out_payload_len) {
    if (!data || data_len < static_cast<int>(sizeof(IPv6Header))) return 0;
    IPv6Header h;
    std::memcpy(&h, data, sizeof h);
    if ((data[0] >> 4) != 6) return 0;
    int payload_len = ntohs(h.payload_length);
    if (payload_len > data_len - static_cast<int>(sizeof h)) return 0;
    *out_header = h;
    *out_payload = data + sizeof h;
    *out_payload_len = payload_len;
    return 1;
}

int UdpHeader_Check(const uint8_t* data, int data_len, UdpHeader* out_header, const uint8_t** out_payload,
                    int* out_payload_len) {
    if (!data || data_len < static_cast<int>(sizeof(UdpHeader))) return 0;
    UdpHeader h;
    std::memcpy(&h, data, sizeof h);
    int udp_len = ntohs(h.length);
    if (udp_len < static_cast<int>(sizeof h) || udp_len > data_len) return 0;
    *out_header = h;
    *out_payload = data + sizeof h;
    *out_payload_len = udp_len - static_cast<int>(sizeof h);
    return 1;
}

uint16_t UdpChecksum_IPv4(const UdpHeader* header, const uint8_t* payload, int payload_len,
                          uint32_t source_addr, uint32_t dest_addr) {
    uint64_t sum = 0;
    sum += Checksum_SumWords(4, reinterpret_cast<const uint8_t*>(&source_addr));
    sum += Checksum_SumWords(4, reinterpret_cast<const uint8_t*>(&dest_addr));
    sum += IPV4_PROTOCOL_UDP;
    sum += static_cast<uint64_t>(sizeof(UdpHeader)) + static_cast<uint64_t>(payload_len);
    sum += Checksum_SumWords(sizeof *header, reinterpret_cast<const uint8_t*>(header));
    sum += SumBytes(payload, payload_len);
    uint16_t result = static_cast<uint16_t>(~Fold(sum));
    if (result == 0) result = 0xFFFF;
    return htons(result);
}

uint16_t UdpChecksum_IPv6(const UdpHeader* header, const uint8_t* payload, int payload_len,
                          const uint8_t* source_addr, const uint8_t* dest_addr) {
    uint64_t sum = 0;
    sum += Checksum_SumWords(16, source_addr);
    sum += Checksum_SumWords(16, dest_addr);
    uint64_t upper_len = static_cast<uint64_t>(sizeof(UdpHeader)) + static_cast<uint64_t>(payload_len);
    sum += (upper_len >> 16) + (upper_len & 0xFFFF);
    sum += IPV6_NEXT_UDP;
    sum += Checksum_SumWords(sizeof *header, reinterpret_cast<const uint8_t*>(header));
    sum += SumBytes(payload, payload_len);
    uint16_t result = static_cast<uint16_t>(~Fold(sum));
    if (result == 0) result = 0xFFFF;
    return htons(result);
}
