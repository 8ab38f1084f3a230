// The whole program as a process, driven through its command channel inside
// namespaces of the test's own (scripts/app-topology.sh): it makes its TUN
// device, connects through real nodes, relays a download, and leaves the
// namespace's routes and resolv.conf exactly as it found them, after a
// disconnect, a quit, a signal, and a crash followed by a new start.
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

#include "tests/e2e/app_topology_fixture.h"
#include "tests/e2e/program_run.h"
#include "tests/support/net.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace apptopology;


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
        {"ss-server aes-256-gcm", SsNode("8388", "aes-256-gcm")},
        {"ss-server aes-256-cfb", SsNode("8389", "aes-256-cfb")},
        {"ss-server as ShadowsocksR origin/plain", SsNode("8388", "aes-256-gcm", "origin", "plain")},
    };
    for (const NodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string before = topo_->Snapshot();
        ASSERT_TRUE(Connect(*run, c.fields, 0)) << run->Log();
        EXPECT_NE(topo_->Snapshot(), before);
        EXPECT_TRUE(topo_->Fetch());
        EXPECT_TRUE(ResolvesTestName());
        ASSERT_TRUE(Disconnect(*run));
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

// A rule mode routes only its networks through the tunnel, beside the
// node's host route; nothing routes everything.
TEST_F(AppConnectTest, RuleModeRoutesItsNetworksThroughTheTunnel) {
    auto run = StartProgram();
    int index = LoadServerNetworkMode(*run);
    ASSERT_NE(index, -1);
    std::string before = topo_->Snapshot();
    ASSERT_TRUE(Connect(*run, Node("1080", "5"), index)) << run->Log();
    std::string during = topo_->Snapshot();
    EXPECT_TRUE(HasRoute(during, "10.198.77.0/24", "dev cendrow")) << during;
    EXPECT_TRUE(HasRoute(during, kNodeHost, "via 10.198.76.2")) << during;
    EXPECT_FALSE(HasRoute(during, "0.0.0.0/1", "dev cendrow")) << during;
    EXPECT_FALSE(HasRoute(during, "128.0.0.0/1", "dev cendrow")) << during;
    EXPECT_TRUE(topo_->Fetch());
    DisconnectAndQuit(*run, before);
}

// A node on the local network needs no host route; the address the world
// sees is asked of the echo service through the node and gets one instead.
TEST_F(AppConnectTest, LocalNetworkNodeGetsTheExitAddressAHostRoute) {
    auto run = StartProgram(std::string("[basic]\nexit_ip_a_url=http://") + kServer + "\n");
    std::string before = topo_->Snapshot();
    ASSERT_TRUE(Connect(*run, Node("1083", "5", "", "", kLocalNetworkNode), 0)) << run->Log();
    std::string during = topo_->Snapshot();
    EXPECT_NE(run->Log().find("Your actual proxy IP is: 10.198.77.1"), std::string::npos) << run->Log();
    EXPECT_TRUE(HasRoute(during, "10.198.77.1", "via 10.198.76.2")) << during;
    EXPECT_FALSE(HasRoute(during, kLocalNetworkNode, "via")) << during;
    EXPECT_TRUE(HasRoute(during, "0.0.0.0/1", "dev cendrow")) << during;
    EXPECT_TRUE(topo_->Fetch());
    DisconnectAndQuit(*run, before);
}

// Smart DNS: the program's own resolver answers on 127.0.0.1 and forwards to
// the presets' servers; disconnect ends it and puts resolv.conf back.
TEST_F(AppConnectTest, SmartDnsRunsTheResolverWhileConnected) {
    auto run = StartProgram();
    std::string before = topo_->Snapshot();
    ASSERT_FALSE(ResolverRuns());
    ASSERT_TRUE(Connect(*run, Node("1080", "5"), 0, kSmartDns)) << run->Log();
    EXPECT_TRUE(ResolverRuns());
    EXPECT_NE(ReadFile(topo_->resolvConf()).find("nameserver 127.0.0.1"), std::string::npos)
        << ReadFile(topo_->resolvConf());
    EXPECT_TRUE(ResolvesTestName());
    EXPECT_TRUE(topo_->Fetch());
    DisconnectAndQuit(*run, before);
    EXPECT_FALSE(ResolverRuns());
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

    auto again = RestartAfterCrash(*run, before);
    ASSERT_TRUE(again);
    // The repairs are in the program log, not only on standard error.
    std::string log = ReadFile(again->programDir() / "log" / "Cendrow");
    for (const char* line : {"routes left by an earlier run", "Start-up: removed",
                             "Start-up: put back the DNS configuration an earlier run changed"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    // SIGTERM disconnects and ends the program.
    kill(again->process().pid(), SIGTERM);
    EXPECT_EQ(again->WaitExit(60), 0);
    EXPECT_EQ(topo_->Snapshot(), before);
}

// Killed once the DNS servers are in place but before the routes: the next
// start puts resolv.conf back and sets the TUN device down without our address.
TEST_F(AppConnectTest, CrashMidConnectIsRepairedByTheNextStart) {
    auto run = StartProgram();
    std::string before = topo_->Snapshot();
    std::string resolv = ReadFile(topo_->resolvConf());
    ASSERT_TRUE(StartConnect(*run, Node("1080", "5"), 0));
    bool changed = false;
    for (int i = 0; i < 3000 && !changed; ++i) {
        changed = ReadFile(topo_->resolvConf()) != resolv;
        if (!changed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(changed) << run->Log();
    run->Kill9();
    EXPECT_NE(topo_->Snapshot(), before);

    auto again = RestartAfterCrash(*run, before);
    ASSERT_TRUE(again);
    again->Ask(NSCMD_QUIT);
    EXPECT_EQ(again->WaitExit(60), 0);
    EXPECT_EQ(topo_->Snapshot(), before);
}

// One instance per network namespace, whoever starts it and wherever its
// runtime folder is: a second start says which process holds the namespace,
// shows it and ends with a failure status, touching nothing of the first's
// connection; a lock file of the old kind held by someone else stops nothing.
TEST_F(AppConnectTest, SecondInstanceShowsTheFirstAndQuitAllRestores) {
    testsupport::ChildProcess oldLockHolder;
    auto run = StartProgram("", [&oldLockHolder](ProgramRun& r) {
        std::filesystem::path old = r.channelFolder().parent_path() /
                                    "cendrow-Global_{_OSTREL-SINGLE_INSTANCE-{6B1E73D2-94C5-4F0A-A8E1-3C52D7F9B046}}.lock";
        testsupport::WriteFile(old, "");
        EXPECT_EQ(chown(old.c_str(), 65534, 65534), 0);
        oldLockHolder = testsupport::ChildProcess({"flock", "-n", old.string(), "sleep", "300"});
        // Held once a second try conflicts.
        for (int i = 0; i < 100 && RunCommand({"flock", "-n", "-E", "7", old.string(), "true"}) != 7; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    ASSERT_TRUE(run->WaitChannel(5)) << run->Log();
    oldLockHolder.Stop();
    std::string before = topo_->Snapshot();
    std::string holder = "process " + std::to_string(run->process().pid()) + ", user root";

    auto second = run->Launch({}, "second.log");
    int status = second.Wait(std::chrono::seconds(30));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    ASSERT_TRUE(Connect(*run, Node("1081", "5"), 0)) << run->Log();
    std::string during = topo_->Snapshot();
    {
        // Another runtime folder and program folder: the same namespace all the same.
        ProgramRun elsewhere(topo_->app());
        elsewhere.Start();
        EXPECT_EQ(elsewhere.WaitExit(30), 1) << elsewhere.Log();
        EXPECT_NE(elsewhere.Log().find("already running in this network namespace (" + holder + ")"),
                  std::string::npos)
            << elsewhere.Log();
        EXPECT_NE(ReadFile(elsewhere.programDir() / "log" / "Cendrow").find(holder), std::string::npos);
        EXPECT_EQ(elsewhere.Log().find("earlier run"), std::string::npos) << elsewhere.Log();
    }
    EXPECT_EQ(topo_->Snapshot(), during);
    EXPECT_EQ(run->Ask(NSCMD_GETSTATE).text, "connected");
    EXPECT_TRUE(topo_->Fetch());
    // Both starts showed the running instance, through its own channel.
    std::string log = run->Log();
    size_t shown = 0;
    for (size_t at = log.find("show the main window"); at != std::string::npos;
         at = log.find("show the main window", at + 1))
        ++shown;
    EXPECT_EQ(shown, 2u) << log;
    auto quit = run->Launch({"--quitall"}, "quitall.log");
    EXPECT_EQ(quit.Wait(std::chrono::seconds(30)), 0);
    EXPECT_EQ(run->WaitExit(60), 0);
    EXPECT_EQ(topo_->Snapshot(), before);
}

// The lock belongs to the namespace: an instance in another namespace runs.
TEST_F(AppConnectTest, InstancesInTwoNamespacesBothRun) {
    auto run = StartProgram();
    testsupport::NetNamespace other("cda-other");
    other.MustExec({"ip", "link", "set", "lo", "up"});
    ProgramRun second(other.name());
    second.Start();
    EXPECT_TRUE(second.WaitChannel(60)) << second.Log();
    EXPECT_EQ(run->Ask(NSCMD_NOP).status, 0);
    second.Ask(NSCMD_QUIT);
    EXPECT_EQ(second.WaitExit(60), 0) << second.Log();
    run->Ask(NSCMD_QUIT);
    EXPECT_EQ(run->WaitExit(60), 0);
}

// A Shadowsocks node with a mistyped cipher is refused: nothing can connect
// through it, and a listener in the node's place receives nothing.
TEST_F(AppConnectTest, MistypedCipherNeverReachesTheNode) {
    auto run = StartProgram();
    std::string before = topo_->Snapshot();
    // A listener on the app's own network, in the node's place, counting connections.
    const char* counter =
        "import socket,sys,time\n"
        "s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
        "s.bind(('10.198.76.1', 8399)); s.listen(16); s.settimeout(0.2)\n"
        "n=0; end=time.time()+float(sys.argv[1])\n"
        "while time.time()<end:\n"
        "    try:\n"
        "        c,_=s.accept(); n+=1; c.close()\n"
        "    except socket.timeout:\n"
        "        pass\n"
        "print('accepted', n, flush=True)\n";
    TempDir out("cendrow-listener");
    testsupport::ChildProcess listener({"ip", "netns", "exec", topo_->app(), "python3", "-c", counter, "8"},
                                       (out / "count").string());
    std::string fields = "10.198.76.1\r\n8399\r\n\r\n" + std::string(kSsPassword) + "\r\n6\r\naes-256-gmc\r\n\r\n\r\n\r\n";
    NSReply added = run->Ask(CMD_SET_CURRENT_PROXY, fields);
    EXPECT_EQ(added.status, 1);
    EXPECT_EQ(run->Ask(NSCMD_GETPROXIES).text, "");
    EXPECT_EQ(run->Ask(NSCMD_SETCURRENTPROXYMODE, "0").status, 0);
    for (int i = 0; i < 5; ++i) {
        run->Ask(NSCMD_CONNECT);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    EXPECT_TRUE(run->WaitState("disconnected", 10));
    EXPECT_EQ(listener.Wait(std::chrono::seconds(30)), 0);
    EXPECT_EQ(ReadFile(out / "count"), "accepted 0\n");
    EXPECT_NE(ReadFile(run->programDir() / "log" / "Cendrow").find("unknown cipher \"aes-256-gmc\""),
              std::string::npos);
    EXPECT_EQ(topo_->Snapshot(), before);
    run->Ask(NSCMD_QUIT);
    EXPECT_EQ(run->WaitExit(60), 0);
}

TEST_F(AppConnectTest, BrowserModeServesTheLocalHttpProxy) {
    auto run = StartProgram();
    std::string before = topo_->Snapshot();
    ASSERT_TRUE(Connect(*run, Node("1080", "5"), 1)) << run->Log();
    EXPECT_EQ(topo_->Snapshot(), before);  // no route, no DNS change
    EXPECT_TRUE(topo_->Fetch("http://127.0.0.1:8118"));
    EXPECT_FALSE(topo_->Fetch("", 5));
    EXPECT_TRUE(Disconnect(*run));
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

// The program as the desktop user: uid 65534 with the capabilities
// scripts/install-caps.sh gives the executable and the resolv.conf helper,
// or the same folder without them.
class AppAsUserTest : public AppConnectTest {
protected:
    void SetUp() override {
        AppConnectTest::SetUp();
        if (IsSkipped()) return;
        std::string why = ProgramRun::UserRunUnavailable();
        if (!why.empty()) GTEST_SKIP() << "cannot run as uid 65534 with file capabilities: " << why;
    }
    std::unique_ptr<ProgramRun> StartAsUser(RunAs runAs) {
        auto run = std::make_unique<ProgramRun>(topo_->app(), runAs);
        run->Start();
        EXPECT_TRUE(run->WaitChannel()) << run->Log();
        return run;
    }
    // A line of /proc/<pid>/status after its "Name:\t", or empty.
    static std::string StatusField(pid_t pid, const std::string& name) {
        std::istringstream in(ReadFile("/proc/" + std::to_string(pid) + "/status"));
        for (std::string line; std::getline(in, line);)
            if (line.rfind(name + ":\t", 0) == 0) return line.substr(name.size() + 2);
        return "";
    }
    // Nameservers of the app namespace's resolv.conf, in order.
    static std::vector<std::string> Nameservers() {
        std::vector<std::string> out;
        std::istringstream in(ReadFile(topo_->resolvConf()));
        for (std::string line; std::getline(in, line);)
            if (line.rfind("nameserver ", 0) == 0) out.push_back(line.substr(11));
        return out;
    }

    static constexpr const char* kUserIds = "65534\t65534\t65534\t65534";
    // cap_net_bind_service (10), cap_net_admin (12), cap_net_raw (13).
    static constexpr const char* kProgramCaps = "0000000000003400";
    static constexpr const char* kBindServiceOnly = "0000000000000400";
};

struct UserModeCase {
    const char* name;
    bool ruleMode;
    const char* dns;
    std::vector<std::string> servers;
};

TEST_F(AppAsUserTest, ConnectsAndDisconnectsAsTheUserLeavingNothing) {
    auto run = StartAsUser(RunAs::kUser);
    pid_t pid = run->process().pid();
    EXPECT_EQ(StatusField(pid, "Uid"), kUserIds);
    EXPECT_EQ(StatusField(pid, "CapEff"), kProgramCaps);
    // The program made its TUN device itself, owned by its user.
    std::string owner;
    for (int i = 0; i < 100 && topo_->Exec({"cat", "/sys/class/net/cendrow/owner"}, &owner) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(owner, "65534\n");
    int ruleMode = LoadServerNetworkMode(*run);
    ASSERT_NE(ruleMode, -1);
    const UserModeCase cases[] = {
        {"global mode", false, kOwnDns, {"10.198.79.1", "10.198.79.2"}},
        {"rule mode", true, kOwnDns, {"10.198.79.1", "10.198.79.2"}},
        {"smart DNS", false, kSmartDns, {"127.0.0.1"}},
    };
    for (const UserModeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string before = topo_->Snapshot();
        ASSERT_TRUE(Connect(*run, SsNode("8388", "aes-256-gcm"), c.ruleMode ? ruleMode : 0, c.dns)) << run->Log();
        EXPECT_EQ(Nameservers(), c.servers) << ReadFile(topo_->resolvConf());
        EXPECT_TRUE(topo_->Fetch());
        pid_t resolver = ResolverPid();
        EXPECT_EQ(resolver != 0, std::string(c.dns) == kSmartDns);
        if (resolver) {
            EXPECT_EQ(StatusField(resolver, "Uid"), kUserIds);
            EXPECT_EQ(StatusField(resolver, "CapEff"), kBindServiceOnly);
            EXPECT_EQ(StatusField(resolver, "CapAmb"), kBindServiceOnly);
            EXPECT_TRUE(ResolvesTestName());
        }
        ASSERT_TRUE(Disconnect(*run));
        EXPECT_EQ(topo_->Snapshot(), before);
        EXPECT_FALSE(ResolverRuns());
        run->Ask(NSCMD_CLEARPROXIES);
    }
    // The program itself never held more than its three capabilities.
    EXPECT_EQ(StatusField(pid, "CapEff"), kProgramCaps);
    run->Ask(NSCMD_QUIT);
    EXPECT_EQ(run->WaitExit(60), 0) << run->Log();
}

TEST_F(AppAsUserTest, CrashIsRepairedThroughTheHelperAtTheNextStart) {
    auto run = StartAsUser(RunAs::kUser);
    std::string before = topo_->Snapshot();
    ASSERT_TRUE(Connect(*run, SsNode("8388", "aes-256-gcm"), 0, kSmartDns)) << run->Log();
    run->Kill9();
    EXPECT_NE(topo_->Snapshot(), before);
    EXPECT_TRUE(ResolverRuns());

    // The same folder, started again as the user.
    run->Start();
    ASSERT_TRUE(run->WaitChannel()) << run->Log();
    EXPECT_EQ(topo_->Snapshot(), before);
    EXPECT_FALSE(ResolverRuns());
    std::string log = ReadFile(run->programDir() / "log" / "Cendrow");
    for (const char* line : {"Start-up: removed", "Start-up: put back the DNS configuration an earlier run changed",
                             "Start-up: ended the resolver an earlier run left"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    run->Ask(NSCMD_QUIT);
    EXPECT_EQ(run->WaitExit(60), 0) << run->Log();
    EXPECT_EQ(topo_->Snapshot(), before);
}

TEST_F(AppAsUserTest, WithoutCapabilitiesTunnelModesAreRefusedAndBrowserModesWork) {
    auto run = StartAsUser(RunAs::kUserWithoutCaps);
    EXPECT_EQ(StatusField(run->process().pid(), "CapEff"), "0000000000000000");
    EXPECT_NE(run->Log().find("tunnel modes are off: CAP_NET_ADMIN is not in the effective set"), std::string::npos)
        << run->Log();
    std::string before = topo_->Snapshot();
    NSReply added = run->Ask(CMD_SET_CURRENT_PROXY, Node("1080", "5"));
    ASSERT_EQ(added.status, 0);
    EXPECT_EQ(run->Ask(NSCMD_SETPROXY, added.text).status, 0);
    EXPECT_EQ(run->Ask(NSCMD_SETCURRENTPROXYMODE, "0").status, 0);
    const std::string refusal = "proxy modes based on the virtual network card are not available.\nRun \"sudo "
                                "scripts/install-caps.sh PROGRAM_FOLDER\"";
    for (int i = 0; i < 30 && run->Log().find(refusal) == std::string::npos; ++i) {
        run->Ask(NSCMD_CONNECT);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    EXPECT_NE(run->Log().find(refusal), std::string::npos) << run->Log();
    EXPECT_TRUE(run->WaitState("disconnected", 10));
    EXPECT_EQ(topo_->Snapshot(), before);

    ASSERT_TRUE(Connect(*run, Node("1080", "5"), 1)) << run->Log();
    EXPECT_TRUE(topo_->Fetch("http://127.0.0.1:8118"));
    EXPECT_TRUE(Disconnect(*run));
    EXPECT_EQ(topo_->Snapshot(), before);
    run->Ask(NSCMD_QUIT);
    EXPECT_EQ(run->WaitExit(60), 0) << run->Log();
}

TEST_F(AppAsUserTest, UnwritableProgramFolderEndsBeforeWritingAnything) {
    ProgramRun run(topo_->app(), RunAs::kUser);
    // A log folder the user may not write, as a root run may have left it.
    std::filesystem::create_directories(run.programDir() / "log");
    ASSERT_EQ(chown((run.programDir() / "log").c_str(), 0, 0), 0);
    run.Start();
    EXPECT_EQ(run.WaitExit(30), 1) << run.Log();
    EXPECT_NE(run.Log().find("Cendrow cannot write its program folder."), std::string::npos) << run.Log();
    EXPECT_NE(run.Log().find((run.programDir() / "log").string()), std::string::npos) << run.Log();
    for (const char* folder : {"config", "temp", "update"})
        EXPECT_FALSE(std::filesystem::exists(run.programDir() / folder)) << folder;
    EXPECT_TRUE(std::filesystem::is_empty(run.programDir() / "log"));
}

// A helper that refuses or fails makes the DNS step fail: the connect
// undoes itself and reports it, never connected with the old servers.
TEST_F(AppAsUserTest, AFailingHelperFailsTheConnectWhichUndoesItself) {
    auto run = std::make_unique<ProgramRun>(topo_->app(), RunAs::kUser);
    const std::filesystem::path helper = run->programDir() / "cendrow-resolv";
    auto helperExits = [&helper](int status) {
        testsupport::WriteFile(helper, "#!/bin/sh\necho 'stand-in helper says no' >&2\nexit " +
                                           std::to_string(status) + "\n");
        // Owner, mode and capability as install-caps.sh leaves them, so that
        // the start-up check takes it.
        EXPECT_EQ(RunCommand({"chmod", "0750", helper.string()}), 0);
        EXPECT_EQ(RunCommand({"setcap", "cap_dac_override+ep", helper.string()}), 0);
    };
    helperExits(2);
    run->Start();
    ASSERT_TRUE(run->WaitChannel()) << run->Log();
    EXPECT_EQ(run->Log().find("tunnel modes are off"), std::string::npos) << run->Log();
    for (int status : {2, 1}) {
        SCOPED_TRACE(status);
        helperExits(status);
        std::string before = topo_->Snapshot();
        auto count = [&run] {
            std::string log = run->Log();
            size_t n = 0;
            for (size_t at = log.find("Setting the DNS servers failed."); at != std::string::npos;
                 at = log.find("Setting the DNS servers failed.", at + 1))
                ++n;
            return n;
        };
        size_t failures = count();
        ASSERT_TRUE(StartConnect(*run, Node("1080", "5"), 0));
        for (int i = 0; i < 300 && count() == failures; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_GT(count(), failures) << run->Log();
        EXPECT_TRUE(run->WaitState("disconnected", 30));
        EXPECT_EQ(topo_->Snapshot(), before);
        EXPECT_FALSE(std::filesystem::exists(run->programDir() / "config" / "resolv.conf.saved"));
        run->Ask(NSCMD_CLEARPROXIES);
    }
    run->Ask(NSCMD_QUIT);
    EXPECT_EQ(run->WaitExit(60), 0) << run->Log();
}

struct HelperCase {
    const char* name;
    std::vector<std::string> args;
    int status;
};

// The helper run by hand as the user: bad input changes nothing, and what
// it writes is the namespace's resolv.conf alone.
TEST_F(AppAsUserTest, ResolvHelperAsTheUser) {
    ProgramRun run(topo_->app(), RunAs::kUser);
    const std::string helper = (run.programDir() / "cendrow-resolv").string();
    const std::string original = ReadFile(topo_->resolvConf());
    auto call = [&](std::vector<std::string> args) {
        args.insert(args.begin(), helper);
        return run.RunAsUser(args);
    };
    const HelperCase refused[] = {
        {"unknown verb", {"write", "10.0.0.1"}, 2},
        {"four servers", {"set", "10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}, 2},
        {"a line break in an address", {"set", "10.0.0.1\nsearch evil.example"}, 2},
        {"\"nameserver\" in an address", {"set", "nameserver 10.0.0.1"}, 2},
        {"a path for an address", {"set", "/etc/passwd"}, 2},
        {"restore with other servers as ours", {"restore", "--old", "10.0.0.9", "--ours", "10.198.79.1"}, 3},
    };
    for (const HelperCase& c : refused) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(call(c.args), c.status);
        EXPECT_EQ(ReadFile(topo_->resolvConf()), original);
    }
    std::string replaced;
    ASSERT_EQ(run.RunAsUser({helper, "set", "10.198.79.1", "10.198.79.2"}, &replaced), 0);
    EXPECT_EQ(replaced, "10.198.77.2\n");
    EXPECT_EQ(Nameservers(), (std::vector<std::string>{"10.198.79.1", "10.198.79.2"}));
    EXPECT_NE(ReadFile(topo_->resolvConf()).find("options timeout:1 attempts:1\n"), std::string::npos);
    EXPECT_EQ(call({"restore", "--old", "10.198.77.2", "--ours", "10.198.79.1", "10.198.79.2"}), 0);
    EXPECT_EQ(ReadFile(topo_->resolvConf()), original);
    // In the machine's own namespace the tests' host guard stops it before
    // it reads anything (a restore that could not match anyway).
    EXPECT_EQ(RunCommand({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", helper, "restore", "--old",
                          "10.0.0.9", "--ours", "10.0.0.8"}),
              1);
}

}  // namespace
