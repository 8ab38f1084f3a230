// The packet engine as a user's machine drives it under stress: ports reused
// while the engine still holds their old connection, lossy and reordering
// links between the application's kernel and the engine, hundreds of
// connections at once, the TUN offload on and off, and streams cut by a
// reset on either side.
#include <arpa/inet.h>
#include <cryptopp/files.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/sha.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <linux/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/stack/memp.h"
#include "engine/stack/opt.h"
#include "engine/tun2socks/tun2socks.h"
#include "tests/support/e2e_transfer.h"
#include "tests/support/engine_topology.h"
#include "tests/support/net.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::Blob;
using testsupport::ConnectIn;
using testsupport::CountOpenFds;
using testsupport::Endpoint;
using testsupport::HexSha256File;
using testsupport::SendAll;
using testsupport::WaitFor;

using testsupport::EngineTopology;
using testsupport::NetNamespace;

constexpr size_t kBig = 64u << 20;
constexpr size_t kLossy = 8u << 20;
constexpr size_t kSmall = 64u << 10;

// Reads until the end of the stream (0) or an error (its errno); the bytes in `*got`.
int ReadToEnd(int fd, size_t* got) {
    char buf[65536];
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n == 0) return 0;
        if (n < 0) return errno;
        *got += static_cast<size_t>(n);
    }
}

void CloseWithReset(int fd) {
    linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(fd);
}

// ---- a scripted SOCKS 5 server ---------------------------------------------------------

// Accepts SOCKS 5 CONNECTs without authentication and plays a part chosen by
// the destination port instead of connecting anywhere:
//   kSendThenReset: sends kResetAfter bytes, then resets the connection;
//   kReport:        reads until the end of the stream or an error and
//                   records which it was;
//   kSendForever:   sends until the connection fails, then records it.
// A silent server accepts and never answers at all.
class ScriptedSocks {
public:
    static constexpr int kSendThenReset = 7001;
    static constexpr int kReport = 7002;
    static constexpr int kSendForever = 7003;
    static constexpr size_t kResetAfter = 200000;

    struct Outcome {
        bool reset;  // ECONNRESET rather than the end of the stream
        size_t bytes;
    };

    ScriptedSocks(const NetNamespace& ns, const char* ip, int port, bool silent = false) : silent_(silent) {
        NetNamespace::Scope scope(ns);
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sa = Endpoint(ip, port);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(listener_, 64) != 0) {
            close(listener_);
            listener_ = -1;
            return;
        }
        thread_ = std::thread([this] { Serve(); });
    }

    ~ScriptedSocks() {
        if (listener_ >= 0) shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        for (auto& t : sessions_) t.join();
        if (listener_ >= 0) close(listener_);
    }

    bool ok() const { return listener_ >= 0; }

    std::vector<Outcome> outcomes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return outcomes_;
    }

private:
    static bool ReadExact(int fd, uint8_t* buf, size_t n) {
        for (size_t got = 0; got < n;) {
            ssize_t r = recv(fd, buf + got, n - got, 0);
            if (r <= 0) return false;
            got += static_cast<size_t>(r);
        }
        return true;
    }

    void Serve() {
        for (;;) {
            int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) return;
            sessions_.emplace_back([this, fd] { Session(fd); });
        }
    }

    void Session(int fd) {
        if (silent_) {
            // Holds the connection without a word until the client goes.
            size_t got = 0;
            int err = ReadToEnd(fd, &got);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                outcomes_.push_back({err == ECONNRESET, got});
            }
            close(fd);
            return;
        }
        timeval tv{20, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        uint8_t hello[3], request[10];
        static const uint8_t kChosen[2] = {5, 0};
        static const uint8_t kGranted[10] = {5, 0, 0, 1, 0, 0, 0, 0, 0, 0};
        if (!ReadExact(fd, hello, 3) || send(fd, kChosen, 2, MSG_NOSIGNAL) != 2 || !ReadExact(fd, request, 10) ||
            request[3] != 1 || send(fd, kGranted, 10, MSG_NOSIGNAL) != 10) {
            close(fd);
            return;
        }
        int port = (request[8] << 8) | request[9];
        if (port == kSendThenReset) {
            SendAll(fd, Blob(kResetAfter, 7));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the data leaves first
            CloseWithReset(fd);
            return;
        }
        size_t got = 0;
        int err = 0;
        if (port == kSendForever) {
            const std::string chunk = Blob(65536, 3);
            timeval stv{30, 0};
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &stv, sizeof stv);
            for (;;) {
                ssize_t n = send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
                if (n <= 0) {
                    err = n < 0 ? errno : 0;
                    break;
                }
                got += static_cast<size_t>(n);
            }
        } else {
            err = ReadToEnd(fd, &got);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            outcomes_.push_back({err == ECONNRESET, got});
        }
        close(fd);
    }

    bool silent_;
    int listener_ = -1;
    std::thread thread_;
    std::vector<std::thread> sessions_;
    std::mutex mutex_;
    std::vector<Outcome> outcomes_;
};

