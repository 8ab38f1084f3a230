#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>

#include "proxy/socket_base.h"

int ResolveSockAddrCached(uint16_t port, sockaddr_in* out, const char* host) {
    std::memset(out, 0, sizeof *out);
    out->sin_family = AF_INET;
    out->sin_port = htons(port);
    if (host == nullptr || *host == '\0') return 0;
    if (inet_pton(AF_INET, host, &out->sin_addr) == 1) return 1;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return 0;
    out->sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return 1;
}
