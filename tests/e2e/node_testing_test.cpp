// Node tests in the engine topology: danted, microsocks, tinyproxy and
// ss-server in the proxy namespace, nginx in the server namespace answering
// the four test sites' names, which the peers read from the proxy
// namespace's hosts file, and unbound on a link of the server namespace
// that carries the UDP test's four DNS server addresses, routed to from the
// proxy namespace. The tests run in the app namespace; each row gives the
// node and the report it must produce, line by line with levels. Also the
// exit address through a proxy program on the same machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "dialogs/base/node_test_run.h"
#include "foundation/text_convert.h"
#include "netconfig/host_cache.h"
#include "nodes/node_info.h"
#include "proxy/node_test_udp.h"
#include "proxy/node_testing.h"
#include "tests/proxy/proxy_test_util.h"
#include "tests/support/engine_topology.h"
#include "tests/support/node_test_lab.h"
#include "tests/support/http_server.h"
#include "tests/support/net.h"
#include "tests/support/peers.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::ChildProcess;
using testsupport::NetNamespace;

using testsupport::NodeTestLab;
constexpr const char* kNodeHost = NodeTestLab::kNodeHost;
constexpr int kDantePort = NodeTestLab::kDantePort;
constexpr int kMicrosocksPort = NodeTestLab::kMicrosocksPort;
constexpr int kTinyproxyPort = NodeTestLab::kTinyproxyPort;
constexpr int kSsPort = NodeTestLab::kSsPort;
constexpr int kLocalMicrosocksPort = NodeTestLab::kLocalMicrosocksPort;
constexpr const char* kSsPassword = NodeTestLab::kSsPassword;
constexpr const char* kSeparator = "//////////////////////////////////////////////";

using Line = std::pair<int, std::string>;  // level, text ("#" stands for a number above 0)

struct Report {
    std::vector<Line> lines;
    static void Collect(void* user, const wchar_t* text, int level) {
        static_cast<Report*>(user)->lines.emplace_back(level, WideToUtf8String(text));
    }
};

std::string Show(const std::vector<Line>& lines) {
    std::string out;
    for (const auto& [level, text] : lines) out += std::to_string(level) + " " + text + "\n";
    return out;
}

bool Matches(const std::string& got, const std::string& pattern) {
    size_t hole = pattern.find('#');
    if (hole == std::string::npos) return got == pattern;
    const std::string head = pattern.substr(0, hole), tail = pattern.substr(hole + 1);
    if (got.size() <= head.size() + tail.size() || got.compare(0, head.size(), head) != 0 ||
        got.compare(got.size() - tail.size(), tail.size(), tail) != 0) {
        return false;
    }
    const std::string number = got.substr(head.size(), got.size() - head.size() - tail.size());
    return number[0] >= '1' && number[0] <= '9' &&
           number.find_first_not_of("0123456789") == std::string::npos;
}

void ExpectReport(const std::vector<Line>& got, const std::vector<Line>& expected) {
    bool same = got.size() == expected.size();
    for (size_t i = 0; same && i < got.size(); ++i) {
        same = got[i].first == expected[i].first && Matches(got[i].second, expected[i].second);
    }
    EXPECT_TRUE(same) << "got:\n" << Show(got) << "expected:\n" << Show(expected);
}

class NodeTesting : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testsupport::BuildSuitePeers(
            {"danted", "microsocks", "tinyproxy", "ss-server", "nginx", "python3", "iperf3", "unbound"}, Build,
            TearDownTestSuite);
    }

    static void Build() {
        std::vector<std::string> sites(std::begin(kTcpTestUrls), std::end(kTcpTestUrls));
        std::vector<std::pair<std::string, std::string>> pairs;
        for (const auto& pair : kUdpTestPairs)
            pairs.emplace_back(WideToUtf8String(pair.name), WideToUtf8String(pair.server));
        lab_ = std::make_unique<NodeTestLab>(sites, pairs);
        topology_ = &lab_->topology();
        dir_ = lab_->dir();
        // SOCKS 4 nodes take addresses: this process finds the test sites
        // in its host-name cache and never asks a resolver.
        for (const char* name : kTcpTestUrls) HostCacheStore(name, testsupport::EngineTopology::kServerAddress);
    }

    static void TearDownTestSuite() {
        topology_ = nullptr;
        lab_.reset();
    }

    void SetUp() override {
        if (!topology_) GTEST_SKIP() << "needs root, iproute2, danted, microsocks, tinyproxy, ss-server, nginx, unbound";
    }

    static std::shared_ptr<CNodeInfo> Node(int type, int port) {
        auto node = std::make_shared<CNodeInfo>();
        node->type = type;
        node->host = std::string(" ") + kNodeHost + " ";  // the test trims it
        node->port = static_cast<uint16_t>(port);
        if (type == NodeTypeSSR) {
            node->password = kSsPassword;
            node->method = "aes-256-gcm";
            node->protocol = "origin";
            node->obfs = "plain";
        }
        return node;
    }

    // Runs one test in the app namespace; the report and the result.
    static std::pair<bool, std::vector<Line>> Run(CNodeInfo* node, int option, int udp) {
        NetNamespace::Scope scope(topology_->app());
        Report report;
        bool result;
        if (node->type == NodeTypeSSR) {
            CSSRClientTesting test(&Report::Collect, &report, option);
            result = test.RunTest(node, udp);
        } else {
            CS45ClientTesting test(&Report::Collect, &report, option);
            result = test.RunTest(node, udp);
        }
        return {result, report.lines};
    }

    static std::unique_ptr<NodeTestLab> lab_;
    static const testsupport::EngineTopology* topology_;
    static std::string dir_;
};

