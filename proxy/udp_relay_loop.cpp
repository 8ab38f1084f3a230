#include "proxy/udp_relay_loop.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "proxy/baddr_helpers.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/proxy_service.h"
#include "proxy/socket_base.h"
#include "proxy/socks_client.h"
#include "proxy/udp_relay_clock.h"

namespace {

constexpr int kRunPollMs = 500;
constexpr int kReaderPollMs = 200;
constexpr int kWriterPollMs = 100;
constexpr int kWriteTimeout = 5;
constexpr int kHeader = 5;  // length 2, flags 1, connection id 2
// Session pool: 100 workers up front, 50 more at a time, 500 at most.
constexpr int kPoolInitial = 100;
constexpr size_t kPoolStack = 307200;
constexpr int kPoolMax = 500;

void SignalFd(int fd) {
    uint64_t one = 1;
    ssize_t ignored = write(fd, &one, sizeof one);
    (void)ignored;
}

void DrainFd(int fd) {
    uint64_t count;
    ssize_t ignored = read(fd, &count, sizeof count);
    (void)ignored;
}

}  // namespace

bool BuildReplyFrame(const uint8_t* datagram, int length, const uint8_t id[2], std::vector<uint8_t>* frame) {
    if (length < 1) return false;
    uint8_t flags;
    int address;
    if (datagram[0] == 1) {
        flags = 0;
        address = 4;
    } else if (datagram[0] == 4) {
        flags = kUdpGwIpv6;
        address = 16;
    } else {
        return false;  // a name (3) or anything else is no source the engine can use
    }
    if (length - 1 < address + 2) return false;
    int total = kHeader + length - 1;
    if (total - 2 > 0xFFFF) return false;
    frame->resize(static_cast<size_t>(total));
    uint8_t* f = frame->data();
    f[0] = static_cast<uint8_t>((total - 2) & 0xFF);
    f[1] = static_cast<uint8_t>((total - 2) >> 8);
    f[2] = flags;
    f[3] = id[0];
    f[4] = id[1];
    std::memcpy(f + kHeader, datagram + 1, static_cast<size_t>(length - 1));
    return true;
}

CTUNTAPProtoBase::CTUNTAPProtoBase(CSocksClient* client)
    : client_(client),
      node_(client ? client->GetNode() : nullptr),
      fields_(client ? client->GetNodeFields() : NodeFields()),
      localSocket_(client ? client->GetLocalSocket() : -1),
      pool_(kPoolInitial, false, kPoolStack, 0, kPoolInitial, THREAD_PRIORITY_HIGHEST, 0),
      overflow_(kPoolMax - kPoolInitial, kPoolStack) {
    stopFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    writerEvent_ = eventfd(1, EFD_NONBLOCK | EFD_CLOEXEC);
}

CTUNTAPProtoBase::~CTUNTAPProtoBase() {
    Stop();
    if (reader_.joinable()) reader_.join();
    if (writer_.joinable()) writer_.join();
    pool_.Stop(true);
    overflow_.JoinAll();
    {
        std::lock_guard<std::mutex> guard(jobsLock_);
        for (JobBlock* block : pendingJobs_) delete block;
        pendingJobs_.clear();
    }
    DestroyAllSessions();
    if (stopFd_ >= 0) close(stopFd_);
    if (writerEvent_ >= 0) close(writerEvent_);
}

void CTUNTAPProtoBase::Stop() {
    if (!stop_.exchange(true) && stopFd_ >= 0) SignalFd(stopFd_);
}

bool CTUNTAPProtoBase::IsRunning() const {
    return IsRelayRunning() && !stop_.load();
}

int CTUNTAPProtoBase::Run() {
    if (stopFd_ < 0 || writerEvent_ < 0 || localSocket_ < 0 || !pool_.Start()) return 1;
    lastIdleCheck_ = UdpRelayNow();
    try {
        reader_ = std::thread([this] { ReaderLoop(); });
        writer_ = std::thread([this] { WriterLoop(); });
    } catch (const std::system_error&) {
        Stop();
    }
    pollfd p{stopFd_, POLLIN, 0};
    while (IsRunning()) {
        poll(&p, 1, kRunPollMs);
        overflow_.Reap();
    }
    Stop();
    if (reader_.joinable()) reader_.join();
    if (writer_.joinable()) writer_.join();
    pool_.Stop(true);
    overflow_.JoinAll();
    return 1;
}

void CTUNTAPProtoBase::DestroyAllSessions() {
    std::lock_guard<std::mutex> guard(tableLock_);
    byId_.clear();
    for (auto& session : sessions_) session->Reset();
    sessions_.clear();
}

size_t CTUNTAPProtoBase::GetSessionCount() {
    std::lock_guard<std::mutex> guard(tableLock_);
    return sessions_.size();
}

void CTUNTAPProtoBase::CountSent(int bytes) {
    if (node_ == nullptr || bytes <= 0) return;
    node_->AddSentBytes(static_cast<uint32_t>(bytes));
    node_->AddBytes(static_cast<uint32_t>(bytes));
}

