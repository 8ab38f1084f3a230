#include "proxy/node_connect.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "proxy/local_proxy_settings.h"
#include "proxy/service_stop.h"
#include "proxy/socket_base.h"
#include "proxy/test_stop.h"

int ConnectSocketTo(const sockaddr_in& to, bool udp, bool nonBlocking, int* elapsedMs, int waitSeconds) {
    int s = socket(AF_INET, (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    // A node test being stopped shuts it down, ending the connect's wait.
    TrackTestSocket(s);
    if (nonBlocking && !SetSocketBlocking(s, false)) {
        CloseSocket(s);
        return -1;
    }
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (bind(s, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        CloseSocket(s);
        return -1;
    }
    auto start = std::chrono::steady_clock::now();
    if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        if (!(errno == EINPROGRESS && nonBlocking && WaitSocketReady(s, waitSeconds) == 0)) {
            CloseSocket(s);
            return -1;
        }
    }
    auto took = std::chrono::steady_clock::now() - start;
    if (elapsedMs)
        *elapsedMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
    if (nonBlocking) SetSocketBlocking(s, true);
    if (!udp) SetNoDelay(s);
    return s;
}

int ConnectNodeServer(const NodeFields& fields, CNodeInfo* node, bool udp, bool nonBlocking,
                      sockaddr_in* out) {
    int retries = GetLocalProxySettings().nodeConnectAttempts.load();
    for (int attempt = 1;; ++attempt) {
        if (node) node->CountConnectAttempt();
        sockaddr_in to{};
        int s = -1;
        int elapsed = 0;
        if (ResolveSockAddrCached(fields.port, &to, fields.GetConnectAddress().c_str())) {
            if (out) *out = to;
            s = ConnectSocketTo(to, udp, nonBlocking, &elapsed);
        }
        if (s >= 0) {
            if (node) node->latency.store(elapsed > 0 ? static_cast<uint32_t>(elapsed) : 1u);
            return s;
        }
        if (node) node->CountFailedAttempt();
        if (attempt > retries || (ServiceStopFdForThread() >= 0 && IsServiceStopping())) return -1;
    }
}
