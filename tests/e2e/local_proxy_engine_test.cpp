// The whole data path: the packet engine on the TUN device of the app
// namespace hands every captured connection to the local proxy service,
// which relays it through a real SOCKS 5 node (danted in the proxy
// namespace) to the servers of the server namespace.
#include <arpa/inet.h>
#include <cryptopp/files.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/sha.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "nodes/node_info.h"
#include "proxy/proxy_service.h"
#include "tests/proxy/proxy_test_util.h"
#include "tests/support/e2e_transfer.h"
#include "tests/support/engine_topology.h"
#include "tests/support/engine_via_local_proxy.h"
#include "tests/support/net.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::Blob;
using testsupport::ConnectIn;
using testsupport::HexSha256;
using testsupport::HexSha256File;

using testsupport::EngineTopology;
using testsupport::NetNamespace;

constexpr size_t kBig = 64u << 20;
constexpr size_t kMedium = 8u << 20;

class EngineThroughLocalProxy : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testsupport::CanUseNetns()) return;
        for (const char* program : {"danted", "nginx", "curl", "python3", "iperf3", "ss"}) {
            if (!testsupport::HaveProgram(program)) return;
        }
        dir_ = std::make_unique<testsupport::TempDir>("cendrow-proxy-engine");
        topology_ = std::make_unique<EngineTopology>(dir_->path().string());
        testsupport::WriteFile(topology_->www() + "/big", Blob(kBig, 1));
        testsupport::WriteFile(topology_->www() + "/medium", Blob(kMedium, 2));

        node_ = std::make_unique<CNodeInfo>();
        if (!testsupport::StartEngineThroughLocalProxy(*topology_, *node_, false)) return;
        ready_ = true;
    }

    static void TearDownTestSuite() {
        testsupport::StopEngineThroughLocalProxy();
        topology_.reset();
        dir_.reset();
    }

    void SetUp() override {
        if (!topology_) GTEST_SKIP() << "needs root, iproute2, danted, nginx, curl, python3, iperf3 and ss";
        ASSERT_TRUE(ready_) << "the local proxy or the engine did not start";
    }

    static std::string Url(int port, const std::string& path) {
        return "http://" + std::string(EngineTopology::kServerAddress) + ":" + std::to_string(port) + path;
    }
    int Curl(std::vector<std::string> args, std::string* out = nullptr) {
        std::vector<std::string> argv = {"curl", "-sS", "--max-time", "120"};
        argv.insert(argv.end(), args.begin(), args.end());
        return topology_->app().Exec(argv, out);
    }
    std::string Path(const std::string& name) const { return (dir_->path() / name).string(); }

    static std::unique_ptr<testsupport::TempDir> dir_;
    static std::unique_ptr<EngineTopology> topology_;
    static std::unique_ptr<CNodeInfo> node_;  // outlives every connection
    static bool ready_;
};

std::unique_ptr<testsupport::TempDir> EngineThroughLocalProxy::dir_;
std::unique_ptr<EngineTopology> EngineThroughLocalProxy::topology_;
std::unique_ptr<CNodeInfo> EngineThroughLocalProxy::node_;
bool EngineThroughLocalProxy::ready_ = false;

TEST_F(EngineThroughLocalProxy, DownloadAndUploadArriveIntact) {
    std::string expected = HexSha256File(topology_->www() + "/big");
    ASSERT_EQ(Curl({"-o", Path("down"), Url(EngineTopology::kNginxPort, "/big")}), 0);
    EXPECT_EQ(HexSha256File(Path("down")), expected);
    std::string answer;
    ASSERT_EQ(Curl({"-H", "Expect:", "-T", topology_->www() + "/big", Url(EngineTopology::kHttpPort, "/up")},
                   &answer),
              0);
    EXPECT_EQ(answer, expected + " " + std::to_string(kBig) + "\n");
    EXPECT_GE(node_->bytesReceived.load(), static_cast<double>(kBig));
    EXPECT_GE(node_->bytesSent.load(), static_cast<double>(kBig));
}

// The application ends its sending side and then reads: the rest of the
// answer arrives whole, and buffered upload bytes reach the server first.
TEST_F(EngineThroughLocalProxy, AnswerAfterTheApplicationsFinArrivesWhole) {
    std::string medium = testsupport::ReadFile(topology_->www() + "/medium");
    struct Case {
        const char* name;
        std::string request;
        std::string expected_body;
    } cases[] = {
        {"download", "GET /medium HTTP/1.0\r\n\r\n", medium},
        {"upload", "PUT /up HTTP/1.0\r\nContent-Length: " + std::to_string(medium.size()) + "\r\n\r\n" + medium,
         HexSha256(medium) + " " + std::to_string(medium.size()) + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int fd = ConnectIn(topology_->app(), EngineTopology::kServerAddress, EngineTopology::kHttpPort, 0, 20);
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(proxytest::SendText(fd, c.request));
        shutdown(fd, SHUT_WR);
        bool closed = false;
        std::string response = proxytest::ReadToEnd(fd, &closed, 60000);
        close(fd);
        EXPECT_TRUE(closed);
        size_t at = response.find("\r\n\r\n");
        ASSERT_NE(at, std::string::npos);
        std::string body = response.substr(at + 4);
        EXPECT_EQ(body.size(), c.expected_body.size());
        EXPECT_TRUE(body == c.expected_body);
    }
}

// The node cannot reach the destination: the application's connection is
// reset rather than closed as if the server had answered nothing.
TEST_F(EngineThroughLocalProxy, RefusedDestinationResetsTheApplication) {
    int fd = ConnectIn(topology_->app(), EngineTopology::kServerAddress, 9, 0, 20);
    ASSERT_GE(fd, 0);  // the engine's stack completes the handshake first
    char c;
    errno = 0;
    ssize_t n = recv(fd, &c, 1, 0);
    int err = errno;
    close(fd);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(err, ECONNRESET);
    EXPECT_TRUE(
        proxytest::WaitUntil([] { return GetActiveConnectionCount() == 0; }, std::chrono::seconds(10)));
}

}  // namespace
