#include "engine/socksclient/udpgw_proto.h"

#include <climits>
#include <cstring>

int UdpGw_PacketMtu(int udp_mtu) {
    constexpr int kOverhead = UDPGW_HEADER_LEN + UDPGW_IPV6_ADDR_LEN;
    if (udp_mtu < 0 || udp_mtu > INT_MAX - kOverhead) return -1;
    return udp_mtu + kOverhead;
}

int UdpGw_WriteHeader(uint8_t* out, uint8_t flags, uint16_t conid, const BAddr* addr) {
    bool v6 = addr->type == BADDR_TYPE_IPV6;
    out[0] = static_cast<uint8_t>(flags | (v6 ? UDPGW_CLIENT_FLAG_IPV6 : 0));
    out[1] = static_cast<uint8_t>(conid & 0xFF);
    out[2] = static_cast<uint8_t>(conid >> 8);
    if (v6) {
        std::memcpy(out + 3, addr->ipv6.ip, 16);
        std::memcpy(out + 19, &addr->ipv6.port, 2);
        return UDPGW_HEADER_LEN + UDPGW_IPV6_ADDR_LEN;
    }
    std::memcpy(out + 3, &addr->ipv4.ip, 4);
    std::memcpy(out + 7, &addr->ipv4.port, 2);
    return UDPGW_HEADER_LEN + UDPGW_IPV4_ADDR_LEN;
}

int UdpGw_ParsePacket(const uint8_t* data, int len, UdpGwHeader* header, BAddr* addr, const uint8_t** payload,
                      int* payload_len) {
    if (len < UDPGW_HEADER_LEN) return UDPGW_PARSE_MISSING_HEADER;
    header->flags = data[0];
    header->conid = static_cast<uint16_t>(data[1] | (data[2] << 8));
    const uint8_t* rest = data + UDPGW_HEADER_LEN;
    int rest_len = len - UDPGW_HEADER_LEN;
    if (header->flags & UDPGW_CLIENT_FLAG_IPV6) {
        if (rest_len < UDPGW_IPV6_ADDR_LEN) return UDPGW_PARSE_MISSING_IPV6;
        uint16_t port;
        std::memcpy(&port, rest + 16, 2);
        BAddr_InitIPv6(addr, rest, port);
        *payload = rest + UDPGW_IPV6_ADDR_LEN;
        *payload_len = rest_len - UDPGW_IPV6_ADDR_LEN;
    } else {
        if (rest_len < UDPGW_IPV4_ADDR_LEN) return UDPGW_PARSE_MISSING_IPV4;
        uint32_t ip;
        uint16_t port;
        std::memcpy(&ip, rest, 4);
        std::memcpy(&port, rest + 4, 2);
        BAddr_InitIPv4(addr, ip, port);
        *payload = rest + UDPGW_IPV4_ADDR_LEN;
        *payload_len = rest_len - UDPGW_IPV4_ADDR_LEN;
    }
    return UDPGW_PARSE_OK;
}
