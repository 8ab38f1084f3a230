#include "proxy/udp_relay_ssr.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "ciphers/cryptor_factory.h"
#include "ciphers/plugins/auth_data.h"
#include "ciphers/plugins/obfs_factory.h"
#include "proxy/socket_base.h"
#include "proxy/socks_client.h"
#include "proxy/ssr_datagram.h"

namespace {

constexpr int kJobPollMs = 500;
constexpr int kDatagramBuffer = 65507;
constexpr int kReceiveBurst = 32;

}  // namespace

CSSRTCPUDPMainLoop::CSSRTCPUDPMainLoop(CSocksClient* client) : CTUNTAPProtoBase(client) {
    if (client) server_ = client->GetNodeServerAddress();
    if (server_.sin_family != AF_INET) {
        // The client did not resolve it for this connection: the node's
        // resolved address when known, else its host.
        if (!ResolveSockAddrCached(fields_.port, &server_, fields_.GetConnectAddress().c_str())) server_ = {};
    }
}

bool CSSRTCPUDPMainLoop::PrepareStart(UdpSessionStart* start) {
    // Only the server may send into the flow.
    if (server_.sin_family != AF_INET ||
        connect(start->udpSocket, reinterpret_cast<const sockaddr*>(&server_), sizeof server_) != 0) {
        return false;
    }
    start->cryptor = CreateCryptor(fields_.method, fields_.password);
    if (!start->cryptor) return true;  // the flow sends nothing; its first reply ends it
    start->protocol = CreateObfs(fields_.protocol, fields_.protocolParam);
    start->obfs = CreateObfs(fields_.obfs, fields_.obfsParam);
    CAuthData* shared = start->obfs ? start->obfs->GetSharedData()
                                    : (start->protocol ? start->protocol->GetSharedData() : nullptr);
    SSRServerInfo info = MakeServerInfo(*start->cryptor, fields_.host, fields_.port, fields_.obfsParam, shared);
    if (start->obfs) start->obfs->SetServerInfo(info);
    if (start->protocol) {
        info.param = fields_.protocolParam;
        info.sharedData = start->protocol->GetSharedData();
        info.overhead = static_cast<uint16_t>((start->obfs ? start->obfs->GetOwnOverhead() : 0) +
                                              start->protocol->GetOwnOverhead());
        start->protocol->SetServerInfo(info);
    }
    return true;
}

int CSSRTCPUDPMainLoop::ThreadBody(UdpSession* session, int type, const std::shared_ptr<UdpSessionStart>& start) {
    if (type != kSessionJob || session == nullptr || !start) return 0;
    return SessionJob(session, start);
}

int CSSRTCPUDPMainLoop::SessionJob(UdpSession* session, const std::shared_ptr<UdpSessionStart>& start) {
    std::vector<uint8_t> buffer(kDatagramBuffer);
    std::vector<uint8_t> plain;
    std::vector<uint8_t> frame;
    UdpSessionStart* s = start.get();
    bool ended = false;
    while (!ended && IsRunning() && session->IsCurrent(s->generation)) {
        pollfd p[2] = {{s->udpSocket, POLLIN, 0}, {s->eventFd, POLLIN, 0}};
        int ready = poll(p, 2, kJobPollMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) break;
        if (ready == 0) continue;
        if (p[1].revents & POLLIN) {
            s->Drain();
            int sent = SendQueued(session, s);
            if (sent < 0) break;
            CountSent(sent);
        }
        if (p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) break;
        if (!(p[0].revents & POLLIN)) continue;
        for (int i = 0; i < kReceiveBurst && !ended; ++i) {
            ssize_t got = recv(s->udpSocket, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
            // One datagram that does not decrypt ends the flow: only the
            // server can send here, so it is no forgery.
            if (got <= 0 ||
                !SsrDecodeDatagram(s->cryptor.get(), s->protocol.get(), buffer.data(), static_cast<int>(got), &plain) ||
                plain.size() + 3 > static_cast<size_t>(kDatagramBuffer)) {
                ended = true;
                break;
            }
            if (!BuildReplyFrame(plain.data(), static_cast<int>(plain.size()), s->connectionId, &frame)) continue;
            int size = static_cast<int>(frame.size());
            if (!session->QueueReply(s->generation, std::move(frame))) {
                ended = true;
                break;
            }
            SignalWriter(session);
            CountReceived(size);
        }
    }
    session->EndJob(s->generation);
    return 1;
}

int CSSRTCPUDPMainLoop::SendQueued(UdpSession* session, UdpSessionStart* start) {
    UdpFrameQueue frames;
    if (!session->TakeOutgoing(start->generation, &frames)) return -1;
    int total = 0;
    std::vector<uint8_t> wire;
    for (auto& frame : frames) {
        if (!IsRunning()) break;
        if (!start->cryptor || frame.size() <= 5) continue;
        // The frame becomes a Shadowsocks datagram: ATYP, address, port, data.
        frame[4] = (frame[2] & kUdpGwIpv6) ? 4 : 1;
        if (!SsrEncodeDatagram(start->cryptor.get(), start->protocol.get(), frame.data() + 4,
                               static_cast<int>(frame.size()) - 4, &wire)) {
            continue;
        }
        ssize_t sent = send(start->udpSocket, wire.data(), wire.size(), MSG_NOSIGNAL);
        if (sent < 0) return -1;
        total += static_cast<int>(sent);
    }
    if (total != 0) session->TouchSent(start->generation);
    return total;
}
