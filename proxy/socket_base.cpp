#include "proxy/socket_base.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "proxy/service_stop.h"
#include "proxy/test_stop.h"

namespace {

using Clock = std::chrono::steady_clock;

// A deadline in the steady clock; `none` waits without limit.
struct Deadline {
    bool none = false;
    Clock::time_point at;

    static Deadline After(int seconds) {
        Deadline d;
        if (seconds < 0) {
            d.none = true;
        } else {
            d.at = Clock::now() + std::chrono::seconds(seconds);
        }
        return d;
    }
    // Milliseconds left for poll: -1 without limit, 0 once passed.
    int LeftMs() const {
        if (none) return -1;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at - Clock::now()).count();
        if (left <= 0) return 0;
        return left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left);
    }
};

// Waits for `events` on `s`: the events seen (> 0), 0 when the deadline
// passed, -1 when the wait failed or the service stops.
int PollSocket(int s, short events, const Deadline& deadline) {
    pollfd fds[2] = {{s, events, 0}, {ServiceStopFdForThread(), POLLIN, 0}};
    for (;;) {
        int n = poll(fds, 2, deadline.LeftMs());
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (fds[1].revents != 0) {
            errno = ECANCELED;
            return -1;
        }
        if (n == 0) return 0;
        if (fds[0].revents & POLLNVAL) {
            errno = EBADF;
            return -1;
        }
        return fds[0].revents;
    }
}

// One receive that waits until the deadline for something to read.
int RecvUntil(int s, void* buf, int len, const Deadline& deadline, bool* closed, sockaddr* from,
              socklen_t* fromLen) {
    if (closed) *closed = false;
    if (len <= 0) return -1;
    for (;;) {
        ssize_t n = recvfrom(s, buf, static_cast<size_t>(len), MSG_DONTWAIT, from, fromLen);
        if (n > 0) return static_cast<int>(n);
        if (n == 0) {
            // An empty datagram is data; an empty stream read is the peer's close.
            int type = 0;
            socklen_t tl = sizeof type;
            if (getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &tl) == 0 && type == SOCK_DGRAM) return 0;
            if (closed) *closed = true;
            return -1;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        int ready = PollSocket(s, POLLIN, deadline);
        if (ready <= 0) return ready;
    }
}

