#pragma once
// Small socket helpers for the local proxy service's tests.

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "tests/support/net.h"

namespace proxytest {

// Both ends of one TCP connection on 127.0.0.1.
struct TcpPair {
    int client = -1;  // the side the test drives
    int server = -1;  // the accepted side, handed to the code under test
};

inline TcpPair MakeTcpPair() {
    TcpPair pair;
    int port = 0;
    int listener = testsupport::ListenLoopback(&port);
    if (listener < 0) return pair;
    pair.client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(pair.client, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        pair.server = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    }
    close(listener);
    return pair;
}

inline int ConnectLoopback(int port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(s);
        return -1;
    }
    return s;
}

inline bool SendText(int s, const std::string& data) {
    for (size_t sent = 0; sent < data.size();) {
        ssize_t n = send(s, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Reads until `n` bytes arrived, the peer closed, or `ms` passed.
inline std::string ReadBytes(int s, size_t n, int ms = 5000) {
    std::string out;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < n) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) break;
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) != 1) break;
        char buf[65536];
        ssize_t got = recv(s, buf, std::min(sizeof buf, n - out.size()), 0);
        if (got <= 0) break;
        out.append(buf, static_cast<size_t>(got));
    }
    return out;
}

// Everything until the peer closes (or `ms` passes); *closed tells which.
inline std::string ReadToEnd(int s, bool* closed = nullptr, int ms = 10000) {
    std::string out;
    if (closed) *closed = false;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) return out;
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) != 1) return out;
        char buf[65536];
        ssize_t got = recv(s, buf, sizeof buf, 0);
        if (got <= 0) {
            if (closed) *closed = true;
            return out;
        }
        out.append(buf, static_cast<size_t>(got));
    }
}

inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline int CountEntries(const char* folder) {
    int n = 0;
    DIR* d = opendir(folder);
    if (d == nullptr) return -1;
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

inline int CountOpenFds() {
    return CountEntries("/proc/self/fd") - 1;  // the listing's own descriptor
}

inline int CountThreads() {
    return CountEntries("/proc/self/task");
}

inline std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

}  // namespace proxytest
