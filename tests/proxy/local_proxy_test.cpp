// The local proxy service as the program drives it: the listener on
// 127.0.0.1, its connection threads and their limit, the current node, the
// relay switch and the bypass routes.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "nodes/node_info.h"
#include "proxy/listener.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/proxy_log.h"
#include "proxy/proxy_service.h"
#include "proxy/route_manager_link.h"
#include "tests/proxy/proxy_test_util.h"
#include "tests/proxy/scripted_node.h"

namespace {

using proxytest::Bytes;
using proxytest::ScriptedNode;

const std::string kGreeting = Bytes({5, 1, 0});
const std::string kRequest = kGreeting + Bytes({5, 1, 0, 1, 10, 0, 0, 1, 0, 80});

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
        GetLocalListener().OverrideLimits({0, 0, 0});
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
    // Starts and stops once, so that the descriptors the service keeps for
    // the process (its stop and wake events) exist before a baseline is taken.
    void WarmUp() {
        ASSERT_GT(Start(), 0);
        StopLocalProxy();
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

// Past the cap a connection waits for a place instead of being closed: it is
// served as soon as a relayed connection ends. A stop ends them all and
// leaves no thread or descriptor behind.
TEST_F(LocalProxy, PastTheCapConnectionsWaitAndAreServedInTurn) {
    ScriptedNode node(EchoingSocks5);
    CNodeInfo info;
    Aim(&info, NodeTypeSocks5, node.port());
    SetCurrentNode(&info);
    WarmUp();
    int threadsBefore = proxytest::CountThreads();
    int fdsBefore = proxytest::CountOpenFds();
    CSSManager& listener = GetLocalListener();
    const size_t cap = 8;
    listener.OverrideLimits({cap, 0, 0});
    int port = Start();
    ASSERT_GT(port, 0);
    EXPECT_EQ(listener.GetLimits().connectionThreads, cap);

    std::vector<int> served;
    for (size_t i = 0; i < cap; ++i) {
        int s = proxytest::ConnectLoopback(port);
        ASSERT_TRUE(proxytest::SendText(s, kRequest));
        ASSERT_EQ(proxytest::ReadBytes(s, 12).size(), 12u) << i;
        served.push_back(s);
    }
    EXPECT_EQ(listener.GetConnectionThreadCount(), cap);
    std::vector<int> waiting;
    for (int i = 0; i < 3; ++i) {
        int s = proxytest::ConnectLoopback(port);
        ASSERT_GE(s, 0);
        ASSERT_TRUE(proxytest::SendText(s, kRequest));
        waiting.push_back(s);
    }
    // Neither answered nor closed while every place is taken.
    bool closed = false;
    EXPECT_EQ(proxytest::ReadToEnd(waiting[0], &closed, 500), "");
    EXPECT_FALSE(closed);
    EXPECT_EQ(listener.GetConnectionThreadCount(), cap);
    for (int i = 0; i < 3; ++i) {
        close(served.back());
        served.pop_back();
    }
    for (int s : waiting) {
        ASSERT_EQ(proxytest::ReadBytes(s, 12).size(), 12u);
        ASSERT_TRUE(proxytest::SendText(s, "late"));
        EXPECT_EQ(proxytest::ReadBytes(s, 4), "late");
    }

    StopLocalProxy();
    EXPECT_FALSE(IsLocalProxyRunning());
    EXPECT_EQ(listener.GetConnectionThreadCount(), 0u);
    EXPECT_EQ(GetActiveConnectionCount(), 0u);
    for (int s : served) close(s);
    for (int s : waiting) close(s);
    EXPECT_TRUE(proxytest::WaitUntil([&] { return proxytest::CountThreads() == threadsBefore; },
                                     std::chrono::seconds(5)))
        << proxytest::CountThreads() << " threads, " << threadsBefore << " before";
    EXPECT_TRUE(proxytest::WaitUntil([&] { return proxytest::CountOpenFds() <= fdsBefore; },
                                     std::chrono::seconds(5)))
        << proxytest::CountOpenFds() << " descriptors, " << fdsBefore << " before";
}

// The cap follows the machine but never drops below 500.
TEST_F(LocalProxy, TheCapIsAtLeastFiveHundred) {
    int port = Start();
    ASSERT_GT(port, 0);
    CListener::Limits limits = GetLocalListener().GetLimits();
    EXPECT_GE(limits.connectionThreads, 500u);
    EXPECT_GE(limits.waiting, 256u);
}

// Connections that never send a byte hold no thread: 2,000 of them leave a
// normal request served at once, and a stop closes them.
TEST_F(LocalProxy, IdleConnectionsHoldNoThread) {
    ScriptedNode node(EchoingSocks5);
    CNodeInfo info;
    Aim(&info, NodeTypeSocks5, node.port());
    SetCurrentNode(&info);
    WarmUp();
    int fdsBefore = proxytest::CountOpenFds();
    int port = Start();
    ASSERT_GT(port, 0);
    CSSManager& listener = GetLocalListener();
    ASSERT_GE(listener.GetLimits().waiting, 2001u);
    std::vector<int> idle;
    for (int i = 0; i < 2000; ++i) {
        int s = proxytest::ConnectLoopback(port);
        ASSERT_GE(s, 0) << i;
        idle.push_back(s);
    }
    ASSERT_TRUE(proxytest::WaitUntil([&] { return listener.GetWaitingCount() == 2000; }, std::chrono::seconds(10)));
    EXPECT_EQ(listener.GetConnectionThreadCount(), 0u);
    int s = proxytest::ConnectLoopback(port);
    ASSERT_TRUE(proxytest::SendText(s, kRequest));
    EXPECT_EQ(proxytest::ReadBytes(s, 12, 1000).size(), 12u) << "not served within 1 s";
    ASSERT_TRUE(proxytest::SendText(s, "ping"));
    EXPECT_EQ(proxytest::ReadBytes(s, 4, 1000), "ping");
    close(s);
    StopLocalProxy();
    EXPECT_EQ(listener.GetWaitingCount(), 0u);
    bool closed = false;
    proxytest::ReadToEnd(idle.front(), &closed, 2000);
    EXPECT_TRUE(closed);
    for (int fd : idle) close(fd);
    EXPECT_TRUE(proxytest::WaitUntil([&] { return proxytest::CountOpenFds() <= fdsBefore; },
                                     std::chrono::seconds(5)));
}

// A client that keeps the waiting places full, reopening each connection the
// listener closes, does not stop normal requests; silent connections are
// closed after the first-byte deadline, with a line in the log.
TEST_F(LocalProxy, ReopenedIdleConnectionsDoNotStopNormalRequests) {
    ScriptedNode node(EchoingSocks5);
    CNodeInfo info;
    Aim(&info, NodeTypeSocks5, node.port());
    SetCurrentNode(&info);
    CSSManager& listener = GetLocalListener();
    listener.OverrideLimits({0, 200, 1});
    int port = Start();
    ASSERT_GT(port, 0);
    ResetProxyLogBudget();
    uint64_t eventsBefore = ProxyEventCount();

    std::atomic<bool> done{false};
    std::thread flooder([&] {
        std::vector<int> held;
        while (!done.load()) {
            // Replace every connection the listener has closed; keep 600 open.
            for (auto it = held.begin(); it != held.end();) {
                char c;
                if (recv(*it, &c, 1, MSG_DONTWAIT) == 0) {
                    close(*it);
                    it = held.erase(it);
                } else {
                    ++it;
                }
            }
            while (held.size() < 600) {
                int fd = proxytest::ConnectLoopback(port);
                if (fd < 0) break;
                held.push_back(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        for (int fd : held) close(fd);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    int ok = 0;
    for (int i = 0; i < 18; ++i) {
        int s = proxytest::ConnectLoopback(port);
        if (s >= 0 && proxytest::SendText(s, kRequest) && proxytest::ReadBytes(s, 12, 2000).size() == 12) ++ok;
        if (s >= 0) close(s);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    done = true;
    flooder.join();
    EXPECT_EQ(ok, 18);
    EXPECT_LE(listener.GetWaitingCount(), 200u);
    EXPECT_GT(ProxyEventCount(), eventsBefore) << "closing silent connections left no line";
    StopLocalProxy();  // before the node goes
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