// ---- the topology and the engine --------------------------------------------------------

class EngineFaultsBase : public ::testing::Test {
protected:
    static constexpr int kScriptedPort = 1081;

    static bool Prepare() {
        if (!testsupport::CanUseNetns()) return false;
        for (const char* program : {"danted", "nginx", "curl", "python3", "iperf3", "ping", "ss", "tc"}) {
            if (!testsupport::HaveProgram(program)) return false;
        }
        dir_ = std::make_unique<testsupport::TempDir>("cendrow-faults");
        topology_ = std::make_unique<EngineTopology>(dir_->path().string());
        testsupport::WriteFile(topology_->www() + "/big", Blob(kBig, 11));
        testsupport::WriteFile(topology_->www() + "/lossy", Blob(kLossy, 12));
        testsupport::WriteFile(topology_->www() + "/small", Blob(kSmall, 13));
        return true;
    }

    static void Release() {
        StopTunEngine();
        unsetenv("CENDROW_TUN_OFFLOAD");
        topology_.reset();
        dir_.reset();
    }

    // (Re)starts the engine towards danted or the scripted server, with the
    // TUN offload or without.
    static bool StartEngine(int socks_port, bool offload = true) {
        StopTunEngine();
        if (offload) {
            unsetenv("CENDROW_TUN_OFFLOAD");
        } else {
            setenv("CENDROW_TUN_OFFLOAD", "0", 1);
        }
        TunEngineConfig config;
        config.adapter_name = L"ctun0";
        config.socks_host = L"10.198.76.2";
        config.socks_port = socks_port;
        config.tun_address = L"10.198.75.60";
        config.interface_address = L"10.198.75.61";
        config.tun_network = L"10.198.75.0";
        config.tun_netmask = L"255.255.255.0";
        NetNamespace::Scope scope(topology_->app());
        if (StartTunEngine(config) != 1) return false;
        topology_->RouteThroughEngine();
        return true;
    }

    static std::string Url(int port, const std::string& path) {
        return "http://" + std::string(EngineTopology::kServerAddress) + ":" + std::to_string(port) + path;
    }

    std::string Path(const std::string& name) const { return (dir_->path() / name).string(); }

    // A download and an upload of `file` (in www), each checked by its SHA-256.
    void TransferBothWays(const std::string& file, size_t size, const std::string& tag) {
        std::string expected = HexSha256File(topology_->www() + "/" + file);
        std::string down = Path("down-" + tag);
        EXPECT_EQ(topology_->app().Exec({"curl", "-sS", "--max-time", "300", "-o", down,
                                         Url(EngineTopology::kNginxPort, "/" + file)}),
                  0)
            << tag << " download";
        EXPECT_EQ(HexSha256File(down), expected) << tag << " download";
        std::string answer;
        EXPECT_EQ(topology_->app().Exec({"curl", "-sS", "--max-time", "300", "-H", "Expect:", "-T",
                                         topology_->www() + "/" + file, Url(EngineTopology::kHttpPort, "/up")},
                                        &answer),
                  0)
            << tag << " upload";
        EXPECT_EQ(answer, expected + " " + std::to_string(size) + "\n") << tag << " upload";
    }

