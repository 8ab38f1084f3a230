// Adapter discovery and configuration in a namespace the test builds: a veth
// `up0` carrying the default route, the program's TUN device (down, no
// alias, its address left by an earlier run), a TUN of another program with an "OSTREL" alias and the program's
// own address, and a dummy link. Then the TUN's address and the DNS
// servers, and that disconnect, and the start-up after a killed run, leave
// the routes and the resolver configuration exactly as they were.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "foundation/app_paths.h"
#include "foundation/settings.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "netconfig/adapter_choice.h"
#include "netconfig/adapter_config.h"
#include "netconfig/adapter_discovery.h"
#include "netconfig/network_recovery.h"
#include "netconfig/proxy_mode.h"
#include "netconfig/route_table.h"
#include "netconfig/router_mgr.h"
#include "netconfig/unbound_controller.h"
#include "platform/resolv_conf.h"
#include "platform/tun_device.h"
#include "tests/e2e/route_lab.h"
#include "tests/support/net.h"
#include "tests/support/process.h"
#include "tests/support/program_dir.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

using testsupport::NetNamespace;
using testsupport::ProcessGone;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

namespace {

constexpr const char* kOriginalResolvConf = "search lab.example\nnameserver 192.0.2.53\noptions ndots:1\n";

// The lab's links and their state, from inside the namespace.
class DiscoveryLab {
public:
    explicit DiscoveryLab(const std::string& name) : ns_(std::make_unique<NetNamespace>(name)) {
        // IPv4 only: IPv6 link-local routes would come and go with address autoconfiguration.
        for (const char* key : {"net.ipv6.conf.all.disable_ipv6=1", "net.ipv6.conf.default.disable_ipv6=1"})
            ns_->MustExec({"sysctl", "-q", "-w", key});
        Ip({"link", "add", "up0", "type", "veth", "peer", "name", "up0p"});
        Ip({"addr", "add", "192.0.2.2/24", "dev", "up0"});
        Ip({"link", "set", "up0p", "up"});
        Ip({"link", "set", "up0", "up"});
        Ip({"route", "add", "default", "via", "192.0.2.1", "dev", "up0", "metric", "100"});
        // Ours as a disconnect leaves it: down, with its address.
        Ip({"tuntap", "add", "dev", kTunDeviceName, "mode", "tun"});
        Ip({"addr", "add", "10.198.75.60/24", "dev", kTunDeviceName});
        Ip({"tuntap", "add", "dev", "ftun0", "mode", "tun"});
        Ip({"link", "set", "ftun0", "alias", "OSTREL"});
        Ip({"addr", "add", "10.198.75.60/24", "dev", "ftun0"});
        testsupport::AddDummyLink(*ns_, "dum0");
        etc_ = fs::path("/etc/netns") / ns_->name();
        fs::create_directories(etc_);
        WriteFile(etc_ / "resolv.conf", kOriginalResolvConf);
    }
    ~DiscoveryLab() {
        std::error_code ec;
        fs::remove_all(etc_, ec);
    }

