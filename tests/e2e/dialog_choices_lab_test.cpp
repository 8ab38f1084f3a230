// What the mode, route, settings and smart-DNS dialogs save is what the next
// start uses: saved through the dialogs' own logic, read back by fresh
// managers and applied in the route lab or the resolver lab.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dialogs/base/additional_route_form.h"
#include "dialogs/base/proxy_mode_form.h"
#include "dialogs/base/settings_form.h"
#include "foundation/app_paths.h"
#include "foundation/message_box.h"
#include "foundation/text_convert.h"
#include "netconfig/additional_route.h"
#include "netconfig/dns_manager.h"
#include "netconfig/proxy_mode.h"
#include "netconfig/router_mgr.h"
#include "platform/resolv_conf.h"
#include "tests/e2e/resolver_lab.h"
#include "tests/e2e/route_lab.h"
#include "tests/support/in_child.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using routelab::RouteLab;
using testsupport::NetNamespace;
using Lines = std::vector<std::string>;

namespace {

// A program folder of its own and message boxes that fail the test.
class ChoicesInRouteLab : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs root and iproute2";
        lab_ = std::make_unique<RouteLab>("czt-dlg");
        InitAppPaths(dir_.path() / "cendrow");
        CreateAppFolders();
        fs::create_directories(GetAppDir() / "rules");
        CProxyModeMgr::ReleaseInstance();
        CAdditionalRouteMgr::ReleaseInstance();
        CProxyModeMgr::GetInstance()->LoadModes(GetAppDir(), 1);
        SetMessageBoxSink([](const std::wstring& text, const std::wstring&, unsigned) {
            ADD_FAILURE() << "box: " << WideToUtf8String(text);
            return IDOK;
        });
    }
    void TearDown() override {
        SetMessageBoxSink(nullptr);
        CProxyModeMgr::ReleaseInstance();
        CAdditionalRouteMgr::ReleaseInstance();
    }
    int InitIn(CRouterMgr& mgr) {
        NetNamespace::Scope scope(lab_->ns());
        return mgr.Init(RouteGateway{"192.0.2.1", lab_->up0(), 0}, RouteGateway{"10.198.75.61", lab_->tun(), 0});
    }
    Lines Ours() const {
        Lines ours = lab_->Routes({"proto", "157"});
        std::sort(ours.begin(), ours.end());
        return ours;
    }

    testsupport::TempDir dir_{"cendrow-dialog-lab"};
    std::unique_ptr<RouteLab> lab_;
};

TEST_F(ChoicesInRouteLab, SavedModesAreReadAndRoutedByTheNextStart) {
    for (const auto& [name, action] : {std::pair{L"Lab direct", 0}, std::pair{L"Lab proxify", 1}}) {
        ProxyModeForm form;
        form.nameEn = name;
        form.rules = L"10.0.0.0/8\r\n192.168.1.0/24\r\n";
        form.actionRow = action;
        ASSERT_EQ(CDialogAddNewProxyModeCore(nullptr).Save(form), 1);
    }
    CProxyModeMgr::ReleaseInstance();
    ASSERT_EQ(CProxyModeMgr::GetInstance()->LoadModes(GetAppDir(), 1), 5);  // the built-in three and ours

    const struct {
        const wchar_t* name;
        Lines routes;
        const char* ruleVia;   // 10.1.2.3 and 192.168.1.9
        const char* otherVia;  // 198.51.100.9
    } cases[] = {
        {L"Lab direct",
         {"0.0.0.0/1 via 10.198.75.61 dev ztun0 metric 2", "10.0.0.0/8 via 192.0.2.1 dev up0 metric 101",
          "128.0.0.0/1 via 10.198.75.61 dev ztun0 metric 2", "192.168.1.0/24 via 192.0.2.1 dev up0 metric 101",
          "default via 10.198.75.61 dev ztun0 metric 2"},
         "via 192.0.2.1 dev up0",
         "via 10.198.75.61 dev ztun0"},
        {L"Lab proxify",
         {"10.0.0.0/8 via 10.198.75.61 dev ztun0 metric 2", "192.168.1.0/24 via 10.198.75.61 dev ztun0 metric 2"},
         "via 10.198.75.61 dev ztun0",
         "via 192.0.2.1 dev up0"},
    };
    for (const auto& c : cases) {
        CProxyMode* mode = nullptr;
        for (const auto& m : CProxyModeMgr::GetInstance()->GetModes())
            if (m->nameEn == c.name) mode = m.get();
        ASSERT_NE(mode, nullptr) << WideToUtf8String(c.name);
        // As connect applies a mode.
        COstrelRouteMgr mgr;
        ASSERT_EQ(InitIn(mgr), 1);
        if (mode->routeAll) {
            for (const auto& [dest, mask] : {std::pair{L"0.0.0.0", L"0.0.0.0"}, std::pair{L"0.0.0.0", L"128.0.0.0"},
                                             std::pair{L"128.0.0.0", L"128.0.0.0"}})
                ASSERT_EQ(mgr.AddTunnelRoute(dest, mask, 1), 1);
        }
        EXPECT_EQ(mgr.AddModeRoutes(mode->rules, mode->rulesDirect == 0), 2);
        Lines want = c.routes;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(Ours(), want) << WideToUtf8String(c.name);
        for (const char* address : {"10.1.2.3", "192.168.1.9"})
            EXPECT_NE(lab_->RouteGet(address).find(c.ruleVia), std::string::npos) << address;
        EXPECT_NE(lab_->RouteGet("198.51.100.9").find(c.otherVia), std::string::npos);
        EXPECT_EQ(mgr.RemoveAllRoutes(), 1);
    }
}

