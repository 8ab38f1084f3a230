// The local proxy service against real nodes from Debian: danted (with and
// without a user), microsocks (with and without), tinyproxy (with and
// without BasicAuth), with curl as the application and nginx and small
// HTTP/UDP servers as destinations. Everything runs in a namespace the suite
// makes, with a veth link to a second namespace standing for another host
// on the network, which must reach nothing of the service.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "nodes/node_info.h"
#include "proxy/listener.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/proxy_service.h"
#include "proxy/s45_client.h"
#include "proxy/socket_client.h"
#include "tests/proxy/proxy_test_util.h"
#include "tests/proxy/scripted_node.h"
#include "tests/support/e2e_transfer.h"
#include "tests/support/net.h"
#include "tests/support/nginx_conf.h"
#include "tests/support/peers.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::HexSha256File;
using proxytest::Bytes;
using testsupport::ChildProcess;
using testsupport::NetNamespace;

constexpr int kDantePort = 1080;
constexpr int kDanteUserPort = 1081;
constexpr int kMicrosocksPort = 1082;
constexpr int kMicrosocksUserPort = 1083;
constexpr int kTinyproxyPort = 3128;
constexpr int kTinyproxyUserPort = 3129;
constexpr int kNginxPort = 8080;
constexpr int kHttpPort = 8081;  // HTTP/1.0: files, and uploads answered with their SHA-256
constexpr int kUdpEchoPort = 7007;
constexpr const char* kUser = "cdrtest";
constexpr const char* kPassword = "pw-of-cdrtest";
constexpr const char* kInsideAddress = "10.199.1.1";
constexpr size_t kFileSize = 8u << 20;
constexpr size_t kBigSize = 256u << 20;

// A TCP connection from inside the namespace to 127.0.0.1:port.
int ConnectInside(const NetNamespace& ns, int port) {
    NetNamespace::Scope scope(ns);
    return proxytest::ConnectLoopback(port);
}

// The SOCKS 5 request of a CONNECT to 127.0.0.1:port, with the greeting.
std::string Socks5Connect(int port) {
    return Bytes({5, 1, 0, 5, 1, 0, 1, 127, 0, 0, 1, port >> 8, port & 0xff});
}

