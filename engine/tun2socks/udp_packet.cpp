#include "engine/tun2socks/udp_packet.h"

#include <arpa/inet.h>

#include <cstring>

#include "engine/base/packet_headers.h"

namespace {

constexpr uint16_t kMoreFragments = 0x2000;
constexpr uint16_t kFragmentOffset = 0x1FFF;

}  // namespace

int UdpPacket_ParseDevice(const uint8_t* data, int len, int ipv6_enabled, DeviceUdpDatagram* out) {
    int version = len > 0 ? data[0] >> 4 : 0;
    const uint8_t* ip_payload;
    int ip_payload_len;
    UdpHeader udp;
    const uint8_t* udp_payload;
    int udp_payload_len;
    if (version == 4) {
        if (len < static_cast<int>(sizeof(IPv4Header)) || data[9] != IPV4_PROTOCOL_UDP) return 0;
        IPv4Header ip;
        if (!IPv4Header_Check(data, len, &ip, &ip_payload, &ip_payload_len)) return 0;
        if (ntohs(ip.flags3_fragmentoffset13) & (kMoreFragments | kFragmentOffset)) return 0;
        if (!UdpHeader_Check(ip_payload, ip_payload_len, &udp, &udp_payload, &udp_payload_len)) return 0;
        if (udp.checksum != 0) {
            UdpHeader zeroed = udp;
            zeroed.checksum = 0;
            if (UdpChecksum_IPv4(&zeroed, udp_payload, udp_payload_len, ip.source_address,
                                 ip.destination_address) != udp.checksum) {
                return 0;
            }
        }
        BAddr_InitIPv4(&out->local_addr, ip.source_address, udp.source_port);
        BAddr_InitIPv4(&out->remote_addr, ip.destination_address, udp.dest_port);
    } else if (version == 6 && ipv6_enabled) {
        if (len < static_cast<int>(sizeof(IPv6Header)) || data[6] != IPV6_NEXT_UDP) return 0;
        IPv6Header ip;
        if (!IPv6Header_Check(data, len, &ip, &ip_payload, &ip_payload_len)) return 0;
        if (!UdpHeader_Check(ip_payload, ip_payload_len, &udp, &udp_payload, &udp_payload_len)) return 0;
        // The checksum is mandatory in IPv6; a computed one is never 0.
        UdpHeader zeroed = udp;
        zeroed.checksum = 0;
        if (UdpChecksum_IPv6(&zeroed, udp_payload, udp_payload_len, ip.source_address,
                             ip.destination_address) != udp.checksum) {
            return 0;
        }
        BAddr_InitIPv6(&out->local_addr, ip.source_address, udp.source_port);
        BAddr_InitIPv6(&out->remote_addr, ip.destination_address, udp.dest_port);
    } else {
        return 0;
    }
    out->data = udp_payload;
    out->data_len = udp_payload_len;
    return 1;
}

namespace {

// The UDP header and payload behind an IP header; the checksum is left to the caller.
UdpHeader WriteUdp(uint8_t* out, const BAddr* local_addr, const BAddr* remote_addr, const uint8_t* data,
                   int data_len) {
    UdpHeader udp;
    udp.source_port = BAddr_GetPort(remote_addr);
    udp.dest_port = BAddr_GetPort(local_addr);
    udp.length = htons(static_cast<uint16_t>(sizeof udp + data_len));
    udp.checksum = 0;
    if (data_len > 0) std::memcpy(out + sizeof udp, data, static_cast<size_t>(data_len));
    return udp;
}

}  // namespace

int UdpPacket_BuildIPv4(uint8_t* out, const BAddr* local_addr, const BAddr* remote_addr, const uint8_t* data,
                        int data_len) {
    IPv4Header ip;
    ip.version4_ihl4 = 0x45;
    ip.ds = 0;
    ip.total_length = htons(static_cast<uint16_t>(UDP_PACKET_IPV4_OVERHEAD + data_len));
    ip.identification = 0;
    ip.flags3_fragmentoffset13 = 0;
    ip.ttl = 64;
    ip.protocol = IPV4_PROTOCOL_UDP;
    ip.checksum = 0;
    ip.source_address = remote_addr->ipv4.ip;
    ip.destination_address = local_addr->ipv4.ip;
    ip.checksum = IPv4Header_Checksum(&ip, nullptr, 0);
    std::memcpy(out, &ip, sizeof ip);

    uint8_t* udp_at = out + sizeof ip;
    UdpHeader udp = WriteUdp(udp_at, local_addr, remote_addr, data, data_len);
    udp.checksum =
        UdpChecksum_IPv4(&udp, udp_at + sizeof udp, data_len, ip.source_address, ip.destination_address);
    std::memcpy(udp_at, &udp, sizeof udp);
    return UDP_PACKET_IPV4_OVERHEAD + data_len;
}

int UdpPacket_BuildIPv6(uint8_t* out, const BAddr* local_addr, const BAddr* remote_addr, const uint8_t* data,
                        int data_len) {
    IPv6Header ip;
    ip.version4_tc8_fl20 = htonl(0x60000000U);
    ip.payload_length = htons(static_cast<uint16_t>(sizeof(UdpHeader) + data_len));
    ip.next_header = IPV6_NEXT_UDP;
    ip.hop_limit = 64;
    std::memcpy(ip.source_address, remote_addr->ipv6.ip, 16);
    std::memcpy(ip.destination_address, local_addr->ipv6.ip, 16);
    std::memcpy(out, &ip, sizeof ip);

    uint8_t* udp_at = out + sizeof ip;
    UdpHeader udp = WriteUdp(udp_at, local_addr, remote_addr, data, data_len);
    udp.checksum =
        UdpChecksum_IPv6(&udp, udp_at + sizeof udp, data_len, ip.source_address, ip.destination_address);
    std::memcpy(udp_at, &udp, sizeof udp);
    return UDP_PACKET_IPV6_OVERHEAD + data_len;
}
