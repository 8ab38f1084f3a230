// The UDP relay loop between a udpgw driver (standing where the engine
// stands) and scripted nodes on 127.0.0.1: frame handling, one session per
// flow, restarts, idle time-outs on a test clock, the bypass rule, and a
// clean end.
#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <map>
#include <set>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "nodes/node_info.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/proxy_service.h"
#include "proxy/route_manager_link.h"
#include "proxy/s45_client.h"
#include "proxy/udp_relay_clock.h"
#include "proxy/udp_relay_s45.h"
#include "proxy/udp_relay_ssr.h"
#include "tests/ciphers/ssr_server_double.h"
#include "tests/proxy/proxy_test_util.h"
#include "tests/proxy/udp_relay_fixture.h"

namespace {

using proxytest::WaitUntil;
using udptest::Frame;
using udptest::FrameReader;
using udptest::ReplyFrame;
using udptest::Stream;

std::atomic<int64_t> g_now{1000000};
int64_t TestNow() {
    return g_now.load();
}

class RecordingRoutes : public CProxyRouteManager {
public:
    int HasRoute(const std::string& address, const std::string&) override {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back("has " + address);
        return 0;
    }
    int AddLocalRouteViaActiveRouter(const std::string& address, const std::string& mask, int) override {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back("add " + address + "/" + mask);
        return 1;
    }
    void ReportBypassRoute(const std::string& line) override {
        std::lock_guard<std::mutex> lock(mutex);
        warnings.push_back(line);
    }
    std::mutex mutex;
    std::vector<std::string> calls;
    std::vector<std::string> warnings;
};

class UdpRelayLoop : public ::testing::Test {
protected:
    void SetUp() override {
        SetRelayRunningFlag(true);
        SetUdpRelayClock(nullptr);
        socksNode_.type = NodeTypeSocks5;
        socksNode_.host = "127.0.0.1";
        socksNode_.port = static_cast<uint16_t>(socks_.port());
    }
    void TearDown() override {
        SetUdpRelayClock(nullptr);
        SetRouteManager(nullptr);
        ClearBypassRouteSet();
    }
    udptest::Socks5UdpNode socks_;
    CNodeInfo socksNode_;
};

TEST_F(UdpRelayLoop, FrameCases) {
    const std::string echo = "192.0.2.7";
    struct Case {
        const char* what;
        std::vector<std::string> writes;  // written one after the other
        std::vector<std::string> replies;  // data of the replies, in order
    } cases[] = {
        {"one frame", {Frame(0x02, 1, echo, 7, "a")}, {"echo:a"}},
        {"4-byte frame, keepalive and short address are skipped",
         {proxytest::Bytes({2, 0, 0, 1}), proxytest::Bytes({3, 0, 1, 0, 0}),
          proxytest::Bytes({6, 0, 0, 1, 0, 192, 0, 2}), Frame(0x02, 1, echo, 7, "after")},
         {"echo:after"}},
        {"two frames in one write", {Frame(0x02, 1, echo, 7, "x") + Frame(0x02, 2, echo, 7, "y")}, {"echo:x", "echo:y"}},
        {"a frame split across writes",
         {Frame(0x02, 1, echo, 7, "split").substr(0, 3), Frame(0x02, 1, echo, 7, "split").substr(3)}, {"echo:split"}},
        {"0x04 changes nothing", {Frame(0x06, 3, echo, 7, "dns-ish")}, {"echo:dns-ish"}},
        {"IPv6 destination", {Frame(0x0A, 4, "2001:db8::1", 7, "six")}, {"echo:six"}},
    };
    for (const auto& c : cases) {
        Stream<CS45TCPUDPMainLoop> s(&socksNode_);
        for (const auto& w : c.writes) {
            ASSERT_TRUE(s.Send(w));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::vector<std::string> got;
        ReplyFrame f;
        while (got.size() < c.replies.size() && s.Next(&f)) got.push_back(f.data);
        std::sort(got.begin(), got.end());
        auto want = c.replies;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want) << c.what;
    }
}

TEST_F(UdpRelayLoop, RepliesCarryTheFlowsIdAndSource) {
    Stream<CS45TCPUDPMainLoop> s(&socksNode_);
    ASSERT_TRUE(s.Send(Frame(0x02, 0xBEEF, "192.0.2.9", 4242, "q")));
    ReplyFrame f;
    ASSERT_TRUE(s.Next(&f));
    EXPECT_EQ(f.id, 0xBEEF);
    EXPECT_EQ(f.flags, 0);
    EXPECT_EQ(f.address, proxytest::Bytes({192, 0, 2, 9}));
    EXPECT_EQ(f.port, 4242);
    ASSERT_TRUE(s.Send(Frame(0x0A, 0x0102, "2001:db8::9", 53, "q6")));
    ASSERT_TRUE(s.Next(&f));
    EXPECT_EQ(f.flags, 0x08);
    EXPECT_EQ(f.id, 0x0102);
    EXPECT_EQ(f.address.size(), 16u);
}

TEST_F(UdpRelayLoop, RandomSplitsLoseNothing) {
    Stream<CS45TCPUDPMainLoop> s(&socksNode_);
    std::string stream;
    const int kFrames = 200;
    for (int i = 0; i < kFrames; ++i) {
        stream += Frame(i < 8 ? 0x02 : 0, static_cast<uint16_t>(i % 8), "192.0.2.1", 9,
                        "n" + std::to_string(i) + std::string(static_cast<size_t>(i * 7 % 300), 'p'));
    }
    std::mt19937 rng(7);
    for (size_t at = 0; at < stream.size();) {
        size_t n = std::min<size_t>(stream.size() - at, 1 + rng() % 97);
        ASSERT_TRUE(s.Send(stream.substr(at, n)));
        at += n;
        if (rng() % 8 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(WaitUntil([&] { return socks_.seen().size() >= kFrames; }, std::chrono::seconds(30)));
    std::set<std::string> sent;
    for (const auto& seen : socks_.seen()) sent.insert(seen.data.substr(0, seen.data.find('p')));
    EXPECT_EQ(sent.size(), static_cast<size_t>(kFrames));
    EXPECT_EQ(socks_.sourcePorts().size(), 8u);  // one socket per flow
}

TEST_F(UdpRelayLoop, OneSocketPerFlowNewOnRebindOrNewDestination) {
    Stream<CS45TCPUDPMainLoop> s(&socksNode_);
    ReplyFrame f;
    auto roundTrip = [&](uint8_t flags, const std::string& ip, const std::string& data) {
        EXPECT_TRUE(s.Send(Frame(flags, 5, ip, 7, data)));
        EXPECT_TRUE(s.Next(&f)) << data;
        EXPECT_EQ(f.data, "echo:" + data);
        return socks_.seen().back().sourcePort;
    };
    int first = roundTrip(0x02, "192.0.2.1", "one");
    EXPECT_EQ(roundTrip(0, "192.0.2.1", "same"), first);
    int rebound = roundTrip(0x02, "192.0.2.1", "rebind");
    EXPECT_NE(rebound, first);
    int moved = roundTrip(0, "192.0.2.2", "moved");
    EXPECT_NE(moved, rebound);
    EXPECT_EQ(s.loop().GetSessionCount(), 1u);  // the one record served every start
    EXPECT_EQ(socks_.associations(), 3);
}

TEST_F(UdpRelayLoop, FlowOpenedWith0x10SendsNothing) {
    Stream<CS45TCPUDPMainLoop> s(&socksNode_);
    ASSERT_TRUE(s.Send(Frame(0x12, 1, "192.0.2.1", 7, "never")));
    ASSERT_TRUE(s.Send(Frame(0x02, 2, "192.0.2.1", 7, "sent")));
    ReplyFrame f;
    ASSERT_TRUE(s.Next(&f));
    EXPECT_EQ(f.data, "echo:sent");
    EXPECT_FALSE(s.Next(&f, 500));
    EXPECT_EQ(socks_.seen().size(), 1u);
    EXPECT_EQ(s.loop().CountActiveSessions(), 2);  // it keeps its session until idle
}

TEST_F(UdpRelayLoop, IdleFlowsEndOnTheTestClockAlsoWithoutReplies) {
    SetUdpRelayClock(TestNow);
    Stream<CS45TCPUDPMainLoop> s(&socksNode_);
    ASSERT_TRUE(s.Send(Frame(0x02, 1, "192.0.2.1", 53, "dns")));
    ASSERT_TRUE(s.Send(Frame(0x02, 2, "192.0.2.1", 7, "other")));
    ReplyFrame f;
    ASSERT_TRUE(s.Next(&f));
    ASSERT_TRUE(s.Next(&f));
    // Flows opened with 0x10 never get a reply: only the writer's own
    // time-out can end them.
    ASSERT_TRUE(s.Send(Frame(0x12, 3, "192.0.2.1", 53, "silent")));
    ASSERT_TRUE(WaitUntil([&] { return s.loop().CountActiveSessions() == 3; }, std::chrono::seconds(10)));
    g_now += 19;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(s.loop().CountActiveSessions(), 3);
    g_now += 1;
    EXPECT_TRUE(WaitUntil([&] { return s.loop().CountActiveSessions() == 1; }, std::chrono::seconds(10)));
    g_now += 40;
    EXPECT_TRUE(WaitUntil([&] { return s.loop().CountActiveSessions() == 0; }, std::chrono::seconds(10)));
    EXPECT_TRUE(WaitUntil([&] { return socks_.openControls() == 0; }, std::chrono::seconds(10)));
    // The flow comes back with its next frame.
    ASSERT_TRUE(s.Send(Frame(0, 2, "192.0.2.1", 7, "again")));
    ASSERT_TRUE(s.Next(&f));
    EXPECT_EQ(f.data, "echo:again");
}

// A burst of flows beyond the pool's workers gets threads that end with
// those flows: after the idle time-out the process is back to its count
// before the burst.
TEST_F(UdpRelayLoop, ABurstsThreadsEndWithItsFlows) {
    SetUdpRelayClock(TestNow);
    Stream<CS45TCPUDPMainLoop> s(&socksNode_);
    ASSERT_TRUE(s.Send(Frame(0x02, 1, "192.0.2.1", 7, "first")));
    ReplyFrame f;
    ASSERT_TRUE(s.Next(&f));
    const int before = proxytest::CountThreads();
    const int burst = 420;
    for (int id = 2; id < 2 + burst; ++id) {
        ASSERT_TRUE(s.Send(Frame(0x02, id, "192.0.2.1", 7, "burst" + std::to_string(id))));
    }
    std::set<int> answered;
    for (int i = 0; i < burst && s.Next(&f); ++i) answered.insert(f.id);
    EXPECT_EQ(answered.size(), static_cast<size_t>(burst));
    EXPECT_GT(proxytest::CountThreads(), before + burst / 2);
    g_now += 61;
    EXPECT_TRUE(WaitUntil([&] { return s.loop().CountActiveSessions() == 0; }, std::chrono::seconds(10)));
    EXPECT_TRUE(WaitUntil([&] { return proxytest::CountThreads() <= before; }, std::chrono::seconds(10)))
        << proxytest::CountThreads() << " threads, " << before << " before the burst";
    // The loop goes on serving.
    ASSERT_TRUE(s.Send(Frame(0x02, 1, "192.0.2.1", 7, "after")));
    ASSERT_TRUE(s.Next(&f));
    EXPECT_EQ(f.data, "echo:after");
}

TEST_F(UdpRelayLoop, BypassRouteForABusyDestination) {
    struct Case {
        int sessions;
        int toOne;
        uint16_t port;
        std::vector<std::string> calls;
    } cases[] = {
        {299, 150, 7, {}},
        {300, 99, 7, {}},
        {300, 100, 7, {"add 192.0.2.200/255.255.255.255"}},
        {320, 150, 7, {"add 192.0.2.200/255.255.255.255"}},
        {300, 100, 53, {"has 192.0.2.200", "add 192.0.2.200/255.255.255.255"}},
    };
    for (const auto& c : cases) {
        RecordingRoutes routes;
        SetRouteManager(&routes);
        ClearBypassRouteSet();
        Stream<CS45TCPUDPMainLoop> s(&socksNode_);
        // Flows opened with 0x10 hold sessions without jobs or connections.
        std::string frames;
        for (int i = 0; i < c.sessions; ++i) {
            bool one = i >= c.sessions - c.toOne;
            std::string ip = one ? "192.0.2.200" : "198.51.100." + std::to_string(i % 250);
            uint16_t port = one ? c.port : static_cast<uint16_t>(1000 + i);
            frames += Frame(0x12, static_cast<uint16_t>(i), ip, port, "x");
        }
        testing::internal::CaptureStderr();
        ASSERT_TRUE(s.Send(frames));
        ASSERT_TRUE(WaitUntil([&] { return s.loop().CountActiveSessions() == c.sessions; }, std::chrono::seconds(20)));
        // Later frames to the address find it recorded.
        ASSERT_TRUE(s.Send(Frame(0x12, static_cast<uint16_t>(c.sessions - 1), "192.0.2.200", c.port, "y")));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        s.Close();
        std::string log = testing::internal::GetCapturedStderr();
        std::lock_guard<std::mutex> lock(routes.mutex);
        EXPECT_EQ(routes.calls, c.calls) << c.sessions << " " << c.toOne;
        // Traffic that leaves the tunnel is never silent: one warning, in the
        // log and for the window, naming the address, port and counts.
        if (c.calls.empty()) {
            EXPECT_TRUE(routes.warnings.empty());
            EXPECT_EQ(log.find("goes around the tunnel"), std::string::npos) << log;
        } else {
            ASSERT_EQ(routes.warnings.size(), 1u);
            const std::string& w = routes.warnings[0];
            EXPECT_EQ(w.rfind("Warning: traffic to 192.0.2.200 now goes around the tunnel", 0), 0u) << w;
            EXPECT_NE(w.find(" UDP sessions in use went to 192.0.2.200 port " + std::to_string(c.port) + ")"),
                      std::string::npos)
                << w;
            EXPECT_NE(log.find(w), std::string::npos) << log;
        }
        SetRouteManager(nullptr);
    }
}

TEST_F(UdpRelayLoop, CutControlConnectionRenewsOnlyThatAssociation) {
    Stream<CS45TCPUDPMainLoop> s(&socksNode_);
    ReplyFrame f;
    ASSERT_TRUE(s.Send(Frame(0x02, 1, "192.0.2.1", 7, "a1")));
    ASSERT_TRUE(s.Next(&f));
    ASSERT_TRUE(s.Send(Frame(0x02, 2, "192.0.2.1", 7, "b1")));
    ASSERT_TRUE(s.Next(&f));
    ASSERT_EQ(socks_.associations(), 2);
    socks_.CutOne();  // flow 1's
    ASSERT_TRUE(WaitUntil([&] { return s.loop().CountActiveSessions() == 1; }, std::chrono::seconds(10)));
    ASSERT_TRUE(s.Send(Frame(0, 2, "192.0.2.1", 7, "b2")));
    ASSERT_TRUE(s.Next(&f));
    EXPECT_EQ(f.id, 2);
    EXPECT_EQ(socks_.associations(), 2);
    ASSERT_TRUE(s.Send(Frame(0, 1, "192.0.2.1", 7, "a2")));
    ASSERT_TRUE(s.Next(&f));
    EXPECT_EQ(f.data, "echo:a2");
    EXPECT_EQ(socks_.associations(), 3);
}

TEST_F(UdpRelayLoop, RestartStormKeepsEveryReplyWithItsId) {
    Stream<CS45TCPUDPMainLoop> s(&socksNode_);
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0}, finals{0};
    std::thread reader([&] {
        ReplyFrame f;
        while (!done) {
            if (!s.Next(&f, 200)) continue;
            // The data names the id it was sent with.
            if (f.data.rfind("echo:" + std::to_string(f.id) + ":", 0) != 0) ++wrong;
            if (f.data.find(":final") != std::string::npos) ++finals;
        }
    });
    std::mt19937 rng(11);
    for (int round = 0; round < 60; ++round) {
        std::string frames;
        for (int k = 0; k < 10; ++k) {
            uint16_t id = static_cast<uint16_t>(rng() % 6);
            uint8_t flags = rng() % 3 == 0 ? 0x02 : 0;
            std::string ip = "192.0.2." + std::to_string(1 + rng() % 3);
            frames += Frame(flags, id, ip, 7, std::to_string(id) + ":" + std::to_string(round));
        }
        ASSERT_TRUE(s.Send(frames));
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 4 == 0 ? 20 : 1));
    }
    // A last restart of every flow; each must come through with its own id.
    for (uint16_t id = 0; id < 6; ++id) ASSERT_TRUE(s.Send(Frame(0x02, id, "192.0.2.9", 7, std::to_string(id) + ":final")));
    EXPECT_TRUE(WaitUntil([&] { return finals.load() == 6; }, std::chrono::seconds(60))) << finals.load();
    done = true;
    reader.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(UdpRelayLoop, EndsCleanlyOnStreamCloseAndOnStop) {
    for (int how = 0; how < 2; ++how) {
        int fds = proxytest::CountOpenFds();
        int threads = proxytest::CountThreads();
        int32_t count = ActiveConnections();
        {
            Stream<CS45TCPUDPMainLoop> s(&socksNode_);
            ReplyFrame f;
            for (int i = 0; i < 5; ++i) ASSERT_TRUE(s.Send(Frame(0x02, static_cast<uint16_t>(i), "192.0.2.1", 7, "z")));
            for (int i = 0; i < 5; ++i) ASSERT_TRUE(s.Next(&f));
            EXPECT_EQ(ActiveConnections(), count + 5);
            if (how == 0) {
                shutdown(s.fd(), SHUT_WR);
            } else {
                SetRelayRunningFlag(false);
            }
            // The loop ends by itself and closes the stream.
            EXPECT_TRUE(WaitUntil([&] { return s.result() == 1; }, std::chrono::seconds(5)));
            EXPECT_FALSE(s.Next(&f, 2000));
            s.Close();
        }
        SetRelayRunningFlag(true);
        EXPECT_EQ(ActiveConnections(), count) << how;
        EXPECT_TRUE(WaitUntil([&] { return proxytest::CountThreads() == threads; }, std::chrono::seconds(10))) << how;
        EXPECT_TRUE(WaitUntil([&] { return proxytest::CountOpenFds() <= fds; }, std::chrono::seconds(10))) << how;
    }
}

TEST_F(UdpRelayLoop, FrameBeyondTheReaderBufferEndsTheSocks5Stream) {
    Stream<CS45TCPUDPMainLoop> s(&socksNode_);
    std::string huge = Frame(0x02, 1, "192.0.2.1", 7, std::string(65520, 'h'));
    s.Send(huge);
    EXPECT_TRUE(WaitUntil([&] { return s.result() == 1; }, std::chrono::seconds(10)));
}

// ---- Shadowsocks nodes ----------------------------------------------------------------------

TEST(SsrUdpRelayLoop, EveryDatagramHasItsOwnIvAndRepliesComeBack) {
    SetRelayRunningFlag(true);
    for (const char* method : {"aes-256-gcm", "chacha20-ietf-poly1305", "aes-128-cfb"}) {
        udptest::SsUdpNode ss(method, "relay-pw");
        CNodeInfo node;
        node.type = NodeTypeSSR;
        node.host = "127.0.0.1";
        node.port = static_cast<uint16_t>(ss.udpPort());
        node.password = "relay-pw";
        node.method = method;
        node.protocol = "origin";
        node.obfs = "plain";
        Stream<CSSRTCPUDPMainLoop> s(&node);
        ReplyFrame f;
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(s.Send(Frame(i == 0 ? 0x02 : 0, 9, "192.0.2.1", 7, "d" + std::to_string(i)))) << method;
            ASSERT_TRUE(s.Next(&f)) << method;
            EXPECT_EQ(f.data, "echo:d" + std::to_string(i)) << method;
            EXPECT_EQ(f.id, 9);
        }
        auto ivs = ss.ivs();
        ASSERT_EQ(ivs.size(), 3u);
        EXPECT_NE(ivs[0], ivs[1]) << method;
        EXPECT_NE(ivs[1], ivs[2]) << method;
        EXPECT_EQ(ss.sourcePorts().size(), 1u);
    }
}

