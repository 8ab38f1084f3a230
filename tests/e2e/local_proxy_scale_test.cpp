// Many connections at once through the whole data path: the packet engine
// in the app namespace hands 2,000 concurrent connections to the local proxy
// service, which relays them through danted and through ss-server in the
// proxy namespace to a server of the test's in the server namespace. The
// server answers only once every request has arrived, so all 2,000 are open
// together; every answer is checked, and the service's threads and
// descriptors return to where they were.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/program_log.h"
#include "nodes/node_info.h"
#include "proxy/proxy_service.h"
#include "tests/proxy/proxy_test_util.h"
#include "tests/support/engine_topology.h"
#include "tests/support/engine_via_local_proxy.h"
#include "tests/support/net.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::EngineTopology;
using testsupport::NetNamespace;

constexpr int kConnections = 2000;
constexpr int kServerPort = 9300;
constexpr int kSsPort = 8390;
constexpr const char* kSsPassword = "scale p4ss";

// The answer to request n: a body of its own length and bytes.
std::string AnswerFor(int n) {
    std::string body(static_cast<size_t>(200 + (n * 37) % 3000), '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + (n + i) % 26);
    return body;
}

// Reads one line "n\n" from each connection and, once `expected` lines came
// in (or the time is up), answers each with AnswerFor(n) and closes it.
class HoldingServer {
public:
    HoldingServer(const NetNamespace& ns, int expected) : expected_(expected) {
        {
            NetNamespace::Scope scope(ns);
            listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        }
        int one = 1;
        setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(kServerPort);
        inet_pton(AF_INET, EngineTopology::kServerAddress, &at.sin_addr);
        if (bind(listen_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(listen_, 4096) != 0) {
            close(listen_);
            listen_ = -1;
            return;
        }
        thread_ = std::thread([this] { Loop(); });
    }
    ~HoldingServer() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
        if (listen_ >= 0) close(listen_);
    }
    bool ok() const { return listen_ >= 0; }
    int requests() const { return requests_.load(); }
    void Reset() {
        requests_ = 0;
    }

private:
    void Loop() {
        int ep = epoll_create1(EPOLL_CLOEXEC);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = listen_;
        epoll_ctl(ep, EPOLL_CTL_ADD, listen_, &ev);
        std::map<int, std::string> pending;  // socket -> what it sent so far
        std::vector<std::pair<int, int>> held;  // socket, request number
        auto first = std::chrono::steady_clock::time_point::max();
        while (!done_.load()) {
            epoll_event events[256];
            int n = epoll_wait(ep, events, 256, 100);
            for (int i = 0; i < n; ++i) {
                int fd = events[i].data.fd;
                if (fd == listen_) {
                    for (;;) {
                        int c = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                        if (c < 0) break;
                        epoll_event cev{};
                        cev.events = EPOLLIN;
                        cev.data.fd = c;
                        epoll_ctl(ep, EPOLL_CTL_ADD, c, &cev);
                        pending[c];
                    }
                    continue;
                }
                char buf[64];
                ssize_t got = recv(fd, buf, sizeof buf, 0);
                if (got <= 0) {
                    epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
                    pending.erase(fd);
                    close(fd);
                    continue;
                }
                std::string& line = pending[fd];
                line.append(buf, static_cast<size_t>(got));
                if (line.find('\n') == std::string::npos) continue;
                epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
                held.emplace_back(fd, std::atoi(line.c_str()));
                pending.erase(fd);
                ++requests_;
                if (first == std::chrono::steady_clock::time_point::max()) first = std::chrono::steady_clock::now();
            }
            bool all = static_cast<int>(held.size()) >= expected_;
            bool late = !held.empty() && std::chrono::steady_clock::now() - first > std::chrono::seconds(60);
            if (all || late) {
                for (auto& [fd, number] : held) {
                    int flags = fcntl(fd, F_GETFL);
                    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
                    proxytest::SendText(fd, AnswerFor(number));
                    close(fd);
                }
                held.clear();
                first = std::chrono::steady_clock::time_point::max();
            }
        }
        for (auto& [fd, number] : held) close(fd);
        for (auto& [fd, text] : pending) close(fd);
        close(ep);
    }

    int expected_;
    int listen_ = -1;
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::atomic<int> requests_{0};
};

// Opens `count` connections from the app namespace, `perTick` every 50 ms
// (all at once when 0) and, with a `window`, only while fewer than that many
// opened ones have yet to reach the server (`reached`); sends each its
// number, and reads each answer to its end. All stay open together: the
// server answers none before the last request. How many answers were right.
int RunConcurrentClients(const NetNamespace& app, int count, int perTick, int window,
                         const std::function<int()>& reached, int* failedToConnect) {
    std::vector<int> fds(static_cast<size_t>(count), -1);
    std::vector<std::string> got(static_cast<size_t>(count));
    std::vector<bool> sent(static_cast<size_t>(count), false);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kServerPort);
    inet_pton(AF_INET, EngineTopology::kServerAddress, &to.sin_addr);
    *failedToConnect = 0;
    const auto tick = std::chrono::milliseconds(50);
    int opened = 0;
    auto nextTick = std::chrono::steady_clock::now();
    auto openSome = [&] {
        int batch = perTick > 0 ? perTick : count;
        if (window > 0) batch = std::min(batch, window - (opened - *failedToConnect - reached()));
        NetNamespace::Scope scope(app);
        for (; batch > 0 && opened < count; --batch, ++opened) {
            int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd < 0 || (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS)) {
                if (fd >= 0) close(fd);
                ++*failedToConnect;
                continue;
            }
            fds[static_cast<size_t>(opened)] = fd;
        }
        nextTick += tick;
    };
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
    int open = 0;
    while ((opened < count || open > 0) && std::chrono::steady_clock::now() < deadline) {
        if (opened < count && std::chrono::steady_clock::now() >= nextTick) {
            int before = *failedToConnect, from = opened;
            openSome();
            open += (opened - from) - (*failedToConnect - before);
        }
        std::vector<pollfd> polls;
        std::vector<int> which;
        for (int i = 0; i < count; ++i) {
            if (fds[static_cast<size_t>(i)] < 0) continue;
            polls.push_back({fds[static_cast<size_t>(i)], static_cast<short>(sent[static_cast<size_t>(i)] ? POLLIN : POLLOUT), 0});
            which.push_back(i);
        }
        int wait = opened < count ? static_cast<int>(tick.count()) : 1000;
        if (poll(polls.data(), polls.size(), wait) <= 0) continue;
        for (size_t k = 0; k < polls.size(); ++k) {
            if (polls[k].revents == 0) continue;
            size_t i = static_cast<size_t>(which[k]);
            int fd = fds[i];
            if (!sent[i]) {
                int error = 0;
                socklen_t len = sizeof error;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
                std::string line = std::to_string(i) + "\n";
                if (error != 0 || send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
                    close(fd);
                    fds[i] = -1;
                    ++*failedToConnect;
                    --open;
                    continue;
                }
                sent[i] = true;
                continue;
            }
            char buf[4096];
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n > 0) {
                got[i].append(buf, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EAGAIN) continue;
            close(fd);
            fds[i] = -1;
            --open;
        }
    }
    int right = 0;
    for (int i = 0; i < count; ++i) {
        if (fds[static_cast<size_t>(i)] >= 0) close(fds[static_cast<size_t>(i)]);
        if (got[static_cast<size_t>(i)] == AnswerFor(i)) ++right;
    }
    return right;
}