    const NetNamespace& ns() const { return *ns_; }
    fs::path resolvConf() const { return etc_ / "resolv.conf"; }
    void Ip(const std::vector<std::string>& args) const {
        std::vector<std::string> argv = {"ip"};
        argv.insert(argv.end(), args.begin(), args.end());
        ns_->MustExec(argv);
    }
    std::string Show(const std::vector<std::string>& args) const {
        std::vector<std::string> argv = {"ip"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string out;
        ns_->Exec(argv, &out);
        return out;
    }
    uint32_t Index(const std::string& dev) const {
        NetNamespace::Scope scope(*ns_);
        return if_nametoindex(dev.c_str());
    }
    Lines Routes() const {
        std::string out = Show({"route", "show", "table", "all"});
        Lines lines;
        size_t pos = 0;
        while (pos < out.size()) {
            size_t end = out.find('\n', pos);
            if (end == std::string::npos) end = out.size();
            if (end > pos) lines.push_back(out.substr(pos, end - pos));
            pos = end + 1;
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }

private:
    std::unique_ptr<NetNamespace> ns_;
    fs::path etc_;
};

// The program folder with the resolver and its templates, when the build laid them out.
bool LayOutResolver(const fs::path& prog) {
    fs::path built = testsupport::BuiltProgramDir() / "unbound";
    std::error_code ec;
    if (!fs::exists(built / kResolverExeName, ec)) return false;
    fs::copy(built, prog / "unbound", fs::copy_options::recursive, ec);
    return !ec;
}

class DiscoveryLabTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs root and iproute2";
        lab_ = std::make_unique<DiscoveryLab>("czt-disc");
        fs::create_directories(prog_ / "config");
        InitAppPaths(prog_ / "cendrow");
        GetSettings()->SetDefaults();
        saved_target_ = ResolvConf_GetTarget();
        saved_backup_ = ResolvConf_GetBackupFile();
        ResolvConf_SetTarget(lab_->resolvConf());
        UseDnsBackupIn(prog_.path());
        routes_before_ = lab_->Routes();
    }
    void TearDown() override {
        if (!lab_) return;
        ResolvConf_SetTarget(saved_target_);
        ResolvConf_SetBackupFile(saved_backup_);
        CUnboundController::ReleaseInstance();
        lab_.reset();
    }
    // Host safety: the routes and the resolver configuration as they were.
    void ExpectUntouched() {
        Lines now = lab_->Routes();
        EXPECT_EQ(now, routes_before_) << routelab::Difference(routes_before_, now);
        EXPECT_EQ(ReadFile(lab_->resolvConf()), kOriginalResolvConf);
        EXPECT_FALSE(ResolvConf_HasBackup());
    }
    bool TunIsUp() { return lab_->Show({"link", "show", kTunDeviceName}).find(",UP") != std::string::npos; }

