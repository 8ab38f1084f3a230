#pragma once
// Hand-driven ends for flow components: providers of the four interface
// kinds that the test feeds or drains, and a helper that runs pending jobs.

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "engine/flow/flow_interfaces.h"
#include "engine/system/breactor.h"

namespace flowtest {

// Runs pending jobs until none is left (no timers, no I/O).
inline void DrainJobs(BReactor* r) {
    while (!LinkedList_IsEmpty(&r->jobs.jobs)) {
        BJob* j = LINKED_LIST_ENTRY(r->jobs.jobs.last, BJob, node);
        BJob_Unset(j);
        j->handler(j->user);
    }
}

// A stream the test writes into; each receive delivers at most `chunk` bytes.
struct FeedSource {
    StreamSource iface;
    std::string pending;
    int chunk = 1;
    uint8_t* buf = nullptr;
    int avail = 0;
    bool want = false;

    explicit FeedSource(BReactor* r) {
        StreamSource_Init(&iface, &FeedSource::Recv, this, BReactor_JobStack(r));
    }
    ~FeedSource() { StreamSource_Free(&iface); }
    void Push(const std::string& bytes) {
        pending += bytes;
        Feed();
    }
    static void Recv(void* user, uint8_t* buf, int avail) {
        auto* s = static_cast<FeedSource*>(user);
        s->buf = buf;
        s->avail = avail;
        s->want = true;
        s->Feed();
    }
    void Feed() {
        if (!want || pending.empty()) return;
        int n = std::min({avail, chunk, static_cast<int>(pending.size())});
        std::memcpy(buf, pending.data(), static_cast<size_t>(n));
        pending.erase(0, static_cast<size_t>(n));
        want = false;
        StreamSource_Done(&iface, n);
    }
};

// A packet sink that records packets; with `hold` it keeps each one until Release.
struct RecordSink {
    PacketSink iface;
    std::vector<std::string> packets;
    bool hold = false;
    bool busy = false;

    RecordSink(BReactor* r, int mtu) {
        PacketSink_Init(&iface, mtu, &RecordSink::Send, this, BReactor_JobStack(r));
    }
    ~RecordSink() { PacketSink_Free(&iface); }
    static void Send(void* user, uint8_t* data, int len) {
        auto* s = static_cast<RecordSink*>(user);
        s->packets.emplace_back(reinterpret_cast<char*>(data), static_cast<size_t>(len));
        if (s->hold) {
            s->busy = true;
        } else {
            PacketSink_Done(&s->iface);
        }
    }
    void Release() {
        busy = false;
        PacketSink_Done(&iface);
    }
};

// A stream sink that takes at most `chunk` bytes per send.
struct RecordStream {
    StreamSink iface;
    std::string bytes;
    int chunk = 1;
    int sends = 0;

    explicit RecordStream(BReactor* r) {
        StreamSink_Init(&iface, &RecordStream::Send, this, BReactor_JobStack(r));
    }
    ~RecordStream() { StreamSink_Free(&iface); }
    static void Send(void* user, uint8_t* data, int len) {
        auto* s = static_cast<RecordStream*>(user);
        int n = std::min(len, s->chunk);
        s->bytes.append(reinterpret_cast<char*>(data), static_cast<size_t>(n));
        s->sends++;
        StreamSink_Done(&s->iface, n);
    }
};

// A packet source the test fills.
struct FeedPackets {
    PacketSource iface;
    std::deque<std::string> pending;
    uint8_t* buf = nullptr;

    FeedPackets(BReactor* r, int mtu) {
        PacketSource_Init(&iface, mtu, &FeedPackets::Recv, this, BReactor_JobStack(r));
    }
    ~FeedPackets() { PacketSource_Free(&iface); }
    void Push(const std::string& p) {
        pending.push_back(p);
        Feed();
    }
    static void Recv(void* user, uint8_t* buf) {
        auto* s = static_cast<FeedPackets*>(user);
        s->buf = buf;
        s->Feed();
    }
    void Feed() {
        if (!buf || pending.empty()) return;
        std::string p = pending.front();
        pending.pop_front();
        std::memcpy(buf, p.data(), p.size());
        buf = nullptr;
        PacketSource_Done(&iface, static_cast<int>(p.size()));
    }
};

// Starts a timer that ends the loop with exit code 99: a test that would
// otherwise hang fails instead. Never fires when the test passes.
constexpr int kGuardExitCode = 99;
inline void StartGuard(BReactor* r, BReactorTimer* guard, btime_t ms = 10000) {
    BReactorTimer_Init(
        guard, ms, [](void* u) { BReactor_RequestExit(static_cast<BReactor*>(u), kGuardExitCode); }, r);
    BReactor_RestartTimer(r, guard);
}

inline std::string Frame(const std::string& payload) {
    std::string f;
    f += static_cast<char>(payload.size() & 0xFF);
    f += static_cast<char>(payload.size() >> 8);
    return f + payload;
}

}  // namespace flowtest
