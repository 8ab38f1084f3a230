// Load for a SOCKS 5 server (no authentication), for the local proxy
// service's benchmark:
//   socks_load rate SOCKS_PORT DEST_PORT PATH COUNT CONCURRENCY
//     COUNT short exchanges (CONNECT to 127.0.0.1:DEST_PORT, an HTTP/1.0 GET
//     of PATH, read to the end) by CONCURRENCY threads; prints the rate and
//     the set-up time (connect until the SOCKS reply) at p50, p99 and max.
//   socks_load idle SOCKS_PORT DEST_PORT PATH COUNT
//     opens COUNT connections that never send a byte, then makes 10 normal
//     exchanges one after another; prints how many were served within 5 s
//     and the slowest one's time.
//   socks_load hold SOCKS_PORT DEST_PORT COUNT
//     opens COUNT connections one after another and asks each for a
//     CONNECT; prints how many were served and how many were closed at
//     once, then "holding", and keeps them open until standard input ends.
// The SOCKS server is on 127.0.0.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int ConnectTo(int port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(s);
        return -1;
    }
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return s;
}

std::string SocksConnect(int destPort) {
    std::string r = {5, 1, 0, 5, 1, 0, 1, 127, 0, 0, 1};
    r.push_back(static_cast<char>(destPort >> 8));
    r.push_back(static_cast<char>(destPort & 0xff));
    return r;
}

bool SendAll(int s, const std::string& data) {
    for (size_t at = 0; at < data.size();) {
        ssize_t n = send(s, data.data() + at, data.size() - at, MSG_NOSIGNAL);
        if (n <= 0) return false;
        at += static_cast<size_t>(n);
    }
    return true;
}

// Reads exactly n bytes within `ms`; -1 closed, 0 timed out, 1 read.
int ReadExactly(int s, size_t n, int ms) {
    char buf[64];
    size_t got = 0;
    auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (got < n) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
        if (left <= 0) return 0;
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, left) != 1) return 0;
        ssize_t r = recv(s, buf, std::min(sizeof buf, n - got), 0);
        if (r <= 0) return -1;
        got += static_cast<size_t>(r);
    }
    return 1;
}

int Rate(int socksPort, int destPort, const std::string& path, int count, int concurrency) {
    std::vector<double> setupMs(static_cast<size_t>(count), -1);
    std::atomic<int> next{0};
    std::atomic<int> failures{0};
    const std::string request = SocksConnect(destPort);
    const std::string get = "GET " + path + " HTTP/1.0\r\n\r\n";
    auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < concurrency; ++t) {
        threads.emplace_back([&] {
            char buf[65536];
            for (int i = next++; i < count; i = next++) {
                auto t0 = Clock::now();
                int s = ConnectTo(socksPort);
                if (s < 0 || !SendAll(s, request) || ReadExactly(s, 12, 30000) != 1) {
                    failures++;
                    if (s >= 0) close(s);
                    continue;
                }
                setupMs[static_cast<size_t>(i)] =
                    std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                bool ok = SendAll(s, get);
                ssize_t n;
                size_t total = 0;
                while ((n = recv(s, buf, sizeof buf, 0)) > 0) total += static_cast<size_t>(n);
                if (!ok || n < 0 || total == 0) failures++;
                close(s);
            }
        });
    }
    for (auto& t : threads) t.join();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> done;
    for (double v : setupMs) {
        if (v >= 0) done.push_back(v);
    }
    std::sort(done.begin(), done.end());
    auto at = [&](double q) {
        return done.empty() ? -1.0 : done[std::min(done.size() - 1, static_cast<size_t>(q * done.size()))];
    };
    std::printf("rate=%.0f p50_ms=%.2f p99_ms=%.2f max_ms=%.2f failures=%d\n", count / seconds, at(0.5),
                at(0.99), done.empty() ? -1.0 : done.back(), failures.load());
    return failures.load() == 0 ? 0 : 1;
}

int Hold(int socksPort, int destPort, int count) {
    const std::string request = SocksConnect(destPort);
    std::vector<int> sockets;
    int served = 0, closed = 0, other = 0;
    for (int i = 0; i < count; ++i) {
        int s = ConnectTo(socksPort);
        if (s < 0) {
            other++;
            continue;
        }
        int r = SendAll(s, request) ? ReadExactly(s, 12, 2000) : -1;
        if (r == 1) {
            served++;
        } else if (r == -1) {
            closed++;
        } else {
            other++;
        }
        sockets.push_back(s);
    }
    std::printf("served=%d closed=%d other=%d\nholding\n", served, closed, other);
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    for (int s : sockets) close(s);
    return 0;
}

// One exchange within `ms`: CONNECT, GET, read to the end. Its time in ms, -1 on failure.
double TimedExchange(int socksPort, int destPort, const std::string& path, int ms) {
    auto t0 = Clock::now();
    int s = ConnectTo(socksPort);
    if (s < 0) return -1;
    std::string get = "GET " + path + " HTTP/1.0\r\n\r\n";
    bool ok = SendAll(s, SocksConnect(destPort)) && ReadExactly(s, 12, ms) == 1 && SendAll(s, get);
    size_t total = 0;
    while (ok) {
        pollfd p{s, POLLIN, 0};
        int left = ms - static_cast<int>(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        if (left <= 0 || poll(&p, 1, left) != 1) {
            ok = false;
            break;
        }
        char buf[4096];
        ssize_t n = recv(s, buf, sizeof buf, 0);
        if (n < 0) ok = false;
        if (n <= 0) break;
        total += static_cast<size_t>(n);
    }
    close(s);
    if (!ok || total == 0) return -1;
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

int Idle(int socksPort, int destPort, const std::string& path, int count) {
    std::vector<int> silent;
    for (int i = 0; i < count; ++i) {
        int s = ConnectTo(socksPort);
        if (s >= 0) silent.push_back(s);
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    int served = 0;
    double slowest = 0;
    for (int i = 0; i < 10; ++i) {
        double ms = TimedExchange(socksPort, destPort, path, 5000);
        if (ms >= 0) {
            served++;
            slowest = std::max(slowest, ms);
        }
    }
    std::printf("idle=%zu served=%d/10 slowest_ms=%.1f\n", silent.size(), served, slowest);
    for (int s : silent) close(s);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "rate" && argc == 7) {
        return Rate(std::atoi(argv[2]), std::atoi(argv[3]), argv[4], std::atoi(argv[5]), std::atoi(argv[6]));
    }
    if (mode == "idle" && argc == 6) return Idle(std::atoi(argv[2]), std::atoi(argv[3]), argv[4], std::atoi(argv[5]));
    if (mode == "hold" && argc == 5) return Hold(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    std::fprintf(stderr,
                 "usage: %s rate SOCKS_PORT DEST_PORT PATH COUNT CONCURRENCY\n"
                 "       %s idle SOCKS_PORT DEST_PORT PATH COUNT\n"
                 "       %s hold SOCKS_PORT DEST_PORT COUNT\n",
                 argv[0], argv[0], argv[0]);
    return 2;
}
