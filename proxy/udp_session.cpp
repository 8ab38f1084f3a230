#include "proxy/udp_session.h"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "proxy/baddr_helpers.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/udp_relay_clock.h"

namespace {

constexpr int64_t kIdleLimit = 60;
constexpr int64_t kDnsIdleLimit = 20;

int64_t AbsDiff(int64_t a, int64_t b) {
    return a > b ? a - b : b - a;
}

}  // namespace

UdpSessionStart::UdpSessionStart() {
    eventFd = eventfd(1, EFD_NONBLOCK | EFD_CLOEXEC);  // created signalled
}

UdpSessionStart::~UdpSessionStart() {
    if (udpSocket >= 0) close(udpSocket);
    int control = controlSocket.exchange(-1);
    if (control >= 0) close(control);
    if (eventFd >= 0) close(eventFd);
}

void UdpSessionStart::Signal() {
    if (eventFd < 0) return;
    uint64_t one = 1;
    ssize_t ignored = write(eventFd, &one, sizeof one);
    (void)ignored;
}

void UdpSessionStart::Drain() {
    if (eventFd < 0) return;
    uint64_t count;
    ssize_t ignored = read(eventFd, &count, sizeof count);
    (void)ignored;
}

void UdpSessionStart::Abort() {
    if (udpSocket >= 0) shutdown(udpSocket, SHUT_RDWR);
    int control = controlSocket.load();
    if (control >= 0) shutdown(control, SHUT_RDWR);
    Signal();
}

UdpSession::UdpSession(CNodeInfo* node, std::atomic<int>* inUse) : node_(node), inUse_(inUse) {}

UdpSession::~UdpSession() {
    Reset();
}

void UdpSession::Install(const std::shared_ptr<UdpSessionStart>& start, int64_t now) {
    bool ended = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        ResetLocked(&ended);
        start->generation = ++generation_;
        start_ = start;
        free_ = false;
        dns_ = BAddr_IsDnsPort(&start->destination);
        std::memcpy(connectionId_, start->connectionId, 2);
        frameFlags_ = start->frameFlags;
        destination_ = start->destination;
        lastSend_ = now;
        lastReceive_ = now;
    }
    CountEnded(ended);
    IncrementActiveConnections();
    inUse_->fetch_add(1);
}

void UdpSession::CountEnded(bool ended) {
    if (!ended) return;
    DecrementActiveConnections();
    inUse_->fetch_sub(1);
}

void UdpSession::ResetLocked(bool* ended) {
    if (start_) {
        start_->Abort();
        start_.reset();
        *ended = true;
    }
    ++generation_;
    free_ = true;
    dns_ = false;
    std::memset(connectionId_, 0, sizeof connectionId_);
    frameFlags_ = 0;
    lastSend_ = 0;
    lastReceive_ = 0;
    BAddr_InitNone(&destination_);
    outgoing_.clear();
    replies_.clear();
}

void UdpSession::Reset() {
    bool ended = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        ResetLocked(&ended);
    }
    CountEnded(ended);
}

void UdpSession::Release(bool reset) {
    if (reset) Reset();
    std::lock_guard<std::mutex> guard(lock_);
    free_ = true;
}

bool UdpSession::IsFree() {
    std::lock_guard<std::mutex> guard(lock_);
    return free_;
}

bool UdpSession::HasConnectionId(const uint8_t id[2]) {
    std::lock_guard<std::mutex> guard(lock_);
    return !free_ && std::memcmp(connectionId_, id, 2) == 0;
}

bool UdpSession::HasDestination(const BAddr& destination) {
    std::lock_guard<std::mutex> guard(lock_);
    return !free_ && BAddr_Equals(&destination_, &destination);
}

bool UdpSession::IsCurrent(uint64_t generation) {
    std::lock_guard<std::mutex> guard(lock_);
    return !free_ && generation_ == generation;
}

bool UdpSession::QueueOutgoing(const uint8_t* frame, int length) {
    std::shared_ptr<UdpSessionStart> start;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (free_ || !start_ || outgoing_.size() >= kMaxQueuedFrames) return false;
        outgoing_.emplace_back(frame, frame + length);
        start = start_;
    }
    start->Signal();
    return true;
}

bool UdpSession::TakeOutgoing(uint64_t generation, UdpFrameQueue* out) {
    std::lock_guard<std::mutex> guard(lock_);
    if (free_ || generation_ != generation) return false;
    // A flow opened with 0x10 never sends.
    if (frameFlags_ & kUdpGwNoSend) {
        outgoing_.clear();
    } else {
        out->swap(outgoing_);
        outgoing_.clear();
    }
    return true;
}

bool UdpSession::QueueReply(uint64_t generation, std::vector<uint8_t> frame) {
    std::lock_guard<std::mutex> guard(lock_);
    if (free_ || generation_ != generation) return false;
    if (replies_.size() < kMaxQueuedFrames) replies_.push_back(std::move(frame));
    lastReceive_ = UdpRelayNow();
    return true;
}

void UdpSession::TouchSent(uint64_t generation) {
    int64_t now = UdpRelayNow();
    std::lock_guard<std::mutex> guard(lock_);
    if (!free_ && generation_ == generation) lastSend_ = now;
}

void UdpSession::EndJob(uint64_t generation) {
    bool ended = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (free_ || generation_ != generation) return;
        ResetLocked(&ended);
    }
    CountEnded(ended);
}

void UdpSession::CollectReplies(std::vector<uint8_t>* out) {
    std::lock_guard<std::mutex> guard(lock_);
    if (free_) return;
    for (const auto& frame : replies_) out->insert(out->end(), frame.begin(), frame.end());
    replies_.clear();
}

void UdpSession::CheckIdle(int64_t now) {
    bool ended = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (free_) return;
        int64_t limit = dns_ ? kDnsIdleLimit : kIdleLimit;
        if (AbsDiff(now, lastSend_) < limit && AbsDiff(now, lastReceive_) < limit) return;
        ResetLocked(&ended);
    }
    CountEnded(ended);
}
