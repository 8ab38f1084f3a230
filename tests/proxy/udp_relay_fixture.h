#pragma once
// Fixtures of the UDP relay loop's tests: a udpgw driver standing where the
// engine stands, and scripted nodes on 127.0.0.1 that echo datagrams: a
// SOCKS 5 node (control connections and one UDP relay port) and a
// Shadowsocks node (one UDP port, its own cryptor).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ciphers/cryptor.h"
#include "ciphers/cryptor_factory.h"
#include "foundation/private_heap.h"
#include "nodes/node_info.h"
#include "proxy/s45_client.h"
#include "tests/proxy/proxy_test_util.h"

namespace udptest {

// One udpgw frame as the engine writes it.
inline std::string Frame(uint8_t flags, uint16_t id, const std::string& ip, uint16_t port, const std::string& data) {
    std::string body;
    body.push_back(static_cast<char>(flags));
    body.push_back(static_cast<char>(id & 0xFF));
    body.push_back(static_cast<char>(id >> 8));
    if (flags & 0x08) {
        char a[16];
        inet_pton(AF_INET6, ip.c_str(), a);
        body.append(a, 16);
    } else {
        in_addr a{};
        inet_pton(AF_INET, ip.c_str(), &a);
        body.append(reinterpret_cast<const char*>(&a.s_addr), 4);
    }
    body.push_back(static_cast<char>(port >> 8));
    body.push_back(static_cast<char>(port & 0xFF));
    body += data;
    std::string frame;
    frame.push_back(static_cast<char>(body.size() & 0xFF));
    frame.push_back(static_cast<char>(body.size() >> 8));
    return frame + body;
}

struct ReplyFrame {
    uint8_t flags;
    uint16_t id;
    std::string address;  // 4 or 16 bytes
    uint16_t port;
    std::string data;
};

// Reads reply frames off the stream.
class FrameReader {
public:
    explicit FrameReader(int fd) : fd_(fd) {}
    // The next frame within `ms`; false when none came or the stream closed.
    bool Next(ReplyFrame* out, int ms = 10000) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            if (Take(out)) return true;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
            if (left <= 0) return false;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) != 1) return false;
            char buf[65536];
            ssize_t got = recv(fd_, buf, sizeof buf, 0);
            if (got <= 0) {
                closed_ = true;
                return false;
            }
            pending_.append(buf, static_cast<size_t>(got));
        }
    }
    bool closed() const { return closed_; }

private:
    bool Take(ReplyFrame* out) {
        if (pending_.size() < 2) return false;
        size_t length = static_cast<uint8_t>(pending_[0]) | static_cast<uint8_t>(pending_[1]) << 8;
        if (pending_.size() < length + 2) return false;
        std::string body = pending_.substr(2, length);
        pending_.erase(0, length + 2);
        out->flags = static_cast<uint8_t>(body[0]);
        out->id = static_cast<uint16_t>(static_cast<uint8_t>(body[1]) | static_cast<uint8_t>(body[2]) << 8);
        size_t alen = (out->flags & 0x08) ? 16 : 4;
        out->address = body.substr(3, alen);
        out->port = static_cast<uint16_t>(static_cast<uint8_t>(body[3 + alen]) << 8 | static_cast<uint8_t>(body[4 + alen]));
        out->data = body.substr(5 + alen);
        return true;
    }
    int fd_;
    std::string pending_;
    bool closed_ = false;
};