    static std::unique_ptr<testsupport::TempDir> dir_;
    static std::unique_ptr<EngineTopology> topology_;
};

std::unique_ptr<testsupport::TempDir> EngineFaultsBase::dir_;
std::unique_ptr<EngineTopology> EngineFaultsBase::topology_;

// Through danted to nginx and the HTTP server.
class EngineUnderStress : public EngineFaultsBase {
protected:
    static void SetUpTestSuite() {
        if (Prepare()) ready_ = StartEngine(EngineTopology::kSocksPort);
    }
    static void TearDownTestSuite() { Release(); }
    void SetUp() override {
        if (!topology_) GTEST_SKIP() << "needs root, iproute2, tc, danted, nginx, curl, python3, iperf3 and ss";
        ASSERT_TRUE(ready_);
    }
    static bool ready_;
};
bool EngineUnderStress::ready_ = false;

// Through the scripted SOCKS server.
class EngineResets : public EngineFaultsBase {
protected:
    static void SetUpTestSuite() {
        if (!Prepare()) return;
        socks_ = std::make_unique<ScriptedSocks>(topology_->proxy(), EngineTopology::kSocksHost, kScriptedPort);
        ready_ = socks_->ok() && StartEngine(kScriptedPort);
    }
    static void TearDownTestSuite() {
        StopTunEngine();
        socks_.reset();
        Release();
    }
    void SetUp() override {
        if (!topology_) GTEST_SKIP() << "needs root, iproute2, tc, danted, nginx, curl, python3, iperf3 and ss";
        ASSERT_TRUE(ready_);
    }
    static std::unique_ptr<ScriptedSocks> socks_;
    static bool ready_;
};
std::unique_ptr<ScriptedSocks> EngineResets::socks_;
bool EngineResets::ready_ = false;

// Through scripted servers, with the engine's time-outs shortened so that
// connections whose end never reaches the engine are found within seconds.
class EngineDeadConnections : public EngineFaultsBase {
protected:
    static constexpr int kSilentPort = 1082;
    static constexpr const char* kTimers = "keepidle=2000,keepintvl=500,keepcnt=3,persistmax=500,socks=2000";
    static constexpr auto kReleaseWithin = std::chrono::seconds(15);

    static void SetUpTestSuite() {
        if (!Prepare()) return;
        socks_ =
            std::make_unique<ScriptedSocks>(topology_->proxy(), EngineTopology::kSocksHost, kScriptedPort);
        silent_ = std::make_unique<ScriptedSocks>(topology_->proxy(), EngineTopology::kSocksHost, kSilentPort,
                                                  true);
        setenv("CENDROW_ENGINE_TIMERS", kTimers, 1);
        ready_ = socks_->ok() && silent_->ok() && StartEngine(kScriptedPort);
    }
    static void TearDownTestSuite() {
        StopTunEngine();
        unsetenv("CENDROW_ENGINE_TIMERS");
        socks_.reset();
        silent_.reset();
        Release();
    }
    void SetUp() override {
        if (!topology_)
            GTEST_SKIP() << "needs root, iproute2, tc, danted, nginx, curl, python3, iperf3 and ss";
        if (!testsupport::HaveProgram("nft")) GTEST_SKIP() << "needs nft";
        ASSERT_TRUE(ready_);
        ASSERT_TRUE(WaitFor([] { return tun2socks_num_clients() == 0; }, std::chrono::seconds(10)));
        fds_before_ = CountOpenFds();
    }
    void TearDown() override { topology_->app().Exec({"nft", "delete", "table", "ip", "cdrdrop"}); }

    // Drops the application's TCP segments into the engine that carry `flag` (rst, fin).
    void DropIntoEngine(const std::string& flag) {
        std::string rules =
            "table ip cdrdrop {\n"
            " chain out { type filter hook output priority 0; oifname \"ctun0\" tcp flags & " +
            flag + " != 0 drop; }\n}\n";
        std::string file = Path("drop.nft");
        testsupport::WriteFile(file, rules);
        ASSERT_EQ(topology_->app().Exec({"nft", "-f", file}), 0);
    }