std::unique_ptr<NodeTestLab> NodeTesting::lab_;
const testsupport::EngineTopology* NodeTesting::topology_ = nullptr;
std::string NodeTesting::dir_;

TEST_F(NodeTesting, ReportsOfEachNodeKind) {
    const std::vector<Line> ssHeader = {{1, "Server IP: ***"},
                                        {1, "Server Port: 0"},
                                        {1, "Password: ***"},
                                        {1, "Encryption: *** / *** / ***"}};
    auto s45Header = [](const char* type) {
        return std::vector<Line>{{1, "Server IP: ***"},       {1, "Server Port: 0"},
                                 {1, std::string("Type: ") + type}, {1, "Username: ***"},
                                 {1, "Password: ***"}};
    };
    const std::vector<Line> s45Passed = {{1, "Now testing TCP transmission..."},
                                         {1, "Connecting to SS node..."},
                                         {2, "Connected to SS node."},
                                         {2, "TCP transmission...Passed!"},
                                         {2, "Latency : # ms"},
                                         {1, "Testing is done!"},
                                         {1, kSeparator}};
    auto join = [](std::vector<std::vector<Line>> parts) {
        std::vector<Line> all;
        for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const std::vector<Line> s45UdpStart = {{1, "Testing UDP relay..."},
                                           {1, "Requesting UDP relay from proxy server..."},
                                           {2, std::string("Server bound on ") + kNodeHost + ":#."},
                                           {2, "Udp tunnel has been built"},
                                           {1, "Testing data transmission..."}};
    const std::vector<Line> ssPassed = {{1, "Testing TCP transmission..."},
                                        {2, "TCP transmission...Passed!"},
                                        {2, "Latency : # ms"},
                                        {1, "Testing is done!"},
                                        {1, kSeparator}};

    struct Case {
        const char* name;
        std::shared_ptr<CNodeInfo> node;
        int option;
        int udp;
        bool result;
        std::vector<Line> lines;
    };
    std::vector<Case> cases;
    cases.push_back({"ss-server with the header", Node(NodeTypeSSR, kSsPort), 0, 0, true,
                     join({{{1, "Testing started."}}, ssHeader, ssPassed})});
    cases.push_back({"ss-server without", Node(NodeTypeSSR, kSsPort), 1, 0, true,
                     join({{{1, "Testing started."}}, ssPassed})});
    {
        auto n = Node(NodeTypeSSR, kSsPort);
        n->password.clear();
        cases.push_back({"empty password", n, 0, 0, false,
                         {{1, "Testing started."}, {3, "Shadowsocks server node invalid."}}});
    }
    {
        auto n = Node(NodeTypeSSR, kSsPort);
        n->method = "rot13-cfb";
        cases.push_back({"unknown method", n, 0, 0, false,
                         {{1, "Testing started."}, {3, "Unsupported encryption: rot13-cfb."}}});
    }
    cases.push_back({"ss-server UDP", Node(NodeTypeSSR, kSsPort), 1, 1, true,
                     {{1, "Testing started."},
                      {1, "Testing UDP relay..."},
                      {2, "UDP relay...Passed!"},
                      {1, "Testing is done!"},
                      {1, kSeparator}}});
    cases.push_back({"danted with the header", Node(NodeTypeSocks5, kDantePort), 0, 0, true,
                     join({{{1, "TCP Testing started."}}, s45Header("SOCKS 5"), s45Passed})});
    cases.push_back({"microsocks", Node(NodeTypeSocks5, kMicrosocksPort), 1, 0, true,
                     join({{{1, "TCP Testing started."}}, s45Passed})});
    cases.push_back({"tinyproxy", Node(NodeTypeHttp, kTinyproxyPort), 0, 0, true,
                     join({{{1, "TCP Testing started."}}, s45Header("HTTP"), s45Passed})});
    cases.push_back({"danted as SOCKS 4", Node(NodeTypeSocks4, kDantePort), 1, 0, true,
                     join({{{1, "TCP Testing started."}}, s45Passed})});
    {
        auto n = Node(NodeTypeSocks5, kDantePort);
        n->port = 0;
        cases.push_back({"no port", n, 0, 0, false,
                         {{1, "TCP Testing started."}, {3, "Proxy server node invalid."}}});
    }
    cases.push_back({"danted UDP", Node(NodeTypeSocks5, kDantePort), 1, 1, true,
                     join({{{1, "UDP Testing started."}}, s45UdpStart,
                           {{2, "UDP relay...Passed!"}, {1, "Testing is done!"}, {1, kSeparator}}})});
    // microsocks refuses UDP ASSOCIATE.
    cases.push_back({"microsocks UDP", Node(NodeTypeSocks5, kMicrosocksPort), 1, 1, false,
                     {{1, "UDP Testing started."},
                      {1, "Testing UDP relay..."},
                      {1, "Requesting UDP relay from proxy server..."},
                      {3, "Can not connect to proxy."},
                      {3, "UDP relay...Unpassed!"},
                      {1, "Testing is done!"},
                      {1, kSeparator}}});

    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto [result, lines] = Run(c.node.get(), c.option, c.udp);
        EXPECT_EQ(result, c.result);
        ExpectReport(lines, c.lines);
        EXPECT_EQ(c.node->lastTestResult.load(), c.lines.size() > 2 ? (c.result ? 1 : 0) : -1);
        if (c.lines.size() > 2) {
            EXPECT_EQ(c.node->host, kNodeHost);
        }
        if (c.result && !c.udp) {
            EXPECT_GT(c.node->latency.load(), 0u);
        }
    }
}

