#pragma once
// Stopping a node test that runs on another thread.
//
// A test thread binds a stop to itself for the length of a run
// (CTestStopScope). Every socket the socket layer opens on that thread
// meanwhile is tracked by the stop, and untracked again when closed. A stop
// request raises a flag that the tests check between their steps and shuts
// down every tracked socket, which wakes a poll or recv blocked on it (UDP
// too). Only a name lookup or an ICMP echo in progress runs to its time-out.

#include <atomic>
#include <memory>
#include <mutex>
#include <set>

class CTestStop {
public:
    // Raises the flag and shuts down every tracked socket; a socket opened
    // afterwards is shut down as soon as it is tracked.
    void RequestStop();
    bool StopRequested() const { return stopping_.load(std::memory_order_acquire); }

    void Track(int fd);
    void Untrack(int fd);

private:
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::set<int> sockets_;
};

// Binds `stop` to the calling thread until the scope ends.
class CTestStopScope {
public:
    explicit CTestStopScope(std::shared_ptr<CTestStop> stop);
    ~CTestStopScope();
    CTestStopScope(const CTestStopScope&) = delete;
    CTestStopScope& operator=(const CTestStopScope&) = delete;

private:
    std::shared_ptr<CTestStop> previous_;
};

// Whether a stop bound to the calling thread was requested.
bool TestStopRequested();
// The socket layer's hooks: a socket just opened, and one about to close.
// Both do nothing on a thread without a stop.
void TrackTestSocket(int fd);
void UntrackTestSocket(int fd);
