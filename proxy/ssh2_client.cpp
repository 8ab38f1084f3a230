#include "proxy/ssh2_client.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "foundation/private_heap.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/ssh_session.h"

namespace {

constexpr int kBufferSize = 65507;
constexpr int kLocalSendTimeout = 10;
constexpr auto kWaitPeriod = std::chrono::milliseconds(200);

}  // namespace

CSSH2CLient::CSSH2CLient(int localSocket, const char* user, const char* password, CSshSession* session,
                         LIBSSH2_CHANNEL* channel)
    : CSocksClient(localSocket, user, password), session_(session), channel_(channel) {
    remoteSocket_ = session ? session->socket() : -1;
}

CSSH2CLient::~CSSH2CLient() {
    remoteSocket_ = -1;  // the session's socket: the listener closes it
    CloseSocket(upstreamSocket_);
}

int CSSH2CLient::Run() {
    if (node_ == nullptr) {
        CNodeInfo* node = GetCurrentProxyNode();
        if (node == nullptr) return 0;
        AttachNode(node);
    }
    return CSocksClient::Run();
}

int CSSH2CLient::SendVia(int s, const void* data, int len, int timeout) {
    if (data == nullptr || len <= 0) return 0;
    int sent = SendAll(s, data, len, timeout);
    return sent == len ? sent : -1;
}

int CSSH2CLient::RecvVia(int s, void* buf, int len, int timeout, int* sendBack, int* cryptorFlag) {
    if (sendBack) *sendBack = 0;
    if (cryptorFlag) *cryptorFlag = 0;
    if (buf == nullptr || len <= 0) return 0;
    return Recv(s, buf, len, timeout);
}

int CSSH2CLient::SendToVia(int, const void*, int, int, bool) {
    return -1;
}

int CSSH2CLient::RecvFromVia(int, void*, int, int, int* sendBack, int* cryptorFlag, int) {
    if (sendBack) *sendBack = 0;
    if (cryptorFlag) *cryptorFlag = 0;
    return -1;
}

bool CSSH2CLient::OnUdpAssociate() {
    SendSocks5Reply(0x01, 0, 0);
    return false;
}

bool CSSH2CLient::ConnectUpstreamAndReply() {
    uint32_t ownAddress = 0;
    uint16_t ownPort = 0;
    LocalSocketName(&ownAddress, &ownPort);
    return ReplyResult(true, ownAddress, ownPort);
}

bool CSSH2CLient::ReplyLocalBound() {
    ReplyResult(false, 0, 0);
    return false;
}

int CSSH2CLient::RelayTcp() {
    if (session_ == nullptr || channel_ == nullptr) return 0;
    auto* up = static_cast<char*>(PrivateHeapAlloc(kBufferSize));
    auto* down = static_cast<char*>(PrivateHeapAlloc(kBufferSize));
    int wakeFd = session_->RegisterWaiter();
    if (up == nullptr || down == nullptr || wakeFd < 0) {
        PrivateHeapFree(up);
        PrivateHeapFree(down);
        session_->UnregisterWaiter(wakeFd);
        return 0;
    }
    LIBSSH2_CHANNEL* channel = channel_;
    int upStart = 0, upEnd = 0;  // local bytes not yet taken by the channel
    bool localReading = true;     // until the local client's FIN
    bool channelReading = true;   // until the channel's EOF
    bool eofSent = false;
    bool failed = false;

    while (IsRelayRunning() && !failed && (channelReading || !eofSent)) {
        bool progress = false;
        int directions = 0;

        // The channel towards the local client.
        if (channelReading) {
            int eof = 0;
            ssize_t n = session_->Run(
                [&](LIBSSH2_SESSION*) {
                    ssize_t r = libssh2_channel_read(channel, down, kBufferSize);
                    if (r == 0 || r == LIBSSH2_ERROR_EAGAIN) eof = libssh2_channel_eof(channel);
                    return r;
                },
                &directions);
            if (n > 0) {
                CountReceived(static_cast<int>(n));
                if (SendAll(localSocket_, down, static_cast<int>(n), kLocalSendTimeout) != n) failed = true;
                progress = true;
            } else if (n == 0 || n == LIBSSH2_ERROR_EAGAIN) {
                if (eof) {
                    shutdown(localSocket_, SHUT_WR);
                    channelReading = false;
                    progress = true;
                }
            } else {
                failed = true;
            }
        }

        // The local client towards the channel.
        if (!failed && upStart == upEnd && localReading) {
            ssize_t n = recv(localSocket_, up, kBufferSize, MSG_DONTWAIT);
            if (n > 0) {
                upStart = 0;
                upEnd = static_cast<int>(n);
            } else if (n == 0) {
                localReading = false;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                failed = true;
            }
        }
        if (!failed && upStart < upEnd) {
            ssize_t n = session_->Run(
                [&](LIBSSH2_SESSION*) {
                    return libssh2_channel_write(channel, up + upStart, static_cast<size_t>(upEnd - upStart));
                },
                &directions);
            if (n > 0) {
                upStart += static_cast<int>(n);
                CountSent(static_cast<int>(n));
                progress = true;
            } else if (n != LIBSSH2_ERROR_EAGAIN) {
                failed = true;
            }
        }
        if (!failed && !localReading && upStart == upEnd && !eofSent) {
            int rc = session_->Run([&](LIBSSH2_SESSION*) { return libssh2_channel_send_eof(channel); },
                                   &directions);
            if (rc == 0) {
                eofSent = true;
                progress = true;
            } else if (rc != LIBSSH2_ERROR_EAGAIN) {
                failed = true;
            }
        }
        if (failed || progress) continue;

        // Nothing moved: wait for the session, the local client or another
        // connection's call that may have queued our packets.
        bool wantLocal = localReading && upStart == upEnd;
        if (channelReading) directions |= LIBSSH2_SESSION_BLOCK_INBOUND;
        short ev = session_->Wait(wakeFd, directions, wantLocal ? localSocket_ : -1, POLLIN, kWaitPeriod);
        if (ev & (POLLERR | POLLNVAL)) failed = true;
    }

    session_->UnregisterWaiter(wakeFd);
    PrivateHeapFree(up);
    PrivateHeapFree(down);
    if (failed) AbortOnClose(localSocket_);
    return 1;
}
