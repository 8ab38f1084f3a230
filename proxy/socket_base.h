#pragma once
// Timed socket primitives of the local proxy service and the interface
// through which connections reach them.
//
// Time-outs are whole seconds: 0 issues the call at once (a blocking call
// then waits as long as the socket's own receive or send time-out), -1 waits
// without limit, N waits at most N seconds. Every wait also ends when the
// service stops (service_stop.h), which counts as a failure.
//
// Sends never block: the data goes out as fast as the socket takes it, and
// the wait for room is bounded by the time-out, so a peer that stops reading
// cannot hold a thread for ever.

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>

// Bytes received (> 0); 0 when the time-out passed with nothing to read; -1
// on an error or when the peer closed its side (then *closed is set, when given).
int TimedRecv(int s, void* buf, int len, int timeout, bool* closed = nullptr);
// As TimedRecv, with the sender's address.
int TimedRecvFrom(int s, void* buf, int len, sockaddr* from, socklen_t* fromLen, int timeout);
// Exactly `len` bytes within the time-out (one deadline for all of them):
// `len`, 0 when the time-out passed first, -1 on an error or a close.
int TimedRecvExact(int s, void* buf, int len, int timeout, bool* closed = nullptr);
// One receive that waits at most until `deadline`; results as TimedRecv.
int TimedRecvUntil(int s, void* buf, int len, std::chrono::steady_clock::time_point deadline,
                   bool* closed = nullptr);
// The number of bytes sent: all of them, or fewer when the wait for room
// timed out; -1 on an error (also when room is needed and the time-out is 0).
int TimedSendAll(int s, const void* data, int len, int timeout);
// Once writable: the result of sendto (bytes or -1); 0 on a time-out; -1
// when the wait failed.
int TimedSendTo(int s, const void* data, int len, const sockaddr* to, socklen_t toLen, int timeout);
// 0 when within `seconds` the socket became readable or writable without an
// error pending (a non-blocking connect has completed); -1 on a time-out, a
// failed wait, or an error on the socket (errno tells which).
int WaitSocketReady(int s, int seconds);

// The IPv4 endpoint of `host` (a dotted address, or a name through the
// host-name cache) and `port` in `out`. 1 on success, 0 when the name does
// not resolve.
int ResolveSockAddrCached(uint16_t port, sockaddr_in* out, const char* host);

// A UDP socket bound to 127.0.0.1 at a port the system picks, its endpoint
// in *bound; -1 on failure.
int OpenLoopbackUdp(sockaddr_in* bound);

// Closes the socket when open and sets it to -1.
void CloseSocket(int& s);
// Switches O_NONBLOCK; 1 on success.
int SetSocketBlocking(int s, bool blocking);
void SetNoDelay(int s);
// The dotted form of an IPv4 address in network order.
void FormatIPv4(uint32_t address, char out[16]);

class CSocketBase {
public:
    CSocketBase() = default;
    virtual ~CSocketBase() = default;
    CSocketBase(const CSocketBase&) = delete;
    CSocketBase& operator=(const CSocketBase&) = delete;

    // 1 and the byte as 0..255 in *value when one arrived; 0 otherwise.
    // Reads through the virtual Recv.
    virtual int ReadByte(int s, int* value, int timeout);
    // Receive and send time-outs (which 0), receive only (1) or send only (2).
    virtual void SetTimeouts(int s, int seconds, int which);
    virtual int Recv(int s, void* buf, int len, int timeout);
    virtual int RecvFrom(int s, void* buf, int len, sockaddr* from, socklen_t* fromLen, int timeout);
    virtual int SendAll(int s, const void* data, int len, int timeout);
    virtual int SendTo(int s, const void* data, int len, const sockaddr* to, socklen_t toLen, int timeout);

    // Whether the last Recv failed because the peer closed its sending side
    // in order (rather than an error): the relays pass such a half-close on.
    bool LastRecvClosed() const { return lastRecvClosed_; }

protected:
    bool lastRecvClosed_ = false;
};