    // Every client and every descriptor of the engine is gone within the
    // keepalive time plus its probes (and some slack).
    void ExpectAllReleased() {
        EXPECT_TRUE(WaitFor([] { return tun2socks_num_clients() == 0; }, kReleaseWithin))
            << tun2socks_num_clients() << " clients left";
        EXPECT_TRUE(WaitFor([&] { return CountOpenFds() == fds_before_; }, std::chrono::seconds(5)))
            << CountOpenFds() << " descriptors open, " << fds_before_ << " before";
    }

    int fds_before_ = 0;
    static std::unique_ptr<ScriptedSocks> socks_;
    static std::unique_ptr<ScriptedSocks> silent_;
    static bool ready_;
};
std::unique_ptr<ScriptedSocks> EngineDeadConnections::socks_;
std::unique_ptr<ScriptedSocks> EngineDeadConnections::silent_;
bool EngineDeadConnections::ready_ = false;

// The test's sockets and the engine's SOCKS connections share this process:
// hundreds of connections need more descriptors than the default allows.
void RaiseFileLimit() {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < 4096 && files.rlim_max >= 4096) {
        files.rlim_cur = 4096;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

// `connections` connections at once, each fetching the small file from nginx
// with keep-alive and then closed by the application (nginx waits).
void FetchAtOnceThenClose(const NetNamespace& app, int connections) {
    std::vector<int> fds;
    for (int i = 0; i < connections; ++i) {
        int fd = ConnectIn(app, EngineTopology::kServerAddress, EngineTopology::kNginxPort, 0, 60);
        ASSERT_GE(fd, 0) << "connection " << i;
        fds.push_back(fd);
    }
    // Keep-alive: nginx answers and waits, so the application closes first.
    for (int fd : fds) ASSERT_TRUE(SendAll(fd, "GET /small HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"));
    // The engine counts a client once it has taken the handshake's last ACK,
    // which can come a moment after the application's connect returned.
    EXPECT_TRUE(WaitFor([&] { return tun2socks_num_clients() >= connections; }, std::chrono::seconds(30)))
        << tun2socks_num_clients() << " clients";
    for (int fd : fds) {
        std::string head;
        size_t body = 0;
        char buf[65536];
        // The header, then the body up to its length.
        while (body < kSmall) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            head.append(buf, static_cast<size_t>(n));
            size_t at = head.find("\r\n\r\n");
            body = at == std::string::npos ? 0 : head.size() - at - 4;
        }
        EXPECT_EQ(body, kSmall);
        close(fd);
    }
}

