#include "proxy/listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fstream>
#include <future>
#include <list>
#include <string>
#include <unordered_map>

#include "foundation/private_heap.h"
#include "foundation/program_log.h"
#include "proxy/client_factory.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/proxy_log.h"
#include "proxy/service_stop.h"
#include "proxy/ssh2_serve.h"
#include "proxy/ssh_session.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kThreadWaitLimit = std::chrono::seconds(15);
// Descriptors kept back for the UDP sessions, the node tests and the program.
constexpr size_t kReservedDescriptors = 1024;
// Memory counted per connection: its thread's touched stack, its buffers and
// the kernel's socket buffers.
constexpr size_t kBytesPerConnection = 512 * 1024;
// Beyond this many threads a machine spends its time switching between them.
constexpr size_t kConnectionCeiling = 20000;
constexpr size_t kMinWaiting = 256;
constexpr size_t kMaxWaiting = 8192;
// A thread that cannot be created is retried this often before the
// connection is refused.
constexpr int kThreadRetries = 20;
constexpr auto kThreadRetryPause = std::chrono::milliseconds(50);
// How long a connection thread that finished waits for the next connection.
constexpr auto kParkedThreadWait = std::chrono::seconds(5);

// Handed from the accept thread to a new connection thread, which copies it
// and frees it at once. Plain data: it lives in a zero-filled heap block.
struct ConnectionRecord {
    CListener* listener;
    int socket;
    uint32_t threadId;
    char peerAddress[16];
    uint16_t peerPort;
};

// Serves one accepted connection to its end and closes it.
void ServeConnection(const ConnectionRecord& record) {
    int s = record.socket;
    // The current node is read once: the connection keeps it to the end.
    if (CNodeInfo* node = GetCurrentProxyNode()) {
        IncrementActiveConnections();
        std::string user, password;
        GetLocalSocksCredentials(&user, &password);
        std::unique_ptr<CSocksClient> client;
        if (node->type == NodeTypeSSH2) {
            if (ServeSsh2Connection(record.listener->GetSshSession(), s, node, record.peerAddress,
                                    record.peerPort, user.c_str(), password.c_str())) {
                s = -1;  // the client closed it
            }
        } else {
            client = CreateUpstreamClient(node->type, s, user.c_str(), password.c_str());
        }
        if (client) {
            s = -1;  // the client closes it
            client->SetLocalSocksPort(GetLocalProxySettings().localSocksPort.load());
            client->AttachNode(node);
            client->Run();
            client.reset();
        }
        DecrementActiveConnections();
    }
    CloseSocket(s);
}

