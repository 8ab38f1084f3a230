#include "proxy/socket_client.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "foundation/text_convert.h"
#include "proxy/socket_base.h"
#include "proxy/test_stop.h"

namespace {

constexpr int kDefaultTimeoutSeconds = 3;

}  // namespace

CSocketEx::~CSocketEx() {
    Close();
}

void CSocketEx::Open(int type) {
    socket_ = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        lastError_ = errno;
        socket_ = -1;
        return;
    }
    TrackTestSocket(socket_);
    if (!BindAny()) {
        lastError_ = errno;
        Close();
        return;
    }
    SetDefaultTimeouts();
}

void CSocketEx::Close() {
    int old = socket_;
    socket_ = -1;
    CloseSocket(old);
}

bool CSocketEx::BindAny() {
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    return bind(socket_, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0;
}

void CSocketEx::SetDefaultTimeouts() {
    timeval tv{kDefaultTimeoutSeconds, 0};
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

int CSocketEx::ResolveSockAddr(sockaddr_in* out, const wchar_t* host, uint16_t port) {
    std::string narrow = host ? WideToAnsiString(host) : std::string();
    if (narrow.empty() || !ResolveSockAddrCached(port, out, narrow.c_str())) {
        lastError_ = EINVAL;
        return 0;
    }
    return 1;
}

int CSocketEx::Connect(const wchar_t* host, uint16_t port) {
    if (socket_ < 0) return 0;
    sockaddr_in to{};
    if (!ResolveSockAddr(&to, host, port)) {
        Close();
        return 0;
    }
    if (connect(socket_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        lastError_ = errno;
        Close();
        return 0;
    }
    remoteAddress_ = to;
    int type = 0;
    socklen_t tl = sizeof type;
    if (getsockopt(socket_, SOL_SOCKET, SO_TYPE, &type, &tl) == 0 && type == SOCK_STREAM) SetNoDelay(socket_);
    SetDefaultTimeouts();
    return 1;
}

int CSocketEx::RecvUInt16(uint16_t* value) {
    if (socket_ < 0) return 0;
    unsigned char bytes[2];
    if (TimedRecvExact(socket_, bytes, 2, kDefaultTimeoutSeconds) != 2) return 0;
    *value = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
    return 1;
}

int CSocketEx::RecvFrom(void* buf, int len) {
    if (socket_ < 0 || len <= 0) return -1;
    for (;;) {
        ssize_t n = recvfrom(socket_, buf, static_cast<size_t>(len), 0, nullptr, nullptr);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) lastError_ = errno;
        return static_cast<int>(n);
    }
}

CSocketClient::CSocketClient() {
    Open(SOCK_STREAM);
}