// With a wrong password ss-server answers none of the four sites: the test
// fails after trying each.
TEST_F(NodeTesting, WrongShadowsocksPasswordFailsAfterEverySite) {
    auto node = Node(NodeTypeSSR, kSsPort);
    node->password = "not the password";
    auto [result, lines] = Run(node.get(), 1, 0);
    EXPECT_FALSE(result);
    ASSERT_GE(lines.size(), 4u) << Show(lines);
    EXPECT_EQ(lines[1], Line(1, "Testing TCP transmission..."));
    EXPECT_EQ(lines[lines.size() - 3], Line(3, "TCP transmission...UnPassed!"));
    EXPECT_EQ(node->connectAttempts.load(), 4);
    EXPECT_EQ(node->lastTestResult.load(), 0);
}

// With DNS servers that never answer, a SOCKS 5 node's UDP test asks each
// of the four in order, through a new association every time, then fails.
TEST_F(NodeTesting, SocksNodeWithoutDnsAnswersTriesEveryPair) {
    const std::string d = dir_;
    lab_->StopUnbound();
    std::string script = "import select,socket,sys\nss=[]\nfor a in sys.argv[1:]:\n"
                         " s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n s.bind((a,53))\n ss.append(s)\n"
                         "print('ready',flush=True)\nwhile True:\n"
                         " for s in select.select(ss,[],[])[0]:\n"
                         "  d,p=s.recvfrom(65535)\n  print(s.getsockname()[0],p[1],flush=True)\n";
    std::vector<std::string> argv = {"python3", "-c", script};
    for (const auto& pair : kUdpTestPairs) argv.push_back(WideToUtf8String(pair.server));
    ChildProcess silent = topology_->server().Spawn(argv, d + "/silent.log");
    auto readLog = [&] {
        std::ifstream in(d + "/silent.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    };
    const bool ready = proxytest::WaitUntil([&] { return !readLog().empty(); }, std::chrono::seconds(10));
    auto node = Node(NodeTypeSocks5, kDantePort);
    auto [result, lines] = ready ? Run(node.get(), 1, 1) : std::pair<bool, std::vector<Line>>{};
    silent.Stop();
    lab_->StartUnbound();
    ASSERT_TRUE(ready) << "the silent DNS servers did not start";

    EXPECT_FALSE(result);
    ASSERT_GE(lines.size(), 3u) << Show(lines);
    EXPECT_EQ(lines[lines.size() - 3], Line(3, "UDP relay...Unpassed!")) << Show(lines);
    EXPECT_EQ(node->connectAttempts.load(), 4);
    EXPECT_EQ(node->lastTestResult.load(), 0);
    // Every server got the query, in the order of the pairs.
    std::vector<std::string> asked;
    for (const std::string& line : readLog()) {
        std::string server = line.substr(0, line.find(' '));
        if (line != "ready" && std::find(asked.begin(), asked.end(), server) == asked.end()) asked.push_back(server);
    }
    std::vector<std::string> expected;
    for (const auto& pair : kUdpTestPairs) expected.push_back(WideToUtf8String(pair.server));
    EXPECT_EQ(asked, expected);
}

// The exit address through a proxy program on this machine, from a page
// that answers with it.
TEST_F(NodeTesting, ExitAddressThroughALocalNode) {
    NetNamespace::Scope scope(topology_->app());
    testsupport::HttpTestServer web;
    web.Handle("GET", "/ip", [](const testsupport::HttpRequest&, testsupport::HttpResponse& r) { r.body = "10.1.2.3"; });
    web.Handle("GET", "/other",
               [](const testsupport::HttpRequest&, testsupport::HttpResponse& r) { r.body = "10.1.2.3.4"; });
    CNodeInfo local;
    local.type = NodeTypeSocks5;
    local.host = "127.0.0.1";
    local.port = kLocalMicrosocksPort;
    struct Case {
        const char* path;
        bool ok;
        std::string address;
    } cases[] = {{"/ip", true, "10.1.2.3"}, {"/other", false, "unchanged"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        Report report;
        CS45ClientTesting test(&Report::Collect, &report, 1);
        std::string address = "unchanged";
        EXPECT_EQ(test.FetchExitAddress(&local, Utf8ToWideString(web.Url(c.path)), &address), c.ok)
            << Show(report.lines);
        EXPECT_EQ(address, c.address);
    }
    // A node elsewhere is never contacted.
    CNodeInfo remote;
    remote.type = NodeTypeSocks5;
    remote.host = "192.0.2.10";
    remote.port = 1080;
    CS45ClientTesting test(nullptr, nullptr, 1);
    std::string address = "unchanged";
    EXPECT_FALSE(test.FetchExitAddress(&remote, Utf8ToWideString(web.Url("/ip")), &address));
    EXPECT_EQ(remote.connectAttempts.load(), 0);
    EXPECT_EQ(address, "unchanged");
}

// The test window's procedure with the real test classes: a sink in
// place of the window's log.
class LogSink : public ITestLogSink {
public:
    void AddLog(const wchar_t* text, int level) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.emplace_back(level, WideToUtf8String(text));
    }
    void ClearLog() override {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
    }
    std::vector<Line> Lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<Line> lines_;
};

constexpr int kSilentPort = 1095;

// A peer that accepts and never answers; its log tells when each
// connection came and when it was closed.
class SilentPeer {
public:
    SilentPeer(const NetNamespace& ns, const std::string& dir) : log_(dir + "/silent-peer.log") {
        std::filesystem::remove(log_);
        const std::string script =
            "import socket,sys\ns=socket.socket()\ns.setsockopt(socket.SOL_SOCKET,socket.SO_REUSEADDR,1)\n"
            "s.bind((sys.argv[1],int(sys.argv[2])))\ns.listen(8)\nprint('ready',flush=True)\n"
            "while True:\n c,a=s.accept()\n print('accepted',flush=True)\n"
            " while c.recv(4096): pass\n print('closed',flush=True)\n c.close()\n";
        process_ = ns.Spawn({"python3", "-c", script, kNodeHost, std::to_string(kSilentPort)}, log_);
        ready_ = proxytest::WaitUntil([&] { return Count("ready") > 0; }, std::chrono::seconds(10));
    }
    ~SilentPeer() { process_.Stop(); }
    bool ready() const { return ready_; }
    int Count(const std::string& word) const {
        std::ifstream in(log_);
        int n = 0;
        for (std::string line; std::getline(in, line);) n += line == word ? 1 : 0;
        return n;
    }

private:
    std::string log_;
    ChildProcess process_;
    bool ready_ = false;
};

TEST_F(NodeTesting, TestWindowRunsTcpThenUdpPerNode) {
    NetNamespace::Scope scope(topology_->app());
    auto ss = Node(NodeTypeSSR, kSsPort);
    auto dante = Node(NodeTypeSocks5, kDantePort);
    auto tiny = Node(NodeTypeHttp, kTinyproxyPort);
    LogSink sink;
    CTestingCurrentNodeCore window(&sink);
    for (CNodeInfo* n : {ss.get(), dante.get(), tiny.get()}) window.AddNode(n);
    ASSERT_TRUE(window.StartTest(kNodeTestTcpThenUdp, true));
    window.Join();
    const std::vector<Line> done = {{1, "Testing is done!"}, {1, kSeparator}};
    const std::vector<Line> s45Tcp = {{1, "TCP Testing started."},
                                      {1, "Now testing TCP transmission..."},
                                      {1, "Connecting to SS node..."},
                                      {2, "Connected to SS node."},
                                      {2, "TCP transmission...Passed!"},
                                      {2, "Latency : # ms"}};
    std::vector<Line> expected = {{1, "Testing started."},
                                  {1, "Testing TCP transmission..."},
                                  {2, "TCP transmission...Passed!"},
                                  {2, "Latency : # ms"}};
    auto add = [&](const std::vector<Line>& part) { expected.insert(expected.end(), part.begin(), part.end()); };
    add(done);
    add({{1, "Testing started."}, {1, "Testing UDP relay..."}, {2, "UDP relay...Passed!"}});
    add(done);
    add(s45Tcp);
    add(done);
    add({{1, "UDP Testing started."},
         {1, "Testing UDP relay..."},
         {1, "Requesting UDP relay from proxy server..."},
         {2, std::string("Server bound on ") + kNodeHost + ":#."},
         {2, "Udp tunnel has been built"},
         {1, "Testing data transmission..."},
         {2, "UDP relay...Passed!"}});
    add(done);
    // HTTP: TCP only.
    add(s45Tcp);
    add(done);
    ExpectReport(sink.Lines(), expected);
}

// A test held by a peer that never answers is stopped by the next test:
// its socket is shut down at once, none of its lines reach the new log,
// and the two never run at the same time.
TEST_F(NodeTesting, ANewTestStopsAHeldOneAtOnce) {
    SilentPeer peer(topology_->proxy(), dir_);
    ASSERT_TRUE(peer.ready());
    NetNamespace::Scope scope(topology_->app());
    auto silent = Node(NodeTypeSocks5, kSilentPort);
    auto ss = Node(NodeTypeSSR, kSsPort);
    LogSink sink;
    CTestingCurrentNodeCore window(&sink);
    window.AddNode(silent.get());
    ASSERT_TRUE(window.StartTest(kNodeTestTcpThenUdp, true));
    ASSERT_TRUE(proxytest::WaitUntil([&] { return peer.Count("accepted") == 1; }, std::chrono::seconds(10)));
    window.ClearNodes();
    window.AddNode(ss.get());
    const auto stopped = std::chrono::steady_clock::now();
    ASSERT_TRUE(window.StartTest(kNodeTestTcp, true));
    // Every wait of the held test is 5 s or more.
    EXPECT_TRUE(proxytest::WaitUntil([&] { return peer.Count("closed") == 1; }, std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(2));
    window.Join();
    ExpectReport(sink.Lines(), {{1, "Testing started."},
                                {1, "Testing TCP transmission..."},
                                {2, "TCP transmission...Passed!"},
                                {2, "Latency : # ms"},
                                {1, "Testing is done!"},
                                {1, kSeparator}});
    EXPECT_EQ(window.MostTestsAtOnce(), 1);
    // The held test tried no further site after the stop.
    EXPECT_EQ(peer.Count("accepted"), 1);
}

// Destroying the window while a test is held ends the test and waits for
// it, promptly.
TEST_F(NodeTesting, DestroyingTheWindowMidTestJoinsPromptly) {
    SilentPeer peer(topology_->proxy(), dir_);
    ASSERT_TRUE(peer.ready());
    NetNamespace::Scope scope(topology_->app());
    auto silent = Node(NodeTypeSocks5, kSilentPort);
    LogSink sink;
    std::chrono::steady_clock::time_point stopped;
    {
        CTestingCurrentNodeCore window(&sink);
        window.AddNode(silent.get());
        ASSERT_TRUE(window.StartTest(kNodeTestTcpThenUdp, true));
        ASSERT_TRUE(proxytest::WaitUntil([&] { return peer.Count("accepted") == 1; }, std::chrono::seconds(10)));
        stopped = std::chrono::steady_clock::now();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(2));
    EXPECT_TRUE(proxytest::WaitUntil([&] { return peer.Count("closed") == 1; }, std::chrono::seconds(5)));
    // Only the lines from before the stop.
    const std::vector<Line> lines = sink.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), Line(2, "Connected to SS node."));
}

}  // namespace
