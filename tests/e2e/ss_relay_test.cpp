// The local proxy service relaying through Debian's ss-server, one instance
// per cipher method, with curl as the application and nginx as the web
// server: downloads checked by SHA-256, UDP associations to an echo server
// (seen on the way by a forwarder of the test's, which checks that every
// datagram has an IV of its own), a wrong password and an unknown method.
// Everything runs in a namespace the suite makes.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "nodes/node_info.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/proxy_service.h"
#include "tests/proxy/proxy_test_util.h"
#include "tests/support/e2e_transfer.h"
#include "tests/support/echo_servers.h"
#include "tests/support/net.h"
#include "tests/support/nginx_conf.h"
#include "tests/support/peers.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using proxytest::Bytes;
using testsupport::ChildProcess;
using testsupport::NetNamespace;

constexpr int kFirstSsPort = 8400;
constexpr int kNginxPort = 8080;
constexpr const char* kPassword = "relay p4ssw0rd";
constexpr size_t kFileSize = 1u << 20;
constexpr size_t kBigSize = 256u << 20;

struct Method {
    const char* name;
    bool udp;  // ss-server relays UDP for it (its replay filter refuses rc4's empty IVs)
    int ivLength;
};

const Method kMethods[] = {
    {"aes-128-cfb", true, 16},       {"aes-192-cfb", true, 16},        {"aes-256-cfb", true, 16},
    {"aes-128-ctr", true, 16},       {"aes-192-ctr", true, 16},        {"aes-256-ctr", true, 16},
    {"camellia-128-cfb", true, 16},  {"camellia-192-cfb", true, 16},   {"camellia-256-cfb", true, 16},
    {"salsa20", true, 8},            {"chacha20", true, 8},            {"chacha20-ietf", true, 12},
    {"rc4-md5", true, 16},           {"rc4", false, 0},                {"aes-128-gcm", true, 16},
    {"aes-192-gcm", true, 24},       {"aes-256-gcm", true, 32},        {"chacha20-ietf-poly1305", true, 32},
    {"xchacha20-ietf-poly1305", true, 32},
};

int PortOf(const Method& m) {
    return kFirstSsPort + static_cast<int>(&m - kMethods);
}

// Passes datagrams between the service and ss-server and keeps the first
// `ivLength` bytes of every datagram towards the server.
class UdpForwarder {
public:
    UdpForwarder(int serverPort, int ivLength) : ivLength_(ivLength) {
        front_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        back_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(front_, reinterpret_cast<sockaddr*>(&at), sizeof at);
        socklen_t len = sizeof at;
        getsockname(front_, reinterpret_cast<sockaddr*>(&at), &len);
        port_ = ntohs(at.sin_port);
        server_.sin_family = AF_INET;
        server_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        server_.sin_port = htons(static_cast<uint16_t>(serverPort));
        thread_ = std::thread([this] { Loop(); });
    }
    ~UdpForwarder() {
        stop_ = true;
        thread_.join();
        close(front_);
        close(back_);
    }
    int port() const { return port_; }
    std::vector<std::string> ivs() {
        std::lock_guard<std::mutex> guard(lock_);
        return ivs_;
    }

private:
    void Loop() {
        sockaddr_in client{};
        while (!stop_) {
            pollfd fds[2] = {{front_, POLLIN, 0}, {back_, POLLIN, 0}};
            if (poll(fds, 2, 50) <= 0) continue;
            char buf[65536];
            if (fds[0].revents & POLLIN) {
                socklen_t len = sizeof client;
                ssize_t n = recvfrom(front_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&client), &len);
                if (n > 0) {
                    std::lock_guard<std::mutex> guard(lock_);
                    ivs_.emplace_back(buf, static_cast<size_t>(std::min<ssize_t>(n, ivLength_)));
                    sendto(back_, buf, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&server_),
                           sizeof server_);
                }
            }
            if (fds[1].revents & POLLIN) {
                ssize_t n = recv(back_, buf, sizeof buf, 0);
                if (n > 0)
                    sendto(front_, buf, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&client),
                           sizeof client);
            }
        }
    }

    int front_ = -1, back_ = -1, port_ = 0, ivLength_;
    sockaddr_in server_{};
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex lock_;
    std::vector<std::string> ivs_;
};

