#include "tests/support/echo_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace testsupport {
namespace {

int BoundSocket(int type, int* port) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        close(fd);
        throw std::runtime_error("bind on 127.0.0.1 failed");
    }
    *port = ntohs(sa.sin_port);
    return fd;
}

// Waits until `fd` is readable; false once the stop pipe fires.
bool WaitReadable(int fd, int stop_fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    while (poll(fds, 2, -1) < 0) {
    }
    return !(fds[1].revents & POLLIN);
}

void MakeStopPipe(int fds[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

void FireStopPipe(int fds[2]) {
    char c = 1;
    (void)!write(fds[1], &c, 1);
}

void ClosePipe(int fds[2]) {
    close(fds[0]);
    close(fds[1]);
}

}  // namespace

TcpEchoServer::TcpEchoServer() {
    MakeStopPipe(stop_fds_);
    listen_fd_ = BoundSocket(SOCK_STREAM, &port_);
    if (listen(listen_fd_, 64) != 0) {
        close(listen_fd_);
        ClosePipe(stop_fds_);
        throw std::runtime_error("listen failed");
    }
    acceptor_ = std::thread(&TcpEchoServer::AcceptLoop, this);
}

TcpEchoServer::~TcpEchoServer() {
    FireStopPipe(stop_fds_);
    acceptor_.join();
    for (auto& t : connections_) t.join();
    close(listen_fd_);
    ClosePipe(stop_fds_);
}

void TcpEchoServer::AcceptLoop() {
    while (WaitReadable(listen_fd_, stop_fds_[0])) {
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        // A peer that stops reading must not keep the server from stopping.
        timeval timeout{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        std::lock_guard<std::mutex> guard(lock_);
        connections_.emplace_back(&TcpEchoServer::Serve, this, fd);
    }
}

void TcpEchoServer::Serve(int fd) {
    char buf[65536];
    while (WaitReadable(fd, stop_fds_[0])) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        for (ssize_t sent = 0; sent < n;) {
            const ssize_t m = send(fd, buf + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
            if (m <= 0) {
                close(fd);
                return;
            }
            sent += m;
        }
    }
    close(fd);
}

UdpEchoServer::UdpEchoServer() {
    MakeStopPipe(stop_fds_);
    fd_ = BoundSocket(SOCK_DGRAM, &port_);
    thread_ = std::thread(&UdpEchoServer::Loop, this);
}

UdpEchoServer::~UdpEchoServer() {
    FireStopPipe(stop_fds_);
    thread_.join();
    close(fd_);
    ClosePipe(stop_fds_);
}

void UdpEchoServer::Loop() {
    char buf[65536];
    while (WaitReadable(fd_, stop_fds_[0])) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) continue;
        sendto(fd_, buf, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
}

}  // namespace testsupport
