#pragma once
// A udpgw server for tests, standing where the local proxy service's UDP
// relay stands: it accepts SOCKS 5 connections on 127.0.0.1 (no
// authentication, one CONNECT each), then reads length-prefixed udpgw frames
// and answers them as the test's handler says. Written from the wire format
// alone, independent of the engine's own codec. Runs on its own thread;
// every connection is served in turn.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/net.h"

namespace testsupport {

class UdpGwPeer {
public:
    struct Frame {
        int connection;  // 0 for the first accepted connection, 1 for the next, ...
        uint8_t flags;
        uint16_t conid;
        bool ipv6;
        std::string addr;  // 4 or 16 address bytes
        uint16_t port;     // host order
        std::string payload;
        std::string raw;  // the whole udpgw packet
        std::chrono::steady_clock::time_point at;
    };
    struct Reply {
        std::vector<std::string> packets;  // udpgw packets to send back (the peer adds the length)
        std::vector<std::string> raw;      // bytes sent as they are
        bool close = false;                // end this connection afterwards
    };
    using Handler = std::function<Reply(const Frame&)>;

    // With `socks` false the peer speaks udpgw from the first byte, for use
    // behind a real SOCKS server.
    explicit UdpGwPeer(Handler handler, bool socks = true) : handler_(std::move(handler)), socks_(socks) {
        listen_fd_ = ListenLoopback(&port_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~UdpGwPeer() {
        stopping_ = true;
        shutdown(listen_fd_, SHUT_RDWR);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (conn_fd_ >= 0) shutdown(conn_fd_, SHUT_RDWR);
        }
        thread_.join();
        close(listen_fd_);
    }
    UdpGwPeer(const UdpGwPeer&) = delete;
    UdpGwPeer& operator=(const UdpGwPeer&) = delete;

    int port() const { return port_; }
    // Whether a connection is being served.
    bool connected() {
        std::lock_guard<std::mutex> lock(mutex_);
        return conn_fd_ >= 0;
    }

    std::vector<Frame> frames() {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }
    // The CONNECT destinations, "a.b.c.d:port", one per connection.
    std::vector<std::string> connects() {
        std::lock_guard<std::mutex> lock(mutex_);
        return connects_;
    }

    // A udpgw packet: flags, id (little-endian), IPv4 address and port, payload.
    static std::string Packet(uint8_t flags, uint16_t conid, const char* ip, uint16_t port,
                              const std::string& payload) {
        std::string p;
        p += static_cast<char>(flags);
        p += static_cast<char>(conid & 0xFF);
        p += static_cast<char>(conid >> 8);
        in_addr a{};
        inet_pton(AF_INET, ip, &a);
        p.append(reinterpret_cast<const char*>(&a), 4);
        p += static_cast<char>(port >> 8);
        p += static_cast<char>(port & 0xFF);
        return p + payload;
    }
    static std::string Framed(const std::string& packet) {
        std::string f;
        f += static_cast<char>(packet.size() & 0xFF);
        f += static_cast<char>(packet.size() >> 8);
        return f + packet;
    }

private:
    static bool ReadExactly(int fd, char* buf, size_t n) {
        size_t got = 0;
        while (got < n) {
            ssize_t r = recv(fd, buf + got, n - got, 0);
            if (r <= 0) return false;
            got += static_cast<size_t>(r);
        }
        return true;
    }
    static bool WriteAll(int fd, const std::string& s) {
        return send(fd, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
    }

    void Serve() {
        for (int index = 0; !stopping_; ++index) {
            int fd = accept(listen_fd_, nullptr, nullptr);
            if (fd < 0) return;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                conn_fd_ = fd;
            }
            ServeOne(fd, index);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                conn_fd_ = -1;
                close(fd);
            }
        }
    }

    void ServeOne(int fd, int index) {
        if (socks_ && !AcceptSocks(fd)) return;
        ServeFrames(fd, index);
    }

    bool AcceptSocks(int fd) {
        char hello[3], req[10];
        if (!ReadExactly(fd, hello, 3) || hello[0] != 5) return false;
        if (!WriteAll(fd, std::string("\x05\x00", 2))) return false;
        if (!ReadExactly(fd, req, 10) || req[1] != 1 || req[3] != 1) return false;
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, req + 4, text, sizeof text);
        int port = (static_cast<uint8_t>(req[8]) << 8) | static_cast<uint8_t>(req[9]);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            connects_.push_back(std::string(text) + ":" + std::to_string(port));
        }
        return WriteAll(fd, std::string("\x05\x00\x00\x01\x7f\x00\x00\x01\x1c\x84", 10));
    }

    void ServeFrames(int fd, int index) {
        for (;;) {
            unsigned char len_bytes[2];
            if (!ReadExactly(fd, reinterpret_cast<char*>(len_bytes), 2)) return;
            size_t len = len_bytes[0] | (len_bytes[1] << 8);
            std::string raw(len, '\0');
            if (!ReadExactly(fd, raw.data(), len)) return;
            Frame f{};
            f.connection = index;
            f.raw = raw;
            f.at = std::chrono::steady_clock::now();
            if (len >= 3) {
                f.flags = static_cast<uint8_t>(raw[0]);
                f.conid =
                    static_cast<uint16_t>(static_cast<uint8_t>(raw[1]) | (static_cast<uint8_t>(raw[2]) << 8));
                f.ipv6 = f.flags & 0x08;
                size_t alen = f.ipv6 ? 16 : 4;
                if (len >= 3 + alen + 2) {
                    f.addr = raw.substr(3, alen);
                    f.port = static_cast<uint16_t>((static_cast<uint8_t>(raw[3 + alen]) << 8) |
                                                   static_cast<uint8_t>(raw[4 + alen]));
                    f.payload = raw.substr(5 + alen);
                }
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                frames_.push_back(f);
            }
            Reply r = handler_(f);
            for (const auto& p : r.packets) {
                if (!WriteAll(fd, Framed(p))) return;
            }
            for (const auto& b : r.raw) {
                if (!WriteAll(fd, b)) return;
            }
            if (r.close) return;
        }
    }

    Handler handler_;
    bool socks_;
    int listen_fd_ = -1;
    int port_ = 0;
    int conn_fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<Frame> frames_;
    std::vector<std::string> connects_;
};

}  // namespace testsupport