void FillPeer(int s, ConnectionRecord* record) {
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    getpeername(s, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    inet_ntop(AF_INET, &peer.sin_addr, record->peerAddress, sizeof record->peerAddress);
    record->peerPort = ntohs(peer.sin_port);
}

void* ConnectionThreadMain(void* param) {
    ConnectionRecord record;
    std::memcpy(&record, param, sizeof record);
    PrivateHeapFree(param);
    WatchServiceStop();
    for (;;) {
        ServeConnection(record);
        record.listener->UnregisterConnectionThread(record.threadId);
        // A thread that finished waits a while for the next connection, so
        // that a busy listener does not make and end a thread for each one.
        if (!record.listener->TakeNextConnection(&record.socket, &record.threadId)) break;
        FillPeer(record.socket, &record);
    }
    // The listener is never destroyed; after this the thread only returns.
    return nullptr;
}

bool IsResourceShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

long ReadProcNumber(const char* path) {
    std::ifstream in(path);
    long value = -1;
    if (!(in >> value)) return -1;
    return value;
}

size_t AvailableMemory() {
    std::ifstream in("/proc/meminfo");
    std::string key;
    size_t kib = 0;
    while (in >> key >> kib) {
        if (key == "MemAvailable:") return kib * 1024;
        in.ignore(256, '\n');
    }
    struct sysinfo info {};
    if (sysinfo(&info) != 0) return 0;
    return static_cast<size_t>(info.freeram) * info.mem_unit;
}

// The accept thread's connections that have no thread yet.
class WaitingSet {
public:
    WaitingSet(int epollFd, std::atomic<size_t>* count) : epoll_(epollFd), count_(count) {}
    ~WaitingSet() {
        for (const Entry& e : order_) close(e.fd);
        for (int fd : ready_) close(fd);
        count_->store(0);
    }
    // Watches a new connection for its first bytes (or its end).
    bool Add(int fd) {
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.fd = fd;
        if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0) return false;
        order_.push_back({fd, Clock::now()});
        where_[fd] = std::prev(order_.end());
        Publish();
        return true;
    }
    // A connection whose first bytes came with it.
    void AddReady(int fd) {
        ready_.push_back(fd);
        Publish();
    }
    // The connection spoke: it queues for a thread.
    void MarkReady(int fd) {
        if (Unwatch(fd)) ready_.push_back(fd);
    }
    // The connection ended before it spoke.
    void Drop(int fd) {
        if (!Unwatch(fd)) return;
        close(fd);
        Publish();
    }
    bool HasReady() const { return !ready_.empty(); }
    int FrontReady() const { return ready_.front(); }
    void PopReady() {
        ready_.pop_front();
        Publish();
    }
    size_t Silent() const { return order_.size(); }
    // Closes the connection that has waited longest; its silence in seconds.
    long CloseOldest() {
        Entry e = order_.front();
        long waited = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - e.since).count());
        Drop(e.fd);
        return waited;
    }
    // Closes every connection silent for `limit`; how many.
    int CloseSilentFor(std::chrono::seconds limit) {
        int closed = 0;
        auto cutoff = Clock::now() - limit;
        while (!order_.empty() && order_.front().since <= cutoff) {
            CloseOldest();
            ++closed;
        }
        return closed;
    }
    // Milliseconds until the oldest silent connection reaches `limit`, -1 for none.
    int MillisUntil(std::chrono::seconds limit) const {
        if (order_.empty()) return -1;
        auto left = order_.front().since + limit - Clock::now();
        return static_cast<int>(std::max<long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1));
    }

private:
    struct Entry {
        int fd;
        Clock::time_point since;
    };
    void Publish() { count_->store(order_.size() + ready_.size()); }
    // Stops watching the connection; false when it was not watched.
    bool Unwatch(int fd) {
        auto it = where_.find(fd);
        if (it == where_.end()) return false;
        epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
        order_.erase(it->second);
        where_.erase(it);
        return true;
    }

    int epoll_;
    std::atomic<size_t>* count_;
    std::list<Entry> order_;  // oldest first
    std::unordered_map<int, std::list<Entry>::iterator> where_;
    std::deque<int> ready_;  // in the order they spoke
};

}  // namespace

CListener::~CListener() {
    Stop();
    SetSshSession(nullptr, -1);
}

void CListener::SetSshSession(LIBSSH2_SESSION* session, int socket) {
    if (sshSession_) {
        LIBSSH2_SESSION* old = sshSession_->session();
        sshSession_.reset();
        libssh2_session_set_blocking(old, 1);
        libssh2_session_disconnect(old, "closing");
        libssh2_session_free(old);
    }
    CloseSocket(sshSessionSocket_);
    if (session != nullptr && socket >= 0) {
        sshSession_ = std::make_unique<CSshSession>(session, socket);
        sshSessionSocket_ = socket;
    }
}

