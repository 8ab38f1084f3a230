#pragma once
// A small client socket with its own handle, last error and remote address,
// for callers that talk to one server at a time (the DNS client).

#include <netinet/in.h>

#include <cstdint>

class CSocketEx {
public:
    CSocketEx() = default;
    // Closes the socket when open.
    virtual ~CSocketEx();
    CSocketEx(const CSocketEx&) = delete;
    CSocketEx& operator=(const CSocketEx&) = delete;

    // Connects to `host` (a dotted address or a name) at `port`. 1 when
    // connected; 0 when not, and then the socket is closed for good (the
    // object cannot try again) with the reason in the last error.
    int Connect(const wchar_t* host, uint16_t port);
    // 1 and the value when exactly two bytes (network order) arrived within
    // the socket's time-out; 0 otherwise.
    int RecvUInt16(uint16_t* value);
    // Bytes received within the socket's time-out, or -1; the sender is not kept.
    int RecvFrom(void* buf, int len);
    void Close();
    bool BindAny();
    // Receive and send time-outs of 3000 ms.
    void SetDefaultTimeouts();
    // 1 with the endpoint in `out`; 0 with last error EINVAL when the host
    // does not resolve.
    int ResolveSockAddr(sockaddr_in* out, const wchar_t* host, uint16_t port);

    int GetSocket() const { return socket_; }
    int GetLastError() const { return lastError_; }
    const sockaddr_in& GetRemoteAddress() const { return remoteAddress_; }

protected:
    // A socket of `type` (SOCK_STREAM or SOCK_DGRAM), bound to 0.0.0.0 port 0
    // with the default time-outs; on failure the error is kept and the
    // handle stays -1.
    void Open(int type);

    int socket_ = -1;
    int lastError_ = 0;
    sockaddr_in remoteAddress_{};
};

// A TCP client socket, ready to connect once constructed.
class CSocketClient : public CSocketEx {
public:
    CSocketClient();
};
