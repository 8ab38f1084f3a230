// The whole program as a process, driven through its command channel inside
// namespaces of the test's own (scripts/app-topology.sh): it makes its TUN
// device, connects through real nodes, relays a download, and leaves the
// namespace's routes and resolv.conf exactly as it found them, after a
// disconnect, a quit, a signal, and a crash followed by a new start.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "tests/e2e/program_run.h"
#include "tests/support/net.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::ProgramRun;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;

constexpr const char* kServer = "10.198.77.2";
constexpr const char* kNodeHost = "10.198.78.2";

// The topology, built once for the suite and removed at its end.
class AppTopology {
public:
    AppTopology() : tag_(std::to_string(getpid())), dir_("cendrow-app-topology") {
        if (Script({"create", tag_, dir_.path().string()}) != 0) {
            Script({"delete", tag_});
            throw std::runtime_error("building the app topology failed");
        }
        std::string file(4u << 20, '\0');
        std::mt19937_64 rng(7);
        for (auto& c : file) c = static_cast<char>(rng());
        testsupport::WriteFile(dir_ / "www" / "file", file);
    }
    ~AppTopology() { Script({"delete", tag_}); }
    std::string app() const { return "cda-app-" + tag_; }
    std::filesystem::path www() const { return dir_ / "www"; }
    std::filesystem::path resolvConf() const { return "/etc/netns/" + app() + "/resolv.conf"; }

    int Exec(const std::vector<std::string>& argv, std::string* out = nullptr) const {
        std::vector<std::string> full = {"ip", "netns", "exec", app()};
        full.insert(full.end(), argv.begin(), argv.end());
        return RunCommand(full, out);
    }
    // What the program may change: every route of every table, and resolv.conf.
    std::string Snapshot() const {
        std::string routes;
        Exec({"ip", "route", "show", "table", "all"}, &routes);
        std::vector<std::string> lines;
        std::istringstream in(routes);
        for (std::string line; std::getline(in, line);)
            // IPv6 link-local rows come and go with the kernel's address set-up,
            // never with anything the program does.
            if (!line.empty() && line.find("fe80::") == std::string::npos) lines.push_back(line);
        std::sort(lines.begin(), lines.end());
        std::string out;
        for (auto& l : lines) out += l + "\n";
        return out + "--\n" + ReadFile(resolvConf());
    }
    // A download through whatever the routes say; true when the bytes match.
    bool Fetch(const std::string& proxy = "", int seconds = 30) const {
        std::string out = (dir_ / "tmp" / "fetched").string();
        std::filesystem::remove(out);
        std::vector<std::string> argv = {"curl", "-s", "--max-time", std::to_string(seconds), "-o", out};
        if (!proxy.empty()) argv.insert(argv.end(), {"-x", proxy});
        argv.push_back(std::string("http://") + kServer + "/file");
        if (Exec(argv) != 0) return false;
        return ReadFile(out) == ReadFile(www() / "file");
    }

private:
    int Script(const std::vector<std::string>& args) const {
        const char* source = std::getenv("CENDROW_SOURCE_DIR");
        std::vector<std::string> argv = {"bash", std::string(source ? source : ".") + "/scripts/app-topology.sh"};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunCommand(argv);
    }
    std::string tag_;
    TempDir dir_;
};

class AppConnectTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testsupport::CanUseNetns()) return;
        machineRoutes_ = MachineRoutes();
        machineResolv_ = ReadFile("/etc/resolv.conf");
        topo_ = std::make_unique<AppTopology>();
    }
    static void TearDownTestSuite() {
        topo_.reset();
        EXPECT_EQ(MachineRoutes(), machineRoutes_);
        EXPECT_EQ(ReadFile("/etc/resolv.conf"), machineResolv_);
    }
    void SetUp() override {
        if (!topo_) GTEST_SKIP() << "needs root and network namespaces";
    }
    // After every test the machine's own network is as it was.
    void TearDown() override {
        if (!topo_) return;
        EXPECT_EQ(MachineRoutes(), machineRoutes_);
        EXPECT_EQ(ReadFile("/etc/resolv.conf"), machineResolv_);
    }
    static std::string MachineRoutes() {
        std::string out;
        RunCommand({"ip", "route", "show", "table", "all"}, &out);
        return out;
    }

    // Starts the program and waits until its TUN device is made.
    std::unique_ptr<ProgramRun> StartProgram() {
        auto run = std::make_unique<ProgramRun>(topo_->app());
        run->Start();
        EXPECT_TRUE(run->WaitChannel()) << run->Log();
        for (int i = 0; i < 300 && topo_->Exec({"ip", "link", "show", "cendrow"}) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return run;
    }

    // Adds the node, chooses it and the mode, and connects.
    static bool Connect(ProgramRun& run, const std::string& nodeFields, int mode) {
        NSReply added = run.Ask(CMD_SET_CURRENT_PROXY, nodeFields);
        if (added.status != 0) return false;
        EXPECT_EQ(run.Ask(NSCMD_SETPROXY, added.text).status, 0);
        EXPECT_EQ(run.Ask(NSCMD_SETCURRENTPROXYMODE, std::to_string(mode)).status, 0);
        EXPECT_EQ(run.Ask(NSCMD_SETCURDNS, "1\r\n10.198.79.1/10.198.79.2").status, 0);
        // The start-up driver job may still hold the worker: ask again.
        for (int i = 0; i < 30; ++i) {
            EXPECT_EQ(run.Ask(NSCMD_CONNECT).status, 0);
            if (run.Ask(NSCMD_GETSTATE).text != "disconnected") break;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        return run.WaitState("connected", 90);
    }

    static std::string Node(const std::string& port, const std::string& type, const std::string& user = "",
                            const std::string& password = "") {
        return std::string(kNodeHost) + "\r\n" + port + "\r\n" + user + "\r\n" + password + "\r\n" + type +
               "\r\n\r\n\r\n\r\n\r\n";
    }

    static inline std::unique_ptr<AppTopology> topo_;
    static inline std::string machineRoutes_, machineResolv_;
};

struct NodeCase {
    const char* name;
    std::string fields;
};

TEST_F(AppConnectTest, EachNodeConnectsRelaysAndDisconnectsLeavingNothing) {
    auto run = StartProgram();
    // Nothing reaches the server past the node: it answers the proxy namespace only.
    EXPECT_FALSE(topo_->Fetch("", 5));
    const NodeCase cases[] = {
        {"danted SOCKS 5", Node("1080", "5")},
        {"danted SOCKS 4", Node("1080", "4")},
        {"danted SOCKS 5 with a password", Node("1082", "5", "cdw", "cdw-pass")},
        {"microsocks", Node("1081", "5")},
        {"tinyproxy", Node("8888", "3")},
    };
    for (const NodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string before = topo_->Snapshot();
        ASSERT_TRUE(Connect(*run, c.fields, 0)) << run->Log();
        EXPECT_NE(topo_->Snapshot(), before);
        EXPECT_TRUE(topo_->Fetch());
        EXPECT_EQ(run->Ask(NSCMD_DISCONNECT).status, 0);
        ASSERT_TRUE(run->WaitState("disconnected", 60));
        EXPECT_EQ(topo_->Snapshot(), before);
        EXPECT_FALSE(topo_->Fetch("", 5));
        run->Ask(NSCMD_CLEARPROXIES);
    }
    std::string before = topo_->Snapshot();
    EXPECT_EQ(run->Ask(NSCMD_QUIT).status, 0);
    EXPECT_EQ(run->WaitExit(60), 0);
    EXPECT_EQ(topo_->Snapshot(), before);
    // The program laid out its folders and saved its settings on the way out.
    for (const char* name : {"log", "config", "temp", "update"})
        EXPECT_TRUE(std::filesystem::is_directory(run->programDir() / name)) << name;
    EXPECT_NE(ReadFile(run->programDir() / "config" / "config.ini").find("LastUsedNodeId"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(run->channelFolder() / "channel.sock"));
}

TEST_F(AppConnectTest, Ssh2NodeFailsAtOnceAndChangesNothing) {
    auto run = StartProgram();
    std::string before = topo_->Snapshot();
    NSReply added = run->Ask(CMD_SET_CURRENT_PROXY, Node("22", "13", "u", "p"));
    ASSERT_EQ(added.status, 0);
    run->Ask(NSCMD_SETPROXY, added.text);
    run->Ask(NSCMD_SETCURRENTPROXYMODE, "0");
    for (int i = 0; i < 30 && run->Log().find("This proxy type can not be used") == std::string::npos; ++i) {
        run->Ask(NSCMD_CONNECT);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    EXPECT_NE(run->Log().find("This proxy type can not be used for connecting."), std::string::npos);
    EXPECT_TRUE(run->WaitState("disconnected", 10));
    EXPECT_EQ(topo_->Snapshot(), before);
    run->Ask(NSCMD_QUIT);
    EXPECT_EQ(run->WaitExit(60), 0);
}

TEST_F(AppConnectTest, CrashWhileConnectedIsRepairedByTheNextStart) {
    auto run = StartProgram();
    std::string before = topo_->Snapshot();
    ASSERT_TRUE(Connect(*run, Node("1080", "5"), 0)) << run->Log();
    run->Kill9();
    EXPECT_NE(topo_->Snapshot(), before);  // the crash left routes and DNS

    auto again = std::make_unique<ProgramRun>(topo_->app());
    // The same program folder: its backup of resolv.conf is there.
    std::filesystem::remove_all(again->programDir());
    std::filesystem::copy(run->programDir(), again->programDir(), std::filesystem::copy_options::recursive);
    again->Start();
    ASSERT_TRUE(again->WaitChannel()) << again->Log();
    EXPECT_EQ(topo_->Snapshot(), before);
    ASSERT_TRUE(Connect(*again, Node("1080", "5"), 0)) << again->Log();
    EXPECT_TRUE(topo_->Fetch());
    // SIGTERM disconnects and ends the program.
    kill(again->process().pid(), SIGTERM);
    EXPECT_EQ(again->WaitExit(60), 0);
    EXPECT_EQ(topo_->Snapshot(), before);
}

TEST_F(AppConnectTest, SecondInstanceShowsTheFirstAndQuitAllRestores) {
    auto run = StartProgram();
    std::string before = topo_->Snapshot();
    auto second = run->Launch({}, "second.log");
    EXPECT_EQ(second.Wait(std::chrono::seconds(30)), 0);
    ASSERT_TRUE(Connect(*run, Node("1081", "5"), 0)) << run->Log();
    EXPECT_NE(run->Log().find("show the main window"), std::string::npos);
    auto quit = run->Launch({"--quitall"}, "quitall.log");
    EXPECT_EQ(quit.Wait(std::chrono::seconds(30)), 0);
    EXPECT_EQ(run->WaitExit(60), 0);
    EXPECT_EQ(topo_->Snapshot(), before);
}

TEST_F(AppConnectTest, BrowserModeServesTheLocalHttpProxy) {
    auto run = StartProgram();
    std::string before = topo_->Snapshot();
    ASSERT_TRUE(Connect(*run, Node("1080", "5"), 1)) << run->Log();
    EXPECT_EQ(topo_->Snapshot(), before);  // no route, no DNS change
    EXPECT_TRUE(topo_->Fetch("http://127.0.0.1:8118"));
    EXPECT_FALSE(topo_->Fetch("", 5));
    run->Ask(NSCMD_DISCONNECT);
    EXPECT_TRUE(run->WaitState("disconnected", 30));
    run->Ask(NSCMD_QUIT);
    EXPECT_EQ(run->WaitExit(60), 0);
}

TEST_F(AppConnectTest, AGatewayLinkThatGoesDownDisconnects) {
    auto run = StartProgram();
    ASSERT_TRUE(Connect(*run, Node("1080", "5"), 0)) << run->Log();
    topo_->Exec({"ip", "link", "set", "to-proxy", "down"});
    EXPECT_TRUE(run->WaitState("disconnected", 30));
    topo_->Exec({"ip", "link", "set", "to-proxy", "up"});
    topo_->Exec({"ip", "route", "replace", "default", "via", "10.198.76.2"});
    run->Ask(NSCMD_QUIT);
    EXPECT_EQ(run->WaitExit(60), 0);
}

}  // namespace
