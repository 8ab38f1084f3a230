// The whole packet engine, for real: started on the TUN device of the app
// namespace, it carries the namespace's traffic through a real SOCKS 5
// server (danted) in the proxy namespace to real servers in the server
// namespace, and UDP through a udpgw peer of the test's own behind the same
// SOCKS server.
#include <arpa/inet.h>
#include <cryptopp/files.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/sha.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/stack/memp.h"
#include "engine/tun2socks/tun2socks.h"
#include "tests/support/e2e_transfer.h"
#include "tests/support/engine_topology.h"
#include "tests/support/net.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/udpgw_peer.h"

namespace {

using testsupport::Blob;
using testsupport::ConnectIn;
using testsupport::CountOpenFds;
using testsupport::Endpoint;
using testsupport::HexSha256;
using testsupport::HexSha256File;
using testsupport::SendAll;
using testsupport::WaitFor;

using testsupport::EngineTopology;
using testsupport::NetNamespace;
using testsupport::UdpGwPeer;

constexpr size_t kBig = 64u << 20;
constexpr size_t kSmall = 1u << 20;
constexpr size_t kMedium = 8u << 20;

// ---- the engine's messages -------------------------------------------------------

std::mutex g_log_mutex;
std::vector<std::pair<int, std::string>> g_log;

void CaptureLog(int, int level, const char* msg) {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    g_log.emplace_back(level, msg);
}

size_t LogSize() {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    return g_log.size();
}

// Messages at `level` or more severe, from index `from` on.
std::vector<std::string> LogAtLeast(int level, size_t from) {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    std::vector<std::string> out;
    for (size_t i = from; i < g_log.size(); ++i) {
        if (g_log[i].first <= level) out.push_back(g_log[i].second);
    }
    return out;
}

// ---- helpers -------------------------------------------------------------------------

// Everything until the end of the stream; false on an error (reset, timeout).
bool ReadToEnd(int fd, std::string* out) {
    char buf[65536];
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n == 0) return true;
        if (n < 0) return false;
        out->append(buf, static_cast<size_t>(n));
    }
}

std::string HttpBody(const std::string& response) {
    size_t at = response.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : response.substr(at + 4);
}

// The udpgw peer's part: each datagram goes to its destination from the
// proxy namespace, and the answer comes back in a reply frame.
UdpGwPeer::Reply RelayDatagram(const UdpGwPeer::Frame& f) {
    if ((f.flags & 0x01) || f.ipv6 || f.addr.size() != 4) return {};
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_addr, f.addr.data(), 4);
    to.sin_port = htons(f.port);
    sendto(fd, f.payload.data(), f.payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLIN, 0};
    std::string answer;
    bool got = false;
    if (poll(&p, 1, 2000) == 1) {
        std::string buf(65536, '\0');
        ssize_t n = recv(fd, buf.data(), buf.size(), 0);
        if (n >= 0) {
            answer.assign(buf.data(), static_cast<size_t>(n));
            got = true;
        }
    }
    close(fd);
    if (!got) return {};
    char ip[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, f.addr.data(), ip, sizeof ip);
    return {{UdpGwPeer::Packet(0, f.conid, ip, f.port, answer)}, {}, false};
}

// ---- the suite ---------------------------------------------------------------------