int RecvOnce(int s, void* buf, int len, int timeout, bool* closed, sockaddr* from, socklen_t* fromLen) {
    if (timeout != 0) return RecvUntil(s, buf, len, Deadline::After(timeout), closed, from, fromLen);
    // No wait of ours: the socket's own receive time-out governs.
    if (closed) *closed = false;
    if (len <= 0) return -1;
    for (;;) {
        ssize_t n = recvfrom(s, buf, static_cast<size_t>(len), 0, from, fromLen);
        if (n > 0) return static_cast<int>(n);
        if (n == 0) {
            if (closed) *closed = true;
            return -1;
        }
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

}  // namespace

int TimedRecv(int s, void* buf, int len, int timeout, bool* closed) {
    return RecvOnce(s, buf, len, timeout, closed, nullptr, nullptr);
}

int TimedRecvFrom(int s, void* buf, int len, sockaddr* from, socklen_t* fromLen, int timeout) {
    return RecvOnce(s, buf, len, timeout, nullptr, from, fromLen);
}

int TimedRecvUntil(int s, void* buf, int len, std::chrono::steady_clock::time_point deadline, bool* closed) {
    Deadline d;
    d.at = deadline;
    return RecvUntil(s, buf, len, d, closed, nullptr, nullptr);
}

int TimedRecvExact(int s, void* buf, int len, int timeout, bool* closed) {
    if (closed) *closed = false;
    if (len <= 0) return -1;
    Deadline deadline = Deadline::After(timeout);
    auto* p = static_cast<unsigned char*>(buf);
    int got = 0;
    while (got < len) {
        int n = RecvUntil(s, p + got, len - got, deadline, closed, nullptr, nullptr);
        if (n <= 0) return n;
        got += n;
    }
    return got;
}

int TimedSendAll(int s, const void* data, int len, int timeout) {
    if (len < 0) return -1;
    const auto* p = static_cast<const unsigned char*>(data);
    Deadline deadline = Deadline::After(timeout);
    int sent = 0;
    while (sent < len) {
        ssize_t n = send(s, p + sent, static_cast<size_t>(len - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        if (timeout == 0) return -1;
        int ready = PollSocket(s, POLLOUT, deadline);
        if (ready == 0) return sent;
        if (ready < 0) return -1;
        if ((ready & (POLLERR | POLLHUP)) && !(ready & POLLOUT)) return -1;
    }
    return sent;
}

int TimedSendTo(int s, const void* data, int len, const sockaddr* to, socklen_t toLen, int timeout) {
    if (len < 0) return -1;
    if (timeout != 0) {
        int ready = PollSocket(s, POLLOUT, Deadline::After(timeout));
        if (ready <= 0) return ready;
    }
    for (;;) {
        ssize_t n = sendto(s, data, static_cast<size_t>(len), MSG_NOSIGNAL | MSG_DONTWAIT, to, toLen);
        if (n < 0 && errno == EINTR) continue;
        return static_cast<int>(n);
    }
}

int WaitSocketReady(int s, int seconds) {
    int ready = PollSocket(s, POLLIN | POLLOUT, Deadline::After(seconds));
    if (ready == 0) errno = ETIMEDOUT;
    if (ready <= 0) return -1;
    int error = 0;
    socklen_t el = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &el) != 0) return -1;
    if (error != 0) {
        errno = error;
        return -1;
    }
    if (ready & (POLLERR | POLLHUP)) {
        errno = EHOSTDOWN;
        return -1;
    }
    return 0;
}

int OpenLoopbackUdp(sockaddr_in* bound) {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    *bound = sockaddr_in{};
    bound->sin_family = AF_INET;
    bound->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof *bound;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(bound), sizeof *bound) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(bound), &len) != 0) {
        CloseSocket(s);
        return -1;
    }
    return s;
}

void CloseSocket(int& s) {
    if (s >= 0) {
        UntrackTestSocket(s);
        close(s);
    }
    s = -1;
}

int SetSocketBlocking(int s, bool blocking) {
    int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0) return 0;
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return fcntl(s, F_SETFL, flags) == 0 ? 1 : 0;
}

void SetNoDelay(int s) {
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void FormatIPv4(uint32_t address, char out[16]) {
    in_addr a{};
    a.s_addr = address;
    if (!inet_ntop(AF_INET, &a, out, 16)) out[0] = '\0';
}

int CSocketBase::ReadByte(int s, int* value, int timeout) {
    unsigned char byte = 0;
    if (Recv(s, &byte, 1, timeout) != 1) return 0;
    *value = byte;
    return 1;
}

void CSocketBase::SetTimeouts(int s, int seconds, int which) {
    if (which < 0 || which > 2) return;
    timeval tv{};
    tv.tv_sec = seconds;
    if (which == 0 || which == 1) setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (which == 0 || which == 2) setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

int CSocketBase::Recv(int s, void* buf, int len, int timeout) {
    return TimedRecv(s, buf, len, timeout, &lastRecvClosed_);
}

int CSocketBase::RecvFrom(int s, void* buf, int len, sockaddr* from, socklen_t* fromLen, int timeout) {
    lastRecvClosed_ = false;
    return TimedRecvFrom(s, buf, len, from, fromLen, timeout);
}

int CSocketBase::SendAll(int s, const void* data, int len, int timeout) {
    return TimedSendAll(s, data, len, timeout);
}

int CSocketBase::SendTo(int s, const void* data, int len, const sockaddr* to, socklen_t toLen, int timeout) {
    return TimedSendTo(s, data, len, to, toLen, timeout);
}
