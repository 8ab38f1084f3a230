// Packets from the TUN device through the engine core's own parsing: the UDP
// datagram check (and the packet built for an answer to it), and the joining
// of TCP segments for the device. The first byte picks, the rest is input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/tun2socks/tcp_batch.h"
#include "engine/tun2socks/udp_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t* in = data + 1;
    int len = static_cast<int>(size - 1);
    if (data[0] % 2 == 0) {
        DeviceUdpDatagram d;
        if (UdpPacket_ParseDevice(in, len, data[0] & 2, &d)) {
            std::vector<uint8_t> out(UDP_PACKET_IPV6_OVERHEAD + static_cast<size_t>(d.data_len));
            if (d.local_addr.type == BADDR_TYPE_IPV4) {
                UdpPacket_BuildIPv4(out.data(), &d.local_addr, &d.remote_addr, d.data, d.data_len);
            } else {
                UdpPacket_BuildIPv6(out.data(), &d.local_addr, &d.remote_addr, d.data, d.data_len);
            }
        }
        return 0;
    }
    // A series of packets, each behind a 2-byte length.
    TcpBatch batch;
    if (!TcpBatch_Init(&batch)) return 0;
    int segments, segment_size;
    for (int at = 0; at + 2 <= len;) {
        int n = (in[at] << 8) | in[at + 1];
        at += 2;
        if (n > len - at) n = len - at;
        const uint8_t* p = in + at;
        at += n;
        if (!TcpBatch_Eligible(p, n)) continue;
        if (!TcpBatch_Add(&batch, p, n)) {
            TcpBatch_Finish(&batch, &segments, &segment_size);
            TcpBatch_Add(&batch, p, n);
        }
    }
    TcpBatch_Finish(&batch, &segments, &segment_size);
    TcpBatch_Free(&batch);
    return 0;
}
