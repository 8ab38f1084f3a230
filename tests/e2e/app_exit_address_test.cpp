// The exit address of a node on this machine, as connect asks for it: the
// first echo service twice, then the second one, through the node (a
// microsocks on loopback); no service configured means no request at all.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/connect_system_linux.h"
#include "nodes/account/service_config.h"
#include "nodes/node_mgr.h"
#include "tests/support/http_server.h"
#include "tests/support/net.h"
#include "tests/support/process.h"

namespace {

using testsupport::HttpRequest;
using testsupport::HttpResponse;

class AppExitAddressTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::HaveProgram("microsocks")) GTEST_SKIP() << "needs microsocks";
        port_ = testsupport::FreeLoopbackPort();
        socks_ = testsupport::ChildProcess({"microsocks", "-i", "127.0.0.1", "-p", std::to_string(port_)});
        for (int i = 0; i < 100 && !Listening(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        NodeParams p;
        p.type = NodeTypeSocks5;
        p.host = "127.0.0.1";
        p.port = static_cast<uint16_t>(port_);
        node_ = CNodeMgr::GetInstance()->AddNode(p);
    }
    void TearDown() override {
        SetServiceConfig(ServiceConfig());
        CNodeMgr::GetInstance()->RemoveNode(node_->id);
        socks_.Stop();
    }
    bool Listening() const {
        return testsupport::RunCommand({"bash", "-c", "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(port_)}) == 0;
    }

    int port_ = 0;
    testsupport::ChildProcess socks_;
    CNodeInfo* node_ = nullptr;
};

TEST_F(AppExitAddressTest, FirstServiceTwiceThenTheSecond) {
    testsupport::HttpTestServer first, second;
    first.Handle("GET", "/ip/", [](const HttpRequest&, HttpResponse& r) { r.status = 503; });
    second.Handle("GET", "/", [](const HttpRequest&, HttpResponse& r) { r.body = "203.0.113.9"; });
    ServiceConfig config;
    config.exitIpABase = first.Url("");
    config.exitIpBBase = second.Url("");
    SetServiceConfig(config);
    CLinuxConnectSystem system;
    EXPECT_EQ(system.FetchExitAddress(node_), "203.0.113.9");
    EXPECT_EQ(first.RequestCount(), 2u);
    EXPECT_EQ(second.RequestCount(), 1u);

    // The first answer that holds an address ends the search.
    first.Handle("GET", "/ip/", [](const HttpRequest&, HttpResponse& r) { r.body = "198.51.100.4"; });
    EXPECT_EQ(system.FetchExitAddress(node_), "198.51.100.4");
    EXPECT_EQ(first.RequestCount(), 3u);
    EXPECT_EQ(second.RequestCount(), 1u);
}

// Without a configured service nothing is asked; a Shadowsocks node has no
// way to ask it.
TEST_F(AppExitAddressTest, NoServiceOrAShadowsocksNodeAsksNothing) {
    CLinuxConnectSystem system;
    SetServiceConfig(ServiceConfig());
    EXPECT_EQ(system.FetchExitAddress(node_), "");

    testsupport::HttpTestServer web;
    web.Handle("GET", "/ip/", [](const HttpRequest&, HttpResponse& r) { r.body = "198.51.100.4"; });
    ServiceConfig config;
    config.exitIpABase = web.Url("");
    SetServiceConfig(config);
    NodeParams p;
    p.type = NodeTypeSSR;
    p.host = "127.0.0.1";
    p.port = static_cast<uint16_t>(port_);
    p.password = "x";
    p.method = "aes-256-gcm";
    CNodeInfo* ss = CNodeMgr::GetInstance()->AddNode(p);
    EXPECT_EQ(system.FetchExitAddress(ss), "");
    EXPECT_EQ(web.RequestCount(), 0u);
    CNodeMgr::GetInstance()->RemoveNode(ss->id);
}

}  // namespace