// A ShadowsocksR node: the cipher, then the protocol's UDP form, checked by
// the plug-in tests' server double.
class SsrUdpNode : public udptest::SsUdpNode {
public:
    explicit SsrUdpNode(const ssrtest::ServerConfig& config)
        : SsUdpNode(config.method, config.password), server_(config) {}
    // The receiving thread uses the double: it ends first.
    ~SsrUdpNode() override { StopUdp(); }
    std::string error() {
        std::lock_guard<std::mutex> lock(mutex_);
        return server_.Error();
    }

protected:
    std::string Unwrap(const std::string& wire) override {
        std::string plain = SsUdpNode::Unwrap(wire);
        std::string got;
        std::lock_guard<std::mutex> lock(mutex_);
        return server_.UdpReceive(plain, &got) ? got : std::string();
    }
    std::string Wrap(const std::string& plain) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return Crypt(server_.UdpSend(plain), true);
    }

private:
    std::mutex mutex_;
    ssrtest::ServerDouble server_;
};

TEST(SsrUdpRelayLoop, ProtocolPluginsCarryEveryDatagram) {
    SetRelayRunningFlag(true);
    struct Case {
        const char* protocol;
        const char* param;
        bool user;
    } cases[] = {
        {"auth_aes128_sha1", "", false},
        {"auth_aes128_sha1", "1024:correct horse", true},
        {"auth_chain_a", "", false},
        {"auth_chain_a", "1024:correct horse", true},
    };
    for (const auto& c : cases) {
        ssrtest::ServerConfig config;
        config.method = "aes-256-cfb";
        config.password = "ssr-pw";
        config.protocol = c.protocol;
        config.obfs = "tls1.2_ticket_auth";  // takes no part in UDP
        if (c.user) config.users = {{1024, "correct horse"}};
        SsrUdpNode ssr(config);
        CNodeInfo node;
        node.type = NodeTypeSSR;
        node.host = "127.0.0.1";
        node.port = static_cast<uint16_t>(ssr.udpPort());
        node.password = config.password;
        node.method = config.method;
        node.protocol = c.protocol;
        node.protocolParam = c.param;
        node.obfs = config.obfs;
        Stream<CSSRTCPUDPMainLoop> s(&node);
        ReplyFrame f;
        for (size_t size : {size_t{1}, size_t{1400}}) {
            std::string data(size, 'q');
            ASSERT_TRUE(s.Send(Frame(size == 1 ? 0x02 : 0, 4, "192.0.2.1", 53, data)));
            ASSERT_TRUE(s.Next(&f)) << c.protocol << " " << c.user << ": " << ssr.error();
            EXPECT_EQ(f.data, "echo:" + data) << c.protocol;
        }
    }
}

TEST(SsrUdpRelayLoop, ForgedDatagramFromElsewhereCannotEndAFlow) {
    SetRelayRunningFlag(true);
    udptest::SsUdpNode ss("aes-256-gcm", "pw");
    CNodeInfo node;
    node.type = NodeTypeSSR;
    node.host = "127.0.0.1";
    node.port = static_cast<uint16_t>(ss.udpPort());
    node.password = "pw";
    node.method = "aes-256-gcm";
    Stream<CSSRTCPUDPMainLoop> s(&node);
    ReplyFrame f;
    ASSERT_TRUE(s.Send(Frame(0x02, 1, "192.0.2.1", 7, "first")));
    ASSERT_TRUE(s.Next(&f));
    // Garbage at the session's port from another socket.
    int sessionPort = *ss.sourcePorts().begin();
    int other = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(sessionPort));
    sendto(other, "forged", 6, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(other);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(s.Send(Frame(0, 1, "192.0.2.1", 7, "second")));
    ASSERT_TRUE(s.Next(&f));
    EXPECT_EQ(f.data, "echo:second");
    EXPECT_EQ(ss.sourcePorts().size(), 1u);  // the same session served both
}

}  // namespace