class EngineRelay : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testsupport::CanUseNetns()) return;
        for (const char* program : {"danted", "nginx", "curl", "python3", "iperf3", "ping", "ss"}) {
            if (!testsupport::HaveProgram(program)) return;
        }
        dir_ = std::make_unique<testsupport::TempDir>("cendrow-engine");
        topology_ = std::make_unique<EngineTopology>(dir_->path().string());
        {
            NetNamespace::Scope scope(topology_->proxy());
            udpgw_ = std::make_unique<UdpGwPeer>(RelayDatagram, false);
        }
        testsupport::WriteFile(topology_->www() + "/big", Blob(kBig, 1));
        testsupport::WriteFile(topology_->www() + "/small", Blob(kSmall, 2));
        testsupport::WriteFile(topology_->www() + "/medium", Blob(kMedium, 3));
        tun2socks_set_log_sink(CaptureLog);
        if (StartEngine()) topology_->RouteThroughEngine();
    }

    static void TearDownTestSuite() {
        StopTunEngine();
        tun2socks_set_log_sink(nullptr);
        udpgw_.reset();
        topology_.reset();
        dir_.reset();
    }

    void SetUp() override {
        if (!topology_)
            GTEST_SKIP() << "needs root, iproute2, danted, nginx, curl, python3, iperf3, ping and ss";
        ASSERT_TRUE(IsTunEngineRunning());
    }

    static bool StartEngine() {
        TunEngineConfig config;
        config.bin_folder = L"/nonexistent";
        config.adapter_name = L"ctun0";
        config.socks_host = L"10.198.76.2";
        config.socks_port = EngineTopology::kSocksPort;
        config.relay_udp = 1;
        config.tun_address = L"10.198.75.60";
        config.interface_address = L"10.198.75.61";
        config.tun_network = L"10.198.75.0";
        config.tun_netmask = L"255.255.255.0";
        config.udpgw_host = L"127.0.0.1";
        config.udpgw_port = udpgw_->port();
        // The device is the app namespace's, and the engine thread stays there.
        NetNamespace::Scope scope(topology_->app());
        return StartTunEngine(config) == 1;
    }

    static std::string Url(int port, const std::string& path) {
        return "http://" + std::string(EngineTopology::kServerAddress) + ":" + std::to_string(port) + path;
    }

    // curl in the app namespace; its exit code, and standard output in `out`.
    int Curl(std::vector<std::string> args, std::string* out = nullptr) {
        std::vector<std::string> argv = {"curl", "-sS", "--max-time", "60"};
        argv.insert(argv.end(), args.begin(), args.end());
        return topology_->app().Exec(argv, out);
    }

    std::string Path(const std::string& name) const { return (dir_->path() / name).string(); }

    static std::unique_ptr<testsupport::TempDir> dir_;
    static std::unique_ptr<EngineTopology> topology_;
    static std::unique_ptr<UdpGwPeer> udpgw_;
};

std::unique_ptr<testsupport::TempDir> EngineRelay::dir_;
std::unique_ptr<EngineTopology> EngineRelay::topology_;
std::unique_ptr<UdpGwPeer> EngineRelay::udpgw_;

}  // namespace

TEST_F(EngineRelay, DownloadAndUploadArriveIntact) {
    size_t log_from = LogSize();
    std::string expected = HexSha256File(topology_->www() + "/big");
    ASSERT_EQ(Curl({"-o", Path("down"), Url(EngineTopology::kNginxPort, "/big")}), 0);
    EXPECT_EQ(HexSha256File(Path("down")), expected);

    std::string answer;
    ASSERT_EQ(Curl({"-H", "Expect:", "-T", topology_->www() + "/big", Url(EngineTopology::kHttpPort, "/up")},
                   &answer),
              0);
    EXPECT_EQ(answer, expected + " " + std::to_string(kBig) + "\n");
    // Nothing went wrong on the way, such as the device refusing joined segments.
    EXPECT_EQ(LogAtLeast(BLOG_WARNING, log_from), std::vector<std::string>());
}

TEST_F(EngineRelay, FiftyParallelTransfersThenNoClientLeft) {
    std::string expected = HexSha256File(topology_->www() + "/small");
    std::vector<testsupport::ChildProcess> transfers;
    for (int i = 0; i < 50; ++i) {
        transfers.push_back(
            topology_->app().Spawn({"curl", "-sS", "--max-time", "60", "-o", Path("p" + std::to_string(i)),
                                    Url(EngineTopology::kNginxPort, "/small")}));
    }
    for (int i = 0; i < 50; ++i) {
        int status = transfers[i].Wait(std::chrono::seconds(90));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "transfer " << i << " status " << status;
        EXPECT_EQ(HexSha256File(Path("p" + std::to_string(i))), expected) << "transfer " << i;
    }
    EXPECT_TRUE(WaitFor([] { return tun2socks_num_clients() == 0; }, std::chrono::seconds(10)))
        << tun2socks_num_clients() << " clients left";
}