// One HTTP/1.0 exchange from `local_port` (0: any) that nginx ends by
// closing first; true when the whole answer arrived.
bool ServerClosedRequest(const NetNamespace& app, int local_port) {
    int fd = -1;
    for (int tries = 0; tries < 100; ++tries) {
        fd = ConnectIn(app, EngineTopology::kServerAddress, EngineTopology::kNginxPort, local_port);
        // The port is busy only until our kernel has the acknowledgement of its FIN.
        if (fd >= 0 || (errno != EADDRINUSE && errno != EADDRNOTAVAIL)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (fd < 0) return false;
    bool ok = SendAll(fd, "GET /small HTTP/1.0\r\n\r\n");
    size_t got = 0;
    ok = ok && ReadToEnd(fd, &got) == 0 && got > kSmall;
    close(fd);
    return ok;
}

}  // namespace

// The application's kernel closed passively and considers the port free at
// once; the engine still holds the old connection in TIME_WAIT.
TEST_F(EngineUnderStress, PortReusedAfterTheServerClosedConnectsAtOnce) {
    for (int round = 0; round < 3; ++round) {
        EXPECT_TRUE(ServerClosedRequest(topology_->app(), 45678)) << "round " << round;
    }
}

TEST_F(EngineUnderStress, FourThousandSequentialServerClosedRequestsAllComplete) {
    int failed = 0;
    for (int i = 0; i < 4000 && failed < 5; ++i) {
        if (!ServerClosedRequest(topology_->app(), 0)) {
            ++failed;
            ADD_FAILURE() << "request " << i << " failed";
        }
    }
    EXPECT_EQ(failed, 0);
}

// Loss, reordering, duplication and corruption between the application's
// kernel and the engine: every transfer arrives whole, both ways. netem on
// the TUN device where the kernel has it; else what nftables in the app
// namespace can do (random loss and duplication, on packets in both
// directions through the device).
TEST_F(EngineUnderStress, TransfersSurviveAnImperfectLink) {
    struct Condition {
        const char* name;
        std::vector<std::string> netem;
        std::string nft;  // a statement for both directions; empty: netem only
    };
    const Condition conditions[] = {
        {"1% loss", {"loss", "1%"}, "numgen random mod 100 < 1 drop"},
        {"5% loss", {"loss", "5%"}, "numgen random mod 100 < 5 drop"},
        {"5% reordering", {"delay", "1ms", "reorder", "5%", "50%"}, ""},
        {"1% duplication", {"duplicate", "1%"}, "numgen random mod 100 < 1 dup to 10.198.75.61 device \"ctun0\""},
        {"0.1% corruption", {"corrupt", "0.1%"}, ""},
        {"20 ms delay, 1% loss", {"delay", "20ms", "loss", "1%"}, ""},
    };
    const NetNamespace& app = topology_->app();
    bool netem = app.Exec({"tc", "qdisc", "replace", "dev", "ctun0", "root", "netem", "loss", "0%"}) == 0;
    app.Exec({"tc", "qdisc", "del", "dev", "ctun0", "root"});
    bool nft = testsupport::HaveProgram("nft");
    int ran = 0;
    for (const auto& c : conditions) {
        if (netem) {
            std::vector<std::string> argv = {"tc", "qdisc", "replace", "dev", "ctun0", "root", "netem"};
            argv.insert(argv.end(), c.netem.begin(), c.netem.end());
            ASSERT_EQ(app.Exec(argv), 0) << c.name;
            TransferBothWays("lossy", kLossy, c.name);
            app.Exec({"tc", "qdisc", "del", "dev", "ctun0", "root"});
        } else if (nft && !c.nft.empty()) {
            std::string rules = "table ip cdrimpair {\n"
                                " chain out { type filter hook output priority 0; oifname \"ctun0\" " + c.nft + "; }\n"
                                " chain in { type filter hook prerouting priority 0; iifname \"ctun0\" " + c.nft + "; }\n"
                                "}\n";
            std::string file = Path("impair.nft");
            testsupport::WriteFile(file, rules);
            ASSERT_EQ(app.Exec({"nft", "-f", file}), 0) << c.name;
            TransferBothWays("lossy", kLossy, c.name);
            app.Exec({"nft", "delete", "table", "ip", "cdrimpair"});
        } else {
            std::printf("[ NOTE     ] %s: neither netem nor nftables can make it here\n", c.name);
            continue;
        }
        ++ran;
    }
    EXPECT_GT(ran, 0) << "no impairment could be built (needs netem or nft)";
}

// The application's kernel and the engine agree on window scaling and SACK, and
// large transfers both ways arrive whole while nftables drops packets in
// one direction through the TUN device: the application's (into the
// engine) or the engine's (towards the application).
TEST_F(EngineUnderStress, LargeTransfersUnderLossInEitherDirection) {
    {
        int fd = ConnectIn(topology_->app(), EngineTopology::kServerAddress, EngineTopology::kNginxPort);
        ASSERT_GE(fd, 0);
        tcp_info info{};
        socklen_t len = sizeof info;
        ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len), 0);
        close(fd);
        EXPECT_TRUE(info.tcpi_options & TCPI_OPT_WSCALE);
        EXPECT_TRUE(info.tcpi_options & TCPI_OPT_SACK);
        EXPECT_EQ(info.tcpi_snd_wscale, TCP_RCV_SCALE);  // the shift the engine announced
    }
    if (!testsupport::HaveProgram("nft")) GTEST_SKIP() << "needs nft";
    const NetNamespace& app = topology_->app();
    struct Condition {
        const char* name;
        const char* hook;  // the chain's hook and device match
    } directions[] = {{"into the engine", "output priority 0; oifname"},
                      {"from the engine", "prerouting priority 0; iifname"}};
    for (const auto& d : directions) {
        for (int pct : {1, 5}) {
            std::string name = std::to_string(pct) + "% loss " + d.name;
            SCOPED_TRACE(name);
            std::string rules = "table ip cdrimpair {\n chain c { type filter hook " + std::string(d.hook) +
                                " \"ctun0\" numgen random mod 100 < " + std::to_string(pct) + " drop; }\n}\n";
            std::string file = Path("impair.nft");
            testsupport::WriteFile(file, rules);
            ASSERT_EQ(app.Exec({"nft", "-f", file}), 0);
            auto start = std::chrono::steady_clock::now();
            TransferBothWays("big", kBig, name);
            app.Exec({"nft", "delete", "table", "ip", "cdrimpair"});
            std::printf("[ NOTE     ] %s: 64 MiB each way in %.1f s\n", name.c_str(),
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    }
}

// With the TUN offload on (the kernel hands over TCP bursts whole) and forced
// off: large transfers both ways and fifty in parallel arrive intact.
TEST_F(EngineUnderStress, TransfersArriveIntactWithAndWithoutTheOffload) {
    for (bool offload : {true, false}) {
        SCOPED_TRACE(offload ? "offload on" : "offload off");
        ASSERT_TRUE(StartEngine(EngineTopology::kSocksPort, offload));
        TransferBothWays("big", kBig, offload ? "on" : "off");
        std::string expected = HexSha256File(topology_->www() + "/lossy");
        std::vector<testsupport::ChildProcess> transfers;
        for (int i = 0; i < 50; ++i) {
            if (i % 2) {
                transfers.push_back(topology_->app().Spawn(
                    {"curl", "-sS", "--max-time", "120", "-H", "Expect:", "-o", Path("u" + std::to_string(i)), "-T",
                     topology_->www() + "/lossy", Url(EngineTopology::kHttpPort, "/up")},
                    Path("curl" + std::to_string(i) + ".log")));
            } else {
                transfers.push_back(topology_->app().Spawn({"curl", "-sS", "--max-time", "120", "-o",
                                                            Path("p" + std::to_string(i)),
                                                            Url(EngineTopology::kNginxPort, "/lossy")},
                                                           Path("curl" + std::to_string(i) + ".log")));
            }
        }
        for (int i = 0; i < 50; ++i) {
            int status = transfers[i].Wait(std::chrono::seconds(180));
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << "transfer " << i << ": " << testsupport::ReadFile(Path("curl" + std::to_string(i) + ".log"));
            if (i % 2) {
                EXPECT_EQ(testsupport::ReadFile(Path("u" + std::to_string(i))),
                          expected + " " + std::to_string(kLossy) + "\n")
                    << "upload " << i;
            } else {
                EXPECT_EQ(HexSha256File(Path("p" + std::to_string(i))), expected) << "download " << i;
            }
        }
    }
    ASSERT_TRUE(StartEngine(EngineTopology::kSocksPort, true));
}

// Five hundred connections at once, each fetching a file and then closed by
// the application: all complete, and the engine's descriptors and pools go
// back to where they started.
TEST_F(EngineUnderStress, FiveHundredConcurrentConnectionsLeaveNothingBehind) {
    RaiseFileLimit();
    ASSERT_TRUE(WaitFor([] { return tun2socks_num_clients() == 0; }, std::chrono::seconds(10)));
    int fds_before = CountOpenFds();
    std::vector<size_t> pools_before;
    for (int t = 0; t < MEMP_MAX; ++t) pools_before.push_back(memp_used(static_cast<memp_t>(t)));

    FetchAtOnceThenClose(topology_->app(), 500);
    EXPECT_TRUE(WaitFor([] { return tun2socks_num_clients() == 0; }, std::chrono::seconds(30)))
        << tun2socks_num_clients() << " clients left";
    EXPECT_TRUE(WaitFor([&] { return CountOpenFds() == fds_before; }, std::chrono::seconds(30)))
        << CountOpenFds() << " descriptors open, " << fds_before << " before";
    EXPECT_TRUE(WaitFor(
        [&] {
            for (int t = 0; t < MEMP_MAX; ++t) {
                if (memp_used(static_cast<memp_t>(t)) != pools_before[t]) return false;
            }
            return true;
        },
        std::chrono::seconds(30)));
    for (int t = 0; t < MEMP_MAX; ++t) EXPECT_EQ(memp_used(static_cast<memp_t>(t)), pools_before[t]) << "pool " << t;
}

// After 2,000 connections have come and gone (500 at a time), the engine's
// pools give back what they no longer use within a minute: what they hold
// stays within 1.5 times what is in use.
TEST_F(EngineUnderStress, MemoryGoesBackAfterABurstOfConnections) {
    RaiseFileLimit();
    ASSERT_TRUE(WaitFor([] { return tun2socks_num_clients() == 0; }, std::chrono::seconds(10)));
    size_t peak = 0;
    for (int round = 0; round < 4; ++round) {
        FetchAtOnceThenClose(topology_->app(), 500);
        peak = std::max(peak, memp_held_bytes());
    }
    ASSERT_TRUE(WaitFor([] { return tun2socks_num_clients() == 0; }, std::chrono::seconds(30)));
    auto within = [] { return double(memp_held_bytes()) <= 1.5 * double(memp_used_bytes()) + 1048576.0; };
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaitFor(within, std::chrono::seconds(60)))
        << memp_held_bytes() << " bytes held, " << memp_used_bytes() << " in use";
    std::printf("[ NOTE     ] pools: %zu KiB at the peak, %zu KiB held and %zu KiB in use after %.0f s\n", peak >> 10,
                memp_held_bytes() >> 10, memp_used_bytes() >> 10,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

// The server's side breaks off with a reset after sending data: the
// application gets a reset too, never a clean end after a truncated stream.
TEST_F(EngineResets, UpstreamResetReachesTheApplicationAsAReset) {
    for (int round = 0; round < 3; ++round) {
        int fd = ConnectIn(topology_->app(), EngineTopology::kServerAddress, ScriptedSocks::kSendThenReset);
        ASSERT_GE(fd, 0);
        size_t got = 0;
        int err = ReadToEnd(fd, &got);
        close(fd);
        EXPECT_EQ(err, ECONNRESET) << "round " << round << ": ended cleanly after " << got << " bytes";
        EXPECT_LE(got, ScriptedSocks::kResetAfter);
    }
    EXPECT_TRUE(WaitFor([] { return tun2socks_num_clients() == 0; }, std::chrono::seconds(10)));
}

// The application resets its connection: the server sees a reset; an
// orderly close stays an end of stream.
TEST_F(EngineResets, ApplicationResetReachesTheServerAsAReset) {
    struct Case {
        const char* name;
        bool reset;
    } cases[] = {{"close", false}, {"reset", true}};
    const std::string data = Blob(100000, 5);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        size_t before = socks_->outcomes().size();
        int fd = ConnectIn(topology_->app(), EngineTopology::kServerAddress, ScriptedSocks::kReport);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd, data));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the data reaches the server first
        if (c.reset) {
            CloseWithReset(fd);
        } else {
            close(fd);
        }
        ASSERT_TRUE(WaitFor([&] { return socks_->outcomes().size() > before; }, std::chrono::seconds(20)));
        auto outcome = socks_->outcomes()[before];
        EXPECT_EQ(outcome.reset, c.reset);
        if (!c.reset) {
            EXPECT_EQ(outcome.bytes, data.size());
        }
    }
    EXPECT_TRUE(WaitFor([] { return tun2socks_num_clients() == 0; }, std::chrono::seconds(10)));
}

