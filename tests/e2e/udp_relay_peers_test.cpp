// The UDP relay loop and the DNS client against real peers from Debian, in a
// namespace the suite makes: a udpgw driver through our listener to a UDP
// echo via danted, ss-server and microsocks, the Shadowsocks loop via
// ss-server, and DNS lookups at unbound directly over TCP and through danted
// and ss-server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ciphers/cryptor.h"
#include "ciphers/cryptor_factory.h"
#include "nodes/node_info.h"
#include "proxy/dns_client.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/proxy_service.h"
#include "proxy/udp_relay_ssr.h"
#include "tests/proxy/proxy_test_util.h"
#include "tests/proxy/udp_relay_fixture.h"
#include "tests/support/net.h"
#include "tests/support/peers.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using proxytest::Bytes;
using testsupport::ChildProcess;
using testsupport::NetNamespace;
using udptest::Frame;
using udptest::FrameReader;
using udptest::ReplyFrame;

constexpr int kDantePort = 1090;
constexpr int kMicrosocksPort = 1092;
constexpr int kEchoPort = 7007;
constexpr int kEcho6Port = 7008;
constexpr const char* kSsPassword = "udp-relay-pw";
const std::pair<const char*, int> kSsServers[] = {
    {"aes-256-gcm", 8390}, {"chacha20-ietf-poly1305", 8391}, {"aes-128-cfb", 8392}};

