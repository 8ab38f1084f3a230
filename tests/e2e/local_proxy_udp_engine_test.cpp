// The machine's UDP through the whole path: the packet engine on the TUN
// device of the app namespace carries every datagram as a udpgw stream to
// our local proxy service, whose relay loop sends it through a real node in
// the proxy namespace (danted as SOCKS 5 node, then ss-server as Shadowsocks
// node) to the servers of the server namespace: a UDP echo, unbound, and a
// server whose replies are too large for the engine.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "nodes/node_info.h"
#include "proxy/proxy_service.h"
#include "tests/proxy/proxy_test_util.h"
#include "tests/support/engine_topology.h"
#include "tests/support/engine_via_local_proxy.h"
#include "tests/support/net.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::EngineTopology;
using testsupport::NetNamespace;

constexpr int kBigReplyPort = 9999;
constexpr int kSsPort = 8388;
constexpr const char* kSsPassword = "udp engine p4ss";

// Which node carries the machine's UDP.
enum class Node { kDanted, kSsServer };

class UdpThroughEngine : public ::testing::TestWithParam<Node> {
protected:
    static void SetUpTestSuite() {
        if (!testsupport::CanUseNetns()) return;
        for (const char* program : {"danted", "nginx", "python3", "iperf3", "ss", "unbound", "getent", "ss-server"}) {
            if (!testsupport::HaveProgram(program)) return;
        }
        dir_ = std::make_unique<testsupport::TempDir>("cendrow-udp-engine");
        const std::string d = dir_->path().string();
        topology_ = std::make_unique<EngineTopology>(d);
        testsupport::WriteFile(d + "/unbound.conf",
                               "server:\n  interface: 10.198.77.2\n  port: 53\n  do-ip6: no\n"
                               "  do-daemonize: no\n  chroot: \"\"\n  username: \"\"\n  directory: \"" +
                                   d + "\"\n  pidfile: \"" + d + "/unbound.pid\"\n  use-syslog: no\n"
                                   "  access-control: 0.0.0.0/0 allow\n  local-zone: \"test.\" static\n"
                                   "  local-data: \"web.test. 300 IN A 10.20.30.40\"\n"
                                   "remote-control:\n  control-enable: no\n");
        peers_.push_back(topology_->server().Spawn({"unbound", "-d", "-c", d + "/unbound.conf"}, d + "/unbound.out"));
        peers_.push_back(topology_->server().Spawn(
            {"python3", "-c",
             "import socket\ns=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\ns.bind(('10.198.77.2'," +
                 std::to_string(kBigReplyPort) +
                 "))\nwhile True:\n d,p=s.recvfrom(65535)\n s.sendto(b'x'*3000 if d==b'big' else d,p)\n"}));
        // getent in the app namespace asks unbound, through the tunnel.
        etc_ = "/etc/netns/" + topology_->app().name();
        std::filesystem::create_directories(etc_);
        testsupport::WriteFile(etc_ + "/resolv.conf", "nameserver 10.198.77.2\noptions timeout:3 attempts:3\n");

        peers_.push_back(topology_->proxy().Spawn({"ss-server", "-s", EngineTopology::kSocksHost, "-p",
                                                   std::to_string(kSsPort), "-k", kSsPassword, "-m", "aes-256-gcm",
                                                   "-u"},
                                                  d + "/ss-server.log"));
        // ss-server never fragments its datagrams: the link to the node
        // carries the largest reply with the cipher's overhead.
        topology_->app().MustExec({"ip", "link", "set", "to-proxy", "mtu", "1600"});
        topology_->proxy().MustExec({"ip", "link", "set", "to-app", "mtu", "1600"});
        danted_ = std::make_unique<CNodeInfo>();
        ss_ = std::make_unique<CNodeInfo>();
        testsupport::AimAtShadowsocks(*ss_, kSsPort, kSsPassword, "aes-256-gcm");
        if (!testsupport::StartEngineThroughLocalProxy(*topology_, *danted_, true)) return;
        current_ = danted_.get();
        ready_ = true;
    }

    static void TearDownTestSuite() {
        testsupport::StopEngineThroughLocalProxy();
        for (auto& p : peers_) p.Stop();
        peers_.clear();
        topology_.reset();
        if (!etc_.empty()) std::filesystem::remove_all(etc_);
        dir_.reset();
    }