class ProxyPeers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testsupport::BuildSuitePeers({"danted", "microsocks", "tinyproxy", "nginx", "curl", "python3", "openssl"},
                                     Build, TearDownTestSuite);
    }

    static void Build() {
        dir_ = std::make_unique<testsupport::TempDir>("cendrow-proxy-peers");
        const std::string d = dir_->path().string();
        ns_ = std::make_unique<NetNamespace>("cdr-lp");
        outside_ = std::make_unique<NetNamespace>("cdr-lpx");
        testsupport::LinkNamespaces(*ns_, "lp-in", std::string(kInsideAddress) + "/24", *outside_, "lp-out",
                                    "10.199.1.2/24");

        // Names and the node user exist only for what runs in the namespace.
        etc_ = "/etc/netns/" + ns_->name();
        std::filesystem::create_directories(etc_);
        testsupport::WriteFile(etc_ + "/hosts", "127.0.0.1 localhost web.test\n::1 localhost\n");
        testsupport::WriteFile(etc_ + "/passwd",
                               "root:x:0:0:root:/root:/bin/sh\n"
                               "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n" +
                                   std::string(kUser) + ":x:64999:65534::/nonexistent:/usr/sbin/nologin\n");
        std::string hash;
        testsupport::RunCommand({"openssl", "passwd", "-6", kPassword}, &hash);
        while (!hash.empty() && (hash.back() == '\n' || hash.back() == '\r')) hash.pop_back();
        testsupport::WriteFile(etc_ + "/shadow", "root:*:19000:0:99999:7:::\nnobody:*:19000:0:99999:7:::\n" +
                                                     std::string(kUser) + ":" + hash + ":19000:0:99999:7:::\n");
        std::filesystem::permissions(etc_ + "/shadow", std::filesystem::perms::owner_read |
                                                           std::filesystem::perms::owner_write |
                                                           std::filesystem::perms::group_read);

        std::filesystem::create_directories(d + "/www");
        std::filesystem::create_directories(d + "/tmp");
        testsupport::WriteBlobFile(d + "/www/file", kFileSize, 1);
        testsupport::WriteBlobFile(d + "/www/big", kBigSize, 2);

        for (auto [port, method] : {std::pair{kDantePort, "none"}, std::pair{kDanteUserPort, "username"}}) {
            peers_.push_back(ns_->Spawn(testsupport::DantedCommand(d, port, method), d + "/danted-out.log"));
        }
        peers_.push_back(ns_->Spawn({"microsocks", "-i", "127.0.0.1", "-p", std::to_string(kMicrosocksPort)}));
        peers_.push_back(ns_->Spawn({"microsocks", "-i", "127.0.0.1", "-p", std::to_string(kMicrosocksUserPort),
                                     "-u", kUser, "-P", kPassword}));
        for (int port : {kTinyproxyPort, kTinyproxyUserPort}) {
            std::string conf = d + "/tinyproxy-" + std::to_string(port) + ".conf";
            std::string auth = port == kTinyproxyUserPort
                                   ? "BasicAuth " + std::string(kUser) + " " + kPassword + "\n"
                                   : std::string();
            testsupport::WriteFile(conf, "Port " + std::to_string(port) +
                                             "\nListen 127.0.0.1\nTimeout 120\nAllow 127.0.0.1\n"
                                             "MaxClients 200\nDisableViaHeader Yes\nLogLevel Warning\n"
                                             "LogFile \"" +
                                             d + "/tinyproxy-" + std::to_string(port) + ".log\"\n" + auth);
            peers_.push_back(ns_->Spawn({"tinyproxy", "-d", "-c", conf}));
        }
        peers_.push_back(ns_->Spawn(testsupport::NginxCommand(d, "127.0.0.1:" + std::to_string(kNginxPort))));
        const std::string script = testsupport::ServerPeersScript();
        peers_.push_back(
            ns_->Spawn({"python3", script, "http", "127.0.0.1", std::to_string(kHttpPort), d + "/www"}));
        peers_.push_back(ns_->Spawn({"python3", script, "udp-echo", "127.0.0.1", std::to_string(kUdpEchoPort)}));

        for (int port : {kDantePort, kDanteUserPort, kMicrosocksPort, kMicrosocksUserPort, kTinyproxyPort,
                         kTinyproxyUserPort, kNginxPort, kHttpPort}) {
            if (!testsupport::WaitTcpListening(*ns_, port, std::chrono::seconds(10)))
                throw std::runtime_error("nothing listens on " + std::to_string(port));
        }
        if (!testsupport::WaitUdpEcho(*ns_, kUdpEchoPort, std::chrono::seconds(10)))
            throw std::runtime_error("the UDP echo does not answer");

        // The service itself, with its threads in the namespace.
        NetNamespace::Scope scope(*ns_);
        if (StartLocalProxy("", "", 0) != 1) throw std::runtime_error("the local proxy did not start");
        port_ = GetLocalProxyPort();
    }

    static void TearDownTestSuite() {
        StopLocalProxy();
        StoreCurrentProxyNode(nullptr);
        for (auto& p : peers_) p.Stop();
        peers_.clear();
        outside_.reset();
        ns_.reset();
        if (!etc_.empty()) std::filesystem::remove_all(etc_);
        etc_.clear();
        dir_.reset();
    }

    void SetUp() override {
        if (!ns_) GTEST_SKIP() << "needs root, iproute2, danted, microsocks, tinyproxy, nginx, curl, python3, openssl";
        SetRelayRunning();
    }

    // A node record that lives as long as the suite (connections keep pointers).
    static CNodeInfo* Node(int type, int port, const std::string& user = "", const std::string& password = "") {
        nodes_.emplace_back();
        CNodeInfo& node = nodes_.back();
        node.type = type;
        node.host = "127.0.0.1";
        node.port = static_cast<uint16_t>(port);
        node.user = user;
        node.password = password;
        return &node;
    }

    static int Curl(std::vector<std::string> args, std::string* out = nullptr) {
        std::vector<std::string> argv = {"curl", "-sS", "--max-time", "120"};
        argv.insert(argv.end(), args.begin(), args.end());
        return ns_->Exec(argv, out);
    }
    static std::string Path(const std::string& name) { return (dir_->path() / name).string(); }
    static std::string Proxy() { return "127.0.0.1:" + std::to_string(port_); }

    static std::unique_ptr<testsupport::TempDir> dir_;
    static std::unique_ptr<NetNamespace> ns_, outside_;
    static std::vector<ChildProcess> peers_;
    static std::deque<CNodeInfo> nodes_;
    static std::string etc_;
    static int port_;
};