class SsRelay : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testsupport::BuildSuitePeers({"ss-server", "nginx", "curl"}, Build, TearDownTestSuite);
    }

    static void Build() {
        dir_ = std::make_unique<testsupport::TempDir>("cendrow-ss-relay");
        const std::string d = dir_->path().string();
        ns_ = std::make_unique<NetNamespace>("cdr-ss");
        // The name curl hands on is resolved by ss-server, only in the namespace.
        etc_ = "/etc/netns/" + ns_->name();
        std::filesystem::create_directories(etc_);
        testsupport::WriteFile(etc_ + "/hosts", "127.0.0.1 localhost web.test\n");

        std::filesystem::create_directories(d + "/www");
        std::filesystem::create_directories(d + "/tmp");
        testsupport::WriteBlobFile(d + "/www/file", kFileSize, 11);
        testsupport::WriteBlobFile(d + "/www/big", kBigSize, 12);
        peers_.push_back(ns_->Spawn(testsupport::NginxCommand(d, "127.0.0.1:" + std::to_string(kNginxPort))));
        for (const Method& m : kMethods) {
            peers_.push_back(ns_->Spawn({"ss-server", "-s", "127.0.0.1", "-p", std::to_string(PortOf(m)), "-k",
                                         kPassword, "-m", m.name, "-u", "-t", "60"},
                                        d + "/ss-" + m.name + ".log"));
        }
        std::vector<int> ports = {kNginxPort};
        for (const Method& m : kMethods) ports.push_back(PortOf(m));
        for (int port : ports) {
            if (!testsupport::WaitTcpListening(*ns_, port, std::chrono::seconds(20)))
                throw std::runtime_error("nothing listens on " + std::to_string(port));
        }
        NetNamespace::Scope scope(*ns_);
        udpEcho_ = std::make_unique<testsupport::UdpEchoServer>();
        if (StartLocalProxy("", "", 0) != 1) throw std::runtime_error("the local proxy did not start");
        port_ = GetLocalProxyPort();
    }

    static void TearDownTestSuite() {
        StopLocalProxy();
        StoreCurrentProxyNode(nullptr);
        for (auto& p : peers_) p.Stop();
        peers_.clear();
        udpEcho_.reset();
        ns_.reset();
        if (!etc_.empty()) std::filesystem::remove_all(etc_);
        etc_.clear();
        dir_.reset();
    }

    void SetUp() override {
        if (!ns_) GTEST_SKIP() << "needs root, iproute2, ss-server, nginx, curl";
        SetRelayRunning();
    }

    static CNodeInfo* Node(const std::string& method, int port, const std::string& password = kPassword) {
        nodes_.emplace_back();
        CNodeInfo& node = nodes_.back();
        node.type = NodeTypeSSR;
        node.host = "127.0.0.1";
        node.port = static_cast<uint16_t>(port);
        node.password = password;
        node.method = method;
        node.protocol = "origin";
        node.obfs = "plain";
        return &node;
    }

    static int Curl(std::vector<std::string> args) {
        std::vector<std::string> argv = {"curl", "-sS", "--max-time", "300", "--socks5-hostname",
                                         "127.0.0.1:" + std::to_string(port_)};
        argv.insert(argv.end(), args.begin(), args.end());
        return ns_->Exec(argv);
    }
    static std::string Path(const std::string& name) { return (dir_->path() / name).string(); }
    static std::string Url(const std::string& file) {
        return "http://web.test:" + std::to_string(kNginxPort) + "/" + file;
    }

    static std::unique_ptr<testsupport::TempDir> dir_;
    static std::unique_ptr<NetNamespace> ns_;
    static std::unique_ptr<testsupport::UdpEchoServer> udpEcho_;
    static std::vector<ChildProcess> peers_;
    static std::deque<CNodeInfo> nodes_;
    static std::string etc_;
    static int port_;
};

std::unique_ptr<testsupport::TempDir> SsRelay::dir_;
std::unique_ptr<NetNamespace> SsRelay::ns_;
std::unique_ptr<testsupport::UdpEchoServer> SsRelay::udpEcho_;
std::vector<ChildProcess> SsRelay::peers_;
std::deque<CNodeInfo> SsRelay::nodes_;
std::string SsRelay::etc_;
int SsRelay::port_ = 0;

TEST_F(SsRelay, DownloadsThroughEveryMethod) {
    const std::string expected = testsupport::HexSha256File(Path("www/file"));
    for (const Method& m : kMethods) {
        SCOPED_TRACE(m.name);
        CNodeInfo* node = Node(m.name, PortOf(m));
        ASSERT_EQ(SetCurrentNode(node), 1);
        std::filesystem::remove(Path("down"));
        ASSERT_EQ(Curl({"-o", Path("down"), Url("file")}), 0)
            << testsupport::ReadFile(Path(std::string("ss-") + m.name + ".log"));
        EXPECT_EQ(testsupport::HexSha256File(Path("down")), expected);
        EXPECT_GE(node->bytesReceived.load(), static_cast<double>(kFileSize));
    }
}