int CListener::Start() {
    if (IsListening()) return 1;
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        lastError_ = kErrorSocket;
        return 0;
    }
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);

    LocalProxySettings& settings = GetLocalProxySettings();
    uint32_t configured = settings.localSocksPort.load();
    int tries = retryOnBindFailure_ ? portTries_ : 1;
    uint32_t port = configured;
    bool bound = false;
    for (int i = 0; i < tries && port <= 65535; ++i, ++port) {
        // Loopback only, on every try: the service never relays for another host.
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        at.sin_port = htons(static_cast<uint16_t>(port));
        if (bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0) {
            bound = true;
            break;
        }
    }
    if (!bound) {
        lastError_ = kErrorBind;
        close(s);
        return 0;
    }
    // The backlog holds the connections that wait while the threads are at the cap.
    if (listen(s, kListenBacklog) != 0) {
        lastError_ = kErrorListen;
        close(s);
        return 0;
    }
    if (wakeFd_ < 0) wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        lastError_ = kErrorThread;
        close(s);
        return 0;
    }
    limits_ = ComputeLimits();
    if (override_.connectionThreads) limits_.connectionThreads = override_.connectionThreads;
    if (override_.waiting) limits_.waiting = override_.waiting;
    if (override_.firstByteSeconds) limits_.firstByteSeconds = override_.firstByteSeconds;
    threadCap_ = limits_.connectionThreads;
    {
        rlimit files{};
        getrlimit(RLIMIT_NOFILE, &files);
        long somaxconn = ReadProcNumber("/proc/sys/net/core/somaxconn");
        int backlog = somaxconn > 0 ? static_cast<int>(std::min<long>(somaxconn, kListenBacklog)) : kListenBacklog;
        AppendToProgramLog("local proxy: up to " + std::to_string(limits_.connectionThreads) +
                           " connections at once (two descriptors and one thread each; descriptor limit " +
                           std::to_string(files.rlim_cur) + ", " + std::to_string(AvailableMemory() >> 20) +
                           " MiB available), " + std::to_string(limits_.waiting) +
                           " more waiting for their first bytes, listen backlog " + std::to_string(backlog));
    }
    // Accepted sockets do not inherit this: they block, as their threads expect.
    int flags = fcntl(s, F_GETFL);
    if (flags >= 0) fcntl(s, F_SETFL, flags | O_NONBLOCK);
    pollSet_ = epoll_create1(EPOLL_CLOEXEC);
    if (pollSet_ < 0) {
        lastError_ = kErrorThread;
        close(s);
        return 0;
    }
    stopping_ = false;
    listenSocket_ = s;
    try {
        std::promise<void> running;
        std::future<void> started = running.get_future();
        acceptThread_ = std::thread([this, &running] {
            running.set_value();
            AcceptLoop();
        });
        // Start answers for a thread that runs, not one that may yet start.
        started.wait();
    } catch (...) {
        lastError_ = kErrorThread;
        listenSocket_ = -1;
        close(pollSet_);
        pollSet_ = -1;
        close(s);
        return 0;
    }
    if (port != configured) settings.localSocksPort = static_cast<uint16_t>(port);
    return 1;
}

void CListener::Stop() {
    int s = listenSocket_.exchange(-1);
    if (s < 0 && !acceptThread_.joinable()) return;
    stopping_ = true;
    WakeAcceptThread();
    if (acceptThread_.joinable()) acceptThread_.join();
    if (s >= 0) close(s);
}

void CListener::WakeAcceptThread() {
    if (wakeFd_ < 0) return;
    uint64_t one = 1;
    ssize_t ignored = write(wakeFd_, &one, sizeof one);
    (void)ignored;
}

CListener::Limits CListener::ComputeLimits() {
    Limits limits;
    rlimit files{};
    size_t descriptors = 1024;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
        descriptors = static_cast<size_t>(files.rlim_cur);
    } else {
        descriptors = 1 << 20;
    }
    size_t spare = descriptors > kReservedDescriptors ? descriptors - kReservedDescriptors : 0;
    limits.waiting = std::clamp(spare / 4, kMinWaiting, kMaxWaiting);
    size_t byDescriptors = spare > limits.waiting ? (spare - limits.waiting) / 2 : 0;

    size_t byThreads = kConnectionCeiling;
    rlimit procs{};
    if (getrlimit(RLIMIT_NPROC, &procs) == 0 && procs.rlim_cur != RLIM_INFINITY) {
        byThreads = std::min(byThreads, static_cast<size_t>(procs.rlim_cur) / 2);
    }
    long threadsMax = ReadProcNumber("/proc/sys/kernel/threads-max");
    if (threadsMax > 0) byThreads = std::min(byThreads, static_cast<size_t>(threadsMax) / 2);

    size_t byMemory = AvailableMemory() / 2 / kBytesPerConnection;
    limits.connectionThreads =
        std::max(kMinConnectionThreads, std::min({byDescriptors, byThreads, byMemory, kConnectionCeiling}));
    return limits;
}

