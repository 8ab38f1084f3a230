#pragma once
// A scripted TCP peer on 127.0.0.1 for engine tests: accepts one connection
// on its own thread and runs a list of steps (read exactly n bytes, write
// bytes in pieces, close). Everything it read is kept for the test.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/baddr.h"
#include "tests/support/net.h"

namespace enginetest {

struct Step {
    enum Kind { kRead, kWrite, kClose, kReadAll } kind;
    size_t n = 0;       // kRead: bytes to read
    std::string bytes;  // kWrite
    size_t piece = 0;   // kWrite: bytes per write(), 0 for all at once
};

// A SOCKS 5 server's answers: the method without authentication chosen, and
// a successful reply with an IPv4 bound address.
inline const std::string kSocksHelloReply("\x05\x00", 2);
inline const std::string kSocksReplyV4("\x05\x00\x00\x01\x7f\x00\x00\x01\x1f\x90", 10);

inline Step Read(size_t n) {
    return {Step::kRead, n, {}, 0};
}
inline Step Write(std::string b, size_t piece = 0) {
    return {Step::kWrite, 0, std::move(b), piece};
}
inline Step Close() {
    return {Step::kClose, 0, {}, 0};
}
inline Step ReadAll() {
    return {Step::kReadAll, 0, {}, 0};
}  // until the other side closes

class LoopbackPeer {
public:
    explicit LoopbackPeer(std::vector<Step> steps) : steps_(std::move(steps)) {
        listen_fd_ = testsupport::ListenLoopback(&port_);
        thread_ = std::thread([this] { Run(); });
    }
    ~LoopbackPeer() {
        shutdown(listen_fd_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        close(listen_fd_);
    }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    BAddr addr() const {
        BAddr a;
        BAddr_InitIPv4(&a, htonl(INADDR_LOOPBACK), htons(static_cast<uint16_t>(port_)));
        return a;
    }
    // Waits for the script to finish; then `received` is complete.
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    std::string received;

private:
    void Run() {
        int fd = accept(listen_fd_, nullptr, nullptr);
        if (fd < 0) return;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        bool open = true;
        for (const Step& s : steps_) {
            if (s.kind == Step::kRead || s.kind == Step::kReadAll) {
                size_t want = s.kind == Step::kRead ? s.n : SIZE_MAX;
                size_t got = 0;
                char buf[65536];
                while (got < want) {
                    size_t ask = std::min(sizeof buf, want - got);
                    ssize_t n = recv(fd, buf, ask, 0);
                    if (n <= 0) break;
                    received.append(buf, static_cast<size_t>(n));
                    got += static_cast<size_t>(n);
                }
            } else if (s.kind == Step::kWrite) {
                size_t piece = s.piece ? s.piece : s.bytes.size();
                for (size_t off = 0; off < s.bytes.size(); off += piece) {
                    size_t n = std::min(piece, s.bytes.size() - off);
                    if (send(fd, s.bytes.data() + off, n, MSG_NOSIGNAL) != static_cast<ssize_t>(n)) break;
                }
            } else {
                close(fd);
                open = false;
                break;
            }
        }
        if (open) {
            // Stay until the engine side closes, so it sees no early end.
            char buf[4096];
            while (recv(fd, buf, sizeof buf, 0) > 0) {
            }
            close(fd);
        }
    }

    std::vector<Step> steps_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace enginetest
