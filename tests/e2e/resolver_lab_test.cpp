// The local resolver against real DNS servers: an "app" namespace where the
// program runs, and a "dns" namespace, linked only to it, where two unbound
// servers stand in for the remote and the domestic DNS services on the
// presets' own addresses. Both answer the same names with different
// addresses and log every query, so the answers show which one was asked.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "foundation/text_convert.h"
#include "netconfig/dns_manager.h"
#include "netconfig/unbound_controller.h"
#include "platform/resolv_conf.h"
#include "tests/support/net.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

using testsupport::ChildProcess;
using testsupport::NetNamespace;
using testsupport::ProcessGone;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

constexpr const char* kRemoteAnswer = "198.51.100.1";
constexpr const char* kDomesticAnswer = "198.51.100.2";
constexpr const char* kOriginalResolvConf = "search lab.example\nnameserver 192.0.2.53\noptions ndots:1\n";

// The build's program folder: beside the tests folder of this executable
// (<build>/tests/e2e/e2e_tests).
fs::path ProgramDir() {
    if (const char* s = std::getenv("CENDROW_PROGRAM_DIR")) return s;
    std::error_code ec;
    return fs::read_symlink("/proc/self/exe", ec).parent_path().parent_path().parent_path() / "program";
}
fs::path SourceDir() {
    const char* s = std::getenv("CENDROW_SOURCE_DIR");
    return s ? fs::path(s) : fs::path(".");
}

std::string SortedHostRoutes() {
    std::string out;
    testsupport::RunCommand({"ip", "route", "show", "table", "all"}, &out);
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        lines.push_back(out.substr(pos, end - pos));
        pos = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    std::string joined;
    for (const auto& l : lines) joined += l + "\n";
    return joined;
}

bool WaitUntil(const std::function<bool()>& cond, int ms = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return cond();
}

// One A query over UDP from the calling thread's namespace; the first
// answer's address, or empty.
std::string QueryA(const std::string& server, const std::string& name) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(53);
    inet_pton(AF_INET, server.c_str(), &to.sin_addr);
    std::string q = {'\x12', '\x34', '\x01', '\x00', 0, 1, 0, 0, 0, 0, 0, 0};
    size_t start = 0;
    while (start <= name.size()) {
        size_t dot = name.find('.', start);
        if (dot == std::string::npos) dot = name.size();
        if (dot > start) {
            q += static_cast<char>(dot - start);
            q += name.substr(start, dot - start);
        }
        start = dot + 1;
    }
    q += std::string("\0\0\x01\0\x01", 5);
    std::string result;
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
        send(fd, q.data(), q.size(), 0) > 0) {
        pollfd p{fd, POLLIN, 0};
        unsigned char r[512];
        ssize_t n = poll(&p, 1, 1000) > 0 ? recv(fd, r, sizeof r, 0) : -1;
        // The answer's address: the last four bytes of a reply with one A record.
        if (n >= static_cast<ssize_t>(q.size()) + 16 && r[0] == 0x12 && r[1] == 0x34 &&
            ((r[6] << 8) | r[7]) > 0) {
            char text[INET_ADDRSTRLEN];
            inet_ntop(AF_INET, r + n - 4, text, sizeof text);
            result = text;
        }
    }
    close(fd);
    return result;
}

// An unbound server for the lab, answering the lab's names with `answer` on
// the given addresses and logging its queries.
std::string ServerConf(const fs::path& dir, const std::string& name,
                       const std::vector<std::string>& addresses, const std::string& answer) {
    std::string c = "server:\n";
    c += "    directory: \"" + dir.string() + "\"\n    username: \"\"\n    chroot: \"\"\n    pidfile: \"\"\n";
    c += "    do-daemonize: no\n    use-syslog: no\n    logfile: \"" + (dir / (name + ".log")).string() +
         "\"\n";
    c += "    log-queries: yes\n    verbosity: 1\n    do-ip6: no\n    so-reuseport: no\n";
    c += "    module-config: \"iterator\"\n    access-control: 0.0.0.0/0 allow\n    port: 53\n";
    for (const std::string& a : addresses) c += "    interface: " + a + "\n";
    c += "    local-zone: \"example.\" static\n";
    for (const char* host : {"www.domestic.example.", "www.other.example.", "ready.example."})
        c += "    local-data: \"" + std::string(host) + " A " + answer + "\"\n";
    fs::path file = dir / (name + ".conf");
    WriteFile(file, c);
    return file.string();
}

