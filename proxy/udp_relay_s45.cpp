#include "proxy/udp_relay_s45.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "proxy/socks5_association.h"
#include "proxy/socket_base.h"

namespace {

constexpr int kJobPollMs = 500;
constexpr int kSendTimeout = 5;
constexpr int kDatagramBuffer = 65507;
// Datagrams read in one pass before the other sources get their turn.
constexpr int kReceiveBurst = 32;

}  // namespace

int CS45TCPUDPMainLoop::ThreadBody(UdpSession* session, int type, const std::shared_ptr<UdpSessionStart>& start) {
    if (type != kSessionJob || session == nullptr || !start) return 0;
    if (start->frameFlags & kUdpGwNoSend) return HandleFlaggedSession(session);
    return SessionJob(session, start);
}

int CS45TCPUDPMainLoop::SessionJob(UdpSession* session, const std::shared_ptr<UdpSessionStart>& start) {
    if (IsRunning() && start->udpSocket >= 0 && Associate(session, start.get())) Serve(session, start.get());
    session->EndJob(start->generation);
    return 1;
}

bool CS45TCPUDPMainLoop::Associate(UdpSession* session, UdpSessionStart* start) {
    sockaddr_in relay{};
    uint32_t bound = 0;
    int control = OpenSocks5Association(fields_, node_, &relay, &bound);
    if (control < 0) return false;
    // From here the start owns the connection: a reset shuts it down.
    start->controlSocket.store(control);
    return session->IsCurrent(start->generation) &&
           connect(start->udpSocket, reinterpret_cast<sockaddr*>(&relay), sizeof relay) == 0;
}

void CS45TCPUDPMainLoop::Serve(UdpSession* session, UdpSessionStart* start) {
    std::vector<uint8_t> buffer(kDatagramBuffer + 1);
    std::vector<uint8_t> frame;
    std::vector<uint8_t> discard(100);
    int control = start->controlSocket.load();
    while (IsRunning() && session->IsCurrent(start->generation)) {
        pollfd p[3] = {{start->udpSocket, POLLIN, 0}, {start->eventFd, POLLIN, 0}, {control, POLLIN, 0}};
        int ready = poll(p, 3, kJobPollMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return;
        if (ready == 0) continue;
        // Every ready source is served in each pass, so that a busy download
        // cannot hold back the upload or the association's end.
        if (p[1].revents & POLLIN) {
            start->Drain();
            int sent = SendQueued(session, start);
            if (sent < 0) return;
            CountSent(sent);
        }
        if (p[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t got = recv(control, discard.data(), discard.size(), MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return;
        }
        if (p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
        if (!(p[0].revents & POLLIN)) continue;
        for (int i = 0; i < kReceiveBurst; ++i) {
            // One spare byte in front: the reply frame's header then ends on the ATYP.
            ssize_t got = recv(start->udpSocket, buffer.data() + 1, kDatagramBuffer, MSG_DONTWAIT);
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
            if (got <= 0 || got >= kDatagramBuffer) return;
            // RSV RSV FRAG ATYP ...: the ATYP onwards is what a reply frame carries.
            if (got < 4) continue;
            if (!BuildReplyFrame(buffer.data() + 4, static_cast<int>(got) - 3, start->connectionId, &frame)) continue;
            int size = static_cast<int>(frame.size());
            if (!session->QueueReply(start->generation, std::move(frame))) return;
            SignalWriter(session);
            CountReceived(size);
        }
    }
}

int CS45TCPUDPMainLoop::SendQueued(UdpSession* session, UdpSessionStart* start) {
    UdpFrameQueue frames;
    if (!session->TakeOutgoing(start->generation, &frames)) return -1;
    int total = 0;
    for (auto& frame : frames) {
        if (!IsRunning()) break;
        if (frame.size() <= 5) return -1;
        // The frame becomes a SOCKS 5 UDP request in place: its first byte
        // goes, flags and id become RSV and FRAG, the ATYP goes before the address.
        uint8_t* d = frame.data() + 1;
        uint8_t atyp = (frame[2] & kUdpGwIpv6) ? 4 : 1;
        d[0] = 0;
        d[1] = 0;
        d[2] = 0;
        d[3] = atyp;
        int length = static_cast<int>(frame.size()) - 1;
        int sent = TimedSendTo(start->udpSocket, d, length, nullptr, 0, kSendTimeout);
        if (sent <= 0) return -1;
        total += sent;
    }
    if (total != 0) session->TouchSent(start->generation);
    return total;
}
