#include "proxy/ssh_session.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "proxy/service_stop.h"

namespace {

using Clock = std::chrono::steady_clock;

// A slice of a longer wait: a wake-up that went missing costs no more.
constexpr auto kWaitSlice = std::chrono::milliseconds(100);
// How long one packet may wait for room on the session socket.
constexpr int kSendLimitMs = 30000;

// libssh2 keeps a packet it could send only in part for the very next call
// to finish; with many channels that next call is another channel's, which
// then loses its own packet or sends one twice. So every packet goes out
// whole: the sender waits for room (bounded) instead of giving up half way.
ssize_t SendWhole(libssh2_socket_t socket, const void* buffer, size_t length, int flags, void**) {
    const auto* p = static_cast<const char*>(buffer);
    size_t sent = 0;
    const auto until = Clock::now() + std::chrono::milliseconds(kSendLimitMs);
    while (sent < length) {
        ssize_t n = send(socket, p + sent, length - sent, flags | MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -errno;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) return -ETIMEDOUT;
        pollfd out{socket, POLLOUT, 0};
        if (poll(&out, 1, static_cast<int>(left)) < 0 && errno != EINTR) return -errno;
    }
    return static_cast<ssize_t>(sent);
}

}  // namespace

CSshSession::CSshSession(LIBSSH2_SESSION* session, int socket) : session_(session), socket_(socket) {
    std::lock_guard<std::mutex> guard(lock_);
    libssh2_session_set_blocking(session_, 0);
    libssh2_session_callback_set(session_, LIBSSH2_CALLBACK_SEND, reinterpret_cast<void*>(&SendWhole));
}

CSshSession::~CSshSession() = default;

int CSshSession::PendingInput() const {
    int n = 0;
    if (ioctl(socket_, FIONREAD, &n) != 0) return 0;
    return n;
}

int CSshSession::RegisterWaiter() {
    int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) return -1;
    std::lock_guard<std::mutex> guard(waitersLock_);
    waiters_.insert(fd);
    return fd;
}

void CSshSession::UnregisterWaiter(int fd) {
    if (fd < 0) return;
    {
        std::lock_guard<std::mutex> guard(waitersLock_);
        waiters_.erase(fd);
    }
    close(fd);
}

void CSshSession::WakeOthers(int self) {
    std::lock_guard<std::mutex> guard(waitersLock_);
    for (int fd : waiters_) {
        if (fd == self) continue;
        uint64_t one = 1;
        ssize_t ignored = write(fd, &one, sizeof one);
        (void)ignored;
    }
}

short CSshSession::Wait(int wakeFd, int directions, int extraFd, short extraEvents, std::chrono::milliseconds limit) {
    short sessionEvents = 0;
    if (directions & LIBSSH2_SESSION_BLOCK_INBOUND) sessionEvents |= POLLIN;
    if (directions & LIBSSH2_SESSION_BLOCK_OUTBOUND) sessionEvents |= POLLOUT;
    pollfd fds[4] = {{socket_, sessionEvents, 0},
                     {wakeFd, POLLIN, 0},
                     {extraFd, extraEvents, 0},
                     {ServiceStopFdForThread(), POLLIN, 0}};
    int n;
    do {
        n = poll(fds, 4, static_cast<int>(limit.count()));
    } while (n < 0 && errno == EINTR);
    if (n > 0 && (fds[1].revents & POLLIN)) {
        uint64_t count;
        ssize_t ignored = read(wakeFd, &count, sizeof count);
        (void)ignored;
    }
    return fds[2].revents;
}

LIBSSH2_CHANNEL* CSshSession::OpenDirectTcpip(const std::string& host, int port, const std::string& originHost,
                                              int originPort, std::chrono::milliseconds limit) {
    std::lock_guard<std::mutex> opening(openLock_);
    const auto until = Clock::now() + limit;
    int wakeFd = RegisterWaiter();
    LIBSSH2_CHANNEL* channel = nullptr;
    for (;;) {
        int directions = 0;
        int error = 0;
        channel = Run(
            [&](LIBSSH2_SESSION* s) {
                return libssh2_channel_direct_tcpip_ex(s, host.c_str(), port, originHost.c_str(), originPort);
            },
            &directions, &error);
        if (channel != nullptr || error != LIBSSH2_ERROR_EAGAIN) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0 || (ServiceStopFdForThread() >= 0 && IsServiceStopping())) break;
        Wait(wakeFd, directions, -1, 0, std::min(left, std::chrono::milliseconds(kWaitSlice)));
    }
    UnregisterWaiter(wakeFd);
    return channel;
}

void CSshSession::FreeChannel(LIBSSH2_CHANNEL* channel, std::chrono::milliseconds limit) {
    if (channel == nullptr) return;
    const auto until = Clock::now() + limit;
    int wakeFd = RegisterWaiter();
    for (;;) {
        int directions = 0;
        int rc = Run([&](LIBSSH2_SESSION*) { return libssh2_channel_free(channel); }, &directions);
        if (rc != LIBSSH2_ERROR_EAGAIN) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        // Past the limit the channel is left to the session: better than a
        // record freed under a close still in flight.
        if (left.count() <= 0) break;
        Wait(wakeFd, directions, -1, 0, std::min(left, std::chrono::milliseconds(kWaitSlice)));
    }
    UnregisterWaiter(wakeFd);
}
