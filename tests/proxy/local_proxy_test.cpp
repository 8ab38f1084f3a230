// The local proxy service as the program drives it: the listener on
// 127.0.0.1, its connection threads and their limit, the current node, the
// relay switch and the bypass routes.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "nodes/node_info.h"
#include "proxy/listener.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/proxy_service.h"
#include "proxy/route_manager_link.h"
#include "tests/proxy/proxy_test_util.h"
#include "tests/proxy/scripted_node.h"

namespace {

using proxytest::Bytes;
using proxytest::ScriptedNode;

const std::string kGreeting = Bytes({5, 1, 0});

// A SOCKS 5 node without authentication that echoes what it relays.
void EchoingSocks5(int fd, ScriptedNode& n) {
    if (n.Read(fd, 3).size() != 3) return;
    ScriptedNode::Write(fd, Bytes({5, 0}));
    if (n.Read(fd, 10).size() != 10) return;
    ScriptedNode::Write(fd, Bytes({5, 0, 0, 1, 0, 0, 0, 0, 0, 0}));
    ScriptedNode::Echo(fd);
}

class LocalProxy : public ::testing::Test {
protected:
    void SetUp() override {
        StoreCurrentProxyNode(nullptr);
        SetLocalSocksCredentials("", "");
    }
    void TearDown() override {
        StopLocalProxy();
        StoreCurrentProxyNode(nullptr);
        SetRouteManager(nullptr);
        ClearBypassRouteSet();
    }
    // Starts on a free port; the port actually bound.
    int Start(const char* user = nullptr, const char* password = nullptr) {
        int port = testsupport::FreeLoopbackPort();
        if (StartLocalProxy(user, password, static_cast<uint16_t>(port)) != 1) return -1;
        return GetLocalProxyPort();
    }
    static void Aim(CNodeInfo* node, int type, int port) {
        node->type = type;
        node->host = "127.0.0.1";
        node->port = static_cast<uint16_t>(port);
    }
};

TEST_F(LocalProxy, RelaysThroughTheCurrentNodeAndCountsTheConnection) {
    ScriptedNode node(EchoingSocks5);
    CNodeInfo info;
    Aim(&info, NodeTypeSocks5, node.port());
    ASSERT_EQ(SetCurrentNode(&info), 1);
    int port = Start();
    ASSERT_GT(port, 0);
    EXPECT_TRUE(IsLocalProxyRunning());

    int s = proxytest::ConnectLoopback(port);
    ASSERT_TRUE(proxytest::SendText(s, kGreeting + Bytes({5, 1, 0, 1, 10, 0, 0, 1, 0, 80})));
    std::string reply = proxytest::ReadBytes(s, 12);
    ASSERT_EQ(reply.size(), 12u);
    // The bound address of the reply is the listener's own.
    EXPECT_EQ(reply.substr(2, 8), Bytes({5, 0, 0, 1, 127, 0, 0, 1}));
    EXPECT_EQ((static_cast<unsigned char>(reply[10]) << 8) | static_cast<unsigned char>(reply[11]), port);
    EXPECT_EQ(GetActiveConnectionCount(), 1u);
    ASSERT_TRUE(proxytest::SendText(s, "hello"));
    EXPECT_EQ(proxytest::ReadBytes(s, 5), "hello");
    close(s);
    EXPECT_TRUE(
        proxytest::WaitUntil([] { return GetActiveConnectionCount() == 0; }, std::chrono::seconds(5)));
    EXPECT_EQ(info.bytesSent.load(), 5.0);
}

// Connections already open keep their node; new ones take the new one.
TEST_F(LocalProxy, ANewCurrentNodeServesOnlyNewConnections) {
    ScriptedNode first(EchoingSocks5), second(EchoingSocks5);
    CNodeInfo a, b;
    Aim(&a, NodeTypeSocks5, first.port());
    Aim(&b, NodeTypeSocks5, second.port());
    ASSERT_EQ(SetCurrentNode(&a), 1);
    int port = Start();
    int s1 = proxytest::ConnectLoopback(port);
    ASSERT_TRUE(proxytest::SendText(s1, kGreeting + Bytes({5, 1, 0, 1, 10, 0, 0, 1, 0, 80})));
    ASSERT_EQ(proxytest::ReadBytes(s1, 12).size(), 12u);
    ASSERT_EQ(SetCurrentNode(&b), 1);
    int s2 = proxytest::ConnectLoopback(port);
    ASSERT_TRUE(proxytest::SendText(s2, kGreeting + Bytes({5, 1, 0, 1, 10, 0, 0, 1, 0, 80})));
    ASSERT_EQ(proxytest::ReadBytes(s2, 12).size(), 12u);
    ASSERT_TRUE(proxytest::SendText(s1, "one"));
    EXPECT_EQ(proxytest::ReadBytes(s1, 3), "one");
    close(s1);
    close(s2);
    EXPECT_EQ(first.accepted(), 1);
    EXPECT_EQ(second.accepted(), 1);
}

TEST_F(LocalProxy, WithoutACurrentNodeAConnectionIsClosedUncounted) {
    int port = Start();
    ASSERT_GT(port, 0);
    int s = proxytest::ConnectLoopback(port);
    ASSERT_GE(s, 0);
    bool closed = false;
    EXPECT_EQ(proxytest::ReadToEnd(s, &closed, 5000), "");
    EXPECT_TRUE(closed);
    EXPECT_EQ(GetActiveConnectionCount(), 0u);
    close(s);
}

TEST_F(LocalProxy, LocalCredentialsAreDemanded) {
    ScriptedNode node(EchoingSocks5);
    CNodeInfo info;
    Aim(&info, NodeTypeSocks5, node.port());
    SetCurrentNode(&info);
    int port = Start("me", "pass");
    int s = proxytest::ConnectLoopback(port);
    ASSERT_TRUE(proxytest::SendText(s, kGreeting));
    EXPECT_EQ(proxytest::ReadBytes(s, 2), Bytes({5, 0xff}));
    close(s);
    s = proxytest::ConnectLoopback(port);
    ASSERT_TRUE(proxytest::SendText(s, Bytes({5, 1, 2, 1, 2}) + "me" + Bytes({4}) + "pass"));
    EXPECT_EQ(proxytest::ReadBytes(s, 4), Bytes({5, 2, 1, 0}));
    close(s);
}

// A port held by another program moves the listener to the next one; with
// all 100 ports taken the start fails with a bind error.
TEST_F(LocalProxy, PortFallbackAndAllPortsTaken) {
    auto listenAt = [](int port) {
        int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(static_cast<uint16_t>(port));
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(s, 1) != 0) {
            close(s);
            return -1;
        }
        return s;
    };
    // 101 consecutive free ports, found by trying.
    std::vector<int> held;
    int base = 0;
    for (int candidate = 21000; candidate < 60000 && held.empty(); candidate += 997) {
        for (int p = candidate; p < candidate + 101; ++p) {
            int s = listenAt(p);
            if (s < 0) break;
            held.push_back(s);
        }
        if (held.size() == 101) {
            base = candidate;
        } else {
            for (int s : held) close(s);
            held.clear();
        }
    }
    ASSERT_NE(base, 0);
    // The last one freed: 100 taken, then one free.
    close(held.back());
    held.pop_back();