TEST_F(SsRelay, AQuarterGigabyteArrivesIntact) {
    const std::string expected = testsupport::HexSha256File(Path("www/big"));
    for (const char* name : {"aes-256-gcm", "chacha20-ietf-poly1305", "aes-256-cfb"}) {
        SCOPED_TRACE(name);
        const Method* m = nullptr;
        for (const Method& row : kMethods)
            if (std::string(row.name) == name) m = &row;
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(SetCurrentNode(Node(name, PortOf(*m))), 1);
        std::filesystem::remove(Path("big-down"));
        ASSERT_EQ(Curl({"-o", Path("big-down"), Url("big")}), 0);
        EXPECT_EQ(testsupport::HexSha256File(Path("big-down")), expected);
    }
    std::filesystem::remove(Path("big-down"));
}

// Each datagram of a UDP association reaches ss-server with an IV of its own
// and the echo's answer comes back with the 3-byte SOCKS prefix.
TEST_F(SsRelay, UdpAssociationsToTheEcho) {
    for (const Method& m : kMethods) {
        if (!m.udp) continue;
        SCOPED_TRACE(m.name);
        std::unique_ptr<UdpForwarder> forwarder;
        int control, app;
        {
            NetNamespace::Scope scope(*ns_);
            forwarder = std::make_unique<UdpForwarder>(PortOf(m), m.ivLength);
            // A connection takes the node that is current when it is accepted.
            ASSERT_EQ(SetCurrentNode(Node(m.name, forwarder->port())), 1);
            control = proxytest::ConnectLoopback(port_);
            app = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        }
        ASSERT_GE(control, 0);
        ASSERT_TRUE(proxytest::SendText(control, Bytes({5, 1, 0, 5, 3, 0, 1, 0, 0, 0, 0, 0, 0})));
        std::string reply = proxytest::ReadBytes(control, 12);
        ASSERT_EQ(reply.size(), 12u);
        ASSERT_EQ(reply.substr(2, 8), Bytes({5, 0, 0, 1, 127, 0, 0, 1}));
        sockaddr_in relay{};
        relay.sin_family = AF_INET;
        relay.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::memcpy(&relay.sin_port, reply.data() + 10, 2);
        const int echo = udpEcho_->port();
        const std::string header = Bytes({0, 0, 0, 1, 127, 0, 0, 1, echo >> 8, echo & 0xff});
        int answered = 0;
        for (int i = 0; i < 3; ++i) {
            std::string datagram = header + "ping " + std::to_string(i);
            // UDP may drop: a few tries for each.
            for (int attempt = 0; attempt < 3; ++attempt) {
                sendto(app, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&relay), sizeof relay);
                pollfd p{app, POLLIN, 0};
                if (poll(&p, 1, 3000) != 1) continue;
                char buf[2048];
                ssize_t n = recv(app, buf, sizeof buf, 0);
                EXPECT_EQ(std::string(buf, static_cast<size_t>(std::max<ssize_t>(n, 0))), datagram);
                ++answered;
                break;
            }
        }
        EXPECT_EQ(answered, 3);
        std::vector<std::string> ivs = forwarder->ivs();
        EXPECT_GE(ivs.size(), 3u);
        EXPECT_EQ(std::set<std::string>(ivs.begin(), ivs.end()).size(), ivs.size()) << "an IV came twice";
        close(control);
        close(app);
        EXPECT_TRUE(proxytest::WaitUntil([] { return GetActiveConnectionCount() == 0; }, std::chrono::seconds(5)));
    }
}

// A wrong password gets no data through; an unknown method ends the
// connection before any SOCKS reply.
TEST_F(SsRelay, WrongPasswordAndUnknownMethod) {
    const Method& m = kMethods[16];  // aes-256-gcm
    ASSERT_EQ(SetCurrentNode(Node(m.name, PortOf(m), "not the password")), 1);
    std::filesystem::remove(Path("wrong"));
    EXPECT_NE(Curl({"--max-time", "20", "-o", Path("wrong"), Url("file")}), 0);
    EXPECT_FALSE(std::filesystem::exists(Path("wrong")) && std::filesystem::file_size(Path("wrong")) > 0);

    ASSERT_EQ(SetCurrentNode(Node("no-such-method", PortOf(m))), 1);
    int s;
    {
        NetNamespace::Scope scope(*ns_);
        s = proxytest::ConnectLoopback(port_);
    }
    ASSERT_GE(s, 0);
    ASSERT_TRUE(proxytest::SendText(s, Bytes({5, 1, 0})));
    bool closed = false;
    EXPECT_EQ(proxytest::ReadToEnd(s, &closed, 10000), "");
    EXPECT_TRUE(closed);
    close(s);
}

}  // namespace