class UdpRelayPeers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testsupport::BuildSuitePeers({"danted", "microsocks", "ss-server", "unbound", "python3"}, Build,
                                     TearDownTestSuite);
    }

    static void Build() {
        InitCipherLibrary();
        dir_ = std::make_unique<testsupport::TempDir>("cendrow-udp-relay");
        const std::string d = dir_->path().string();
        ns_ = std::make_unique<NetNamespace>("cdr-ur");
        // Name lookups inside go to an address where nothing listens.
        etc_ = "/etc/netns/" + ns_->name();
        std::filesystem::create_directories(etc_);
        testsupport::WriteFile(etc_ + "/resolv.conf", "nameserver 127.0.0.9\n");
        testsupport::WriteFile(etc_ + "/hosts", "127.0.0.1 localhost\n::1 localhost\n");

        danted_ = std::make_unique<ChildProcess>(
            ns_->Spawn(testsupport::DantedCommand(d, kDantePort), d + "/danted.out"));
        peers_.push_back(ns_->Spawn({"microsocks", "-i", "127.0.0.1", "-p", std::to_string(kMicrosocksPort)}));
        for (const auto& [method, port] : kSsServers) {
            peers_.push_back(ns_->Spawn({"ss-server", "-s", "127.0.0.1", "-s", "::1", "-p", std::to_string(port), "-k",
                                         kSsPassword, "-m", method, "-u"},
                                        d + "/ss-" + method + ".log"));
        }
        peers_.push_back(ns_->Spawn(
            {"python3", testsupport::ServerPeersScript(), "udp-echo", "127.0.0.1", std::to_string(kEchoPort)}));
        testsupport::WriteFile(d + "/unbound.conf",
                               "server:\n  interface: 127.0.0.1\n  port: 53\n  do-tcp: yes\n  do-ip6: no\n"
                               "  do-daemonize: no\n  chroot: \"\"\n  username: \"\"\n  directory: \"" +
                                   d + "\"\n  pidfile: \"" + d +
                                   "/unbound.pid\"\n  use-syslog: no\n  logfile: \"" + d +
                                   "/unbound.log\"\n  access-control: 127.0.0.0/8 allow\n"
                                   "  local-zone: \"test.\" static\n"
                                   "  local-data: \"web.test. 300 IN A 10.20.30.40\"\n"
                                   "  local-data: \"alias.test. 300 IN CNAME web.test.\"\n"
                                   "  local-data: \"mail.test. 300 IN MX 10 mx.mail.test.\"\n"
                                   "  local-data: \"mx.mail.test. 300 IN A 10.20.30.41\"\n"
                                   "remote-control:\n  control-enable: no\n");
        unbound_ = std::make_unique<ChildProcess>(ns_->Spawn({"unbound", "-d", "-c", d + "/unbound.conf"}, d + "/unbound.out"));
        for (int port : {kDantePort, kMicrosocksPort, 53}) {
            if (!testsupport::WaitTcpListening(*ns_, port, std::chrono::seconds(15)))
                throw std::runtime_error("nothing listens on " + std::to_string(port));
        }
        for (const auto& server : kSsServers) {
            if (!testsupport::WaitTcpListening(*ns_, server.second, std::chrono::seconds(15)))
                throw std::runtime_error("ss-server does not listen");
        }
        if (!testsupport::WaitUdpEcho(*ns_, kEchoPort, std::chrono::seconds(15)))
            throw std::runtime_error("the UDP echo does not answer");
        NetNamespace::Scope scope(*ns_);
        echo6_ = std::make_unique<std::thread>(Echo6);
        if (StartLocalProxy("", "", 0) != 1) throw std::runtime_error("the local proxy did not start");
    }

    // A UDP echo on [::1] (the Debian helpers bind IPv4 only).
    static void Echo6() {
        int s = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        a.sin6_port = htons(kEcho6Port);
        bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        char buf[65536];
        while (!stopEcho6_) {
            pollfd p{s, POLLIN, 0};
            if (poll(&p, 1, 100) != 1) continue;
            sockaddr_in6 from{};
            socklen_t len = sizeof from;
            ssize_t n = recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n > 0) sendto(s, buf, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
        close(s);
    }

    static void TearDownTestSuite() {
        StopLocalProxy();
        StoreCurrentProxyNode(nullptr);
        stopEcho6_ = true;
        if (echo6_) echo6_->join();
        echo6_.reset();
        for (auto& p : peers_) p.Stop();
        peers_.clear();
        danted_.reset();
        unbound_.reset();
        ns_.reset();
        if (!etc_.empty()) std::filesystem::remove_all(etc_);
        etc_.clear();
        dir_.reset();
    }

    void SetUp() override {
        if (!ns_) GTEST_SKIP() << "needs root, iproute2, danted, microsocks, ss-server, unbound, python3";
        SetRelayRunning();
    }

    static CNodeInfo* Node(int type, int port, const std::string& method = "") {
        nodes_.emplace_back(std::make_unique<CNodeInfo>());
        CNodeInfo* node = nodes_.back().get();
        node->type = type;
        node->host = "127.0.0.1";
        node->port = static_cast<uint16_t>(port);
        node->method = method;
        node->password = method.empty() ? "" : kSsPassword;
        node->protocol = "origin";
        node->obfs = "plain";
        return node;
    }

    // The engine's side: a SOCKS 5 CONNECT to 127.0.0.1:7300 through our listener.
    static int OpenUdpGwStream() {
        NetNamespace::Scope scope(*ns_);
        int s = proxytest::ConnectLoopback(GetLocalProxyPort());
        if (s < 0) return -1;
        int relay = GetLocalProxySettings().udpRelayPort.load();
        if (!proxytest::SendText(s, Bytes({5, 1, 0, 5, 1, 0, 1, 127, 0, 0, 1, relay >> 8, relay & 0xff})) ||
            proxytest::ReadBytes(s, 12).size() != 12) {
            close(s);
            return -1;
        }
        return s;
    }

    static std::unique_ptr<testsupport::TempDir> dir_;
    static std::unique_ptr<NetNamespace> ns_;
    static std::string etc_;
    static std::unique_ptr<ChildProcess> danted_, unbound_;
    static std::vector<ChildProcess> peers_;
    static std::vector<std::unique_ptr<CNodeInfo>> nodes_;
    static std::unique_ptr<std::thread> echo6_;
    static std::atomic<bool> stopEcho6_;
};

std::unique_ptr<testsupport::TempDir> UdpRelayPeers::dir_;
std::unique_ptr<NetNamespace> UdpRelayPeers::ns_;
std::string UdpRelayPeers::etc_;
std::unique_ptr<ChildProcess> UdpRelayPeers::danted_, UdpRelayPeers::unbound_;
std::vector<ChildProcess> UdpRelayPeers::peers_;
std::vector<std::unique_ptr<CNodeInfo>> UdpRelayPeers::nodes_;
std::unique_ptr<std::thread> UdpRelayPeers::echo6_;
std::atomic<bool> UdpRelayPeers::stopEcho6_{false};

