#pragma once
// The local listener: accepts TCP connections on 127.0.0.1 at the local
// SOCKS port and gives each its own thread, which builds the upstream client
// for the current node's type and lets it serve the connection.
//
// At most 501 connection threads run at once; a connection accepted while
// more than 500 are registered is closed at once. Threads are created and
// registered under the table's lock, so a thread's own unregistration always
// finds its entry.

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
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
    static constexpr size_t kMaxConnectionThreads = 500;
    static constexpr size_t kConnectionStackSize = 307200;

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

    void RegisterConnectionThread(uint32_t id, pthread_t thread);
    void UnregisterConnectionThread(uint32_t id);
    size_t GetConnectionThreadCount();
    // Returns once no connection thread is registered, or after 15 s.
    void WaitForConnectionThreads();

private:
    void AcceptLoop();
    // Creates, registers and starts the thread for one accepted socket;
    // closes the socket when that fails.
    void StartConnectionThread(int s, const sockaddr_in& peer);

    std::atomic<int> listenSocket_{-1};
    bool retryOnBindFailure_ = true;
    std::atomic<int> lastError_{0};
    int portTries_ = 100;
    int sshSessionSocket_ = -1;
    std::unique_ptr<CSshSession> sshSession_;

    std::thread acceptThread_;
    std::atomic<bool> stopping_{false};

    CNamedLock tableLock_{L"Unspecific", 0};
    std::map<uint32_t, pthread_t> connectionThreads_;
    uint32_t nextThreadId_ = 0;
};

class CSSManager : public CListener {};

// The service's one listener, alive for the whole process.
CSSManager& GetLocalListener();