    EXPECT_EQ(StartLocalProxy(nullptr, nullptr, static_cast<uint16_t>(base + 1)), 1);
    EXPECT_EQ(GetLocalProxyPort(), base + 100);
    EXPECT_TRUE(IsLocalProxyRunning());
    StopLocalProxy();
    EXPECT_FALSE(IsLocalProxyRunning());

    EXPECT_EQ(StartLocalProxy(nullptr, nullptr, static_cast<uint16_t>(base)), 0);
    EXPECT_EQ(GetLocalProxyLastError(), CListener::kErrorBind);
    EXPECT_FALSE(IsLocalProxyRunning());
    EXPECT_FALSE(IsRelayRunning());
    for (int s : held) close(s);
}

// 501 connection threads at most: the 501st connection is served, the
// 502nd closed at once; a stop ends them all and leaves no thread or
// descriptor behind.
TEST_F(LocalProxy, ConnectionLimitAndACleanStop) {
    ScriptedNode node(EchoingSocks5);
    CNodeInfo info;
    Aim(&info, NodeTypeSocks5, node.port());
    SetCurrentNode(&info);
    int threadsBefore = proxytest::CountThreads();
    int fdsBefore = proxytest::CountOpenFds();
    int port = Start();
    ASSERT_GT(port, 0);
    CSSManager& listener = GetLocalListener();

    // 501 relayed connections that stay open and idle.
    const std::string request = kGreeting + Bytes({5, 1, 0, 1, 10, 0, 0, 1, 0, 80});
    std::vector<int> idle;
    for (int i = 0; i < 501; ++i) {
        int s = proxytest::ConnectLoopback(port);
        ASSERT_GE(s, 0) << i;
        ASSERT_TRUE(proxytest::SendText(s, request));
        idle.push_back(s);
    }
    for (int i = 0; i < 501; ++i) {
        ASSERT_EQ(proxytest::ReadBytes(idle[i], 12, 20000).size(), 12u)
            << "connection " << i << " not served";
    }
    EXPECT_EQ(listener.GetConnectionThreadCount(), 501u);
    EXPECT_EQ(GetActiveConnectionCount(), 501u);
    int extra = proxytest::ConnectLoopback(port);
    bool closed = false;
    EXPECT_EQ(proxytest::ReadToEnd(extra, &closed, 3000), "");
    EXPECT_TRUE(closed) << "the 502nd connection was not closed at once";
    close(extra);
    ASSERT_TRUE(proxytest::SendText(idle.back(), "still here"));
    EXPECT_EQ(proxytest::ReadBytes(idle.back(), 10), "still here");

    StopLocalProxy();
    EXPECT_FALSE(IsLocalProxyRunning());
    EXPECT_EQ(listener.GetConnectionThreadCount(), 0u);
    EXPECT_EQ(GetActiveConnectionCount(), 0u);
    for (int s : idle) close(s);
    EXPECT_TRUE(proxytest::WaitUntil([&] { return proxytest::CountThreads() == threadsBefore; },
                                     std::chrono::seconds(5)))
        << proxytest::CountThreads() << " threads, " << threadsBefore << " before";
    EXPECT_TRUE(proxytest::WaitUntil([&] { return proxytest::CountOpenFds() <= fdsBefore + 1; },
                                     std::chrono::seconds(5)))
        << proxytest::CountOpenFds() << " descriptors, " << fdsBefore << " before";
}

