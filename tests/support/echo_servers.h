#pragma once
// TCP and UDP echo servers on 127.0.0.1 for tests that relay traffic through a
// real proxy. Each runs on threads of its own and stops, joining every
// thread, when the object goes away.

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

class TcpEchoServer {
public:
    TcpEchoServer();
    ~TcpEchoServer();
    TcpEchoServer(const TcpEchoServer&) = delete;
    TcpEchoServer& operator=(const TcpEchoServer&) = delete;
    int port() const { return port_; }

private:
    void AcceptLoop();
    void Serve(int fd);
    int listen_fd_ = -1;
    int stop_fds_[2] = {-1, -1};  // a pipe whose read end wakes every poll
    int port_ = 0;
    std::thread acceptor_;
    std::mutex lock_;
    std::vector<std::thread> connections_;
};

class UdpEchoServer {
public:
    UdpEchoServer();
    ~UdpEchoServer();
    UdpEchoServer(const UdpEchoServer&) = delete;
    UdpEchoServer& operator=(const UdpEchoServer&) = delete;
    int port() const { return port_; }

private:
    void Loop();
    int fd_ = -1;
    int stop_fds_[2] = {-1, -1};
    int port_ = 0;
    std::thread thread_;
};

}  // namespace testsupport