// The application's reset, then its FIN, never reaches the engine while
// nothing flows towards the application: keepalive finds each connection
// gone, and the server's side ends with a reset.
TEST_F(EngineDeadConnections, LostResetOrFinOfTheApplicationStillEndsTheConnection) {
    const NetNamespace& app = topology_->app();
    // A closed socket whose FIN is lost would otherwise answer the probes
    // for minutes while its kernel retries the FIN.
    std::string orphan_retries;
    app.Exec({"sysctl", "-n", "net.ipv4.tcp_orphan_retries"}, &orphan_retries);
    app.Exec({"sysctl", "-qw", "net.ipv4.tcp_orphan_retries=1"});
    struct Case {
        const char* name;
        const char* flag;
        bool reset;
    } cases[] = {{"reset lost", "rst", true}, {"FIN lost", "fin", false}};
    constexpr int kConnections = 20;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        size_t before = socks_->outcomes().size();
        std::vector<int> fds;
        for (int i = 0; i < kConnections; ++i) {
            int fd = ConnectIn(app, EngineTopology::kServerAddress, ScriptedSocks::kReport);
            ASSERT_GE(fd, 0);
            ASSERT_TRUE(SendAll(fd, "hello"));
            fds.push_back(fd);
        }
        // The keepalive time runs from the last bytes the engine took; the
        // set-up below can take a while on a busy machine.
        auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(
            WaitFor([&] { return tun2socks_num_clients() == kConnections; }, std::chrono::seconds(10)));
        DropIntoEngine(c.flag);
        for (int fd : fds) {
            if (c.reset) {
                CloseWithReset(fd);
            } else {
                close(fd);
            }
        }
        ExpectAllReleased();
        auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        // Nothing ended them before the keepalive time (2 s, less the timer's grain).
        EXPECT_GE(took.count(), 1900) << "released before the keepalive could have found them";
        ASSERT_TRUE(WaitFor([&] { return socks_->outcomes().size() >= before + kConnections; },
                            std::chrono::seconds(5)));
        for (size_t i = before; i < before + kConnections; ++i) {
            EXPECT_TRUE(socks_->outcomes()[i].reset) << "server " << i << " saw a clean end";
        }
        topology_->app().Exec({"nft", "delete", "table", "ip", "cdrdrop"});
    }
    app.Exec({"sysctl", "-qw",
              "net.ipv4.tcp_orphan_retries=" + (orphan_retries.empty()
                                                    ? std::string("0")
                                                    : orphan_retries.substr(0, orphan_retries.find('\n')))});
}