// Running out of descriptors makes accept fail for a while; the listener
// waits and goes on instead of ending.
TEST_F(LocalProxy, TheListenerOutlivesAcceptFailures) {
    int port = Start();
    ASSERT_GT(port, 0);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(s + 1);  // no descriptor above this one
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);  // waits in the backlog
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_TRUE(IsLocalProxyRunning());
    // No node is current: once accepted, the connection is closed.
    bool closed = false;
    proxytest::ReadToEnd(s, &closed, 5000);
    EXPECT_TRUE(closed);
    close(s);
    int again = proxytest::ConnectLoopback(port);
    EXPECT_GE(again, 0);
    close(again);
}

// Clearing the relay flag ends relays that are open; the listener stays.
TEST_F(LocalProxy, StopRelaysEndsOpenRelays) {
    ScriptedNode node(EchoingSocks5);
    CNodeInfo info;
    Aim(&info, NodeTypeSocks5, node.port());
    SetCurrentNode(&info);
    int port = Start();
    int s = proxytest::ConnectLoopback(port);
    ASSERT_TRUE(proxytest::SendText(s, kGreeting + Bytes({5, 1, 0, 1, 10, 0, 0, 1, 0, 80})));
    ASSERT_EQ(proxytest::ReadBytes(s, 12).size(), 12u);
    StopRelaysAndWait();
    EXPECT_FALSE(IsRelayRunning());
    bool closed = false;
    proxytest::ReadToEnd(s, &closed, 3000);
    EXPECT_TRUE(closed);
    close(s);
    EXPECT_TRUE(IsLocalProxyRunning());
    SetRelayRunning();
    EXPECT_TRUE(IsRelayRunning());
}