TEST_F(ChoicesInRouteLab, SavedAdditionalRoutesBecomeHostRoutes) {
    // An address, and a name the hosts file of the lab answers: the lookup
    // runs where that file is /etc/hosts.
    const fs::path hosts = dir_ / "hosts";
    testsupport::WriteFile(hosts, "127.0.0.1 localhost\n203.0.113.77 tunnelled.lab.test\n");
    {
        CDialogAdditionalRouteMgrCore core;
        ASSERT_EQ(core.BeginAdd(L"198.51.100.20", 0), 1);
        ASSERT_EQ(core.ResolveAndAdd(), nullptr);
    }
    testsupport::InChild([&]() -> std::string {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0)
            return "no private /etc/hosts";
        CDialogAdditionalRouteMgrCore core;
        if (!core.BeginAdd(L"tunnelled.lab.test", 1)) return "refused";
        const char* message = core.ResolveAndAdd();
        return message ? message : "";
    });

    // The next start.
    CAdditionalRouteMgr::ReleaseInstance();
    ASSERT_EQ(CAdditionalRouteMgr::GetInstance()->Load(), 2);
    COstrelRouteMgr mgr;
    ASSERT_EQ(InitIn(mgr), 1);
    ASSERT_EQ(mgr.AddTunnelRoute(L"0.0.0.0", L"0.0.0.0", 1), 1);
    for (const auto& [address, action] : CAdditionalRouteMgr::GetInstance()->GetRoutes()) {
        const int added = action == AdditionalRouteDirect ? mgr.AddLocalRoute(address, L"255.255.255.255", 1)
                                                          : mgr.AddTunnelRoute(address, L"255.255.255.255", 1);
        EXPECT_EQ(added, 1) << WideToUtf8String(address);
    }
    EXPECT_EQ(Ours(), (Lines{"198.51.100.20 via 192.0.2.1 dev up0 metric 101",
                             "203.0.113.77 via 10.198.75.61 dev ztun0 metric 2",
                             "default via 10.198.75.61 dev ztun0 metric 2"}));
    EXPECT_NE(lab_->RouteGet("198.51.100.20").find("via 192.0.2.1 dev up0"), std::string::npos);
    EXPECT_NE(lab_->RouteGet("198.51.100.21").find("via 10.198.75.61 dev ztun0"), std::string::npos);
    EXPECT_NE(lab_->RouteGet("203.0.113.77").find("via 10.198.75.61 dev ztun0"), std::string::npos);
    EXPECT_EQ(mgr.RemoveAllRoutes(), 1);
}

// The resolver lab with the dialogs' program folder.
class ChoicesInResolverLab : public resolverlab::ResolverLab {
protected:
    void SetUp() override {
        ResolverLab::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        InitAppPaths(prog_.path() / "cendrow");
        // The settings save writes the automatic-start entry: here, never in the user's folder.
        autostart_ = std::make_unique<testsupport::ScopedEnv>("XDG_CONFIG_HOME", (prog_ / "xdg").c_str());
        CDNSManager::GetInstance()->SetWorkDirectory(PathToWide(prog_.path()).c_str());
        SetMessageBoxSink([](const std::wstring& text, const std::wstring&, unsigned) {
            ADD_FAILURE() << "box: " << WideToUtf8String(text);
            return IDOK;
        });
    }
    void TearDown() override {
        SetMessageBoxSink(nullptr);
        autostart_.reset();
        ResolverLab::TearDown();
    }

    std::unique_ptr<testsupport::ScopedEnv> autostart_;
};

