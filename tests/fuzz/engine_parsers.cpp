// Untrusted text and packets through the engine's parsers: the first byte
// picks the parser, the rest is its input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/base/baddr.h"
#include "engine/base/packet_headers.h"
#include "engine/socksclient/udpgw_proto.h"
#include "engine/tuntap/btap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t* in = data + 1;
    int len = static_cast<int>(size - 1);
    std::string text(reinterpret_cast<const char*>(in), static_cast<size_t>(len));
    switch (data[0] % 8) {
        case 0: {
            IPv4Header h;
            const uint8_t* p;
            int pl;
            if (IPv4Header_Check(in, len, &h, &p, &pl)) {
                UdpHeader u;
                const uint8_t* b;
                int bl;
                if (UdpHeader_Check(p, pl, &u, &b, &bl)) {
                    UdpChecksum_IPv4(&u, b, bl, h.source_address, h.destination_address);
                }
            }
            break;
        }
        case 1: {
            IPv6Header h;
            const uint8_t* p;
            int pl;
            if (IPv6Header_Check(in, len, &h, &p, &pl)) {
                UdpHeader u;
                const uint8_t* b;
                int bl;
                if (UdpHeader_Check(p, pl, &u, &b, &bl)) {
                    UdpChecksum_IPv6(&u, b, bl, h.source_address, h.destination_address);
                }
            }
            break;
        }
        case 2: {
            BAddr a;
            if (BAddr_Parse2(text.c_str(), &a, 1)) {
                char buf[BADDR_MAX_PRINT_LEN];
                BAddr_ToText(&a, buf);
            }
            break;
        }
        case 3: {
            uint8_t out[16];
            IPv6Text_Parse(text.data(), text.size(), out);
            break;
        }
        case 4: {
            uint8_t out[4];
            tap_parse_ipv4(text.data(), text.size(), out);
            break;
        }
        case 5: {
            char* fields[5];
            if (split_spec(5, text.c_str(), fields)) {
                for (char* f : fields) std::free(f);
            }
            break;
        }
        case 6: {
            UdpGwHeader h;
            BAddr a;
            const uint8_t* p;
            int pl;
            UdpGw_ParsePacket(in, len, &h, &a, &p, &pl);
            break;
        }
        default: {
            BIPAddr ip;
            BIPAddr_Resolve(text.c_str(), &ip, 1);
            break;
        }
    }
    return 0;
}