// The engine's side of the stream through our listener, to the echo via
// danted and via ss-server with each cipher kind (IPv6 too).
TEST_F(UdpRelayPeers, DriverThroughOurListener) {
    std::vector<std::pair<std::string, CNodeInfo*>> nodes = {{"danted", Node(NodeTypeSocks5, kDantePort)}};
    for (const auto& [method, port] : kSsServers) nodes.emplace_back(method, Node(NodeTypeSSR, port, method));
    for (const auto& [name, node] : nodes) {
        SCOPED_TRACE(name);
        ASSERT_EQ(SetCurrentNode(node), 1);
        int s = OpenUdpGwStream();
        ASSERT_GE(s, 0);
        FrameReader reader(s);
        ReplyFrame f;
        for (size_t size : {size_t{1}, size_t{1472}}) {
            for (uint16_t id : {uint16_t{1}, uint16_t{2}}) {
                std::string data(size, static_cast<char>('a' + id));
                ASSERT_TRUE(proxytest::SendText(s, Frame(size == 1 ? 0x02 : 0, id, "127.0.0.1", kEchoPort, data)));
                ASSERT_TRUE(reader.Next(&f, 15000)) << size;
                EXPECT_EQ(f.id, id);
                EXPECT_EQ(f.data, data);
                EXPECT_EQ(f.port, kEchoPort);
            }
        }
        if (node->type == NodeTypeSSR) {
            ASSERT_TRUE(proxytest::SendText(s, Frame(0x0A, 3, "::1", kEcho6Port, "v6")));
            ASSERT_TRUE(reader.Next(&f, 15000));
            EXPECT_EQ(f.data, "v6");
            EXPECT_EQ(f.flags, 0x08);
        }
        EXPECT_GT(node->bytesSent.load(), 0);
        close(s);
    }
}

TEST_F(UdpRelayPeers, MicrosocksRefusesEveryAssociationAndNothingBreaks) {
    ASSERT_EQ(SetCurrentNode(Node(NodeTypeSocks5, kMicrosocksPort)), 1);
    int s = OpenUdpGwStream();
    ASSERT_GE(s, 0);
    FrameReader reader(s);
    ReplyFrame f;
    for (uint16_t id = 0; id < 5; ++id) {
        ASSERT_TRUE(proxytest::SendText(s, Frame(0x02, id, "127.0.0.1", kEchoPort, "lost")));
    }
    EXPECT_FALSE(reader.Next(&f, 2000));
    EXPECT_FALSE(reader.closed());  // the stream is still served
    // The same stream carries frames again once the node relays UDP.
    ASSERT_EQ(SetCurrentNode(Node(NodeTypeSocks5, kDantePort)), 1);
    close(s);
    s = OpenUdpGwStream();
    FrameReader again(s);
    ASSERT_TRUE(proxytest::SendText(s, Frame(0x02, 7, "127.0.0.1", kEchoPort, "back")));
    ASSERT_TRUE(again.Next(&f, 15000));
    EXPECT_EQ(f.data, "back");
    close(s);
}

TEST_F(UdpRelayPeers, ShadowsocksLoopThroughSsServer) {
    for (const auto& [method, port] : kSsServers) {
        NetNamespace::Scope scope(*ns_);
        udptest::Stream<CSSRTCPUDPMainLoop> s(Node(NodeTypeSSR, port, method));
        ReplyFrame f;
        ASSERT_TRUE(s.Send(Frame(0x02, 1, "127.0.0.1", kEchoPort, "v4:" + std::string(method)))) << method;
        ASSERT_TRUE(s.Next(&f, 15000)) << method;
        EXPECT_EQ(f.data, "v4:" + std::string(method));
        EXPECT_EQ(f.flags, 0);
        ASSERT_TRUE(s.Send(Frame(0x02, 2, "127.0.0.1", kEchoPort, std::string(1472, 'z')))) << method;
        ASSERT_TRUE(s.Next(&f, 15000)) << method;
        EXPECT_EQ(f.data.size(), 1472u);
        ASSERT_TRUE(s.Send(Frame(0x0A, 3, "::1", kEcho6Port, "v6"))) << method;
        ASSERT_TRUE(s.Next(&f, 15000)) << method;
        EXPECT_EQ(f.data, "v6");
        EXPECT_EQ(f.flags, 0x08);
        EXPECT_EQ(f.id, 3);
    }
}

