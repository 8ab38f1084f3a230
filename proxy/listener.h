#pragma once
// The local listener: accepts TCP connections on 127.0.0.1 at the local
// SOCKS port and gives each its own thread, which builds the upstream client
// for the current node's type and lets it serve the connection.
//
// A connection gets a thread only once its first bytes have arrived:
// until then it waits in the accept thread's poll set, holding nothing but
// its descriptor, so idle clients cannot take the places of working ones.
// While the connection threads are at the cap, the accept thread stops
// accepting and new connections wait in the kernel's listen backlog; it
// resumes as threads end. Threads are created and registered under the
// table's lock, so a thread's own unregistration always finds its entry.

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "foundation/named_lock.h"
#include "proxy/socket_base.h"

class CSshSession;
typedef struct _LIBSSH2_SESSION LIBSSH2_SESSION;

class CListener : public CSocketBase {
public:
    // Start failures.
    enum {
        kErrorBind = 1,
        kErrorSocket = 2,
        kErrorListen = 3,
        kErrorThread = 4,
    };
    static constexpr size_t kMinConnectionThreads = 500;
    static constexpr size_t kConnectionStackSize = 307200;
    static constexpr int kListenBacklog = 4096;
    // A connection that sends nothing for this long is closed.
    static constexpr int kFirstByteSeconds = 20;

    // The machine's share for the listener, worked out at each Start.
    struct Limits {
        size_t connectionThreads = kMinConnectionThreads;
        // Connections still waiting for their first bytes; past it the one
        // that has waited longest is closed.
        size_t waiting = 1024;
        int firstByteSeconds = kFirstByteSeconds;
    };
    // From the descriptor limit, the thread limits and the free memory.
    static Limits ComputeLimits();

    CListener() = default;
    // Stops the listener when it still runs.
    ~CListener() override;

    // Binds 127.0.0.1 at the local SOCKS port (moving on to the next ports
    // when the bind fails and retries are on), listens and starts the accept
    // thread; a port other than the configured one is written back. 1 on
    // success, 0 with the last error set.
    int Start();
    // Closes the listener: wakes the accept thread, which waits (at most 15
    // s) for the connection threads, joins it and closes the socket.
    void Stop();
    bool IsListening() const { return listenSocket_.load() >= 0; }
    int GetLastError() const { return lastError_.load(); }
    void SetRetryOnBindFailure(bool retry) { retryOnBindFailure_ = retry; }
    void SetPortTries(int tries) { portTries_ = tries; }
    // The SSH session behind SSH2 nodes (null while there is none). The
    // program never opens one; tests hand over an authenticated session and
    // its socket, which the listener then owns: a later call (null and -1
    // to drop it) disconnects and frees the old session and closes its
    // socket. Only while no SSH2 connection runs.
    void SetSshSession(LIBSSH2_SESSION* session, int socket);
    CSshSession* GetSshSession() const { return sshSession_.get(); }
    int GetSshSessionSocket() const { return sshSessionSocket_; }

    // Tests make the machine smaller; 0 fields mean the computed value.
    void OverrideLimits(const Limits& limits) { override_ = limits; }
    Limits GetLimits() const { return limits_; }
    // Connections accepted but not yet given a thread.
    size_t GetWaitingCount() const { return waitingCount_.load(); }

    void RegisterConnectionThread(uint32_t id, pthread_t thread);
    void UnregisterConnectionThread(uint32_t id);
    size_t GetConnectionThreadCount();
    // Returns once no connection thread is registered, or after 15 s.
    void WaitForConnectionThreads();
    // A connection thread that finished waits here (a few seconds at most)
    // for the next connection to serve; false when none came or on a stop.
    bool TakeNextConnection(int* s, uint32_t* id);

private:
    void AcceptLoop();
    // Creates, registers and starts the thread for one accepted socket;
    // false (socket still open) when no thread could be started.
    bool StartConnectionThread(int s);
    void WakeAcceptThread();
    // On a stop: closes the connections handed to waiting threads and wakes
    // those threads, which end.
    void EndParkedThreads();

    std::atomic<int> listenSocket_{-1};
    bool retryOnBindFailure_ = true;
    std::atomic<int> lastError_{0};
    int portTries_ = 100;
    int sshSessionSocket_ = -1;
    std::unique_ptr<CSshSession> sshSession_;

    std::thread acceptThread_;
    std::atomic<bool> stopping_{false};
    int pollSet_ = -1;  // made by Start, taken over by the accept thread
    int wakeFd_ = -1;  // eventfd, kept for the process: late threads may still write it
    Limits limits_;
    Limits override_{0, 0, 0};
    std::atomic<size_t> waitingCount_{0};
    std::atomic<size_t> threadCap_{kMinConnectionThreads};  // read by ending threads

    struct Handoff {
        int socket;
        uint32_t id;
    };
    // Lock order: parkLock_, then tableLock_.
    std::mutex parkLock_;
    std::condition_variable parkCv_;
    size_t parked_ = 0;  // threads waiting for a connection
    std::deque<Handoff> handoff_;

    CNamedLock tableLock_{L"Unspecific", 0};
    std::map<uint32_t, pthread_t> connectionThreads_;
    uint32_t nextThreadId_ = 0;
};

class CSSManager : public CListener {};

// The service's one listener, alive for the whole process.
CSSManager& GetLocalListener();