void CListener::AcceptLoop() {
    // The socket is read once: Stop hands it back only after this thread ends.
    int s = listenSocket_.load();
    int ep = pollSet_;
    pollSet_ = -1;
    {
        WaitingSet waiting(ep, &waitingCount_);
        bool accepting = false;
        int thread_failures = 0;
        auto setAccepting = [&](bool on) {
            if (on == accepting) return;
            epoll_event ev{};
            ev.events = on ? static_cast<uint32_t>(EPOLLIN) : 0u;
            ev.data.fd = s;
            epoll_ctl(ep, EPOLL_CTL_MOD, s, &ev);
            accepting = on;
        };
        epoll_event ev{};
        ev.events = 0;
        ev.data.fd = s;
        epoll_ctl(ep, EPOLL_CTL_ADD, s, &ev);
        ev.events = EPOLLIN;
        ev.data.fd = wakeFd_;
        epoll_ctl(ep, EPOLL_CTL_ADD, wakeFd_, &ev);
        const auto firstByteLimit = std::chrono::seconds(limits_.firstByteSeconds);

        while (!stopping_.load()) {
            // Connections that have spoken get threads, oldest first, up to the cap.
            while (waiting.HasReady() && GetConnectionThreadCount() < limits_.connectionThreads) {
                if (StartConnectionThread(waiting.FrontReady())) {
                    waiting.PopReady();
                    thread_failures = 0;
                } else if (++thread_failures >= kThreadRetries) {
                    LogProxyEvent("refused a connection: no thread could be started for it");
                    close(waiting.FrontReady());
                    waiting.PopReady();
                    thread_failures = 0;
                } else {
                    break;
                }
            }
            int closed = waiting.CloseSilentFor(firstByteLimit);
            if (closed > 0) {
                LogProxyEvent("closed " + std::to_string(closed) + " connection(s) that sent nothing for " +
                              std::to_string(limits_.firstByteSeconds) + " s");
            }
            // At the cap nothing more is accepted: new connections wait in the backlog.
            setAccepting(!waiting.HasReady() && GetConnectionThreadCount() < limits_.connectionThreads);

            int timeout = waiting.MillisUntil(firstByteLimit);
            if (thread_failures > 0) timeout = static_cast<int>(kThreadRetryPause.count());
            epoll_event events[64];
            int n = epoll_wait(ep, events, 64, timeout < 0 ? 1000 : std::min(timeout, 1000));
            if (n < 0) {
                if (errno == EINTR) continue;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            bool acceptReady = false;
            for (int i = 0; i < n; ++i) {
                int fd = events[i].data.fd;
                if (fd == wakeFd_) {
                    uint64_t count = 0;
                    ssize_t ignored = read(wakeFd_, &count, sizeof count);
                    (void)ignored;
                } else if (fd == s) {
                    acceptReady = true;
                } else {
                    // A client that left without a byte needs no thread.
                    char first;
                    ssize_t peeked = recv(fd, &first, 1, MSG_PEEK | MSG_DONTWAIT);
                    if (peeked > 0) {
                        waiting.MarkReady(fd);
                    } else if (peeked == 0 || (errno != EAGAIN && errno != EINTR)) {
                        waiting.Drop(fd);
                    }
                }
            }
            if (!acceptReady || stopping_.load()) continue;
            // A batch at a time, so that a flood cannot hold the loop from its other work.
            for (int i = 0; i < 64; ++i) {
                int accepted = accept4(s, nullptr, nullptr, SOCK_CLOEXEC);
                if (accepted < 0) {
                    int error = errno;
                    if (error == EAGAIN || error == EINTR || error == ECONNABORTED) break;
                    // Short of descriptors or memory: back off and try again.
                    std::this_thread::sleep_for(std::chrono::milliseconds(IsResourceShortage(error) ? 100 : 10));
                    break;
                }
                // Without a current node nothing can be served: closed at once.
                if (GetCurrentProxyNode() == nullptr) {
                    close(accepted);
                    continue;
                }
                char first;
                if (recv(accepted, &first, 1, MSG_PEEK | MSG_DONTWAIT) > 0) {
                    waiting.AddReady(accepted);
                    continue;
                }
                if (waiting.Silent() >= limits_.waiting) {
                    long waited = waiting.CloseOldest();
                    LogProxyEvent("closed a connection that sent nothing for " + std::to_string(waited) +
                                  " s: " + std::to_string(limits_.waiting) + " connections were waiting");
                }
                if (!waiting.Add(accepted)) close(accepted);
            }
        }
    }
    close(ep);
    EndParkedThreads();
    WaitForConnectionThreads();
}

bool CListener::StartConnectionThread(int s) {
    {
        std::lock_guard<std::mutex> park(parkLock_);
        if (parked_ > handoff_.size()) {
            // Registered here, like a new thread, so the cap counts it at once.
            CNamedLockGuard guard(&tableLock_);
            uint32_t id = ++nextThreadId_;
            connectionThreads_[id] = pthread_t{};
            handoff_.push_back({s, id});
            parkCv_.notify_one();
            return true;
        }
    }
    auto* record = static_cast<ConnectionRecord*>(PrivateHeapAlloc(sizeof(ConnectionRecord)));
    if (record == nullptr) return false;
    record->listener = this;
    record->socket = s;
    FillPeer(s, record);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kConnectionStackSize);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    bool started = false;
    {
        CNamedLockGuard guard(&tableLock_);
        uint32_t id = ++nextThreadId_;
        record->threadId = id;
        pthread_t thread;
        // The record belongs to the thread once it runs; the thread cannot
        // unregister before this lock is released.
        if (pthread_create(&thread, &attr, ConnectionThreadMain, record) != 0) {
            PrivateHeapFree(record);
        } else {
            connectionThreads_[id] = thread;
            started = true;
        }
    }
    pthread_attr_destroy(&attr);
    return started;
}

