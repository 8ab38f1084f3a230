#include "engine/system/bconnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/base/blog.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_BConnection

namespace {

int AddrToSockaddr(const BAddr& addr, unsigned char* out, unsigned* out_len) {
    switch (addr.type) {
        case BADDR_TYPE_IPV4: {
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_port = addr.ipv4.port;
            sa.sin_addr.s_addr = addr.ipv4.ip;
            std::memcpy(out, &sa, sizeof sa);
            *out_len = sizeof sa;
            return AF_INET;
        }
        case BADDR_TYPE_IPV6: {
            sockaddr_in6 sa{};
            sa.sin6_family = AF_INET6;
            sa.sin6_port = addr.ipv6.port;
            std::memcpy(sa.sin6_addr.s6_addr, addr.ipv6.ip, 16);
            std::memcpy(out, &sa, sizeof sa);
            *out_len = sizeof sa;
            return AF_INET6;
        }
        default:
            return -1;
    }
}

// ---- connector ----

int ConnectAttempt(void* user, size_t*, int* error) {
    auto* o = static_cast<BConnector*>(user);
    if (!o->connect_called) {
        o->connect_called = 1;
        if (connect(o->fd, reinterpret_cast<sockaddr*>(o->dest), o->dest_len) == 0) return BREACTOROP_DONE;
        if (errno == EINPROGRESS || errno == EINTR) return BREACTOROP_AGAIN;
        *error = errno;
        return BREACTOROP_FAILED;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(o->fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
        *error = errno;
        return BREACTOROP_FAILED;
    }
    if (err != 0) {
        *error = err;
        return BREACTOROP_FAILED;
    }
    sockaddr_storage peer;
    socklen_t plen = sizeof peer;
    if (getpeername(o->fd, reinterpret_cast<sockaddr*>(&peer), &plen) == 0) return BREACTOROP_DONE;
    if (errno == ENOTCONN) return BREACTOROP_AGAIN;  // still connecting
    *error = errno;
    return BREACTOROP_FAILED;
}

void ConnectDone(void* user, int event, size_t) {
    auto* o = static_cast<BConnector*>(user);
    if (event == BREACTOROP_EVENT_EXITING) {
        BReactorOp_Free(&o->op);
        return;
    }
    o->connecting = 0;
    if (event == BREACTOROP_EVENT_FAILED) {
        BLog(BLOG_ERROR, "connection failed (%d)", BReactorOp_Error(&o->op));
    } else {
        o->connected = 1;
    }
    o->handler(o->user, !o->connected);
}

void CloseSocket(int fd) {
    if (close(fd) != 0) BLog(BLOG_ERROR, "close failed");
}

}  // namespace

int BConnector_Init(BConnector* o, BAddr addr, BReactor* reactor, void* user, BConnector_handler handler) {
    o->reactor = reactor;
    o->user = user;
    o->handler = handler;
    o->fd = -1;
    o->connect_called = 0;
    o->connecting = 0;
    o->connected = 0;
    int family = AddrToSockaddr(addr, o->dest, &o->dest_len);
    if (family < 0) {
        BLog(BLOG_ERROR, "address not supported");
        return 0;
    }
    o->fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (o->fd < 0) {
        BLog(BLOG_ERROR, "socket failed (%d)", errno);
        return 0;
    }
    {
        // The engine relays what arrives as it arrives, a segment or a few at a
        // time; Nagle would hold the tail of each such write until the peer's
        // delayed acknowledgement.
        int one = 1;
        setsockopt(o->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    if (!BReactorFd_Init(&o->rfd, reactor, o->fd)) {
        BLog(BLOG_ERROR, "registering the socket failed");
        CloseSocket(o->fd);
        o->fd = -1;
        return 0;
    }
    BReactorOp_Init(&o->op, reactor, o, ConnectDone);
    o->connecting = 1;
    BReactorOp_Start(&o->op, &o->rfd, BREACTOR_WRITE, ConnectAttempt, o);
    return 1;
}

void BConnector_Free(BConnector* o) {
    BReactorOp_Free(&o->op);
    if (o->fd >= 0) {
        BReactorFd_Free(&o->rfd);
        CloseSocket(o->fd);
        o->fd = -1;
    }
}

// ---- connection ----

namespace {

int SendAttempt(void* user, size_t* bytes, int* error) {
    auto* o = static_cast<BConnection*>(user);
    ssize_t n = send(o->fd, o->send_data, static_cast<size_t>(o->send_len), MSG_NOSIGNAL);
    if (n >= 0) {
        *bytes = static_cast<size_t>(n);
        return BREACTOROP_DONE;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return BREACTOROP_AGAIN;
    *error = errno;
    return BREACTOROP_FAILED;
}

int RecvAttempt(void* user, size_t* bytes, int* error) {
    auto* o = static_cast<BConnection*>(user);
    ssize_t n = recv(o->fd, o->recv_buf, static_cast<size_t>(o->recv_avail), 0);
    if (n >= 0) {
        *bytes = static_cast<size_t>(n);
        return BREACTOROP_DONE;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return BREACTOROP_AGAIN;
    *error = errno;
    return BREACTOROP_FAILED;
}

void SendDone(void* user, int event, size_t bytes) {
    auto* o = static_cast<BConnection*>(user);
    if (event == BREACTOROP_EVENT_EXITING) {
        BReactorOp_Free(&o->send_op);
        return;
    }
    o->send_busy = 0;
    if (event == BREACTOROP_EVENT_FAILED || bytes == 0) {
        BLog(BLOG_ERROR, "sending failed (%d)", BReactorOp_Error(&o->send_op));
        o->handler(o->user, BCONNECTION_EVENT_ERROR);
        return;
    }
    StreamSink_Done(&o->send_iface, static_cast<int>(bytes));
}

void RecvDone(void* user, int event, size_t bytes) {
    auto* o = static_cast<BConnection*>(user);
    if (event == BREACTOROP_EVENT_EXITING) {
        BReactorOp_Free(&o->recv_op);
        return;
    }
    o->recv_busy = 0;
    if (event == BREACTOROP_EVENT_FAILED) {
        BLog(BLOG_ERROR, "receiving failed (%d)", BReactorOp_Error(&o->recv_op));
        o->handler(o->user, BCONNECTION_EVENT_ERROR);
        return;
    }
    if (bytes == 0) {
        o->recv_closed = 1;
        o->handler(o->user, BCONNECTION_EVENT_RECVCLOSED);
        return;
    }
    StreamSource_Done(&o->recv_iface, static_cast<int>(bytes));
}

void SendHandler(void* user, uint8_t* data, int len) {
    auto* o = static_cast<BConnection*>(user);
    o->send_data = data;
    o->send_len = len;
    o->send_busy = 1;
    BReactorOp_Start(&o->send_op, &o->rfd, BREACTOR_WRITE, SendAttempt, o);
}

void RecvHandler(void* user, uint8_t* buf, int avail) {
    auto* o = static_cast<BConnection*>(user);
    o->recv_buf = buf;
    o->recv_avail = avail;
    o->recv_busy = 1;
    BReactorOp_Start(&o->recv_op, &o->rfd, BREACTOR_READ, RecvAttempt, o);
}

}  // namespace

int BConnection_Init(BConnection* o, BConnector* connector, BReactor* reactor, void* user,
                     BConnection_handler handler) {
    o->reactor = reactor;
    o->user = user;
    o->handler = handler;
    o->closed = 0;
    o->fd = -1;
    if (connector->fd < 0 || !connector->connected) return 0;
    BReactorOp_Free(&connector->op);
    if (!BReactorFd_Move(&o->rfd, &connector->rfd)) return 0;
    o->fd = connector->fd;
    connector->fd = -1;
    BConnector_Free(connector);

    o->send_active = 0;
    o->send_busy = 0;
    o->send_data = nullptr;
    o->send_len = 0;
    o->recv_active = 0;
    o->recv_busy = 0;
    o->recv_buf = nullptr;
    o->recv_avail = 0;
    o->recv_closed = 0;
    BReactorOp_Init(&o->send_op, reactor, o, SendDone);
    BReactorOp_Init(&o->recv_op, reactor, o, RecvDone);
    return 1;
}

void BConnection_Free(BConnection* o) {
    if (o->closed) return;
    // Operations are retried from user space only, so dropping them is all
    // it takes for no system call to touch the buffers afterwards.
    BReactorOp_Free(&o->recv_op);
    BReactorOp_Free(&o->send_op);
    if (o->fd >= 0) {
        BReactorFd_Free(&o->rfd);
        CloseSocket(o->fd);
        o->fd = -1;
    }
    o->closed = 1;
}

int BConnection_ResetOnClose(BConnection* o) {
    if (o->closed || o->fd < 0) return 0;
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    return setsockopt(o->fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0;
}

void BConnection_SendStream_Init(BConnection* o) {
    StreamSink_Init(&o->send_iface, SendHandler, o, BReactor_JobStack(o->reactor));
    o->send_active = 1;
}

void BConnection_SendStream_Free(BConnection* o) {
    if (o->send_busy) {
        BReactorOp_Cancel(&o->send_op);
        o->send_busy = 0;
    }
    StreamSink_Free(&o->send_iface);
    o->send_active = 0;
}

StreamSink* BConnection_SendStream_GetIf(BConnection* o) {
    return &o->send_iface;
}

int BConnection_SendShutdown(BConnection* o) {
    if (o->fd < 0 || o->send_busy) return 0;
    if (shutdown(o->fd, SHUT_WR) != 0) {
        BLog(BLOG_ERROR, "shutdown failed (%d)", errno);
        return 0;
    }
    return 1;
}

void BConnection_RecvStream_Init(BConnection* o) {
    StreamSource_Init(&o->recv_iface, RecvHandler, o, BReactor_JobStack(o->reactor));
    o->recv_active = 1;
}

void BConnection_RecvStream_Free(BConnection* o) {
    if (o->recv_busy) {
        BReactorOp_Cancel(&o->recv_op);
        o->recv_busy = 0;
    }
    StreamSource_Free(&o->recv_iface);
    o->recv_active = 0;
}

StreamSource* BConnection_RecvStream_GetIf(BConnection* o) {
    return &o->recv_iface;
}