// An application that ends its sending side and then reads: what the server
// still sends arrives whole, and upload bytes still buffered in the engine
// reach the server first.
TEST_F(EngineRelay, AnswerAfterTheApplicationsFinArrivesWhole) {
    std::string medium = testsupport::ReadFile(topology_->www() + "/medium");
    struct Case {
        const char* name;
        std::string request;
        std::string expected_body;
    } cases[] = {
        {"download", "GET /medium HTTP/1.0\r\n\r\n", medium},
        {"upload",
         "PUT /up HTTP/1.0\r\nContent-Length: " + std::to_string(medium.size()) + "\r\n\r\n" + medium,
         HexSha256(medium) + " " + std::to_string(medium.size()) + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int fd = ConnectIn(topology_->app(), EngineTopology::kServerAddress, EngineTopology::kHttpPort);
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(SendAll(fd, c.request));
        shutdown(fd, SHUT_WR);
        std::string response;
        EXPECT_TRUE(ReadToEnd(fd, &response))
            << "error " << errno << " after " << response.size() << " bytes";
        close(fd);
        std::string body = HttpBody(response);
        EXPECT_EQ(body.size(), c.expected_body.size());
        EXPECT_TRUE(body == c.expected_body);
    }
}

// The SOCKS server cannot reach the destination: the application's connection
// is reset, not closed as if the server had answered nothing.
TEST_F(EngineRelay, RefusedDestinationResetsTheApplication) {
    int fd = ConnectIn(topology_->app(), EngineTopology::kServerAddress, 9);
    ASSERT_GE(fd, 0);  // the stack completes the handshake before the SOCKS server answers
    char c;
    errno = 0;
    ssize_t n = recv(fd, &c, 1, 0);
    int err = errno;
    close(fd);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(err, ECONNRESET);

    std::string ignored;
    EXPECT_NE(Curl({"-o", "/dev/null", Url(9, "/")}, &ignored), 0);
    EXPECT_TRUE(WaitFor([] { return tun2socks_num_clients() == 0; }, std::chrono::seconds(10)));
}

TEST_F(EngineRelay, UdpDatagramsTravelThroughUdpgw) {
    struct Case {
        size_t size;
        bool no_checksum;  // sent with checksum field 0, valid in IPv4
        bool answered;
    } cases[] = {
        {1, false, true},
        {1472, false, true},  // the largest that fits the device MTU of 1500
        {100, true, true},
        {1473, false, false},  // the kernel fragments it; fragments are not relayed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes, no checksum " << c.no_checksum);
        int fd;
        {
            NetNamespace::Scope scope(topology_->app());
            fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        }
        ASSERT_GE(fd, 0);
        if (c.no_checksum) {
            int one = 1;
            ASSERT_EQ(setsockopt(fd, SOL_SOCKET, SO_NO_CHECK, &one, sizeof one), 0);
        }
        std::string payload = Blob(c.size, c.size);
        sockaddr_in to = Endpoint(EngineTopology::kServerAddress, EngineTopology::kUdpEchoPort);
        ssize_t sent =
            sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        if (c.answered) {
            ASSERT_EQ(sent, static_cast<ssize_t>(payload.size()));
        }
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, c.answered ? 10000 : 1500);
        if (c.answered) {
            ASSERT_EQ(ready, 1);
            std::string got(65536, '\0');
            ssize_t n = recv(fd, got.data(), got.size(), 0);
            got.resize(n > 0 ? static_cast<size_t>(n) : 0);
            EXPECT_TRUE(got == payload) << "got " << n << " bytes";
        } else {
            EXPECT_EQ(ready, 0);
        }
        close(fd);
    }
    for (const auto& f : udpgw_->frames()) EXPECT_LE(f.payload.size(), 1472u);
}

