// What a ShadowsocksR server (or anyone on the path) sends back: bytes for
// each obfuscation's decode and each protocol's download and UDP checks, cut
// into pieces the input chooses, after a first upload as a real connection
// makes. Nothing may crash, read out of bounds or grow without limit.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ciphers/plugins/auth_data.h"
#include "ciphers/plugins/obfs_factory.h"
#include "foundation/private_heap.h"

namespace {

const char* const kNames[] = {"plain", "http_simple", "http_post", "random_head", "tls1.2_ticket_auth",
                              "tls1.2_ticket_fastauth", "origin", "auth_sha1_v4", "auth_aes128_md5",
                              "auth_aes128_sha1", "auth_chain_a", "auth_chain_b"};

unsigned char* Copy(const uint8_t* p, size_t n) {
    auto* b = static_cast<unsigned char*>(PrivateHeapAlloc(n ? n : 1));
    if (n) std::memcpy(b, p, n);
    return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    auto plugin = CreateObfs(kNames[data[0] % 12], data[1] & 1 ? "12:pw" : "");
    if (!plugin) std::abort();
    SSRServerInfo info;
    info.host = "h.example";
    info.port = 443;
    info.ivLength = 16;
    info.keyLength = 32;
    info.sharedData = CAuthData::GetInstance();
    info.headLength = 7;
    info.overhead = 4;
    info.bufferSize = 65507;
    plugin->SetServerInfo(info);

    // A first upload through both steps, as the connection makes before it reads.
    const uint8_t first[] = {1, 127, 0, 0, 1, 0, 80, 'h', 'i'};
    unsigned char* buf = Copy(first, sizeof(first));
    int out = 0;
    plugin->ClientPreEncrypt(&buf, sizeof(first), &out);
    plugin->ClientEncode(&buf, out, out, &out);
    PrivateHeapFree(buf);

    const uint8_t* p = data + 2;
    size_t left = size - 2;
    const bool udp = data[1] & 2;
    while (left > 0) {
        const size_t n = std::min<size_t>(left, 1 + (p[0] * 37u) % 3000);
        buf = Copy(p, n);
        int sendBack = 0;
        int ok;
        if (udp)
            ok = plugin->ClientUdpPostDecrypt(&buf, static_cast<int>(n), &out);
        else if (plugin->ClientDecode(&buf, static_cast<int>(n), static_cast<int>(n), &out, &sendBack))
            ok = plugin->ClientPostDecrypt(&buf, out, &out);
        else
            ok = 0;
        if (sendBack) {
            unsigned char* empty = static_cast<unsigned char*>(PrivateHeapAlloc(1));
            int sent = 0;
            plugin->ClientEncode(&empty, 0, 0, &sent);
            PrivateHeapFree(empty);
        }
        PrivateHeapFree(buf);
        if (!ok && !udp) break;
        p += n;
        left -= n;
    }
    return 0;
}