bool CListener::TakeNextConnection(int* s, uint32_t* id) {
    std::unique_lock<std::mutex> park(parkLock_);
    if (stopping_.load()) return false;
    ++parked_;
    parkCv_.wait_for(park, kParkedThreadWait, [&] { return !handoff_.empty() || stopping_.load(); });
    --parked_;
    if (handoff_.empty() || stopping_.load()) return false;
    *s = handoff_.front().socket;
    *id = handoff_.front().id;
    handoff_.pop_front();
    return true;
}

void CListener::EndParkedThreads() {
    std::lock_guard<std::mutex> park(parkLock_);
    for (const Handoff& h : handoff_) {
        close(h.socket);
        CNamedLockGuard guard(&tableLock_);
        connectionThreads_.erase(h.id);
    }
    handoff_.clear();
    parkCv_.notify_all();
}

void CListener::RegisterConnectionThread(uint32_t id, pthread_t thread) {
    CNamedLockGuard guard(&tableLock_);
    connectionThreads_[id] = thread;
}

void CListener::UnregisterConnectionThread(uint32_t id) {
    bool wasFull = false;
    {
        CNamedLockGuard guard(&tableLock_);
        wasFull = connectionThreads_.size() >= threadCap_.load();
        connectionThreads_.erase(id);
    }
    // A place came free: the accept thread may take the next connection.
    if (wasFull) WakeAcceptThread();
}

size_t CListener::GetConnectionThreadCount() {
    CNamedLockGuard guard(&tableLock_);
    return connectionThreads_.size();
}

void CListener::WaitForConnectionThreads() {
    auto until = Clock::now() + kThreadWaitLimit;
    while (GetConnectionThreadCount() > 0 && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

CSSManager& GetLocalListener() {
    // Never destroyed: connection threads that outlive a stop may still
    // unregister themselves while the process ends.
    static CSSManager* listener = new CSSManager;
    return *listener;
}
