#pragma once
// The local HTTP proxy of the browser modes: it listens on 127.0.0.1 and
// passes each request, as one SOCKS 5 CONNECT, to the local proxy service's
// listener. CONNECT requests become tunnels; other requests with an absolute
// URL are sent on in origin form, one request per connection.

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

class CHttpFrontProxy {
public:
    CHttpFrontProxy() = default;
    ~CHttpFrontProxy();
    CHttpFrontProxy(const CHttpFrontProxy&) = delete;
    CHttpFrontProxy& operator=(const CHttpFrontProxy&) = delete;

    // Listens on the first free port from `firstPort` (at most 100 tried);
    // true when it runs.
    bool Start(uint16_t socksPort, uint16_t firstPort = 8118);
    // Ends the listener and every connection, and waits for their threads.
    void Stop();
    bool IsRunning() const { return listenFd_ >= 0; }
    uint16_t GetPort() const { return port_; }

private:
    void AcceptLoop();
    void Serve(int client);

    int listenFd_ = -1;
    int stopFd_ = -1;
    uint16_t port_ = 0;
    uint16_t socksPort_ = 0;
    std::thread acceptThread_;
    std::mutex mutex_;
    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::list<Connection> connections_;
};
