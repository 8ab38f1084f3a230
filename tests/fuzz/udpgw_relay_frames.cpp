// An engine's udpgw stream of arbitrary bytes, delivered in pieces whose
// sizes the input also chooses, through the relay loop's frame reader and
// session table.
#include <cstddef>
#include <cstdint>
#include <vector>
#include <algorithm>

#include "proxy/local_proxy_settings.h"
#include "proxy/udp_relay_s45.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    SetRelayRunningFlag(true);
    // No client: the loop parses and keeps sessions, but runs no job.
    CS45TCPUDPMainLoop loop(nullptr);
    size_t chunk = 1 + data[0] % 64;
    std::vector<uint8_t> pending;
    for (size_t at = 1; at < size; at += chunk) {
        size_t n = std::min(chunk, size - at);
        pending.insert(pending.end(), data + at, data + at + n);
        int used = loop.ParseUdpGwFrames(pending.data(), static_cast<int>(pending.size()));
        if (used < 0 || static_cast<size_t>(used) > pending.size()) __builtin_trap();
        pending.erase(pending.begin(), pending.begin() + used);
    }
    return 0;
}
