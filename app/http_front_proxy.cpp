#include "app/http_front_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "app/socket_wait.h"
#include "foundation/ascii_case.h"

namespace {

constexpr size_t kMaxHead = 64 * 1024;
constexpr int kIoTimeoutMs = 30000;

bool SendAll(int fd, const char* data, size_t len) {
    while (len > 0) {
        ssize_t n = send(fd, data, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// Reads until `len` bytes came, the peer closed, or the stop descriptor fired.
bool RecvExact(int fd, int stopFd, uint8_t* out, size_t len) {
    while (len > 0) {
        pollfd p[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (poll(p, 2, kIoTimeoutMs) <= 0 || p[1].revents) return false;
        ssize_t n = recv(fd, out, len, 0);
        if (n <= 0) return false;
        out += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// A SOCKS 5 CONNECT without authentication to host:port through the listener.
int SocksConnect(uint16_t socksPort, const std::string& host, uint16_t port, int stopFd) {
    if (host.empty() || host.size() > 255) return -1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(socksPort);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string req = {5, 1, 0};
    req += std::string{5, 1, 0, 3, static_cast<char>(host.size())} + host;
    req += static_cast<char>(port >> 8);
    req += static_cast<char>(port & 0xFF);
    uint8_t greet[2], reply[10];
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || !SendAll(fd, req.data(), req.size()) ||
        !RecvExact(fd, stopFd, greet, 2) || greet[0] != 5 || greet[1] != 0 || !RecvExact(fd, stopFd, reply, 4) ||
        reply[0] != 5 || reply[1] != 0) {
        close(fd);
        return -1;
    }
    // The bound address: IPv4 or IPv6, then the port.
    size_t rest = reply[3] == 4 ? 18 : 6;
    uint8_t skip[18];
    if (reply[3] != 1 && reply[3] != 4) rest = 0;
    if (rest == 0 || !RecvExact(fd, stopFd, skip, rest)) {
        close(fd);
        return -1;
    }
    return fd;
}

// Copies both ways until both sides have closed; a FIN goes on as a half-close.
void Relay(int a, int b, int stopFd) {
    bool aOpen = true, bOpen = true;
    char buf[16384];
    while (aOpen || bOpen) {
        pollfd p[3] = {{a, static_cast<short>(aOpen ? POLLIN : 0), 0},
                       {b, static_cast<short>(bOpen ? POLLIN : 0), 0},
                       {stopFd, POLLIN, 0}};
        int r = poll(p, 3, 300000);
        if (r <= 0 || p[2].revents) return;
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            int from = i == 0 ? a : b, to = i == 0 ? b : a;
            ssize_t n = recv(from, buf, sizeof buf, 0);
            if (n <= 0) {
                if (n < 0 && errno != ECONNRESET) return;
                shutdown(to, SHUT_WR);
                (i == 0 ? aOpen : bOpen) = false;
            } else if (!SendAll(to, buf, static_cast<size_t>(n))) {
                return;
            }
        }
    }
}

bool SplitHostPort(const std::string& text, uint16_t defPort, std::string* host, uint16_t* port) {
    std::string h = text;
    *port = defPort;
    if (!h.empty() && h[0] == '[') {
        size_t close = h.find(']');
        if (close == std::string::npos) return false;
        std::string rest = h.substr(close + 1);
        h = h.substr(1, close - 1);
        if (!rest.empty()) {
            if (rest[0] != ':') return false;
            h += "";
            int p = std::atoi(rest.c_str() + 1);
            if (p <= 0 || p > 65535) return false;
            *port = static_cast<uint16_t>(p);
        }
    } else if (size_t colon = h.rfind(':'); colon != std::string::npos) {
        int p = std::atoi(h.c_str() + colon + 1);
        if (p <= 0 || p > 65535) return false;
        *port = static_cast<uint16_t>(p);
        h.resize(colon);
    }
    *host = h;
    return !h.empty();
}

void Answer(int fd, const char* status) {
    std::string r = std::string("HTTP/1.1 ") + status + "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    SendAll(fd, r.data(), r.size());
}

}  // namespace

CHttpFrontProxy::~CHttpFrontProxy() {
    Stop();
}

bool CHttpFrontProxy::Start(uint16_t socksPort, uint16_t firstPort) {
    if (listenFd_ >= 0) return true;
    socksPort_ = socksPort;
    for (int i = 0; i < 100; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(firstPort + i));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && listen(fd, 128) == 0) {
            listenFd_ = fd;
            port_ = static_cast<uint16_t>(firstPort + i);
            break;
        }
        close(fd);
    }
    if (listenFd_ < 0) return false;
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    acceptThread_ = std::thread(&CHttpFrontProxy::AcceptLoop, this);
    return true;
}

void CHttpFrontProxy::Stop() {
    if (listenFd_ < 0) return;
    uint64_t one = 1;
    if (write(stopFd_, &one, sizeof one) < 0) {
    }
    if (acceptThread_.joinable()) acceptThread_.join();
    std::list<Connection> connections;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connections.swap(connections_);
    }
    for (auto& c : connections) c.thread.join();
    close(listenFd_);
    close(stopFd_);
    listenFd_ = stopFd_ = -1;
    port_ = 0;
}

void CHttpFrontProxy::AcceptLoop() {
    for (;;) {
        int client = AcceptUnlessStopped(listenFd_, stopFd_);
        if (client == -2) return;
        if (client < 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        // Connections that have ended are joined here, so the list stays short.
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (it->done->load()) {
                it->thread.join();
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        try {
            connections_.push_back({std::thread([this, client, done] {
                                        Serve(client);
                                        *done = true;
                                    }),
                                    done});
        } catch (const std::exception&) {
            close(client);
        }
    }
}

void CHttpFrontProxy::Serve(int client) {
    std::string head;
    char buf[4096];
    size_t end = std::string::npos;
    while (end == std::string::npos && head.size() < kMaxHead) {
        pollfd p[2] = {{client, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (poll(p, 2, kIoTimeoutMs) <= 0 || p[1].revents) break;
        ssize_t n = recv(client, buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
        end = head.find("\r\n\r\n");
    }
    int upstream = -1;
    if (end != std::string::npos) {
        std::string body = head.substr(end + 4);
        head.resize(end + 2);
        size_t lineEnd = head.find("\r\n");
        std::string line = head.substr(0, lineEnd);
        size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
        if (sp1 != std::string::npos && sp2 > sp1) {
            std::string method = line.substr(0, sp1), target = line.substr(sp1 + 1, sp2 - sp1 - 1),
                        version = line.substr(sp2 + 1);
            std::string host;
            uint16_t port = 0;
            if (AsciiEqualsNoCase(method, "CONNECT")) {
                if (SplitHostPort(target, 443, &host, &port) &&
                    (upstream = SocksConnect(socksPort_, host, port, stopFd_)) >= 0) {
                    static const char ok[] = "HTTP/1.1 200 Connection established\r\n\r\n";
                    if (!SendAll(client, ok, sizeof ok - 1) || !SendAll(upstream, body.data(), body.size())) {
                        close(upstream);
                        upstream = -1;
                    }
                } else {
                    Answer(client, "502 Bad Gateway");
                }
            } else if (target.size() > 7 && AsciiEqualsNoCase(target.substr(0, 7), "http://")) {
                std::string rest = target.substr(7);
                size_t slash = rest.find('/');
                std::string authority = rest.substr(0, slash);
                std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
                if (SplitHostPort(authority, 80, &host, &port) &&
                    (upstream = SocksConnect(socksPort_, host, port, stopFd_)) >= 0) {
                    // One request per connection: the connection headers say so.
                    std::string out = method + " " + path + " " + version + "\r\n";
                    size_t pos = lineEnd + 2;
                    while (pos < head.size()) {
                        size_t e = head.find("\r\n", pos);
                        std::string h = head.substr(pos, e - pos);
                        pos = e + 2;
                        std::string name = h.substr(0, h.find(':'));
                        if (AsciiEqualsNoCase(name, "Proxy-Connection") || AsciiEqualsNoCase(name, "Connection") ||
                            AsciiEqualsNoCase(name, "Proxy-Authorization"))
                            continue;
                        out += h + "\r\n";
                    }
                    out += "Connection: close\r\n\r\n" + body;
                    if (!SendAll(upstream, out.data(), out.size())) {
                        close(upstream);
                        upstream = -1;
                    }
                } else {
                    Answer(client, "502 Bad Gateway");
                }
            } else {
                Answer(client, "400 Bad Request");
            }
        }
    }
    if (upstream >= 0) {
        Relay(client, upstream, stopFd_);
        close(upstream);
    }
    close(client);
}