// The last lines of a log, for a failure message.
std::string LogTail(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::string tail;
    for (size_t i = lines.size() > 20 ? lines.size() - 20 : 0; i < lines.size(); ++i) tail += lines[i] + "\n";
    return tail;
}

enum class Node { kDanted, kSsServer };

class ManyConnections : public ::testing::TestWithParam<Node> {
protected:
    static void SetUpTestSuite() {
        if (!testsupport::CanUseNetns()) return;
        for (const char* program : {"danted", "nginx", "python3", "iperf3", "ss", "ss-server"}) {
            if (!testsupport::HaveProgram(program)) return;
        }
        dir_ = std::make_unique<testsupport::TempDir>("cendrow-scale");
        const std::string d = dir_->path().string();
        // The service's lines on why connections ended go to a log the test shows when it fails.
        InitLogging(dir_->path(), ".", "proxy.log", 0, 0);
        topology_ = std::make_unique<EngineTopology>(d);
        peers_.push_back(topology_->proxy().Spawn({"ss-server", "-s", EngineTopology::kSocksHost, "-p",
                                                   std::to_string(kSsPort), "-k", kSsPassword, "-m",
                                                   "chacha20-ietf-poly1305", "-n", "8192"},
                                                  d + "/ss-server.log"));
        danted_ = std::make_unique<CNodeInfo>();
        ss_ = std::make_unique<CNodeInfo>();
        testsupport::AimAtShadowsocks(*ss_, kSsPort, kSsPassword, "chacha20-ietf-poly1305");
        server_ = std::make_unique<HoldingServer>(topology_->server(), kConnections);
        if (!server_->ok()) return;
        if (!testsupport::StartEngineThroughLocalProxy(*topology_, *danted_, false)) return;
        ready_ = true;
    }