    std::unique_ptr<DiscoveryLab> lab_;
    TempDir prog_;
    fs::path saved_target_, saved_backup_;
    Lines routes_before_;
};

TEST_F(DiscoveryLabTest, ChoosesTheUplinkAndNamesOnlyOurTun) {
    NetNamespace::Scope scope(lab_->ns());
    std::vector<CNetAdapterInfo> list;
    ASSERT_EQ(EnumNetworkConnections(list), 4);
    std::vector<std::pair<std::wstring, std::wstring>> seen;
    for (const auto& a : list) seen.emplace_back(a.guid, a.description);
    std::sort(seen.begin(), seen.end());
    std::vector<std::pair<std::wstring, std::wstring>> want = {{L"cendrow", L"TAP-Windows Adapter V9"},
                                                               {L"dum0", L"Virtual Ethernet"},
                                                               {L"up0", L"Virtual Ethernet"},
                                                               {L"up0p", L"Virtual Ethernet"}};
    EXPECT_EQ(seen, want) << "lo and the other program's TUN are not listed";

    ASSERT_EQ(DetectNetworkAdapters(), 1);
    const AdapterSettings& a = GetSettings()->adapter;
    EXPECT_EQ(a.local_connection_shortest_r_nexthop, L"192.0.2.1");
    EXPECT_EQ(a.local_connection_shortest_r_ifindex, static_cast<int>(lab_->Index("up0")));
    EXPECT_FALSE(a.local_connection_shortest_r_directhop);
    EXPECT_EQ(a.local_connection_index, static_cast<int>(lab_->Index("up0")));
    EXPECT_EQ(a.local_connection_guid, L"up0");
    EXPECT_EQ(a.local_connection_name, L"up0");
    EXPECT_EQ(a.local_connection_ip, L"192.0.2.2");
    EXPECT_EQ(a.local_connection_mask, L"255.255.255.0");
    EXPECT_EQ(a.local_connection_gateway, L"192.0.2.1");
    EXPECT_EQ(a.local_connection_primary_dns, L"192.0.2.53");
    EXPECT_FALSE(a.local_dns_unset);
    EXPECT_EQ(a.tap_connection_name, L"OSTREL 1");
    EXPECT_EQ(a.tap_connection_guid, L"cendrow");
    EXPECT_EQ(a.tap_connection_index, static_cast<int>(lab_->Index(kTunDeviceName)));
    EXPECT_EQ(a.tap_address, L"10.198.75.60");
    EXPECT_EQ(a.tunnel_gateway, L"10.198.75.61");
    std::string saved = ReadFile(GetSettingsFilePath());
    EXPECT_NE(saved.find("tap_connection_name=OSTREL 1"), std::string::npos) << saved;
    EXPECT_NE(saved.find("local_connection_guid=up0"), std::string::npos) << saved;

    // The other program's TUN keeps its alias and address.
    std::string foreign = lab_->Show({"addr", "show", "ftun0"});
    EXPECT_NE(foreign.find("10.198.75.60/24"), std::string::npos);
    EXPECT_NE(lab_->Show({"-d", "link", "show", "ftun0"}).find("alias OSTREL\n"), std::string::npos);

    // The next run finds ours by its name and renames nothing; the engine
    // finds the device by that name too.
    FoundAdapters again;
    ASSERT_EQ(FindLocalAndTapAdapters(&again), 1);
    EXPECT_EQ(again.tapScore, 1000);
    EXPECT_EQ(again.tapName, L"OSTREL 1");
    EXPECT_EQ(again.tapCount, 1);
    EXPECT_EQ(TunDevice_ResolveName("OSTREL 1"), kTunDeviceName);
    EXPECT_EQ(TunDevice_Find("OSTREL 1"), TunLookup::kFound);
    EXPECT_EQ(TunDevice_Find("OSTREL"), TunLookup::kFound) << "the other program's device, by its alias";
    EXPECT_EQ(MakeTapConnectionName(), L"OSTREL 2");
    EXPECT_EQ(IsConnectionNamed(L"cendrow", L"ostrel 1"), 1);
    EXPECT_EQ(IsConnectionNamed(L"up0", L"OSTREL 1"), 0);
}

TEST_F(DiscoveryLabTest, DefaultRouteThroughAnUnlistedLinkClearsTheLastRunsChoice) {
    NetNamespace::Scope scope(lab_->ns());
    ASSERT_EQ(DetectNetworkAdapters(), 1);
    ASSERT_EQ(GetSettings()->adapter.local_connection_guid, L"up0");
    // A better default route through a link discovery does not list.
    lab_->Ip({"route", "add", "default", "dev", "lo", "metric", "5"});
    ASSERT_EQ(DetectNetworkAdapters(), 1);
    const AdapterSettings& a = GetSettings()->adapter;
    EXPECT_EQ(a.local_connection_shortest_r_ifindex, static_cast<int>(lab_->Index("lo")));
    EXPECT_EQ(a.local_connection_index, static_cast<int>(lab_->Index("lo")));
    for (const std::wstring* field : {&a.local_connection_guid, &a.local_connection_name,
                                      &a.local_connection_primary_dns, &a.local_connection_ip,
                                      &a.local_connection_gateway})
        EXPECT_TRUE(field->empty()) << WideToUtf8String(*field);
    EXPECT_TRUE(a.local_dns_unset);
    lab_->Ip({"route", "del", "default", "dev", "lo", "metric", "5"});
}

TEST_F(DiscoveryLabTest, AddressLinkStateMetricsAndRefusals) {
    lab_->Ip({"addr", "add", "172.31.9.9/24", "dev", kTunDeviceName});
    NetNamespace::Scope scope(lab_->ns());
    ASSERT_EQ(DetectNetworkAdapters(), 1);

    ASSERT_EQ(SetStaticAddress(L"OSTREL 1", 0, 0, L"10.198.75.60", L"255.255.255.0", L"", -1), 1);
    std::wstring address, mask, gateway = L"x";
    ASSERT_EQ(ReadAdapterAddress(L"cendrow", &address, &mask, &gateway), 1);
    EXPECT_EQ(address, L"10.198.75.60");
    EXPECT_EQ(mask, L"255.255.255.0");
    EXPECT_EQ(gateway, L"");
    std::string tun = lab_->Show({"addr", "show", kTunDeviceName});
    EXPECT_EQ(tun.find("172.31.9.9"), std::string::npos) << "the only IPv4 address: " << tun;
    EXPECT_TRUE(TunIsUp());
    EXPECT_EQ(SetStaticAddress(L"OSTREL 1", 0, 0, L"10.198.75.60", L"255.255.255.0", L"", -1), 1) << "again";
    EXPECT_EQ(ReadAdapterAddress(L"nosuch0", &address, &mask, &gateway), 0);

    struct {
        const wchar_t *name, *address, *mask;
    } refusedAddresses[] = {
        {L"up0", L"10.198.75.60", L"255.255.255.0"},      // not ours
        {L"OSTREL", L"10.198.75.60", L"255.255.255.0"},   // the other program's
        {L"OSTREL 1", L"10.198.75.60", L"255.0.255.0"},   // not a contiguous mask
        {L"OSTREL 1", L"010.198.75.60", L"255.255.255.0"},  // octal form
        {L"OSTREL 1", L"10.198.75.60", L"0.0.0.0"},
        {L"", L"10.198.75.60", L"255.255.255.0"},
    };
    for (const auto& r : refusedAddresses)
        EXPECT_EQ(SetStaticAddress(r.name, 0, 0, r.address, r.mask, L"", -1), 0) << WideToUtf8String(r.name);
    struct {
        const wchar_t *from, *to;
    } refusedNames[] = {{L"OSTREL 1", L"up0"},   {L"OSTREL 1", L"ostrel"}, {L"OSTREL 1", L""},
                        {L"OSTREL 1", L"a\nb"},  {L"OSTREL", L"OSTREL 9"}, {L"up0", L"OSTREL 9"},
                        {L"nosuch", L"OSTREL 9"}};
    for (const auto& r : refusedNames)
        EXPECT_EQ(RenameConnection(r.from, r.to), 0) << WideToUtf8String(r.from) << " -> " << WideToUtf8String(r.to);
    EXPECT_EQ(RenameConnection(L"ostrel 1", L"OSTREL 1"), 1) << "its own name";
    EXPECT_EQ(SetAddressDhcp(L"up0"), 0);
    std::string foreign = lab_->Show({"addr", "show", "ftun0"});
    EXPECT_NE(foreign.find("10.198.75.60/24"), std::string::npos);
    EXPECT_NE(lab_->Show({"addr", "show", "up0"}).find("192.0.2.2/24"), std::string::npos);

    // Link state follows the kernel's operational state.
    uint32_t up0 = lab_->Index("up0");
    EXPECT_EQ(IsInterfaceDown(up0), 0);
    lab_->Ip({"link", "set", "up0", "down"});
    EXPECT_EQ(IsInterfaceDown(up0), 1);
    lab_->Ip({"link", "set", "up0", "up"});
    EXPECT_EQ(IsInterfaceDown(0x7ffffff0), 0);

    // Metrics fill the route manager's table.
    uint32_t metric = 0;
    EXPECT_EQ(SetInterfaceMetricV4(L"up0", 25), 1);
    ASSERT_TRUE(GetInterfaceMetric(up0, &metric));
    EXPECT_EQ(metric, 25u);
    EXPECT_EQ(SetInterfaceMetricV4(L"OSTREL 1", 1), 1);
    EXPECT_EQ(SetInterfaceMetricV6(L"OSTREL 1", 1), 1);
    EXPECT_EQ(SetInterfaceMetricV4(L"nosuch", 1), 0);

    // Back to no address of ours.
    EXPECT_EQ(SetAddressDhcp(L"OSTREL 1"), 1);
    EXPECT_EQ(lab_->Show({"addr", "show", kTunDeviceName}).find("10.198.75.60"), std::string::npos);
}

TEST_F(DiscoveryLabTest, DnsServersOfTheTunnelAndDisconnectLeaveEverythingAsItWas) {
    NetNamespace::Scope scope(lab_->ns());
    ASSERT_EQ(DetectNetworkAdapters(), 1);
    ASSERT_EQ(SetStaticAddress(L"OSTREL 1", 0, 0, L"10.198.75.60", L"255.255.255.0", L"", -1), 1);

    // Refused before anything changes.
    EXPECT_EQ(SetAdapterDnsServers(L"OSTREL 1", L"1.2.3.4\ninclude: x", L""), 0);
    EXPECT_EQ(SetAdapterDnsServers(L"OSTREL 1", L"8.8.8.8", L"8.8.4"), 0);
    EXPECT_EQ(SetAdapterDnsServers(L"OSTREL 1", L"", L""), 0);
    EXPECT_EQ(SetAdapterDnsServers(L"up0", L"8.8.8.8", L""), 0) << "DNS changes only through our TUN";
    EXPECT_EQ(SetPrimaryDnsServer(L"OSTREL 1", L""), 0);
    EXPECT_EQ(ReadFile(lab_->resolvConf()), kOriginalResolvConf);
    EXPECT_FALSE(ResolvConf_HasBackup());

    ASSERT_EQ(SetAdapterDnsServers(L"OSTREL 1", L"208.67.222.222", L"208.67.220.220"), 1);
    EXPECT_EQ(ResolvConf_CurrentServers(), (std::vector<std::string>{"208.67.222.222", "208.67.220.220"}));
    std::string written = ReadFile(lab_->resolvConf());
    EXPECT_NE(written.find("search lab.example\n"), std::string::npos);
    EXPECT_NE(written.find("options ndots:1\n"), std::string::npos);
    EXPECT_EQ(CWMILib::GetInstance()->Connect(L"ROOT\\CIMV2"), 0);
    EXPECT_EQ(CWMILib::GetInstance()->IsDnsServerSet(L"208.67.222.222", L"208.67.220.220"), 1);
    EXPECT_EQ(CWMILib::GetInstance()->IsDnsServerSet(L"208.67.222.222", nullptr), 1);
    EXPECT_EQ(CWMILib::GetInstance()->IsDnsServerSet(L"8.8.8.8", nullptr), 0);

    // Discovery meanwhile reports the machine's own servers, from the backup.
    ASSERT_EQ(DetectNetworkAdapters(), 1);
    EXPECT_EQ(GetSettings()->adapter.local_connection_primary_dns, L"192.0.2.53");
    // A second change keeps the first original.
    ASSERT_EQ(SetPrimaryDnsServer(L"OSTREL 1", L"127.0.0.1"), 1);
    EXPECT_EQ(ResolvConf_CurrentServers(), std::vector<std::string>{"127.0.0.1"});
    ASSERT_EQ(AddSecondaryDnsServer(L"OSTREL 1", L"8.8.4.4"), 1);
    EXPECT_EQ(ResolvConf_CurrentServers(), (std::vector<std::string>{"127.0.0.1", "8.8.4.4"}));

    // Disconnect: DNS back, the TUN down with its address, no route through it.
    EXPECT_EQ(UndoTunnelConfiguration(), 1);
    EXPECT_FALSE(TunIsUp());
    EXPECT_NE(lab_->Show({"addr", "show", kTunDeviceName}).find("10.198.75.60/24"), std::string::npos);
    ExpectUntouched();
}

// Runs discovery, the TUN's address, DNS, a resolver and routes inside the
// lab named by CZT_DISC_LAB with the program folder CZT_DISC_PROG, says so
// on stdout and waits to be killed.
TEST(DiscoveryLabHelper, DISABLED_ConnectAndWait) {
    const char* name = std::getenv("CZT_DISC_LAB");
    const char* prog = std::getenv("CZT_DISC_PROG");
    ASSERT_TRUE(name && prog);
    static NetNamespace* lab = new NetNamespace(name, NetNamespace::Adopt{});
    NetNamespace::Scope scope(*lab);
    InitAppPaths(fs::path(prog) / "cendrow");
    ResolvConf_SetTarget(fs::path("/etc/netns") / name / "resolv.conf");
    RecoverNetworkAtStartUp(prog);
    ASSERT_EQ(DetectNetworkAdapters(), 1);
    const AdapterSettings& a = GetSettings()->adapter;
    ASSERT_EQ(SetStaticAddress(a.tap_connection_name, 0, 0, a.tap_address, L"255.255.255.0", L"", -1), 1);
    ASSERT_EQ(SetInterfaceMetricV4(a.tap_connection_name, 1), 1);
    // The engine holds the device open while connected, which gives it its carrier.
    ASSERT_GE(TunDevice_Open(WideToUtf8String(a.tap_connection_name)), 0);
    CUnboundController* resolver = CUnboundController::GetInstance();
    bool withResolver = std::getenv("CZT_DISC_RESOLVER") != nullptr;
    if (withResolver) {
        ASSERT_EQ(resolver->SetBaseDirectory(Utf8ToWideString(prog)), 1);
        ASSERT_EQ(resolver->Start(), 1);
    }
    ASSERT_EQ(SetAdapterDnsServers(a.tap_connection_name, withResolver ? L"127.0.0.1" : L"8.8.8.8", L""), 1);
    static COstrelRouteMgr* routes = new COstrelRouteMgr;
    ASSERT_EQ(routes->Init(RouteGateway{"192.0.2.1", static_cast<uint32_t>(a.local_connection_index), 0},
                           RouteGateway{"10.198.75.61", static_cast<uint32_t>(a.tap_connection_index), 0}),
              1);
    routes->AddLocalRoute(L"203.0.113.10", L"255.255.255.255", 1);
    routes->AddTunnelRoute(L"0.0.0.0", L"128.0.0.0", 1);
    routes->AddTunnelRoute(L"128.0.0.0", L"128.0.0.0", 1);
    std::printf("connected %zu\n", routes->GetRouteCount());
    std::fflush(stdout);
    for (;;) pause();
}

TEST_F(DiscoveryLabTest, StartUpAfterAKilledRunPutsEverythingBack) {
    bool withResolver = LayOutResolver(prog_.path());
    TempDir logs;
    std::string log = (logs / "helper.log").string();
    testsupport::ScopedEnv labName("CZT_DISC_LAB", lab_->ns().name().c_str());
    testsupport::ScopedEnv progDir("CZT_DISC_PROG", prog_.path().c_str());
    std::unique_ptr<testsupport::ScopedEnv> resolver;
    if (withResolver) resolver = std::make_unique<testsupport::ScopedEnv>("CZT_DISC_RESOLVER", "1");
    testsupport::ChildProcess helper({"/proc/self/exe", "--gtest_filter=DiscoveryLabHelper.DISABLED_ConnectAndWait",
                                      "--gtest_also_run_disabled_tests"},
                                     log);
    for (int i = 0; i < 150 && ReadFile(log).find("connected 3") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_NE(ReadFile(log).find("connected 3"), std::string::npos) << ReadFile(log);
    pid_t left = -1;
    if (withResolver) left = std::atoi(ReadFile(prog_ / "unbound/unbound.state").c_str());
    EXPECT_NE(lab_->Routes(), routes_before_);
    EXPECT_NE(ReadFile(lab_->resolvConf()), kOriginalResolvConf);
    EXPECT_TRUE(TunIsUp());
    // The helper alone: its resolver lives on, as after a crash.
    kill(helper.pid(), SIGKILL);
    helper.Wait(std::chrono::seconds(10));
    EXPECT_NE(ReadFile(lab_->resolvConf()), kOriginalResolvConf) << "a killed process puts nothing back";

    // The next start, before discovery.
    NetNamespace::Scope scope(lab_->ns());
    StartUpRecovery r = RecoverNetworkAtStartUp(prog_.path());
    EXPECT_EQ(r.routesRemoved, 3);
    EXPECT_EQ(r.dns, ResolvConfResult::kOk);
    EXPECT_EQ(r.tunDown, 1);
    if (withResolver) {
        EXPECT_EQ(r.resolverEnded, 1);
        ASSERT_GT(left, 1);
        for (int i = 0; i < 100 && !ProcessGone(left); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(ProcessGone(left));
    }
    ExpectUntouched();
    // A second start finds nothing left to do.
    StartUpRecovery again = RecoverNetworkAtStartUp(prog_.path());
    EXPECT_EQ(again.routesRemoved, 0);
    EXPECT_EQ(again.dns, ResolvConfResult::kNothingToDo);
    EXPECT_EQ(again.resolverEnded, 0);
}

TEST_F(DiscoveryLabTest, ResolverThatFailsToStartLeavesDnsUntouched) {
    if (!LayOutResolver(prog_.path())) GTEST_SKIP() << "the build laid out no resolver";
    NetNamespace::Scope scope(lab_->ns());
    ASSERT_EQ(DetectNetworkAdapters(), 1);
    // Someone else's socket on 127.0.0.1:53: the resolver cannot serve.
    lab_->Ip({"link", "set", "lo", "up"});
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(53);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    CUnboundController* resolver = CUnboundController::GetInstance();
    ASSERT_EQ(resolver->SetBaseDirectory(PathToWide(prog_.path())), 1);
    // Connect: the resolver first; DNS only once it serves.
    if (resolver->Start() == 1) SetAdapterDnsServers(L"OSTREL 1", L"127.0.0.1", L"");
    close(fd);
    EXPECT_EQ(resolver->GetChildPid(), -1);
    // The failed connect's clean-up.
    EXPECT_EQ(UndoTunnelConfiguration(), 1);
    ExpectUntouched();
}

}  // namespace
