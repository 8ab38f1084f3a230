#pragma once
// The whole program as a process inside namespaces of the test's own
// (scripts/app-topology.sh), driven through its command channel: the
// topology, built once per suite, and the fixture's helpers to start the
// program, connect, disconnect and look at what it changed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "tests/e2e/program_run.h"
#include "tests/support/net.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace apptopology {

using testsupport::ProgramRun;
using testsupport::ReadFile;
using testsupport::RunAs;
using testsupport::RunCommand;
using testsupport::TempDir;

inline constexpr const char* kServer = "10.198.77.2";
inline constexpr const char* kNodeHost = "10.198.78.2";
inline constexpr const char* kLocalNetworkNode = "10.198.76.2";  // on the app's own veth network
inline constexpr const char* kSsPassword = "cda ss pass";

// The route rows through the TUN device, and whether one starts with `destination`.
inline bool HasRoute(const std::string& snapshot, const std::string& destination, const std::string& via) {
    std::istringstream in(snapshot);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(destination + " ", 0) == 0 && line.find(via) != std::string::npos) return true;
    return false;
}

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

    // Starts the program and waits until its TUN device is made; `services`
    // becomes its config/services.ini.
    std::unique_ptr<ProgramRun> StartProgram(const std::string& services = "",
                                             const std::function<void(ProgramRun&)>& beforeStart = {}) {
        auto run = std::make_unique<ProgramRun>(topo_->app());
        if (!services.empty()) {
            std::filesystem::create_directories(run->programDir() / "config");
            testsupport::WriteFile(run->programDir() / "config" / "services.ini", services);
        }
        if (beforeStart) beforeStart(*run);
        run->Start();
        EXPECT_TRUE(run->WaitChannel()) << run->Log();
        for (int i = 0; i < 300 && topo_->Exec({"ip", "link", "show", "cendrow"}) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return run;
    }

    // Adds the node, chooses it and the mode, and connects.
    static constexpr const char* kOwnDns = "1\r\n10.198.79.1/10.198.79.2";
    static constexpr const char* kSmartDns = "0\r\n8.8.8.8/8.8.4.4/119.29.29.29/119.28.28.28";

    static bool Connect(ProgramRun& run, const std::string& nodeFields, int mode, const char* dns = kOwnDns) {
        return StartConnect(run, nodeFields, mode, dns) && run.WaitState("connected", 90);
    }

    // Adds the node, chooses it and the mode, and asks for the connect until
    // it runs; false when the node was refused.
    static bool StartConnect(ProgramRun& run, const std::string& nodeFields, int mode,
                             const char* dns = kOwnDns) {
        NSReply added = run.Ask(CMD_SET_CURRENT_PROXY, nodeFields);
        if (added.status != 0) return false;
        EXPECT_EQ(run.Ask(NSCMD_SETPROXY, added.text).status, 0);
        EXPECT_EQ(run.Ask(NSCMD_SETCURRENTPROXYMODE, std::to_string(mode)).status, 0);
        EXPECT_EQ(run.Ask(NSCMD_SETCURDNS, dns).status, 0);
        // The start-up driver job may still hold the worker: ask again.
        for (int i = 0; i < 30; ++i) {
            EXPECT_EQ(run.Ask(NSCMD_CONNECT).status, 0);
            if (run.Ask(NSCMD_GETSTATE).text != "disconnected") break;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        return true;
    }

    static std::string Node(const std::string& port, const std::string& type, const std::string& user = "",
                            const std::string& password = "", const std::string& host = kNodeHost) {
        return host + "\r\n" + port + "\r\n" + user + "\r\n" + password + "\r\n" + type +
               "\r\n\r\n\r\n\r\n\r\n";
    }
    // A Shadowsocks node (type 6) of ss-server, optionally in ShadowsocksR's plain form.
    static std::string SsNode(const std::string& port, const std::string& method, const std::string& protocol = "",
                              const std::string& obfs = "") {
        return std::string(kNodeHost) + "\r\n" + port + "\r\n\r\n" + kSsPassword + "\r\n6\r\n" + method +
               "\r\n" + protocol + "\r\n\r\n" + obfs + "\r\n";
    }
    // A new start on the crashed run's program folder (its backup of
    // resolv.conf is there) finds the namespace as `before`, the TUN device
    // without our address and no resolver, and connects again; null when
    // it did not.
    std::unique_ptr<ProgramRun> RestartAfterCrash(ProgramRun& crashed, const std::string& before) {
        auto again = std::make_unique<ProgramRun>(topo_->app());
        std::filesystem::remove_all(again->programDir());
        std::filesystem::copy(crashed.programDir(), again->programDir(), std::filesystem::copy_options::recursive);
        again->Start();
        if (!again->WaitChannel()) {
            ADD_FAILURE() << again->Log();
            return nullptr;
        }
        EXPECT_EQ(topo_->Snapshot(), before);
        std::string addresses;
        topo_->Exec({"ip", "-4", "addr", "show", "dev", "cendrow"}, &addresses);
        EXPECT_EQ(addresses.find("10.198.75.60"), std::string::npos) << addresses;
        EXPECT_FALSE(ResolverRuns());
        if (!Connect(*again, Node("1080", "5"), 0)) {
            ADD_FAILURE() << again->Log();
            return nullptr;
        }
        EXPECT_TRUE(topo_->Fetch());
        return again;
    }
    // Disconnects and waits for the end of the whole sequence: the state
    // reads "disconnected" already while the disconnect still runs, so the
    // status line that ends it is awaited too.
    static bool Disconnect(ProgramRun& run) {
        auto count = [&run] {
            std::string log = run.Log();
            size_t n = 0;
            for (size_t at = log.find("Disconnected!"); at != std::string::npos; at = log.find("Disconnected!", at + 1))
                ++n;
            return n;
        };
        size_t before = count();
        if (run.Ask(NSCMD_DISCONNECT).status != 0) return false;
        for (int i = 0; i < 600 && count() == before; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return count() > before && run.WaitState("disconnected", 10);
    }
    // Disconnects, finds the namespace as `before`, and quits.
    static void DisconnectAndQuit(ProgramRun& run, const std::string& before) {
        EXPECT_TRUE(Disconnect(run));
        EXPECT_EQ(topo_->Snapshot(), before);
        run.Ask(NSCMD_QUIT);
        EXPECT_EQ(run.WaitExit(60), 0);
    }
    // A name only the topology's DNS server knows, as the app namespace resolves it now.
    static bool ResolvesTestName() {
        std::string out;
        topo_->Exec({"getent", "hosts", "www.cendrow.example"}, &out);
        return out.find(kServer) != std::string::npos;
    }
    // Whether an unbound process runs in the app namespace.
    static bool ResolverRuns() { return ResolverPid() > 0; }
    // The process id of an unbound in the app namespace, or 0.
    static pid_t ResolverPid() {
        std::string pids;
        RunCommand({"ip", "netns", "pids", topo_->app()}, &pids);
        std::istringstream in(pids);
        for (std::string pid; in >> pid;) {
            std::error_code ec;
            auto exe = std::filesystem::read_symlink("/proc/" + pid + "/exe", ec);
            if (!ec && exe.filename() == "unbound") return static_cast<pid_t>(std::stol(pid));
        }
        return 0;
    }

    // Loads a rule mode that routes the server's network through the
    // tunnel; its index, or -1.
    static int LoadServerNetworkMode(ProgramRun& run) {
        std::filesystem::path rules = run.programDir() / "temp" / "server-net.rules";
        testsupport::WriteFile(rules, "#Server network,server-net,0,0,1,0,0,0,test\n10.198.77.0/24\n");
        EXPECT_EQ(run.Ask(NSCMD_LOADPROXYMODE, rules.string()).status, 0);
        // The list answers "index,name|" per mode.
        std::string modes = run.Ask(NSCMD_GETPROXYMODES).text;
        int index = -1;
        std::istringstream list(modes);
        for (std::string entry; std::getline(list, entry, '|');)
            if (entry.size() > 11 && entry.substr(entry.size() - 11) == ",server-net") index = std::stoi(entry);
        EXPECT_NE(index, -1) << modes;
        return index;
    }

    static inline std::unique_ptr<AppTopology> topo_;
    static inline std::string machineRoutes_, machineResolv_;
};

}  // namespace apptopology
