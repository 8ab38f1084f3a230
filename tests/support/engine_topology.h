#pragma once
// The packet engine's end-to-end topology, as scripts/engine-topology.sh
// builds it: an app namespace with the TUN device, a proxy namespace with a
// real SOCKS 5 server (danted) and a server namespace with HTTP servers, a
// UDP echo and iperf3, joined by veth pairs and linked to nothing else.
// Everything, including whatever still runs inside, is removed when the
// object goes away.

#include <memory>
#include <string>
#include <vector>

#include "tests/support/net.h"

namespace testsupport {

class EngineTopology {
public:
    static constexpr const char* kDevice = "tap0901:ctun0:10.198.75.60:10.198.75.0:255.255.255.0";
    static constexpr const char* kTunName = "ctun0";
    static constexpr const char* kTunAddress = "10.198.75.60";
    static constexpr const char* kTunNetwork = "10.198.75.0";
    static constexpr const char* kNetmask = "255.255.255.0";
    static constexpr const char* kEngineAddress = "10.198.75.61";
    static constexpr const char* kSocksHost = "10.198.76.2";
    static constexpr int kSocksPort = 1080;
    static constexpr const char* kServerAddress = "10.198.77.2";
    static constexpr int kNginxPort = 80;
    static constexpr int kHttpPort = 8080;  // HTTP/1.0: files, uploads answered with their SHA-256
    static constexpr int kUdpEchoPort = 7;
    static constexpr int kIperfPort = 5201;

    // Builds the namespaces and starts the servers, their files in `dir`
    // (served files in `dir`/www). Throws when that fails, after removing
    // what was made.
    explicit EngineTopology(const std::string& dir);
    ~EngineTopology();
    EngineTopology(const EngineTopology&) = delete;
    EngineTopology& operator=(const EngineTopology&) = delete;

    const NetNamespace& app() const { return *app_; }
    const NetNamespace& proxy() const { return *proxy_; }
    const NetNamespace& server() const { return *server_; }
    std::string www() const { return dir_ + "/www"; }

    // Once the engine runs on the TUN device: the app namespace's traffic,
    // except to the proxy namespace, goes into it.
    void RouteThroughEngine() const;

private:
    int Script(const std::vector<std::string>& args) const;
    std::string tag_;
    std::string dir_;
    std::unique_ptr<NetNamespace> app_, proxy_, server_;
};

}  // namespace testsupport