    void SetUp() override {
        if (!topology_) {
            GTEST_SKIP() << "needs root, iproute2, danted, nginx, python3, iperf3, ss, unbound, getent, ss-server";
        }
        ASSERT_TRUE(ready_) << "the local proxy or the engine did not start";
        SetRelayRunning();
        node_ = GetParam() == Node::kDanted ? danted_.get() : ss_.get();
        if (node_ == current_) return;
        // The engine's stream stays with the node it began with: end it, and
        // the engine reconnects (after 5 s) to the new node.
        ASSERT_EQ(SetCurrentNode(node_), 1);
        current_ = node_;
        StopRelaysAndWait();
        SetRelayRunning();
        ASSERT_TRUE(proxytest::WaitUntil([] { return Exchange(EngineTopology::kUdpEchoPort, "switch", 1000) == "switch"; },
                                         std::chrono::seconds(40)));
    }

    // A datagram from the app namespace and the first answer within `ms`
    // (empty when none came).
    static std::string Exchange(int port, const std::string& payload, int ms = 10000) {
        int fd;
        {
            NetNamespace::Scope scope(topology_->app());
            fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, EngineTopology::kServerAddress, &to.sin_addr);
        std::string got;
        if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
            send(fd, payload.data(), payload.size(), 0) == static_cast<ssize_t>(payload.size())) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, ms) == 1) {
                got.resize(65536);
                ssize_t n = recv(fd, got.data(), got.size(), 0);
                got.resize(n > 0 ? static_cast<size_t>(n) : 0);
            }
        }
        close(fd);
        return got;
    }

    static std::unique_ptr<testsupport::TempDir> dir_;
    static std::unique_ptr<EngineTopology> topology_;
    static std::unique_ptr<CNodeInfo> danted_, ss_;
    static CNodeInfo* current_;  // the service's node
    CNodeInfo* node_ = nullptr;  // this test's
    static std::vector<testsupport::ChildProcess> peers_;
    static std::string etc_;
    static bool ready_;
};

std::unique_ptr<testsupport::TempDir> UdpThroughEngine::dir_;
std::unique_ptr<EngineTopology> UdpThroughEngine::topology_;
std::unique_ptr<CNodeInfo> UdpThroughEngine::danted_, UdpThroughEngine::ss_;
CNodeInfo* UdpThroughEngine::current_ = nullptr;
std::vector<testsupport::ChildProcess> UdpThroughEngine::peers_;
std::string UdpThroughEngine::etc_;
bool UdpThroughEngine::ready_ = false;

TEST_P(UdpThroughEngine, EchoOfTheSmallestAndLargestDatagram) {
    for (size_t size : {size_t{1}, size_t{1472}}) {
        std::string payload(size, 'e');
        for (size_t i = 0; i < size; ++i) payload[i] = static_cast<char>('a' + i % 26);
        EXPECT_EQ(Exchange(EngineTopology::kUdpEchoPort, payload), payload) << size;
    }
    EXPECT_GT(node_->bytesReceived.load(), 0);
}

TEST_P(UdpThroughEngine, NamesResolveThroughTheTunnel) {
    std::string out;
    ASSERT_EQ(topology_->app().Exec({"getent", "ahostsv4", "web.test"}, &out), 0);
    EXPECT_NE(out.find("10.20.30.40"), std::string::npos) << out;
}

TEST_P(UdpThroughEngine, OversizedReplyIsDroppedAlone) {
    EXPECT_EQ(Exchange(kBigReplyPort, "big", 2000), "");
    // The stream goes on: later flows are answered (a loaded machine may
    // need more than one try for a flow's association).
    EXPECT_TRUE(proxytest::WaitUntil([] { return Exchange(kBigReplyPort, "small", 3000) == "small"; },
                                     std::chrono::seconds(40)));
    EXPECT_TRUE(proxytest::WaitUntil([] { return Exchange(EngineTopology::kUdpEchoPort, "still", 3000) == "still"; },
                                     std::chrono::seconds(40)));
}

TEST_P(UdpThroughEngine, WorksAgainAfterTheRelaysStopAndStart) {
    ASSERT_EQ(Exchange(EngineTopology::kUdpEchoPort, "before"), "before");
    StopRelaysAndWait();
    SetRelayRunning();
    // The engine connects again 5 s after its stream ended.
    EXPECT_TRUE(proxytest::WaitUntil([] { return Exchange(EngineTopology::kUdpEchoPort, "after", 1000) == "after"; },
                                     std::chrono::seconds(30)));
}

INSTANTIATE_TEST_SUITE_P(Nodes, UdpThroughEngine, ::testing::Values(Node::kDanted, Node::kSsServer),
                         [](const ::testing::TestParamInfo<Node>& info) {
                             return info.param == Node::kDanted ? "Danted" : "SsServer";
                         });

}  // namespace
