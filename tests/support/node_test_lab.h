#pragma once
// The node-test lab on the engine topology: microsocks, tinyproxy and
// ss-server (with UDP) in the proxy namespace beside the topology's danted,
// nginx in the server namespace answering the test sites' names (which the
// proxy namespace's hosts file leads there), and unbound on a link of the
// server namespace that carries the UDP test's DNS server addresses,
// routed to from the proxy namespace; a microsocks in the app namespace
// stands for a proxy program on the same machine. Everything is removed
// when the object goes away.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/engine_topology.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace testsupport {

class NodeTestLab {
public:
    static constexpr const char* kNodeHost = "10.198.76.2";
    static constexpr int kDantePort = 1080;  // the topology's own
    static constexpr int kMicrosocksPort = 1082;
    static constexpr int kTinyproxyPort = 3128;
    static constexpr int kSsPort = 8388;
    static constexpr int kLocalMicrosocksPort = 1083;
    static constexpr const char* kSsPassword = "node test p4ss";
    static constexpr const char* kSsMethod = "aes-256-gcm";
    static constexpr const char* kNamesAddress = "10.198.77.53";  // what unbound answers for the UDP test's names

    // `sites`: the TCP test's host names; `dnsPairs`: the UDP test's (name,
    // DNS server address) rows. Throws when something does not start,
    // after removing what was made.
    NodeTestLab(const std::vector<std::string>& sites,
                const std::vector<std::pair<std::string, std::string>>& dnsPairs);
    ~NodeTestLab();
    NodeTestLab(const NodeTestLab&) = delete;
    NodeTestLab& operator=(const NodeTestLab&) = delete;

    const EngineTopology& topology() const { return *topology_; }
    std::string dir() const { return dir_.path().string(); }
    void StartUnbound();
    void StopUnbound() { unbound_.Stop(); }

private:
    void Build(const std::vector<std::string>& sites, const std::vector<std::pair<std::string, std::string>>& dnsPairs);
    void TearDown();

    TempDir dir_{"cendrow-node-tests"};
    std::unique_ptr<EngineTopology> topology_;
    std::vector<ChildProcess> peers_;
    ChildProcess unbound_;
    std::vector<std::string> dnsServers_;
    std::string etc_;
};

}  // namespace testsupport