class ResolverLab : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs root and iproute2";
        resolver_ = ProgramDir() / "unbound" / kResolverExeName;
        if (!fs::exists(resolver_)) GTEST_SKIP() << "the build laid no resolver in " << resolver_;
        routes_before_ = SortedHostRoutes();

        app_ = std::make_unique<NetNamespace>("app");
        dns_ = std::make_unique<NetNamespace>("dns");
        testsupport::LinkNamespaces(*app_, "to-dns", "10.53.0.2/24", *dns_, "to-app", "10.53.0.1/24");
        app_->MustExec({"ip", "route", "add", "default", "via", "10.53.0.1"});
        for (const char* a : {"8.8.8.8/32", "8.8.4.4/32", "119.29.29.29/32", "119.28.28.28/32"})
            dns_->MustExec({"ip", "addr", "add", a, "dev", "lo"});

        // The program folder: shipped templates, the build's resolver copy, a lab template.
        fs::copy(SourceDir() / "resources/unbound", prog_ / "unbound", fs::copy_options::recursive);
        fs::copy_file(resolver_, prog_ / "unbound" / kResolverExeName);
        fs::create_directories(prog_ / "config");
        WriteFile(prog_ / "unbound/forward-zone/template.lab.conf",
                  "forward-zone:\n    name: \"domestic.example.\"\n    forward-addr: <@-forward-addr1-@>\n"
                  "    forward-addr: <@-forward-addr2-@>\n");

        servers_dir_ = prog_ / "servers";
        fs::create_directories(servers_dir_);
        remote_ = dns_->Spawn({resolver_.string(), "-c",
                               ServerConf(servers_dir_, "remote", {"8.8.8.8", "8.8.4.4"}, kRemoteAnswer)});
        domestic_ = dns_->Spawn(
            {resolver_.string(), "-c",
             ServerConf(servers_dir_, "domestic", {"119.29.29.29", "119.28.28.28"}, kDomesticAnswer)});
        {
            NetNamespace::Scope scope(*app_);
            // Readiness asks a name of its own, so that the logs show only the resolver's queries.
            ASSERT_TRUE(WaitUntil([] { return QueryA("8.8.8.8", "ready.example") == kRemoteAnswer; }));
            ASSERT_TRUE(WaitUntil([] { return QueryA("119.29.29.29", "ready.example") == kDomesticAnswer; }));
        }

        // The app namespace's resolver configuration, which `ip netns exec` binds over /etc/resolv.conf.
        netns_etc_ = fs::path("/etc/netns") / app_->name();
        fs::create_directories(netns_etc_);
        WriteFile(netns_etc_ / "resolv.conf", kOriginalResolvConf);
        saved_target_ = ResolvConf_GetTarget();
        saved_backup_ = ResolvConf_GetBackupFile();
        ResolvConf_SetTarget(netns_etc_ / "resolv.conf");
        ResolvConf_SetBackupFile(prog_ / "config/resolv.conf.saved");

        CUnboundController::ReleaseInstance();
        CDNSManager::ReleaseInstance();
        ctl_ = CUnboundController::GetInstance();
        ASSERT_EQ(ctl_->SetBaseDirectory(PathToWide(prog_.path())), 1);
        // The forward addresses as the main window hands them over: the
        // DNS manager's remote and domestic smart-DNS presets.
        CDNSManager* dns = CDNSManager::GetInstance();
        DnsPreset* remote = dns->GetDefaultSmartPreset();
        DnsPreset* domestic = dns->GetNativeSmartPreset();
        ASSERT_EQ(ctl_->SetForwardAddresses(remote->primary, remote->secondary, domestic->primary,
                                            domestic->secondary),
                  1);
        ASSERT_EQ(ctl_->SetForwardZoneTemplate(L"template.lab.conf"), 1);
    }

    void TearDown() override {
        CUnboundController::ReleaseInstance();
        CDNSManager::ReleaseInstance();
        if (!saved_target_.empty()) {
            ResolvConf_SetTarget(saved_target_);
            ResolvConf_SetBackupFile(saved_backup_);
        }
        remote_.Stop();
        domestic_.Stop();
        std::error_code ec;
        if (!netns_etc_.empty()) fs::remove_all(netns_etc_, ec);
        dns_.reset();
        app_.reset();
        if (!routes_before_.empty()) {
            EXPECT_EQ(SortedHostRoutes(), routes_before_);
        }
    }

    // getent in the app namespace, through its resolv.conf.
    std::string Resolve(const std::string& name) {
        std::string out;
        app_->Exec({"getent", "ahostsv4", name}, &out);
        return out.substr(0, out.find(' '));
    }

    int Start() {
        NetNamespace::Scope scope(*app_);
        return ctl_->Start();
    }
    int IsRunning() {
        NetNamespace::Scope scope(*app_);
        return ctl_->IsRunning();
    }

    fs::path resolver_;
    std::string routes_before_;
    std::unique_ptr<NetNamespace> app_, dns_;
    TempDir prog_;
    fs::path servers_dir_, netns_etc_, saved_target_, saved_backup_;
    ChildProcess remote_, domestic_;
    CUnboundController* ctl_ = nullptr;
};

