#pragma once
// Scripted DNS replies and a UDP responder on 127.0.0.1 for the DNS client's
// tests: the test says what each datagram gets back, byte for byte.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dnstest {

inline std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s.push_back(static_cast<char>(b));
    return s;
}

// The name of the question, as a pointer (it sits at offset 12).
const std::string kQuestionName = B({0xC0, 12});

inline std::string Rr(const std::string& name, int type, const std::string& data, int ttl = 300) {
    return name + B({0, type, 0, 1, (ttl >> 24) & 255, (ttl >> 16) & 255, (ttl >> 8) & 255, ttl & 255,
                     static_cast<int>(data.size()) >> 8, static_cast<int>(data.size()) & 255}) +
           data;
}
inline std::string A(int a, int b, int c, int d, const std::string& name = kQuestionName) {
    return Rr(name, 1, B({a, b, c, d}));
}

// A reply to `query` (a DNS message): its id (plus `idDelta`), `flags`, its
// question copied, `answers` counted as `count` records.
inline std::string Reply(const std::string& query, uint16_t flags, int count, const std::string& answers,
                         int idDelta = 0) {
    if (query.size() < 12) return std::string();
    int id = ((static_cast<uint8_t>(query[0]) << 8 | static_cast<uint8_t>(query[1])) + idDelta) & 0xFFFF;
    std::string r = B({id >> 8, id & 255, flags >> 8, flags & 255, 0, 1, count >> 8, count & 255, 0, 0, 0, 0});
    return r + query.substr(12) + answers;
}

// Answers each datagram on 127.0.0.1 with what the handler returns (nothing
// when it returns an empty string).
class UdpResponder {
public:
    using Handler = std::function<std::string(const std::string& datagram)>;
    explicit UdpResponder(Handler handler) : handler_(std::move(handler)) {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Loop(); });
    }
    ~UdpResponder() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    UdpResponder(const UdpResponder&) = delete;
    UdpResponder& operator=(const UdpResponder&) = delete;

    int port() const { return port_; }
    std::vector<std::string> received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

private:
    void Loop() {
        std::vector<char> buf(70000);
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0) continue;
            std::string datagram(buf.data(), static_cast<size_t>(n));
            {
                std::lock_guard<std::mutex> lock(mutex_);
                received_.push_back(datagram);
            }
            std::string answer = handler_(datagram);
            if (!answer.empty()) {
                sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
            }
        }
    }
    Handler handler_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> received_;
    std::thread thread_;
};

}  // namespace dnstest
