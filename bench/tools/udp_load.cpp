// UDP load for the relay benchmark: FLOWS flows, each with one datagram of
// SIZE bytes in flight to a UDP echo, for SECONDS seconds; prints the
// datagrams answered per second and the round-trip times at p50 and p99.
//   udp_load MODE FLOWS SIZE SECONDS ECHO_HOST ECHO_PORT [PROXY_HOST PROXY_PORT [UDPGW_PORT]]
// MODE: direct   UDP sockets straight to the echo;
//       socks5   a SOCKS 5 UDP association per flow at the proxy;
//       shared   one association, a UDP socket per flow (as ss-local serves);
//       udpgw    one SOCKS 5 CONNECT to 127.0.0.1:UDPGW_PORT (7300) through
//                the proxy, every flow a udpgw connection id in it.
// A datagram unanswered after 1 s counts as lost and the flow sends again.
// Each flow's first answer is also counted apart (first_p50_us, first_max_us)
// and p99_later_us leaves it out: through the udpgw stream it carries the
// start of the flow's session at the proxy (for a SOCKS 5 node, the
// association), which the other modes make before the clock starts.
// p99_lost_us counts every lost datagram as slower than any answer (shown as
// the 1 s after which it was given up): a relay that drops its slowest
// datagrams has no better tail than one that answers them late.
//   udp_load echo HOST PORT   serves as the UDP echo.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Endpoint(const char* host, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host, &a.sin_addr);
    return a;
}

bool ReadExact(int fd, void* buf, size_t n) {
    auto* p = static_cast<char*>(buf);
    while (n > 0) {
        ssize_t got = recv(fd, p, n, 0);
        if (got <= 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

// A SOCKS 5 control connection with command 3 (or 1 to host:port); the
// bound port of the reply.
int Socks5(const sockaddr_in& proxy, int command, const sockaddr_in* to, uint16_t* bound) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&proxy), sizeof proxy) != 0) return -1;
    unsigned char hello[3] = {5, 1, 0}, choice[2];
    unsigned char req[10] = {5, static_cast<unsigned char>(command), 0, 1, 0, 0, 0, 0, 0, 0};
    if (to) {
        std::memcpy(req + 4, &to->sin_addr, 4);
        std::memcpy(req + 8, &to->sin_port, 2);
    }
    unsigned char reply[10];
    if (send(fd, hello, 3, 0) != 3 || !ReadExact(fd, choice, 2) || send(fd, req, 10, 0) != 10 ||
        !ReadExact(fd, reply, 10) || reply[1] != 0) {
        close(fd);
        return -1;
    }
    if (bound) *bound = static_cast<uint16_t>(reply[8] << 8 | reply[9]);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