TEST_F(ResolverLab, ForwardsListedNamesToTheDomesticServiceAndTheRestToTheRemoteOne) {
    ASSERT_EQ(Start(), 1);
    pid_t pid = ctl_->GetChildPid();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(IsRunning(), 1);
    ASSERT_EQ(ResolvConf_SetServers({WideToUtf8String(CDNSManager::GetInstance()->FindPreset(0)->primary)}),
              ResolvConfResult::kOk);

    EXPECT_EQ(Resolve("www.domestic.example"), kDomesticAnswer);
    EXPECT_EQ(Resolve("www.other.example"), kRemoteAnswer);
    // Only the domestic server saw the listed name, only the remote one the other.
    std::string domesticLog = ReadFile(servers_dir_ / "domestic.log");
    std::string remoteLog = ReadFile(servers_dir_ / "remote.log");
    EXPECT_NE(domesticLog.find("www.domestic.example."), std::string::npos);
    EXPECT_EQ(domesticLog.find("www.other.example."), std::string::npos);
    EXPECT_NE(remoteLog.find("www.other.example."), std::string::npos);
    EXPECT_EQ(remoteLog.find("www.domestic.example."), std::string::npos);

    // Disconnect: the resolver is ended and reaped, the namespace's file is back.
    EXPECT_EQ(ctl_->KillAll(), 1);
    EXPECT_EQ(ctl_->GetChildPid(), -1);
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);  // already reaped: no such child
    EXPECT_TRUE(ProcessGone(pid));
    EXPECT_EQ(IsRunning(), 0);
    EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kOk);
    EXPECT_EQ(ReadFile(netns_etc_ / "resolv.conf"), kOriginalResolvConf);
    EXPECT_FALSE(fs::exists(prog_ / "unbound/unbound.state"));
}

TEST_F(ResolverLab, RegeneratesAfterAChangeAndReusesOtherwise) {
    ASSERT_EQ(Start(), 1);
    std::string service = ReadFile(prog_ / "unbound/service.conf");
    // A second start reuses the files and ends the first resolver.
    pid_t first = ctl_->GetChildPid();
    ASSERT_EQ(Start(), 1);
    EXPECT_NE(ctl_->GetChildPid(), first);
    EXPECT_TRUE(ProcessGone(first));
    EXPECT_EQ(ReadFile(prog_ / "unbound/service.conf"), service);

    // Swapped services: the listed name now goes to the "remote" server.
    ASSERT_EQ(ctl_->SetForwardAddresses(L"119.29.29.29", L"", L"8.8.8.8", L"8.8.4.4"), 1);
    ASSERT_EQ(Start(), 1);
    ASSERT_EQ(ResolvConf_SetServers({"127.0.0.1"}), ResolvConfResult::kOk);
    EXPECT_EQ(Resolve("www.domestic.example"), kRemoteAnswer);
    EXPECT_EQ(Resolve("www.other.example"), kDomesticAnswer);
    EXPECT_NE(ReadFile(prog_ / "unbound/service.conf"), service);
    EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kOk);
}