TEST_F(EngineRelay, PingOfTheEngineAddressIsAnswered) {
    EXPECT_EQ(
        topology_->app().Exec({"ping", "-c", "2", "-i", "0.2", "-W", "2", EngineTopology::kEngineAddress}),
        0);
}

TEST_F(EngineRelay, Ipv6PacketsAreDroppedSilently) {
    size_t log_from = LogSize();
    const NetNamespace& app = topology_->app();
    app.MustExec({"ip", "-6", "addr", "add", "fd00:cd::60/64", "dev", "ctun0", "nodad"});
    EXPECT_NE(app.Exec({"ping", "-6", "-c", "2", "-i", "0.2", "-W", "1", "fd00:cd::61"}), 0);
    int fd;
    {
        NetNamespace::Scope scope(app);
        fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    }
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_port = htons(7);
    inet_pton(AF_INET6, "fd00:cd::1", &to.sin6_addr);
    EXPECT_EQ(sendto(fd, "six", 3, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), 3);
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 1000), 0);
    close(fd);
    app.MustExec({"ip", "-6", "addr", "del", "fd00:cd::60/64", "dev", "ctun0"});

    EXPECT_TRUE(IsTunEngineRunning());
    EXPECT_EQ(app.Exec({"ping", "-c", "1", "-W", "2", EngineTopology::kEngineAddress}), 0);
    EXPECT_EQ(LogAtLeast(BLOG_WARNING, log_from), std::vector<std::string>());
}

// Stopping in the middle of a transfer ends it, releases every descriptor the
// engine had, and the engine starts again on the same device.
TEST_F(EngineRelay, StopDuringATransferAndStartAgain) {
    auto settle = [] { return WaitFor([] { return !udpgw_->connected(); }, std::chrono::seconds(10)); };
    StopTunEngine();
    ASSERT_FALSE(IsTunEngineRunning());
    ASSERT_TRUE(settle());
    int fds_stopped = CountOpenFds();

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(StartEngine());
        std::string slow = Path("slow" + std::to_string(round));
        testsupport::ChildProcess transfer = topology_->app().Spawn(
            {"curl", "-sS", "--limit-rate", "2M", "-o", slow, Url(EngineTopology::kNginxPort, "/big")});
        ASSERT_TRUE(WaitFor(
            [&] {
                struct stat st {};
                return stat(slow.c_str(), &st) == 0 && st.st_size > 0;
            },
            std::chrono::seconds(20)));
        EXPECT_GE(tun2socks_num_clients(), 1);
        StopTunEngine();
        EXPECT_FALSE(IsTunEngineRunning());
        // The stop resets the application's connections: the transfer fails
        // at once instead of waiting for an answer that never comes.
        int status = transfer.Wait(std::chrono::seconds(20));
        EXPECT_NE(status, -1) << "the transfer still waits after the stop";
        EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the transfer survived the stop";
        EXPECT_EQ(tun2socks_num_clients(), 0);
        // Every packet buffer, segment and control block went back.
        for (int t = 0; t < MEMP_MAX; ++t) EXPECT_EQ(memp_used(static_cast<memp_t>(t)), 0u) << "pool " << t;
        ASSERT_TRUE(settle());
        EXPECT_TRUE(WaitFor([&] { return CountOpenFds() == fds_stopped; }, std::chrono::seconds(10)))
            << CountOpenFds() << " descriptors open, " << fds_stopped << " before";
    }

    ASSERT_TRUE(StartEngine());
    // A start while the engine runs changes nothing.
    TunEngineConfig other;
    other.adapter_name = L"cdr-none0";
    EXPECT_EQ(StartTunEngine(other), 1);
    std::string expected = HexSha256File(topology_->www() + "/small");
    ASSERT_EQ(Curl({"-o", Path("again"), Url(EngineTopology::kNginxPort, "/small")}), 0);
    EXPECT_EQ(HexSha256File(Path("again")), expected);
}
