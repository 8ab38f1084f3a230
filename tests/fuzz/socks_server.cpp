// Whatever a local client sends, the SOCKS server side must not crash or
// read past its input, must answer only with whole replies, and may hand on
// a request only with a destination the upstream side can use safely.

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "proxy/local_proxy_settings.h"
#include "proxy/socks_client.h"
#include "tests/proxy/socks_probe.h"

namespace {

bool IsDotted(const std::string& host) {
    in_addr a{};
    return inet_pton(AF_INET, host.c_str(), &a) == 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
    // All of the input is queued, then the client stops sending: no read waits.
    size_t at = 0;
    while (at < size) {
        ssize_t n = send(fds[0], data + at, size - at, MSG_NOSIGNAL);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
    }
    shutdown(fds[0], SHUT_WR);

    static const char* const kUsers[] = {"", "u"};
    const char* user = size > 0 && (data[size - 1] & 1) ? kUsers[1] : kUsers[0];
    proxytest::CSocksProbe probe(fds[1], user, user);
    int result = probe.Run();
    if (result != 0 && result != 1) std::abort();
    if (probe.notes.rfind("connect ", 0) == 0) {
        const std::string& host = probe.GetDestinationHost();
        if (probe.GetDestinationPort() == 0) std::abort();
        if (probe.GetAddressType() == 1 && !IsDotted(host)) std::abort();
        if (probe.GetAddressType() == 3 && !IsValidDestinationName(host)) std::abort();
    }

    // Replies come in whole units: 2-byte greeting and status answers, then
    // one 10-byte SOCKS 5 or 8-byte SOCKS 4 reply.
    std::string replies;
    char buf[4096];
    ssize_t n;
    while ((n = recv(fds[0], buf, sizeof buf, MSG_DONTWAIT)) > 0) replies.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    size_t len = replies.size();
    if (len != 0 && len != 2 && len != 4 && len != 8 && len != 10 && len != 12 && len != 14) std::abort();
    return 0;
}