// Nothing but our own resolver is ever signalled, and a start that cannot
// serve 127.0.0.1:53 leaves nothing running.
TEST_F(ResolverLab, ForeignProcessesSurviveAndABusyPortFailsCleanly) {
    // A decoy that carries the resolver's name.
    fs::create_directories(prog_ / "decoy");
    fs::copy_file("/bin/sleep", prog_ / "decoy" / kResolverExeName);
    ChildProcess decoy = app_->Spawn({(prog_ / "decoy" / kResolverExeName).string(), "600"});
    // Someone else's DNS server on 127.0.0.1:53, answering as ours would.
    fs::path foreignDir = prog_ / "foreign";
    fs::create_directories(foreignDir);
    ChildProcess foreign = app_->Spawn(
        {resolver_.string(), "-c", ServerConf(foreignDir, "foreign", {"127.0.0.1"}, kRemoteAnswer)});
    {
        NetNamespace::Scope scope(*app_);
        ASSERT_TRUE(WaitUntil([] { return QueryA("127.0.0.1", "ready.example") == kRemoteAnswer; }));
    }

    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(ctl_->GetChildPid(), -1);
    EXPECT_EQ(IsRunning(), 0);
    EXPECT_FALSE(fs::exists(prog_ / "unbound/unbound.state"));
    EXPECT_TRUE(foreign.running());
    EXPECT_TRUE(decoy.running());
    foreign.Stop();

    // A bare socket on the port: the same.
    {
        NetNamespace::Scope scope(*app_);
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(53);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(ctl_->Start(), 0);
        EXPECT_EQ(ctl_->GetChildPid(), -1);
        close(fd);
    }

    // With the port free it starts; stopping it leaves the decoy alone.
    ASSERT_EQ(Start(), 1);
    EXPECT_EQ(ctl_->KillAll(), 1);
    EXPECT_TRUE(decoy.running());
    CUnboundController::ReleaseInstance();
    ctl_ = nullptr;
    EXPECT_TRUE(decoy.running());
}

// A run that dies with its resolver running and its DNS servers in place:
// the next start ends that resolver by its recorded id and puts DNS back.
TEST_F(ResolverLab, TheNextStartCleansUpAfterAKilledRun) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t helper;
    {
        NetNamespace::Scope scope(*app_);
        helper = fork();
        ASSERT_GE(helper, 0);
        if (helper == 0) {
            close(ready[0]);
            bool ok = ctl_->Start() == 1 && ResolvConf_SetServers({"127.0.0.1"}) == ResolvConfResult::kOk;
            char c = ok ? '1' : '0';
            if (write(ready[1], &c, 1) != 1) _exit(1);
            pause();
            _exit(0);
        }
    }
    close(ready[1]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    ASSERT_EQ(c, '1');
    std::string state = ReadFile(prog_ / "unbound/unbound.state");
    pid_t left = static_cast<pid_t>(std::atoi(state.c_str()));
    ASSERT_GT(left, 1);
    kill(helper, SIGKILL);
    waitpid(helper, nullptr, 0);
    EXPECT_FALSE(ProcessGone(left));
    EXPECT_EQ(Resolve("www.other.example"), kRemoteAnswer);  // the orphan still serves

    // The next run's start-up.
    EXPECT_EQ(CUnboundController::EndLeftoverResolver(prog_ / "unbound"), 1);
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(left); }));
    EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kOk);
    EXPECT_EQ(ReadFile(netns_etc_ / "resolv.conf"), kOriginalResolvConf);
    EXPECT_FALSE(fs::exists(prog_ / "unbound/unbound.state"));
    EXPECT_EQ(CUnboundController::EndLeftoverResolver(prog_ / "unbound"), 0);
}

}  // namespace
