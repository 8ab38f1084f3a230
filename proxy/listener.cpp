#include "proxy/listener.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "foundation/private_heap.h"
#include "proxy/client_factory.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/service_stop.h"
#include "proxy/ssh2_serve.h"
#include "proxy/ssh_session.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kThreadWaitLimit = std::chrono::seconds(15);

// Handed from the accept thread to a new connection thread, which copies it
// and frees it at once. Plain data: it lives in a zero-filled heap block.
struct ConnectionRecord {
    CListener* listener;
    int socket;
    uint32_t threadId;
    char peerAddress[16];
    uint16_t peerPort;
};

void* ConnectionThreadMain(void* param) {
    ConnectionRecord record;
    std::memcpy(&record, param, sizeof record);
    PrivateHeapFree(param);
    WatchServiceStop();

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
    // The last use of the listener: after this the thread only returns.
    record.listener->UnregisterConnectionThread(record.threadId);
    return nullptr;
}

bool IsResourceShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

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
    if (listen(s, SOMAXCONN) != 0) {
        lastError_ = kErrorListen;
        close(s);
        return 0;
    }
    stopping_ = false;
    listenSocket_ = s;
    try {
        acceptThread_ = std::thread([this] { AcceptLoop(); });
    } catch (...) {
        lastError_ = kErrorThread;
        listenSocket_ = -1;
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
    if (s >= 0) shutdown(s, SHUT_RDWR);  // wakes accept
    if (acceptThread_.joinable()) acceptThread_.join();
    if (s >= 0) close(s);
}

void CListener::AcceptLoop() {
    // The socket is read once: Stop hands it back only after this thread ends.
    int s = listenSocket_.load();
    while (!stopping_.load()) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int accepted = accept4(s, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (accepted < 0) {
            if (stopping_.load()) break;
            // Only a stop ends the listener; short of descriptors or memory, it
            // backs off and tries again.
            int error = errno;
            if (error != EINTR && error != ECONNABORTED) {
                std::this_thread::sleep_for(std::chrono::milliseconds(IsResourceShortage(error) ? 100 : 10));
            }
            continue;
        }
        if (GetConnectionThreadCount() > kMaxConnectionThreads) {
            close(accepted);
            continue;
        }
        StartConnectionThread(accepted, peer);
    }
    WaitForConnectionThreads();
}

void CListener::StartConnectionThread(int s, const sockaddr_in& peer) {
    auto* record = static_cast<ConnectionRecord*>(PrivateHeapAlloc(sizeof(ConnectionRecord)));
    if (record == nullptr) {
        close(s);
        return;
    }
    record->listener = this;
    record->socket = s;
    inet_ntop(AF_INET, &peer.sin_addr, record->peerAddress, sizeof record->peerAddress);
    record->peerPort = ntohs(peer.sin_port);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kConnectionStackSize);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    {
        CNamedLockGuard guard(&tableLock_);
        uint32_t id = ++nextThreadId_;
        record->threadId = id;
        pthread_t thread;
        // The record belongs to the thread once it runs; the thread cannot
        // unregister before this lock is released.
        if (pthread_create(&thread, &attr, ConnectionThreadMain, record) != 0) {
            close(s);
            PrivateHeapFree(record);
        } else {
            connectionThreads_[id] = thread;
        }
    }
    pthread_attr_destroy(&attr);
}

void CListener::RegisterConnectionThread(uint32_t id, pthread_t thread) {
    CNamedLockGuard guard(&tableLock_);
    connectionThreads_[id] = thread;
}

void CListener::UnregisterConnectionThread(uint32_t id) {
    CNamedLockGuard guard(&tableLock_);
    connectionThreads_.erase(id);
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