// ---- DNS ------------------------------------------------------------------------------------

TEST_F(UdpRelayPeers, DnsOverTcpAtUnbound) {
    NetNamespace::Scope scope(*ns_);
    CDnsClient client;
    std::wstring text;
    std::vector<std::wstring> list;
    int tries = 2;
    client.ResolveA(&text, L"127.0.0.1", L"web.test", &list, &tries);
    EXPECT_EQ(list, std::vector<std::wstring>{L"10.20.30.40"});
    // unbound answers a local CNAME without its target: no address, the
    // record's text.
    tries = 2;
    client.ResolveA(&text, L"127.0.0.1", L"alias.test", &list, &tries);
    EXPECT_TRUE(list.empty());
    EXPECT_NE(text.find(L"CName=web.test"), std::wstring::npos);
    client.ResolveMX(&text, L"127.0.0.1", L"mail.test", &list);
    ASSERT_FALSE(list.empty());
    EXPECT_TRUE(list[0] == L"10.20.30.41" || list[0] == L"mx.mail.test") << text.size();
    EXPECT_NE(text.find(L"Exchange=mx.mail.test"), std::wstring::npos);
}

TEST_F(UdpRelayPeers, DnsThroughDantedAndSsServer) {
    NetNamespace::Scope scope(*ns_);
    // The association the node test would hold.
    int control = proxytest::ConnectLoopback(kDantePort);
    ASSERT_GE(control, 0);
    ASSERT_TRUE(proxytest::SendText(control, Bytes({5, 1, 0})));
    ASSERT_EQ(proxytest::ReadBytes(control, 2), Bytes({5, 0}));
    ASSERT_TRUE(proxytest::SendText(control, Bytes({5, 3, 0, 1, 0, 0, 0, 0, 0, 0})));
    std::string reply = proxytest::ReadBytes(control, 10);
    ASSERT_EQ(reply.size(), 10u);
    uint16_t relayPort = static_cast<uint16_t>(static_cast<uint8_t>(reply[8]) << 8 | static_cast<uint8_t>(reply[9]));
    CProxyDNSClient socks;
    socks.SetProxy("127.0.0.1", relayPort);
    std::wstring text;
    std::vector<std::wstring> list;
    int tries = 2;
    socks.ResolveA(&text, L"127.0.0.1", L"web.test", &list, &tries);
    EXPECT_EQ(list, std::vector<std::wstring>{L"10.20.30.40"});
    close(control);

    for (const auto& [method, port] : kSsServers) {
        auto cryptor = CreateCryptor(method, kSsPassword);
        CSSRDnsClient ss;
        ss.SetProxy("127.0.0.1", static_cast<uint16_t>(port));
        ss.SetCipher(cryptor.get(), nullptr, nullptr);
        tries = 2;
        ss.ResolveA(&text, L"127.0.0.1", L"web.test", &list, &tries);
        EXPECT_EQ(list, std::vector<std::wstring>{L"10.20.30.40"}) << method;
    }
}

TEST_F(UdpRelayPeers, RootWalkEndsAfterNineNamesWithNoRouteOut) {
    NetNamespace::Scope scope(*ns_);
    CDnsClient client;
    std::wstring text;
    // With 2 tries the first failure leaves one, so the walk goes on; each
    // later server gets 10 tries and uses one.
    int tries = 2;
    EXPECT_EQ(client.Resolve(nullptr, L"example.com", L"A", &text, &tries), 0);
    EXPECT_EQ(tries, 9);
}

}  // namespace
