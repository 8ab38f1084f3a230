#include "tests/e2e/resolver_lab.h"

#include "tests/support/process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "foundation/text_convert.h"
#include "netconfig/dns_manager.h"
#include "platform/resolv_conf.h"

namespace fs = std::filesystem;
using testsupport::NetNamespace;
using testsupport::WriteFile;

namespace resolverlab {

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

bool WaitUntil(const std::function<bool()>& cond, int ms) {
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

std::string ZoneTemplate(const std::string& zone) {
    return "forward-zone:\n    name: \"" + zone + ".\"\n    forward-addr: <@-forward-addr1-@>\n"
           "    forward-addr: <@-forward-addr2-@>\n";
}

void ResolverLab::SetUp() {
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
    WriteFile(prog_ / "unbound/forward-zone/template.lab.conf", ZoneTemplate("domestic.example"));

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

void ResolverLab::TearDown() {
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

std::string ResolverLab::Resolve(const std::string& name) {
    std::string out;
    app_->Exec({"getent", "ahostsv4", name}, &out);
    return out.substr(0, out.find(' '));
}

int ResolverLab::Start() {
    NetNamespace::Scope scope(*app_);
    return ctl_->Start();
}

int ResolverLab::IsRunning() {
    NetNamespace::Scope scope(*app_);
    return ctl_->IsRunning();
}

}  // namespace resolverlab
