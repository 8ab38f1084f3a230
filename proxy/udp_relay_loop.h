#pragma once
// The common frame of the UDP relay loops: the engine's udpgw stream (one
// SOCKS 5 CONNECT to 127.0.0.1 and the UDP relay port) is read by a reader
// thread that keeps one UdpSession per flow (per connection id); a session
// job on the loop's pool carries each flow's datagrams to the node and its
// replies back; a writer thread sends the reply frames to the engine, whole
// or not at all. Busy UDP destinations get a bypass route around the tunnel.
//
// udpgw frames: 16-bit little-endian length L, then L bytes: flags, the
// 2-byte connection id (echoed as it came), a 4-byte IPv4 or (flag 0x08)
// 16-byte IPv6 address, the port (network order), the datagram. Reply frames
// have the same layout with flags 0 or 0x08 and the reply's source.

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

#include "foundation/thread_pool.h"
#include "proxy/udp_job_threads.h"
#include "nodes/node_info.h"
#include "proxy/udp_session.h"

class CSocksClient;

class CTUNTAPProtoBase {
public:
    enum ThreadType : int { kReader = 0, kWriter = 1, kSessionJob = 2 };
    // The largest udpgw frame a reader buffer holds at first.
    static constexpr int kReaderBuffer = 65507;
    // Sessions in use from which the bypass rule looks at a destination, and
    // the sessions to one destination that earn it a bypass route.
    static constexpr int kBypassSessions = 300;
    static constexpr int kBypassPerDestination = 100;

    explicit CTUNTAPProtoBase(CSocksClient* client);
    virtual ~CTUNTAPProtoBase();
    CTUNTAPProtoBase(const CTUNTAPProtoBase&) = delete;
    CTUNTAPProtoBase& operator=(const CTUNTAPProtoBase&) = delete;

    // Runs the loop on the calling thread until the relays stop or the
    // stream ends; every thread and job of the loop has ended on return. 1.
    virtual int Run();
    // A session job's body, on a pool worker, for one start of a session.
    virtual int ThreadBody(UdpSession* session, int type, const std::shared_ptr<UdpSessionStart>& start) = 0;
    virtual int HandleFlaggedSession(UdpSession*) { return 1; }

    // Handles the whole frames at the front of `data`; the bytes consumed.
    int ParseUdpGwFrames(const uint8_t* data, int n);
    // The session that carries a frame of this flow: the flow's own, restarted
    // for a rebind or a new destination, else a free one or a new one. Null
    // when no start could be made (the frame is dropped).
    UdpSession* FindOrCreateSession(uint8_t flags, const uint8_t id[2], const BAddr& destination);
    void ApplyBypassRule(const BAddr& destination);
    // The writer's step: every queued reply in one send, then the idle check.
    // Bytes sent, 0 when there was nothing, -1 when the stream failed.
    int WriteReplies();
    void CheckIdleSessions();
    // Wakes the writer: a reply is queued on `session`.
    void SignalWriter(UdpSession* session);
    // Ends the loop (from any thread).
    void Stop();
    bool IsRunning() const;

    int CountActiveSessions() const { return inUse_.load(); }
    size_t GetSessionCount();
    CNodeInfo* GetNode() const { return node_; }
    const NodeFields& GetNodeFields() const { return fields_; }

protected:
    // What a loop adds to a start before its job is submitted (cipher
    // objects, a connected socket); false fails the start.
    virtual bool PrepareStart(UdpSessionStart*) { return true; }
    // Whether the reader may grow its buffer past kReaderBuffer. Without it a
    // frame that cannot fit ends the stream.
    virtual bool GrowableReader() const { return false; }

    void CountSent(int bytes);
    void CountReceived(int bytes);

    CSocksClient* client_;
    CNodeInfo* node_;
    NodeFields fields_;
    int localSocket_;

private:
    struct JobBlock {
        CTUNTAPProtoBase* loop;
        UdpSession* session;
        std::shared_ptr<UdpSessionStart> start;
    };
    static int JobProc(void* param);
    bool StartSession(UdpSession* session, uint8_t flags, const uint8_t id[2], const BAddr& destination);
    void ReaderLoop();
    void WriterLoop();
    void EndStream();
    void DestroyAllSessions();

    std::atomic<bool> stop_{false};
    int stopFd_ = -1;
    int writerEvent_ = -1;
    std::mutex tableLock_;
    std::vector<std::unique_ptr<UdpSession>> sessions_;
    // The session last started for each connection id (the reader's).
    std::unordered_map<uint16_t, UdpSession*> byId_;
    std::atomic<int> inUse_{0};
    // Sessions with queued replies, so that the writer visits only those and
    // never holds the table (which the reader needs for every frame).
    std::mutex listedLock_;
    std::vector<UdpSession*> listed_;
    std::vector<uint8_t> writeBuffer_;  // the writer's
    std::mutex jobsLock_;
    std::set<JobBlock*> pendingJobs_;
    int64_t lastIdleCheck_ = 0;
    std::thread reader_;
    std::thread writer_;
    CThreadPool pool_;  // the initial workers only: it never grows
    CJobOverflowThreads overflow_;  // the rest, one thread per job
};

// A reply frame for the engine from a datagram that starts with its
// source's ATYP (1 IPv4, 4 IPv6), address and port; false for any other
// address type or an address cut short (the reply is dropped).
bool BuildReplyFrame(const uint8_t* datagram, int length, const uint8_t id[2], std::vector<uint8_t>* frame);
