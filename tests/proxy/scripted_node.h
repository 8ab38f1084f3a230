#pragma once
// A scripted upstream node on 127.0.0.1: each accepted connection runs the
// test's script on a thread of its own, which reads and answers exactly as
// the case needs (split answers, odd replies). Everything read is kept.

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/proxy/proxy_test_util.h"

namespace proxytest {

class ScriptedNode {
public:
    // The script gets the connection; the node closes it when the script returns.
    using Script = std::function<void(int fd, ScriptedNode& node)>;

    explicit ScriptedNode(Script script) : script_(std::move(script)) {
        listen_ = testsupport::ListenLoopback(&port_, 64);
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~ScriptedNode() {
        shutdown(listen_, SHUT_RDWR);
        acceptor_.join();
        for (auto& t : connections_) t.join();
        close(listen_);
    }
    ScriptedNode(const ScriptedNode&) = delete;
    ScriptedNode& operator=(const ScriptedNode&) = delete;

    int port() const { return port_; }
    int accepted() const { return accepted_.load(); }

    // Reads exactly n bytes (less when the peer closes or 5 s pass) and keeps them.
    std::string Read(int fd, size_t n) {
        std::string got = ReadBytes(fd, n);
        Keep(got);
        return got;
    }
    // Reads up to and including `end`.
    std::string ReadUntil(int fd, const std::string& end) {
        std::string got;
        while (got.size() < end.size() || got.compare(got.size() - end.size(), end.size(), end) != 0) {
            std::string one = ReadBytes(fd, 1);
            if (one.empty()) break;
            got += one;
        }
        Keep(got);
        return got;
    }
    std::string ReadAll(int fd) {
        std::string got = ReadToEnd(fd);
        Keep(got);
        return got;
    }
    // Writes in pieces of `piece` bytes (0: at once) with a short pause between.
    static void Write(int fd, const std::string& bytes, size_t piece = 0) {
        if (piece == 0) piece = bytes.size();
        for (size_t at = 0; at < bytes.size(); at += piece) {
            SendText(fd, bytes.substr(at, piece));
            if (at + piece < bytes.size()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    // Sends back whatever arrives until the peer closes.
    static void Echo(int fd) {
        char buf[65536];
        for (;;) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return;
            if (!SendText(fd, std::string(buf, static_cast<size_t>(n)))) return;
        }
    }

    std::string received() {
        std::lock_guard<std::mutex> lock(lock_);
        return received_;
    }

private:
    void Keep(const std::string& bytes) {
        std::lock_guard<std::mutex> lock(lock_);
        received_ += bytes;
    }
    void Accept() {
        for (;;) {
            int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            accepted_++;
            connections_.emplace_back([this, fd] {
                script_(fd, *this);
                close(fd);
            });
        }
    }

    Script script_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<int> accepted_{0};
    std::thread acceptor_;
    std::vector<std::thread> connections_;
    std::mutex lock_;
    std::string received_;
};

}  // namespace proxytest
