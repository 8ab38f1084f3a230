#pragma once
// One UDP flow of the engine's udpgw stream, and one start of it.
//
// Every start (a new flow, a rebind, a new destination) gets its own
// UdpSessionStart: the UDP socket, the session event, the cipher objects and
// a generation number. The session job that serves the start owns it; the
// session keeps a reference only while the start is current. A reset shuts
// the sockets down, wakes the job and moves the session to a new generation,
// but closes nothing: the descriptors go when the job lets go of the start,
// so a number the kernel hands out again can never reach a job that still
// serves an old start. A job whose generation is no longer the session's
// ends at once and touches nothing of the session.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "ciphers/cryptor.h"
#include "ciphers/plugins/obfs.h"
#include "engine/base/baddr.h"

class CNodeInfo;

// udpgw flags.
enum : uint8_t {
    kUdpGwKeepalive = 0x01,
    kUdpGwRebind = 0x02,
    kUdpGwDns = 0x04,
    kUdpGwIpv6 = 0x08,
    kUdpGwNoSend = 0x10,
};

struct UdpSessionStart {
    UdpSessionStart();
    // Closes the sockets and the event.
    ~UdpSessionStart();
    UdpSessionStart(const UdpSessionStart&) = delete;
    UdpSessionStart& operator=(const UdpSessionStart&) = delete;

    // Wakes the job: frames are queued, or the start has ended.
    void Signal();
    // Reads the event's count back to 0.
    void Drain();
    // Ends every wait of the job on the sockets and wakes it.
    void Abort();

    int udpSocket = -1;
    int eventFd = -1;
    // SOCKS 5 loop: the connection that holds the association (set by the job).
    std::atomic<int> controlSocket{-1};
    uint64_t generation = 0;
    uint8_t frameFlags = 0;
    uint8_t connectionId[2] = {};  // as the engine sent it
    BAddr destination{};
    std::unique_ptr<CCryptor> cryptor;
    std::unique_ptr<CObfs> protocol;
    std::unique_ptr<CObfs> obfs;
};

using UdpFrameQueue = std::deque<std::vector<uint8_t>>;

class UdpSession {
public:
    // Frames still waiting for a job at most; more are dropped as UDP may be.
    static constexpr size_t kMaxQueuedFrames = 1024;

    // `inUse` counts the loop's sessions in use.
    UdpSession(CNodeInfo* node, std::atomic<int>* inUse);
    ~UdpSession();
    UdpSession(const UdpSession&) = delete;
    UdpSession& operator=(const UdpSession&) = delete;

    // Makes `start` the current start: the session is in use for its flow,
    // with a new generation (stored in the start), times stamped `now`.
    void Install(const std::shared_ptr<UdpSessionStart>& start, int64_t now);
    // Ends the current start, if any, and frees the session.
    void Reset();
    void Release(bool reset);

    bool IsFree();
    // Whether the session is in use for this connection id.
    bool HasConnectionId(const uint8_t id[2]);
    bool HasDestination(const BAddr& destination);
    bool IsCurrent(uint64_t generation);

    // Reader: a copy of a frame for the current start; false when the
    // session is free or its queue is full.
    bool QueueOutgoing(const uint8_t* frame, int length);
    // Job: the frames queued for its start (none for a flow that sends
    // nothing); false when the start is no longer current.
    bool TakeOutgoing(uint64_t generation, UdpFrameQueue* out);
    // Job: a reply frame (stamps the receive time); false when the start is
    // no longer current.
    bool QueueReply(uint64_t generation, std::vector<uint8_t> frame);
    void TouchSent(uint64_t generation);
    // Job: its start has ended; resets the session when it is still current.
    void EndJob(uint64_t generation);

    // Writer: appends every queued reply to `out`.
    void CollectReplies(std::vector<uint8_t>* out);
    // Whether the session is on the writer's list of sessions with replies:
    // Mark answers true for the caller that put it there.
    bool MarkRepliesListed() { return !repliesListed_.exchange(true); }
    void ClearRepliesListed() { repliesListed_.store(false); }
    // Resets a session in use whose last send or receive lies `limit`
    // seconds back or more (20 s for DNS flows, else 60 s).
    void CheckIdle(int64_t now);

    CNodeInfo* GetNode() const { return node_; }

private:
    void ResetLocked(bool* ended);
    // Outside the lock: uncounts a start that ended.
    void CountEnded(bool ended);

    CNodeInfo* node_;
    std::atomic<int>* inUse_;
    std::mutex lock_;
    bool free_ = true;
    uint64_t generation_ = 0;
    std::shared_ptr<UdpSessionStart> start_;
    bool dns_ = false;
    uint8_t connectionId_[2] = {};
    uint8_t frameFlags_ = 0;
    int64_t lastSend_ = 0;
    int64_t lastReceive_ = 0;
    BAddr destination_{};
    UdpFrameQueue outgoing_;
    UdpFrameQueue replies_;
    std::atomic<bool> repliesListed_{false};
};
