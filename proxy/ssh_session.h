#pragma once
// One SSH session shared by every SSH2 connection of the listener.
//
// libssh2 is not safe for concurrent use of one session, so every call on
// it goes through Call, under one lock that is never held while a thread
// waits. The session runs non-blocking; a thread that has to wait polls the
// session socket in the directions libssh2 names, and also its own wake-up
// descriptor: a call of another thread may have read, and queued, the
// packets it waits for, which leaves nothing on the socket to wake it.
//
// Packets always go out whole (a partial one would have to be finished by
// the very next call on the session, which may be another channel's); the
// wait for room on the socket is bounded.
//
// The listener owns the session and its socket; connections only borrow them.

#include <libssh2.h>

#include <chrono>
#include <mutex>
#include <set>
#include <string>

class CSshSession {
public:
    CSshSession(LIBSSH2_SESSION* session, int socket);
    ~CSshSession();
    CSshSession(const CSshSession&) = delete;
    CSshSession& operator=(const CSshSession&) = delete;

    LIBSSH2_SESSION* session() const { return session_; }
    int socket() const { return socket_; }

    // Runs `call` under the session lock. *blockDirections receives what
    // libssh2 waits for afterwards (LIBSSH2_SESSION_BLOCK_*), *lastError the
    // session's last error when the call returned null or a negative value.
    template <class Call>
    auto Run(Call call, int* blockDirections = nullptr, int* lastError = nullptr) {
        int waiting = 0;
        std::unique_lock<std::mutex> guard(lock_);
        int before = PendingInput();
        auto result = call(session_);
        if (blockDirections) *blockDirections = libssh2_session_block_directions(session_);
        if (lastError) *lastError = libssh2_session_last_errno(session_);
        waiting = PendingInput();
        guard.unlock();
        // The call took bytes off the socket: they may belong to another channel.
        if (before > 0 && waiting < before) WakeOthers(-1);
        return result;
    }

    // A wake-up descriptor for one waiting connection (-1 when none could be made).
    int RegisterWaiter();
    void UnregisterWaiter(int fd);
    // Waits until the session socket is ready in `directions`, the wake-up
    // descriptor or `extraFd` (when >= 0, for reading) is readable, or
    // `limit` passes. Returns the extra descriptor's poll events.
    short Wait(int wakeFd, int directions, int extraFd, short extraEvents, std::chrono::milliseconds limit);

    // A direct TCP/IP channel to host:port with the given originator, tried
    // again while libssh2 answers EAGAIN, until `limit`. Channel opens are
    // one at a time: libssh2 keeps an open's progress in the session.
    LIBSSH2_CHANNEL* OpenDirectTcpip(const std::string& host, int port, const std::string& originHost,
                                     int originPort, std::chrono::milliseconds limit);
    // Sends EOF, closes and frees the channel, waiting at most `limit` for
    // the peer; null is ignored.
    void FreeChannel(LIBSSH2_CHANNEL* channel, std::chrono::milliseconds limit);

private:
    int PendingInput() const;
    void WakeOthers(int self);

    LIBSSH2_SESSION* session_;
    int socket_;
    std::mutex lock_;
    std::mutex openLock_;
    std::mutex waitersLock_;
    std::set<int> waiters_;
};