// A SOCKS server that accepts and never answers: the connection is given up
// at the deadline with a reset, also after the application's FIN.
TEST_F(EngineDeadConnections, SilentSocksServerIsGivenUpAtItsDeadline) {
    ASSERT_TRUE(StartEngine(kSilentPort));
    for (bool fin : {false, true}) {
        SCOPED_TRACE(fin ? "after the application's FIN" : "application waiting");
        int fd = ConnectIn(topology_->app(), EngineTopology::kServerAddress, 80);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd, "GET / HTTP/1.0\r\n\r\n"));
        if (fin) shutdown(fd, SHUT_WR);
        timeval tv{20, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        auto start = std::chrono::steady_clock::now();
        size_t got = 0;
        int err = ReadToEnd(fd, &got);
        auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        close(fd);
        EXPECT_EQ(err, ECONNRESET);
        EXPECT_EQ(got, 0u);
        EXPECT_GE(took.count(), 1500);
        EXPECT_LE(took.count(), 6000);
        EXPECT_TRUE(WaitFor([] { return tun2socks_num_clients() == 0; }, std::chrono::seconds(5)));
    }
    ASSERT_TRUE(StartEngine(kScriptedPort));
}

// An application that stops reading, then aborts while its reset is lost:
// the engine's zero-window probes go unanswered and the connection ends.
TEST_F(EngineDeadConnections, ZeroWindowReaderThatAbortsIsReleased) {
    size_t before = socks_->outcomes().size();
    int fd = ConnectIn(topology_->app(), EngineTopology::kServerAddress, ScriptedSocks::kSendForever);
    ASSERT_GE(fd, 0);
    int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_TRUE(WaitFor([] { return tun2socks_num_clients() == 1; }, std::chrono::seconds(10)));
    // The application's window closes and stays closed.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    DropIntoEngine("rst");
    CloseWithReset(fd);
    ExpectAllReleased();
    ASSERT_TRUE(WaitFor([&] { return socks_->outcomes().size() > before; }, std::chrono::seconds(40)));
    EXPECT_TRUE(socks_->outcomes()[before].reset);
}
