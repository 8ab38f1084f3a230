#include <arpa/inet.h>

#include <cstring>
#include <string>

#include "netconfig/host_cache.h"
#include "proxy/socket_base.h"

int ResolveSockAddrCached(uint16_t port, sockaddr_in* out, const char* host) {
    std::memset(out, 0, sizeof *out);
    out->sin_family = AF_INET;
    out->sin_port = htons(port);
    if (host == nullptr || *host == '\0') return 0;
    if (inet_pton(AF_INET, host, &out->sin_addr) == 1) return 1;
    std::string address;
    if (!ResolveHostCached(host, &address)) return 0;
    return inet_pton(AF_INET, address.c_str(), &out->sin_addr) == 1 ? 1 : 0;
}