int Echo(const char* host, int port) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = Endpoint(host, port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 1;
    std::vector<char> buf(65536);
    for (;;) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n >= 0) sendto(fd, buf.data(), static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "echo") return Echo(argv[2], std::atoi(argv[3]));
    if (argc < 7) {
        std::fprintf(stderr, "usage: udp_load MODE FLOWS SIZE SECONDS ECHO_HOST ECHO_PORT [PROXY_HOST PROXY_PORT [UDPGW_PORT]]\n");
        return 2;
    }
    std::string mode = argv[1];
    int flows = std::atoi(argv[2]);
    size_t size = static_cast<size_t>(std::atoi(argv[3]));
    int seconds = std::atoi(argv[4]);
    sockaddr_in echo = Endpoint(argv[5], std::atoi(argv[6]));
    sockaddr_in proxy = argc > 8 ? Endpoint(argv[7], std::atoi(argv[8])) : sockaddr_in{};
    int udpgwPort = argc > 9 ? std::atoi(argv[9]) : 7300;

    std::vector<int> fds;          // per flow (not udpgw)
    std::vector<int> controls;     // SOCKS 5 associations
    std::vector<Clock::time_point> sentAt(static_cast<size_t>(flows));
    std::vector<double> rtts;
    rtts.reserve(1 << 22);
    std::vector<double> firsts;  // each flow's first answer
    std::vector<double> later;   // every answer after it
    later.reserve(1 << 22);
    std::vector<bool> answeredOnce(static_cast<size_t>(flows), false);
    long lost = 0;
    std::string payload(size, 'u');
    std::string header;  // SOCKS 5 UDP header to the echo
    header.assign({0, 0, 0, 1});
    header.append(reinterpret_cast<const char*>(&echo.sin_addr), 4);
    header.append(reinterpret_cast<const char*>(&echo.sin_port), 2);

    int stream = -1;
    if (mode == "udpgw") {
        sockaddr_in gw = Endpoint("127.0.0.1", udpgwPort);
        stream = Socks5(proxy, 1, &gw, nullptr);
        if (stream < 0) {
            std::fprintf(stderr, "udpgw stream failed\n");
            return 1;
        }
    } else {
        sockaddr_in sharedRelay{};
        if (mode == "shared") {
            uint16_t port = 0;
            int c = Socks5(proxy, 3, nullptr, &port);
            if (c < 0) return 1;
            controls.push_back(c);
            sharedRelay = proxy;
            sharedRelay.sin_port = htons(port);
        }
        for (int i = 0; i < flows; ++i) {
            int fd = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in to = echo;
            if (mode == "socks5") {
                uint16_t port = 0;
                int c = Socks5(proxy, 3, nullptr, &port);
                if (c < 0) {
                    std::fprintf(stderr, "association %d failed\n", i);
                    return 1;
                }
                controls.push_back(c);
                to = proxy;
                to.sin_port = htons(port);
            } else if (mode == "shared") {
                to = sharedRelay;
            }
            connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
            fds.push_back(fd);
        }
    }
    bool wrapped = mode == "socks5" || mode == "shared";

    std::vector<bool> opened(static_cast<size_t>(flows), false);
    auto sendFlow = [&](int i) {
        sentAt[static_cast<size_t>(i)] = Clock::now();
        if (stream >= 0) {
            std::string body;
            body.push_back(opened[static_cast<size_t>(i)] ? 0 : 0x02);
            opened[static_cast<size_t>(i)] = true;
            body.push_back(static_cast<char>(i & 0xFF));
            body.push_back(static_cast<char>(i >> 8));
            body.append(reinterpret_cast<const char*>(&echo.sin_addr), 4);
            body.append(reinterpret_cast<const char*>(&echo.sin_port), 2);
            body += payload;
            std::string frame = {static_cast<char>(body.size() & 0xFF), static_cast<char>(body.size() >> 8)};
            frame += body;
            send(stream, frame.data(), frame.size(), MSG_NOSIGNAL);
        } else {
            std::string d = wrapped ? header + payload : payload;
            send(fds[static_cast<size_t>(i)], d.data(), d.size(), 0);
        }
    };

    int ep = epoll_create1(0);
    if (stream >= 0) {
        epoll_event ev{EPOLLIN, {.u64 = 0xFFFFFFFFu}};
        epoll_ctl(ep, EPOLL_CTL_ADD, stream, &ev);
    } else {
        for (int i = 0; i < flows; ++i) {
            epoll_event ev{EPOLLIN, {.u64 = static_cast<uint64_t>(i)}};
            epoll_ctl(ep, EPOLL_CTL_ADD, fds[static_cast<size_t>(i)], &ev);
        }
    }
    for (int i = 0; i < flows; ++i) sendFlow(i);

    auto start = Clock::now();
    auto end = start + std::chrono::seconds(seconds);
    std::string pending;
    std::vector<char> buf(1 << 17);
    auto answered = [&](int i) {
        if (i < 0 || i >= flows) return;
        auto now = Clock::now();
        double rtt = std::chrono::duration<double, std::micro>(now - sentAt[static_cast<size_t>(i)]).count();
        rtts.push_back(rtt);
        if (answeredOnce[static_cast<size_t>(i)]) {
            later.push_back(rtt);
        } else {
            answeredOnce[static_cast<size_t>(i)] = true;
            firsts.push_back(rtt);
        }
        if (now < end) sendFlow(i);
    };
    auto lastSweep = start;
    while (Clock::now() < end) {
        epoll_event events[256];
        int n = epoll_wait(ep, events, 256, 50);
        for (int k = 0; k < n; ++k) {
            if (stream >= 0) {
                ssize_t got = recv(stream, buf.data(), buf.size(), MSG_DONTWAIT);
                if (got <= 0) continue;
                pending.append(buf.data(), static_cast<size_t>(got));
                while (pending.size() >= 2) {
                    size_t len = static_cast<uint8_t>(pending[0]) | static_cast<uint8_t>(pending[1]) << 8;
                    if (pending.size() < len + 2) break;
                    int id = static_cast<uint8_t>(pending[3]) | static_cast<uint8_t>(pending[4]) << 8;
                    pending.erase(0, len + 2);
                    answered(id);
                }
            } else {
                int i = static_cast<int>(events[k].data.u64);
                while (recv(fds[static_cast<size_t>(i)], buf.data(), buf.size(), MSG_DONTWAIT) > 0) answered(i);
            }
        }
        auto now = Clock::now();
        if (now - lastSweep > std::chrono::milliseconds(200)) {
            lastSweep = now;
            for (int i = 0; i < flows; ++i) {
                if (now - sentAt[static_cast<size_t>(i)] > std::chrono::seconds(1)) {
                    ++lost;
                    sendFlow(i);
                }
            }
        }
    }
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    for (auto* v : {&rtts, &firsts, &later}) std::sort(v->begin(), v->end());
    auto pct = [](const std::vector<double>& v, double p) {
        return v.empty() ? 0.0 : v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
    };
    size_t withLost = rtts.size() + static_cast<size_t>(lost);
    size_t at = withLost == 0 ? 0 : static_cast<size_t>(0.99 * static_cast<double>(withLost - 1));
    double p99Lost = at < rtts.size() ? rtts[at] : 1e6;
    std::printf(
        "pps=%.0f p50_us=%.0f p99_us=%.0f p99_lost_us=%.0f p99_later_us=%.0f first_p50_us=%.0f first_max_us=%.0f "
        "lost=%ld\n",
        static_cast<double>(rtts.size()) / elapsed, pct(rtts, 0.5), pct(rtts, 0.99), p99Lost, pct(later, 0.99),
        pct(firsts, 0.5), pct(firsts, 1.0), lost);
    return 0;
}