inline int BindUdpLoopback(int* port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

// What a node saw of one datagram: the sender's port (one per session
// socket), the destination (ATYP onwards, as 4 or 16 bytes and the port) and the data.
struct Seen {
    int sourcePort;
    std::string destination;
    std::string data;
};

// Base of the scripted nodes: one UDP socket whose datagrams are answered
// by the subclass.
class UdpNodeBase {
public:
    virtual ~UdpNodeBase() = default;
    int udpPort() const { return udpPort_; }
    std::vector<Seen> seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }
    std::set<int> sourcePorts() {
        std::set<int> ports;
        for (const auto& s : seen()) ports.insert(s.sourcePort);
        return ports;
    }
    // Replies go out with this many extra bytes of data (a reply far above
    // what the engine takes) when the request's data starts with "big".
    size_t bigReply = 0;

protected:
    void StartUdp() {
        udp_ = BindUdpLoopback(&udpPort_);
        udpThread_ = std::thread([this] { UdpLoop(); });
    }
    void StopUdp() {
        stop_ = true;
        if (udpThread_.joinable()) udpThread_.join();
        if (udp_ >= 0) close(udp_);
        udp_ = -1;
    }
    // The plain datagram (ATYP, address, port, data) of a received one, and
    // back; empty when it cannot be read.
    virtual std::string Unwrap(const std::string& wire) = 0;
    virtual std::string Wrap(const std::string& plain) = 0;

    std::atomic<bool> stop_{false};

private:
    void UdpLoop() {
        std::vector<char> buf(70000);
        while (!stop_) {
            pollfd p{udp_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = recvfrom(udp_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n <= 0) continue;
            std::string plain = Unwrap(std::string(buf.data(), static_cast<size_t>(n)));
            if (plain.size() < 7) continue;
            size_t header = plain[0] == 4 ? 19 : 7;
            if (plain.size() < header) continue;
            std::string data = plain.substr(header);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                seen_.push_back({ntohs(from.sin_port), plain.substr(1, header - 1), data});
            }
            std::string answer = plain.substr(0, header) + "echo:" + data;
            if (data.rfind("big", 0) == 0) answer.append(bigReply, 'x');
            std::string wire = Wrap(answer);
            sendto(udp_, wire.data(), wire.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }
    int udp_ = -1;
    int udpPort_ = 0;
    std::thread udpThread_;
    std::mutex mutex_;
    std::vector<Seen> seen_;
};

// A SOCKS 5 node: every control connection gets "no authentication" and a
// UDP association at the node's one relay port; every datagram comes back
// with "echo:" in front of its data. Control connections can be cut.
class Socks5UdpNode : public UdpNodeBase {
public:
    Socks5UdpNode() {
        StartUdp();
        listen_ = testsupport::ListenLoopback(&tcpPort_, 512);
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~Socks5UdpNode() override {
        stop_ = true;
        shutdown(listen_, SHUT_RDWR);
        acceptor_.join();
        {
            std::lock_guard<std::mutex> lock(controlMutex_);
            for (int fd : controls_) shutdown(fd, SHUT_RDWR);
        }
        for (auto& t : threads_) t.join();
        close(listen_);
        StopUdp();
    }
    int port() const { return tcpPort_; }
    int associations() const { return associations_.load(); }
    int openControls() {
        std::lock_guard<std::mutex> lock(controlMutex_);
        return static_cast<int>(controls_.size());
    }
    // Cuts the oldest open control connection.
    void CutOne() {
        std::lock_guard<std::mutex> lock(controlMutex_);
        if (!controls_.empty()) shutdown(*controls_.begin(), SHUT_RDWR);
    }

protected:
    std::string Unwrap(const std::string& wire) override {
        return wire.size() > 3 && wire[0] == 0 && wire[1] == 0 ? wire.substr(3) : std::string();
    }
    std::string Wrap(const std::string& plain) override { return std::string(3, '\0') + plain; }

private:
    void Accept() {
        for (;;) {
            int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            std::lock_guard<std::mutex> lock(controlMutex_);
            controls_.insert(fd);
            threads_.emplace_back([this, fd] { Serve(fd); });
        }
    }
    void Serve(int fd) {
        using proxytest::ReadBytes;
        if (ReadBytes(fd, 3) == proxytest::Bytes({5, 1, 0}) && proxytest::SendText(fd, proxytest::Bytes({5, 0})) &&
            ReadBytes(fd, 10).size() == 10) {
            std::string reply = proxytest::Bytes({5, 0, 0, 1, 0, 0, 0, 0});  // BND.ADDR 0.0.0.0
            reply.push_back(static_cast<char>(udpPort() >> 8));
            reply.push_back(static_cast<char>(udpPort() & 0xFF));
            ++associations_;
            if (proxytest::SendText(fd, reply)) {
                proxytest::ReadToEnd(fd, nullptr, 3600 * 1000);
            }
        }
        std::lock_guard<std::mutex> lock(controlMutex_);
        controls_.erase(fd);
        close(fd);
    }
    int listen_ = -1;
    int tcpPort_ = 0;
    std::atomic<int> associations_{0};
    std::thread acceptor_;
    std::mutex controlMutex_;
    std::set<int> controls_;
    std::vector<std::thread> threads_;
};

// A Shadowsocks node with a stream or AEAD cipher.
class SsUdpNode : public UdpNodeBase {
public:
    SsUdpNode(std::string method, std::string password) : method_(std::move(method)), password_(std::move(password)) {
        InitCipherLibrary();
        StartUdp();
    }
    ~SsUdpNode() override { StopUdp(); }
    // IVs (or salts) of the datagrams received, in order.
    std::vector<std::string> ivs() {
        std::lock_guard<std::mutex> lock(ivMutex_);
        return ivs_;
    }

protected:
    std::string Crypt(const std::string& in, bool encrypt) {
        auto c = CreateCryptor(method_, password_);
        unsigned char* out = nullptr;
        size_t outLength = 0;
        bool more = false;
        auto* data = reinterpret_cast<const unsigned char*>(in.data());
        int ok = encrypt ? c->Encrypt(data, in.size(), &out, &outLength, true)
                         : c->Decrypt(data, in.size(), &out, &outLength, &more, true);
        std::string r = ok ? std::string(reinterpret_cast<char*>(out), outLength) : std::string();
        PrivateHeapFree(out);
        return r;
    }
    std::string Unwrap(const std::string& wire) override {
        {
            // Every IV and salt is at least 16 bytes long.
            std::lock_guard<std::mutex> lock(ivMutex_);
            ivs_.push_back(wire.substr(0, 16));
        }
        return Crypt(wire, false);
    }
    std::string Wrap(const std::string& plain) override { return Crypt(plain, true); }

private:
    std::string method_, password_;
    std::mutex ivMutex_;
    std::vector<std::string> ivs_;
};

// One udpgw stream served by a loop of class `Loop` through `node`, run
// straight on a connection object (no listener in between).
template <class Loop>
class Stream {
public:
    explicit Stream(CNodeInfo* node) {
        pair_ = proxytest::MakeTcpPair();
        client_ = std::make_unique<CS45CLient>(pair_.server, nullptr, nullptr);
        client_->AttachNode(node);
        loop_ = std::make_unique<Loop>(client_.get());
        thread_ = std::thread([this] { result_ = loop_->Run(); });
        reader_ = std::make_unique<FrameReader>(pair_.client);
    }
    ~Stream() { Close(); }
    void Close() {
        if (pair_.client >= 0) {
            shutdown(pair_.client, SHUT_RDWR);
            thread_.join();
            loop_.reset();
            client_.reset();
            close(pair_.client);
            pair_.client = -1;
        }
    }
    bool Send(const std::string& bytes) { return proxytest::SendText(pair_.client, bytes); }
    bool Next(ReplyFrame* f, int ms = 10000) { return reader_->Next(f, ms); }
    Loop& loop() { return *loop_; }
    int fd() const { return pair_.client; }
    std::thread& thread() { return thread_; }
    int result() const { return result_; }

private:
    proxytest::TcpPair pair_;
    std::unique_ptr<CS45CLient> client_;
    std::unique_ptr<Loop> loop_;
    std::thread thread_;
    std::atomic<int> result_{-1};
    std::unique_ptr<FrameReader> reader_;
};

}  // namespace udptest