std::unique_ptr<testsupport::TempDir> ProxyPeers::dir_;
std::unique_ptr<NetNamespace> ProxyPeers::ns_, ProxyPeers::outside_;
std::vector<ChildProcess> ProxyPeers::peers_;
std::deque<CNodeInfo> ProxyPeers::nodes_;
std::string ProxyPeers::etc_;
int ProxyPeers::port_ = 0;

// curl as the application, through every node type, down and up.
TEST_F(ProxyPeers, TransfersThroughEachNodeType) {
    struct Case {
        const char* name;
        int type, port;
        const char* user;
        const char* password;
        const char* curlProxy;  // how curl speaks to the local service
        const char* host;       // the destination as curl names it
    } cases[] = {
        {"danted, name to the node", NodeTypeSocks5, kDantePort, "", "", "--socks5-hostname", "web.test"},
        {"danted with a user", NodeTypeSocks5, kDanteUserPort, kUser, kPassword, "--socks5", "127.0.0.1"},
        {"danted as SOCKS 4", NodeTypeSocks4, kDantePort, "", "", "--socks4", "127.0.0.1"},
        {"microsocks, SOCKS 4a locally", NodeTypeSocks5, kMicrosocksPort, "", "", "--socks4a", "web.test"},
        {"microsocks with a user", NodeTypeSocks5, kMicrosocksUserPort, kUser, kPassword, "--socks5-hostname",
         "web.test"},
        {"tinyproxy", NodeTypeHttp, kTinyproxyPort, "", "", "--socks5-hostname", "web.test"},
        {"tinyproxy with a user", NodeTypeHttp, kTinyproxyUserPort, kUser, kPassword, "--socks5", "127.0.0.1"},
    };
    const std::string expected = HexSha256File(Path("www/file"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CNodeInfo* node = Node(c.type, c.port, c.user, c.password);
        ASSERT_EQ(SetCurrentNode(node), 1);
        std::string host = std::string("http://") + c.host + ":";
        std::filesystem::remove(Path("down"));
        ASSERT_EQ(Curl({c.curlProxy, Proxy(), "-o", Path("down"), host + std::to_string(kNginxPort) + "/file"}), 0);
        EXPECT_EQ(HexSha256File(Path("down")), expected);
        std::string answer;
        ASSERT_EQ(Curl({c.curlProxy, Proxy(), "-H", "Expect:", "-T", Path("www/file"),
                        host + std::to_string(kHttpPort) + "/up"},
                       &answer),
                  0);
        EXPECT_EQ(answer, expected + " " + std::to_string(kFileSize) + "\n");
        EXPECT_GE(node->bytesReceived.load(), static_cast<double>(kFileSize));
        EXPECT_GE(node->bytesSent.load(), static_cast<double>(kFileSize));
    }
}

TEST_F(ProxyPeers, AQuarterGigabyteArrivesIntact) {
    ASSERT_EQ(SetCurrentNode(Node(NodeTypeSocks5, kDantePort)), 1);
    ASSERT_EQ(Curl({"--socks5", Proxy(), "-o", Path("big-down"),
                    "http://127.0.0.1:" + std::to_string(kNginxPort) + "/big"}),
              0);
    EXPECT_EQ(HexSha256File(Path("big-down")), HexSha256File(Path("www/big")));
    std::filesystem::remove(Path("big-down"));
}

// The node refuses wrong credentials; the local client is told, and the
// reason is kept for the node test's report.
TEST_F(ProxyPeers, WrongCredentialsAtTheNode) {
    struct Case {
        const char* name;
        int type, port;
        const char* text;
    } cases[] = {
        {"danted", NodeTypeSocks5, kDanteUserPort,
         "Authentication was failed, please confirm you username and password is correct."},
        {"microsocks", NodeTypeSocks5, kMicrosocksUserPort,
         "Authentication was failed, please confirm you username and password is correct."},
        {"tinyproxy", NodeTypeHttp, kTinyproxyUserPort, "Authentication error: wrong username or password."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CNodeInfo* node = Node(c.type, c.port, kUser, "wrong");
        NetNamespace::Scope scope(*ns_);
        proxytest::TcpPair pair = proxytest::MakeTcpPair();
        CS45CLient client(pair.server, "", "");
        client.AttachNode(node);
        ASSERT_TRUE(proxytest::SendText(pair.client, Socks5Connect(kNginxPort)));
        int result = -1;
        std::thread serve([&] { result = client.Run(); });
        EXPECT_EQ(proxytest::ReadBytes(pair.client, 12).substr(2, 2), Bytes({5, 1}));
        serve.join();
        EXPECT_EQ(result, 0);
        EXPECT_EQ(client.GetUpstreamText(), c.text);
        close(pair.client);
        // curl sees the refusal too.
        ASSERT_EQ(SetCurrentNode(node), 1);
        EXPECT_NE(Curl({"--socks5", Proxy(), "-o", "/dev/null", "http://127.0.0.1:8080/file"}), 0);
    }
}

// A name that does not resolve here never reaches a SOCKS 4 node, which
// carries addresses only; lookups in this namespace fail without leaving it.
TEST_F(ProxyPeers, UnresolvableNamesFailBeforeAnythingIsSent) {
    NetNamespace::Scope scope(*ns_);
    proxytest::ScriptedNode node([](int fd, proxytest::ScriptedNode& n) { n.ReadAll(fd); });
    CNodeInfo* info = Node(NodeTypeSocks4, node.port());
    proxytest::TcpPair pair = proxytest::MakeTcpPair();
    CS45CLient client(pair.server, "", "");
    client.AttachNode(info);
    ASSERT_TRUE(proxytest::SendText(pair.client, Bytes({5, 1, 0, 5, 1, 0, 3, 10}) + "nowhere.invalid" + Bytes({0, 80})));
    int result = -1;
    std::thread serve([&] { result = client.Run(); });
    EXPECT_EQ(proxytest::ReadBytes(pair.client, 12).substr(2, 2), Bytes({5, 1}));
    serve.join();
    close(pair.client);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(client.GetUpstreamText(), "Unable to resolve destination domain name");
    EXPECT_EQ(node.received(), "");

    CSocketClient socket;
    EXPECT_EQ(socket.Connect(L"nowhere.invalid", 80), 0);
    EXPECT_EQ(socket.GetLastError(), EINVAL);
    EXPECT_EQ(socket.GetSocket(), -1);
}

TEST_F(ProxyPeers, LocalCredentialsAreDemandedOfTheApplication) {
    ASSERT_EQ(SetCurrentNode(Node(NodeTypeSocks5, kDantePort)), 1);
    StopLocalProxy();
    {
        NetNamespace::Scope scope(*ns_);
        ASSERT_EQ(StartLocalProxy("local-user", "local:pass", static_cast<uint16_t>(port_)), 1);
    }
    const std::string url = "http://web.test:" + std::to_string(kNginxPort) + "/file";
    EXPECT_EQ(Curl({"-x", "socks5h://local-user:local%3Apass@" + Proxy(), "-o", Path("auth-down"), url}), 0);
    EXPECT_EQ(HexSha256File(Path("auth-down")), HexSha256File(Path("www/file")));
    EXPECT_NE(Curl({"-x", "socks5h://local-user:other@" + Proxy(), "-o", "/dev/null", url}), 0);
    EXPECT_NE(Curl({"--socks5-hostname", Proxy(), "-o", "/dev/null", url}), 0);

    StopLocalProxy();
    NetNamespace::Scope scope(*ns_);
    ASSERT_EQ(StartLocalProxy("", "", static_cast<uint16_t>(port_)), 1);
}

// An HTTP/1.0 server answers after the application's FIN: the whole answer
// still arrives (danted passes the half-close on).
TEST_F(ProxyPeers, AnswerAfterTheApplicationsFinArrivesWhole) {
    ASSERT_EQ(SetCurrentNode(Node(NodeTypeSocks5, kDantePort)), 1);
    int s = ConnectInside(*ns_, port_);
    ASSERT_GE(s, 0);
    ASSERT_TRUE(proxytest::SendText(s, Socks5Connect(kHttpPort)));
    ASSERT_EQ(proxytest::ReadBytes(s, 12).substr(0, 4), Bytes({5, 0, 5, 0}));
    ASSERT_TRUE(proxytest::SendText(s, "GET /file HTTP/1.0\r\n\r\n"));
    shutdown(s, SHUT_WR);
    bool closed = false;
    std::string response = proxytest::ReadToEnd(s, &closed, 60000);
    close(s);
    EXPECT_TRUE(closed);
    size_t body = response.find("\r\n\r\n");
    ASSERT_NE(body, std::string::npos);
    EXPECT_EQ(response.size() - body - 4, kFileSize);
    EXPECT_TRUE(response.compare(body + 4, std::string::npos, testsupport::ReadFile(Path("www/file"))) == 0);
}

// A UDP association through danted: datagrams go both ways, another host
// cannot use it, and it ends with its TCP connection.
TEST_F(ProxyPeers, UdpAssociationThroughDanted) {
    ASSERT_EQ(SetCurrentNode(Node(NodeTypeSocks5, kDantePort)), 1);
    int control = ConnectInside(*ns_, port_);
    ASSERT_GE(control, 0);
    ASSERT_TRUE(proxytest::SendText(control, Bytes({5, 1, 0, 5, 3, 0, 1, 0, 0, 0, 0, 0, 0})));
    std::string reply = proxytest::ReadBytes(control, 12);
    ASSERT_EQ(reply.size(), 12u);
    ASSERT_EQ(reply.substr(2, 8), Bytes({5, 0, 0, 1, 127, 0, 0, 1}));
    int relayPort = static_cast<unsigned char>(reply[10]) << 8 | static_cast<unsigned char>(reply[11]);

    int udp, stranger;
    {
        NetNamespace::Scope scope(*ns_);
        udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        // A sender of this namespace with another source address.
        stranger = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        inet_pton(AF_INET, kInsideAddress, &from.sin_addr);
        ASSERT_EQ(bind(stranger, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    }
    sockaddr_in relay{};
    relay.sin_family = AF_INET;
    relay.sin_port = htons(static_cast<uint16_t>(relayPort));
    relay.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string header = Bytes({0, 0, 0, 1, 127, 0, 0, 1, kUdpEchoPort >> 8, kUdpEchoPort & 0xff});
    auto exchange = [&](int s, const std::string& payload, int waitMs) {
        std::string datagram = header + payload;
        sendto(s, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&relay), sizeof relay);
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, waitMs) != 1) return std::string("(nothing)");
        std::string got(65536, '\0');
        ssize_t n = recv(s, got.data(), got.size(), 0);
        got.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return got;
    };
    for (size_t size : {size_t{1}, size_t{1400}, size_t{8000}}) {
        std::string payload(size, static_cast<char>('a' + size % 26));
        EXPECT_EQ(exchange(udp, payload, 5000), header + payload) << size;
    }
    EXPECT_EQ(exchange(stranger, "not yours", 1000), "(nothing)");
    EXPECT_EQ(exchange(udp, "still mine", 5000), header + "still mine");

    // Nothing of the service answers on the network address.
    {
        NetNamespace::Scope scope(*outside_);
        int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port_));
        inet_pton(AF_INET, kInsideAddress, &to.sin_addr);
        EXPECT_NE(connect(probe, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        close(probe);
        int udpOut = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        to.sin_port = htons(static_cast<uint16_t>(relayPort));
        std::string datagram = header + "from outside";
        sendto(udpOut, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        pollfd p{udpOut, POLLIN, 0};
        char buf[256];
        EXPECT_TRUE(poll(&p, 1, 1000) == 0 || recv(udpOut, buf, sizeof buf, 0) < 0);
        close(udpOut);
    }

    close(control);
    EXPECT_TRUE(proxytest::WaitUntil([] { return GetActiveConnectionCount() == 0; }, std::chrono::seconds(5)));
    EXPECT_EQ(exchange(udp, "after the end", 1000), "(nothing)");
    close(udp);
    close(stranger);
}

}  // namespace