TEST_F(ChoicesInResolverLab, SmartDnsChoicesReachTheNextStartWithoutASettingsSave) {
    using resolverlab::kDomesticAnswer;
    using resolverlab::kRemoteAnswer;
    // Two templates; "test." itself is a zone the resolver answers locally,
    // so the lab's names live under "example.".
    for (const char* zone : {"domestic.example", "other.example"})
        testsupport::WriteFile(prog_ / "unbound/forward-zone" / ("template." + std::string(zone) + ".conf"),
                               resolverlab::ZoneTemplate(zone));
    // First the first of the two, as stored.
    SmartDnsForm form = CDialogConfigureSmartDNSCore::Load();
    form.zoneTemplate = L"template.domestic.example.conf";
    form.selectionChanged = true;
    ASSERT_EQ(CDialogConfigureSmartDNSCore().Save(form), 1);
    ASSERT_EQ(Start(), 1);
    ASSERT_EQ(ResolvConf_SetServers({"127.0.0.1"}), ResolvConfResult::kOk);
    EXPECT_EQ(Resolve("www.domestic.example"), kDomesticAnswer);
    EXPECT_EQ(Resolve("www.other.example"), kRemoteAnswer);

    // The two services swapped, in the dialog only: at the next start the
    // listed zone goes to the remote server and the rest to the domestic one.
    form = CDialogConfigureSmartDNSCore::Load();
    std::swap(form.remote, form.domestic);
    form.selectionChanged = true;
    ASSERT_EQ(CDialogConfigureSmartDNSCore().Save(form), 1);
    ASSERT_EQ(Start(), 1);
    EXPECT_EQ(Resolve("www.domestic.example"), kRemoteAnswer);
    EXPECT_EQ(Resolve("www.other.example"), kDomesticAnswer);

    // Then the second template: other.example is now the listed zone.
    form = CDialogConfigureSmartDNSCore::Load();
    ASSERT_GE(ForwardZoneTemplates(ctl_->GetUnboundFolder() / "forward-zone").size(), 2u);
    form.zoneTemplate = L"template.other.example.conf";
    form.selectionChanged = true;
    ASSERT_EQ(CDialogConfigureSmartDNSCore().Save(form), 1);
    ASSERT_EQ(Start(), 1);
    EXPECT_EQ(Resolve("www.other.example"), kRemoteAnswer);
    EXPECT_EQ(Resolve("www.domestic.example"), kDomesticAnswer);
    EXPECT_EQ(ctl_->KillAll(), 1);
    EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kOk);

    // And dns.ini holds the swap for the start after that.
    const int remote = form.remote->id;
    CDNSManager::ReleaseInstance();
    CDNSManager::GetInstance()->SetWorkDirectory(PathToWide(prog_.path()).c_str());
    ASSERT_EQ(CDNSManager::GetInstance()->Load(), 1);
    EXPECT_EQ(CDNSManager::GetInstance()->GetDefaultSmartDnsId(), remote);
    EXPECT_EQ(CDNSManager::GetInstance()->GetForwardZoneTemplate(), L"template.other.example.conf");
}

TEST_F(ChoicesInResolverLab, OwnServersReachTheNamespacesResolvConf) {
    SettingsForm form = CDialogSettingsCore::Load();
    form.preset = CDNSManager::GetInstance()->FindPreset(kOwnDnsPresetId);
    form.primary = {192, 0, 2, 53};
    form.secondary = {192, 0, 2, 54};
    form.delayText = L"10";
    form.startup = false;
    ASSERT_EQ(CDialogSettingsCore().Save(form), 1);

    // The next start reads dns.ini and the DNS layer writes the preset's servers.
    CDNSManager::ReleaseInstance();
    GetDnsPresetTable()[kOwnDnsPresetId].primary.clear();
    GetDnsPresetTable()[kOwnDnsPresetId].secondary.clear();
    CDNSManager::GetInstance()->SetWorkDirectory(PathToWide(prog_.path()).c_str());
    ASSERT_EQ(CDNSManager::GetInstance()->Load(), 1);
    const DnsPreset* preset = CDNSManager::GetInstance()->GetCurrentPreset();
    ASSERT_NE(preset, nullptr);
    ASSERT_TRUE(preset->IsOwnDNS());
    ASSERT_EQ(ResolvConf_SetServers({WideToUtf8String(preset->primary), WideToUtf8String(preset->secondary)}),
              ResolvConfResult::kOk);
    const std::string written = testsupport::ReadFile(netns_etc_ / "resolv.conf");
    std::vector<std::string> servers;
    for (size_t at = written.find("nameserver "); at != std::string::npos; at = written.find("nameserver ", at + 1))
        servers.push_back(written.substr(at + 11, written.find('\n', at) - at - 11));
    EXPECT_EQ(servers, (std::vector<std::string>{"192.0.2.53", "192.0.2.54"})) << written;
    EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kOk);
    EXPECT_EQ(testsupport::ReadFile(netns_etc_ / "resolv.conf"), resolverlab::kOriginalResolvConf);
    GetDnsPresetTable()[kOwnDnsPresetId].primary.clear();
    GetDnsPresetTable()[kOwnDnsPresetId].secondary.clear();
}

}  // namespace