void CTUNTAPProtoBase::CountReceived(int bytes) {
    if (node_ == nullptr || bytes <= 0) return;
    node_->AddReceivedBytes(static_cast<uint32_t>(bytes));
    node_->AddBytes(static_cast<uint32_t>(bytes));
}

// ---- reader ---------------------------------------------------------------------------------

void CTUNTAPProtoBase::EndStream() {
    // The engine sees the stream end and connects again; its flows carry on.
    shutdown(localSocket_, SHUT_RDWR);
    Stop();
}

void CTUNTAPProtoBase::ReaderLoop() {
    RaiseToSessionPoolPriority();
    std::vector<uint8_t> buffer(kReaderBuffer);
    int n = 0;
    while (IsRunning()) {
        pollfd p[2] = {{localSocket_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        int ready = poll(p, 2, kReaderPollMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || (p[0].revents & (POLLERR | POLLNVAL))) break;
        if (!(p[0].revents & (POLLIN | POLLHUP))) continue;
        if (n == static_cast<int>(buffer.size())) {
            // A frame is at most 65,537 bytes, so one enlargement always suffices.
            if (!GrowableReader() || buffer.size() >= 2 * static_cast<size_t>(kReaderBuffer)) break;
            buffer.resize(buffer.size() + kReaderBuffer);
        }
        ssize_t got = recv(localSocket_, buffer.data() + n, buffer.size() - static_cast<size_t>(n), MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
        if (got <= 0) break;
        n += static_cast<int>(got);
        int consumed = ParseUdpGwFrames(buffer.data(), n);
        if (consumed >= n) {
            n = 0;
        } else if (consumed > 0) {
            std::memmove(buffer.data(), buffer.data() + consumed, static_cast<size_t>(n - consumed));
            n -= consumed;
        }
    }
    EndStream();
}

int CTUNTAPProtoBase::ParseUdpGwFrames(const uint8_t* data, int n) {
    int at = 0;
    while (IsRunning() && n - at >= 2) {
        int length = data[at] | data[at + 1] << 8;
        if (n - at < length + 2) break;
        const uint8_t* frame = data + at;
        at += length + 2;
        if (length < kHeader - 2) continue;
        uint8_t flags = frame[2];
        int after = length + 2 - kHeader;
        if ((flags & kUdpGwKeepalive) || ((flags & kUdpGwIpv6) && after < 18) || (!(flags & kUdpGwIpv6) && after < 6)) {
            continue;
        }
        BAddr destination;
        if (flags & kUdpGwIpv6) {
            uint16_t port;
            std::memcpy(&port, frame + kHeader + 16, 2);
            BAddr_InitIPv6(&destination, frame + kHeader, port);
        } else {
            uint32_t ip;
            uint16_t port;
            std::memcpy(&ip, frame + kHeader, 4);
            std::memcpy(&port, frame + kHeader + 4, 2);
            BAddr_InitIPv4(&destination, ip, port);
        }
        if (UdpSession* session = FindOrCreateSession(flags, frame + 3, destination)) {
            session->QueueOutgoing(frame, length + 2);
        }
        ApplyBypassRule(destination);
    }
    return at;
}

UdpSession* CTUNTAPProtoBase::FindOrCreateSession(uint8_t flags, const uint8_t id[2], const BAddr& destination) {
    std::lock_guard<std::mutex> guard(tableLock_);
    const uint16_t key = static_cast<uint16_t>(id[0] | (id[1] << 8));
    // Only the reader starts sessions, and it indexes each start under its
    // id: a flow's session in use, when there is one, is the one indexed.
    auto indexed = byId_.find(key);
    if (indexed != byId_.end() && indexed->second->HasConnectionId(id)) {
        UdpSession* session = indexed->second;
        if (!(flags & kUdpGwRebind) && session->HasDestination(destination)) return session;
        return StartSession(session, flags, id, destination) ? session : nullptr;
    }
    UdpSession* chosen = nullptr;
    for (auto& session : sessions_) {
        if (session->IsFree()) {
            chosen = session.get();
            break;
        }
    }
    if (chosen == nullptr) {
        auto created = std::make_unique<UdpSession>(node_, &inUse_);
        if (!StartSession(created.get(), flags, id, destination)) return nullptr;
        sessions_.push_back(std::move(created));
        chosen = sessions_.back().get();
    } else if (!StartSession(chosen, flags, id, destination)) {
        return nullptr;
    }
    byId_[key] = chosen;
    return chosen;
}

bool CTUNTAPProtoBase::StartSession(UdpSession* session, uint8_t flags, const uint8_t id[2],
                                    const BAddr& destination) {
    session->Reset();
    auto start = std::make_shared<UdpSessionStart>();
    start->frameFlags = flags;
    std::memcpy(start->connectionId, id, 2);
    start->destination = destination;
    start->udpSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (start->eventFd < 0 || start->udpSocket < 0 ||
        bind(start->udpSocket, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 || !PrepareStart(start.get())) {
        return false;
    }
    session->Install(start, UdpRelayNow());
    auto* block = new JobBlock{this, session, start};
    {
        std::lock_guard<std::mutex> guard(jobsLock_);
        pendingJobs_.insert(block);
    }
    // Without a running pool (a loop that Run has not started, or has
    // ended) no job runs, on the pool or beside it: the session stays in
    // use without a job until its idle time-out. Only Run joins the extra
    // threads while the loop is whole.
    // Only the reader starts sessions, so an idle worker seen here is still
    // idle at the submission. Past the pool's workers a job gets a thread
    // that ends with it; past the maximum it waits in the pool's queue.
    bool submitted = false;
    if (pool_.IsStarted()) {
        submitted = pool_.GetBusyCount() < pool_.GetThreadCount() ? pool_.Submit(JobProc, block, 1)
                                                                  : overflow_.Run(JobProc, block);
        if (!submitted) submitted = pool_.Submit(JobProc, block, 1);
    }
    if (!submitted) {
        std::lock_guard<std::mutex> guard(jobsLock_);
        pendingJobs_.erase(block);
        delete block;
    }
    return true;
}

int CTUNTAPProtoBase::JobProc(void* param) {
    auto* block = static_cast<JobBlock*>(param);
    {
        std::lock_guard<std::mutex> guard(block->loop->jobsLock_);
        block->loop->pendingJobs_.erase(block);
    }
    std::unique_ptr<JobBlock> owned(block);
    // A job that waited in the queue past its start's end has nothing to do.
    if (!block->session->IsCurrent(block->start->generation)) return 0;
    return block->loop->ThreadBody(block->session, kSessionJob, block->start);
}

void CTUNTAPProtoBase::ApplyBypassRule(const BAddr& destination) {
    if (destination.type != BADDR_TYPE_IPV4 || inUse_.load() < kBypassSessions) return;
    uint32_t ip = ntohl(destination.ipv4.ip);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF, ip & 0xFF);
    if (IsBypassRouted(text)) return;
    int same = 0;
    {
        std::lock_guard<std::mutex> guard(tableLock_);
        for (auto& session : sessions_) {
            if (session->HasDestination(destination)) ++same;
        }
    }
    if (same < kBypassPerDestination) return;
    std::string why = std::to_string(same) + " of " + std::to_string(inUse_.load()) +
                      " UDP sessions in use went to " + text + " port " +
                      std::to_string(ntohs(destination.ipv4.port));
    AddBypassRoute(text, BAddr_IsDnsPort(&destination), why);
}

// ---- writer ---------------------------------------------------------------------------------

void CTUNTAPProtoBase::SignalWriter(UdpSession* session) {
    if (session->MarkRepliesListed()) {
        std::lock_guard<std::mutex> guard(listedLock_);
        listed_.push_back(session);
    }
    SignalFd(writerEvent_);
}

void CTUNTAPProtoBase::CheckIdleSessions() {
    int64_t now = UdpRelayNow();
    lastIdleCheck_ = now;
    std::lock_guard<std::mutex> guard(tableLock_);
    for (auto& session : sessions_) {
        if (!IsRunning()) break;
        session->CheckIdle(now);
    }
}

int CTUNTAPProtoBase::WriteReplies() {
    std::vector<UdpSession*> listed;
    {
        std::lock_guard<std::mutex> guard(listedLock_);
        listed.swap(listed_);
    }
    // Sessions live as long as the loop; a reply queued after the mark is
    // cleared lists its session again and is sent now or on the next wake.
    std::vector<uint8_t>& out = writeBuffer_;
    out.clear();
    for (UdpSession* session : listed) {
        session->ClearRepliesListed();
        session->CollectReplies(&out);
    }
    // Time-outs are whole seconds: one pass over the table a second is
    // enough, and a busy writer must not walk it on every wake.
    if (UdpRelayNow() != lastIdleCheck_) CheckIdleSessions();
    if (out.empty() || !IsRunning()) return 0;
    int sent = TimedSendAll(localSocket_, out.data(), static_cast<int>(out.size()), kWriteTimeout);
    // A frame cut short would break the engine's framing for good.
    return sent == static_cast<int>(out.size()) ? sent : -1;
}

void CTUNTAPProtoBase::WriterLoop() {
    RaiseToSessionPoolPriority();
    while (IsRunning()) {
        pollfd p[2] = {{writerEvent_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        int ready = poll(p, 2, kWriterPollMs);
        if (ready < 0) {
            if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (!(p[0].revents & POLLIN)) {
            // No replies: flows that went quiet must still time out, at most
            // one check a second.
            if (UdpRelayNow() != lastIdleCheck_) CheckIdleSessions();
            continue;
        }
        DrainFd(writerEvent_);
        if (!IsRunning()) break;
        if (WriteReplies() < 0) break;
    }
    EndStream();
}