TEST(CurrentNode, IncompleteAndUnsupportedNodesAreRefused) {
    auto make = [](int type, const char* host, int port, const char* password, const char* method) {
        auto node = std::make_unique<CNodeInfo>();
        node->type = type;
        node->host = host;
        node->port = static_cast<uint16_t>(port);
        node->password = password;
        node->method = method;
        return node;
    };
    auto good = make(NodeTypeHttp, "proxy.test", 8080, "", "");
    ASSERT_EQ(SetCurrentNode(good.get()), 1);
    struct Case {
        const char* name;
        std::unique_ptr<CNodeInfo> node;
        int accepted;
    } cases[] = {
        {"ssh2", make(NodeTypeSSH2, "h", 22, "pw", ""), 0},
        {"shadowsocks without password", make(NodeTypeSSR, "h", 8388, "", "aes-256-cfb"), 0},
        {"shadowsocks without cipher", make(NodeTypeSSR, "h", 8388, "pw", ""), 0},
        {"shadowsocks without host", make(NodeTypeSSR, "", 8388, "pw", "aes-256-cfb"), 0},
        {"socks5 on port 0", make(NodeTypeSocks5, "h", 0, "", ""), 0},
        {"socks4 without host", make(NodeTypeSocks4, "", 1080, "", ""), 0},
        {"unknown type", make(7, "h", 1080, "", ""), 0},
        {"complete shadowsocks", make(NodeTypeSSR, "h", 8388, "pw", "aes-256-cfb"), 1},
        {"complete socks4", make(NodeTypeSocks4, "h", 1080, "", ""), 1},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        CNodeInfo* before = GetCurrentProxyNode();
        EXPECT_EQ(SetCurrentNode(c.node.get()), c.accepted);
        EXPECT_EQ(GetCurrentProxyNode(), c.accepted ? c.node.get() : before);
    }
    EXPECT_EQ(SetCurrentNode(nullptr), 0);
    StoreCurrentProxyNode(nullptr);
}

class RecordingRoutes : public CProxyRouteManager {
public:
    int HasRoute(const std::string& address, const std::string& mask) override {
        calls.push_back("has " + address + "/" + mask);
        return held.count(address) != 0;
    }
    int AddLocalRouteViaActiveRouter(const std::string& address, const std::string& mask,
                                     int metric) override {
        calls.push_back("add " + address + "/" + mask + " " + std::to_string(metric));
        return failing ? 0 : 1;
    }
    std::vector<std::string> calls;
    std::set<std::string> held;
    bool failing = false;
};

TEST(BypassRoutes, AddedOnceRecordedOnlyOnSuccess) {
    RecordingRoutes routes;
    SetRouteManager(nullptr);
    EXPECT_TRUE(IsBypassRouted("10.1.1.1"));
    AddBypassRoute("10.1.1.1", false);  // no manager: nothing

    SetRouteManager(&routes);
    EXPECT_FALSE(IsBypassRouted("10.1.1.1"));
    AddBypassRoute("10.1.1.1", false);
    AddBypassRoute("10.1.1.1", false);
    EXPECT_TRUE(IsBypassRouted("10.1.1.1"));

    routes.held.insert("10.2.2.2");
    AddBypassRoute("10.2.2.2", true);  // already there: only recorded
    EXPECT_TRUE(IsBypassRouted("10.2.2.2"));

    routes.failing = true;
    AddBypassRoute("10.3.3.3", true);
    EXPECT_FALSE(IsBypassRouted("10.3.3.3"));
    routes.failing = false;
    AddBypassRoute("10.3.3.3", false);
    EXPECT_TRUE(IsBypassRouted("10.3.3.3"));

    EXPECT_EQ(routes.calls, (std::vector<std::string>{
                                "add 10.1.1.1/255.255.255.255 1",
                                "has 10.2.2.2/255.255.255.255",
                                "has 10.3.3.3/255.255.255.255",
                                "add 10.3.3.3/255.255.255.255 1",
                                "add 10.3.3.3/255.255.255.255 1",
                            }));
    ClearBypassRouteSet();
    EXPECT_FALSE(IsBypassRouted("10.1.1.1"));
    SetRouteManager(nullptr);
}

}  // namespace