    static void TearDownTestSuite() {
        testsupport::StopEngineThroughLocalProxy();
        server_.reset();
        for (auto& p : peers_) p.Stop();
        peers_.clear();
        topology_.reset();
        dir_.reset();
    }

    void SetUp() override {
        if (!topology_) GTEST_SKIP() << "needs root, iproute2, danted, nginx, python3, iperf3, ss, ss-server";
        ASSERT_TRUE(ready_) << "the local proxy, the engine or the test's server did not start";
        ASSERT_EQ(SetCurrentNode(GetParam() == Node::kDanted ? danted_.get() : ss_.get()), 1);
    }

    static std::unique_ptr<testsupport::TempDir> dir_;
    static std::unique_ptr<EngineTopology> topology_;
    static std::vector<testsupport::ChildProcess> peers_;
    static std::unique_ptr<CNodeInfo> danted_, ss_;
    static std::unique_ptr<HoldingServer> server_;
    static bool ready_;
};

std::unique_ptr<testsupport::TempDir> ManyConnections::dir_;
std::unique_ptr<EngineTopology> ManyConnections::topology_;
std::vector<testsupport::ChildProcess> ManyConnections::peers_;
std::unique_ptr<CNodeInfo> ManyConnections::danted_, ManyConnections::ss_;
std::unique_ptr<HoldingServer> ManyConnections::server_;
bool ManyConnections::ready_ = false;

TEST_P(ManyConnections, TwoThousandAtOnceAllAnsweredWhole) {
    server_->Reset();
    int threadsBefore = proxytest::CountThreads();
    int fdsBefore = proxytest::CountOpenFds();
    int failedToConnect = 0;
    // danted forks a child for every few clients; on a busy machine a burst of
    // 2,000 handshakes outlasts the client's five-second wait for a reply, so
    // its connections come at most 200 a second and never more than 100 ahead
    // of those it has put through. ss-server takes the burst.
    const bool danted = GetParam() == Node::kDanted;
    int right = RunConcurrentClients(topology_->app(), kConnections, danted ? 10 : 0, danted ? 100 : 0,
                                     [] { return server_->requests(); }, &failedToConnect);
    EXPECT_EQ(failedToConnect, 0);
    EXPECT_EQ(right, kConnections) << server_->requests() << " requests reached the server; the service's log:\n"
                                   << LogTail(dir_->path() / "proxy.log");
    // Every relay ends with its connection: the service is back where it was.
    EXPECT_TRUE(proxytest::WaitUntil([] { return GetActiveConnectionCount() == 0; }, std::chrono::seconds(30)))
        << GetActiveConnectionCount() << " connections still counted";
    EXPECT_TRUE(proxytest::WaitUntil([&] { return proxytest::CountThreads() <= threadsBefore; },
                                     std::chrono::seconds(30)))
        << proxytest::CountThreads() << " threads, " << threadsBefore << " before";
    EXPECT_TRUE(proxytest::WaitUntil([&] { return proxytest::CountOpenFds() <= fdsBefore; },
                                     std::chrono::seconds(30)))
        << proxytest::CountOpenFds() << " descriptors, " << fdsBefore << " before";
}

INSTANTIATE_TEST_SUITE_P(Nodes, ManyConnections, ::testing::Values(Node::kDanted, Node::kSsServer),
                         [](const ::testing::TestParamInfo<Node>& info) {
                             return info.param == Node::kDanted ? std::string("Danted") : std::string("SsServer");
                         });

}  // namespace
