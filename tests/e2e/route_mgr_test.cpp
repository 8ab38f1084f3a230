// The route manager in the route lab: the routes of a connect (route-all,
// the server's host route, rules both ways, additional host routes), what
// `ip route get` then chooses, exact removal, and that nobody else's route is
// ever taken over or removed: not one equal to ours, not one with another
// metric, not one added by hand after ours, not a foreign host route given
// to DeleteRoute. Also a failed apply, a gateway link deleted first, a
// second Init, destruction, bypass routes racing Init and RemoveAllRoutes,
// and a process killed with -9 cleaned up by the start-up call.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "app/route_manager_link.h"
#include "netconfig/additional_route.h"
#include "netconfig/proxy_mode.h"
#include "netconfig/route_table.h"
#include "netconfig/router_mgr.h"
#include "proxy/proxy_service.h"
#include "tests/e2e/route_lab.h"
#include "tests/support/process.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

using routelab::Difference;
using routelab::RouteLab;
using testsupport::NetNamespace;
using Lines = std::vector<std::string>;

namespace {

RouteGateway LocalGateway(const RouteLab& lab) {
    return RouteGateway{"192.0.2.1", lab.up0(), 0};
}

RouteGateway TunnelGateway(const RouteLab& lab) {
    return RouteGateway{"10.198.75.61", lab.tun(), 0};
}

std::map<uint32_t, CProxyModeRule> RulesOf(const char* text) {
    CProxyMode mode;
    mode.ParseRules(text);
    return mode.rules;
}

class RouteMgrTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs root and iproute2";
        lab_ = std::make_unique<RouteLab>();
        clean_ = lab_->Snapshot();
    }
    // Everything the manager made is gone, and nothing else changed.
    void ExpectClean() {
        Lines now = lab_->Snapshot();
        EXPECT_EQ(now, clean_) << Difference(clean_, now);
    }
    Lines Ours() const { return lab_->Routes({"proto", "157"}); }
    // Init from inside the lab: the manager then acts there from any thread.
    int InitIn(CRouterMgr& mgr, const RouteGateway& g0, const RouteGateway& g1) {
        NetNamespace::Scope scope(lab_->ns());
        return mgr.Init(g0, g1);
    }

    std::unique_ptr<RouteLab> lab_;
    Lines clean_;
};

TEST_F(RouteMgrTest, ConnectRoutesGoWhereTheyShouldAndLeaveNothingBehind) {
    COstrelRouteMgr mgr;
    ASSERT_EQ(InitIn(mgr, LocalGateway(*lab_), TunnelGateway(*lab_)), 1);
    EXPECT_EQ(mgr.AddLocalRoute(L"203.0.113.10", L"255.255.255.255", 1), 1);
    EXPECT_EQ(mgr.AddTunnelRoute(L"0.0.0.0", L"0.0.0.0", 1), 1);
    EXPECT_EQ(mgr.AddTunnelRoute(L"0.0.0.0", L"128.0.0.0", 1), 1);
    EXPECT_EQ(mgr.AddTunnelRoute(L"128.0.0.0", L"128.0.0.0", 1), 1);
    // A tunnel rule that covers the server: its host route still wins.
    EXPECT_EQ(mgr.AddModeRoutes(RulesOf("203.0.113.0/24\n127.0.0.0/8\n198.18.0.0/15\n"), 1), 2);
    EXPECT_EQ(mgr.AddLocalRoute(L"9.9.9.9", L"255.255.255.255", 1), 1);   // additional route "Direct"
    EXPECT_EQ(mgr.AddTunnelRoute(L"1.1.1.1", L"255.255.255.255", 1), 1);  // additional route "Proxify"

    Lines want = {"default via 10.198.75.61 dev ztun0 metric 2",
                  "0.0.0.0/1 via 10.198.75.61 dev ztun0 metric 2",
                  "1.1.1.1 via 10.198.75.61 dev ztun0 metric 2",
                  "9.9.9.9 via 192.0.2.1 dev up0 metric 101",
                  "128.0.0.0/1 via 10.198.75.61 dev ztun0 metric 2",
                  "198.18.0.0/15 via 10.198.75.61 dev ztun0 metric 2",
                  "203.0.113.0/24 via 10.198.75.61 dev ztun0 metric 2",
                  "203.0.113.10 via 192.0.2.1 dev up0 metric 101"};
    Lines ours = Ours();
    std::sort(ours.begin(), ours.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(ours, want);
    EXPECT_EQ(mgr.GetRouteCount(), want.size());
    EXPECT_NE(lab_->RouteGet("203.0.113.10").find("via 192.0.2.1 dev up0"), std::string::npos);
    EXPECT_NE(lab_->RouteGet("203.0.113.11").find("via 10.198.75.61 dev ztun0"), std::string::npos);
    EXPECT_NE(lab_->RouteGet("8.8.8.8").find("via 10.198.75.61 dev ztun0"), std::string::npos);
    EXPECT_NE(lab_->RouteGet("9.9.9.9").find("via 192.0.2.1 dev up0"), std::string::npos);
    EXPECT_EQ(mgr.HasRoute("203.0.113.10", "255.255.255.255"), 1);
    EXPECT_EQ(mgr.HasRouteW(L"1.1.1.1", L"255.255.255.255"), 1);
    EXPECT_EQ(mgr.HasRoute("203.0.113.11", "255.255.255.255"), 0);

    EXPECT_EQ(mgr.RemoveAllRoutes(), 1);
    ExpectClean();
    EXPECT_EQ(mgr.RemoveAllRoutes(), 0);
    EXPECT_EQ(mgr.GetRouteCount(), 0u);
}

TEST_F(RouteMgrTest, RulesGoThroughTheLocalGatewayWhenTheModeSaysDirect) {
    COstrelRouteMgr mgr;
    ASSERT_EQ(InitIn(mgr, LocalGateway(*lab_), TunnelGateway(*lab_)), 1);
    EXPECT_EQ(mgr.AddTunnelRoute(L"0.0.0.0", L"0.0.0.0", 1), 1);
    EXPECT_EQ(mgr.AddModeRoutes(RulesOf("198.51.100.0/24\n"), 0), 1);
    EXPECT_NE(lab_->RouteGet("198.51.100.9").find("via 192.0.2.1 dev up0"), std::string::npos);
    EXPECT_NE(lab_->RouteGet("198.51.101.9").find("via 10.198.75.61 dev ztun0"), std::string::npos);
    EXPECT_EQ(mgr.AddModeRoutes({}, 1), 0);
}

TEST_F(RouteMgrTest, RefusedInputsChangeNothing) {
    COstrelRouteMgr mgr;
    EXPECT_EQ(mgr.AddLocalRoute(L"203.0.113.10", L"255.255.255.255", 1), 0) << "not initialised";
    ASSERT_EQ(InitIn(mgr, LocalGateway(*lab_), TunnelGateway(*lab_)), 1);
    const char* refused[][2] = {{"127.0.0.1", "255.255.255.255"}, {"127.8.0.0", "255.255.0.0"},
                                {"", "255.255.255.255"},          {"203.0.113.10", ""},
                                {"203.0.113.1", "255.0.255.0"},   {"203.0.113.1", "255.255.255.0"},
                                {"1.2.3", "255.255.255.255"},     {"010.0.0.1", "255.255.255.255"}};
    for (auto& r : refused) EXPECT_EQ(mgr.AddRoute(r[0], 0, r[1], 1), 0) << r[0] << " " << r[1];
    EXPECT_EQ(mgr.AddModeRoutes(RulesOf("127.0.0.0/8\n"), 1), 0);
    ExpectClean();
}

TEST_F(RouteMgrTest, OthersRoutesAreNeverTakenOverNorRemoved) {
    // Equal to the one we will add (destination, mask, metric), and one with another metric.
    lab_->Ip({"route", "add", "203.0.113.10", "via", "192.0.2.1", "metric", "101"});
    lab_->Ip({"route", "add", "203.0.113.20", "via", "192.0.2.1", "metric", "50"});
    lab_->Ip({"route", "add", "198.18.0.1", "via", "192.0.2.1"});
    clean_ = lab_->Snapshot();
    {
        COstrelRouteMgr mgr;
        ASSERT_EQ(InitIn(mgr, LocalGateway(*lab_), TunnelGateway(*lab_)), 1);
        EXPECT_EQ(mgr.AddLocalRoute(L"203.0.113.10", L"255.255.255.255", 1), 1) << "exists: still a success";
        EXPECT_EQ(mgr.HasRoute("203.0.113.10", "255.255.255.255"), 0) << "but not ours";
        EXPECT_EQ(mgr.AddLocalRoute(L"203.0.113.20", L"255.255.255.255", 1), 1);
        EXPECT_EQ(mgr.AddModeRoutes(RulesOf("203.0.113.10/32\n198.51.100.0/24\n"), 0), 2);
        EXPECT_EQ(mgr.GetRouteCount(), 2u);
        // Added by hand after ours, same destination and metric.
        lab_->Ip({"route", "append", "198.51.100.0/24", "via", "192.0.2.5", "metric", "101"});
        Lines withHand = lab_->Snapshot();
        EXPECT_EQ(mgr.DeleteRoute("198.18.0.1", "255.255.255.255"), 0);
        EXPECT_EQ(mgr.RemoveAllRoutes(), 1);
        Lines after = lab_->Snapshot();
        EXPECT_NE(std::find(after.begin(), after.end(), "198.51.100.0/24 via 192.0.2.5 dev up0 metric 101"),
                  after.end());
        lab_->Ip({"route", "del", "198.51.100.0/24", "via", "192.0.2.5", "metric", "101"});
    }
    ExpectClean();
}

TEST_F(RouteMgrTest, OneHostThroughBothGatewaysIsHeldTwiceAndDeletedTogether) {
    COstrelRouteMgr mgr;
    ASSERT_EQ(InitIn(mgr, LocalGateway(*lab_), TunnelGateway(*lab_)), 1);
    EXPECT_EQ(mgr.AddLocalRoute(L"8.8.8.8", L"255.255.255.255", 1), 1);
    EXPECT_EQ(mgr.AddTunnelRoute(L"8.8.8.8", L"255.255.255.255", 1), 1);
    EXPECT_EQ(mgr.AddTunnelRoute(L"8.8.8.8", L"255.255.255.255", 1), 1) << "again: exists";
    EXPECT_EQ(mgr.GetRouteCount(), 2u);
    EXPECT_EQ(Ours().size(), 2u);
    EXPECT_EQ(mgr.DeleteRouteW(L"8.8.8.8", L"255.255.255.255"), 2);
    EXPECT_EQ(mgr.HasRoute("8.8.8.8", "255.255.255.255"), 0);
    ExpectClean();
}

TEST_F(RouteMgrTest, SecondInitAndDestructionRemoveEverything) {
    {
        COstrelRouteMgr mgr;
        ASSERT_EQ(InitIn(mgr, LocalGateway(*lab_), TunnelGateway(*lab_)), 1);
        EXPECT_EQ(mgr.AddModeRoutes(RulesOf("198.51.100.0/24\n198.18.0.0/15\n"), 1), 2);
        ASSERT_EQ(InitIn(mgr, LocalGateway(*lab_), TunnelGateway(*lab_)), 1);
        ExpectClean();
        EXPECT_EQ(mgr.AddLocalRoute(L"203.0.113.10", L"255.255.255.255", 1), 1);
        // A failing Init leaves nothing behind and nothing initialised.
        EXPECT_EQ(InitIn(mgr, RouteGateway{"", lab_->up0(), 0}, TunnelGateway(*lab_)), 0);
        EXPECT_EQ(mgr.IsInitialized(), 0);
        ExpectClean();
        ASSERT_EQ(InitIn(mgr, LocalGateway(*lab_), TunnelGateway(*lab_)), 1);
        EXPECT_EQ(mgr.AddTunnelRoute(L"0.0.0.0", L"0.0.0.0", 1), 1);
    }
    ExpectClean();
}

TEST_F(RouteMgrTest, InitFindsInterfacesAndRefusesUnknownOnes) {
    COstrelRouteMgr mgr;
    // Index 0: looked up from the address (the TUN device carries 10.198.75.60).
    ASSERT_EQ(InitIn(mgr, LocalGateway(*lab_), RouteGateway{"10.198.75.60", 0, 0}), 1);
    EXPECT_EQ(mgr.AddTunnelRoute(L"198.51.100.0", L"255.255.255.0", 1), 1);
    EXPECT_EQ(Ours(), Lines{"198.51.100.0/24 via 10.198.75.60 dev ztun0 metric 2"});
    EXPECT_EQ(InitIn(mgr, LocalGateway(*lab_), RouteGateway{"10.198.75.61", 0, 0}), 0)
        << "no interface has it";
    EXPECT_EQ(InitIn(mgr, RouteGateway{"192.0.2.1", 0x7ffffff0, 0}, TunnelGateway(*lab_)), 0);
    EXPECT_EQ(mgr.InitW(RouteGatewayW{L"192.0.2.1", lab_->up0(), 0}, RouteGatewayW{L"x", lab_->tun(), 0}), 0);
    ExpectClean();
}

TEST_F(RouteMgrTest, DirectGatewayRoutesOntoTheLink) {
    lab_->Ip({"route", "del", "default"});
    lab_->Ip({"route", "add", "default", "dev", "up0", "metric", "100"});
    clean_ = lab_->Snapshot();
    NetNamespace::Scope scope(lab_->ns());
    std::optional<RouteRow> best = FindBestRoute(0);
    ASSERT_TRUE(best.has_value());
    ASSERT_EQ(best->direct, 1);
    COstrelRouteMgr mgr;
    RouteGateway local{"192.0.2.2", best->ifIndex, best->direct};
    ASSERT_EQ(mgr.Init(local, TunnelGateway(*lab_)), 1);
    EXPECT_EQ(mgr.AddLocalRoute(L"203.0.113.10", L"255.255.255.255", 1), 1);
    EXPECT_EQ(Ours(), Lines{"203.0.113.10 dev up0 scope link metric 101"});
    EXPECT_EQ(mgr.HasRoute("203.0.113.10", "255.255.255.255"), 1);
    EXPECT_EQ(mgr.DeleteRoute("203.0.113.10", "255.255.255.255"), 1);
    EXPECT_TRUE(Ours().empty());
}

TEST_F(RouteMgrTest, FailedApplyUndoesItselfAndKeepsEarlierRoutes) {
    COstrelRouteMgr mgr;
    ASSERT_EQ(InitIn(mgr, LocalGateway(*lab_), TunnelGateway(*lab_)), 1);
    ASSERT_EQ(mgr.AddLocalRoute(L"203.0.113.10", L"255.255.255.255", 1), 1);
    Lines before = lab_->Snapshot();
    std::string rules;
    for (int i = 0; i < 3000; ++i)
        rules += "10." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ".0/24\n";
    RtnlFailRouteRequestForTest(1700);
    EXPECT_EQ(mgr.AddModeRoutes(RulesOf(rules.c_str()), 1), 0);
    RtnlFailRouteRequestForTest(0);
    Lines after = lab_->Snapshot();
    EXPECT_EQ(after, before) << Difference(before, after);
    EXPECT_EQ(mgr.GetRouteCount(), 1u);
    EXPECT_EQ(mgr.AddModeRoutes(RulesOf(rules.c_str()), 1), 3000);
    EXPECT_EQ(mgr.RemoveAllRoutes(), 1);
    ExpectClean();
}

TEST_F(RouteMgrTest, GatewayLinkDeletedFirst) {
    testsupport::AddDummyLink(lab_->ns(), "up1");
    lab_->Ip({"addr", "add", "198.18.5.2/24", "dev", "up1"});
    lab_->Ip({"link", "set", "up1", "up"});
    clean_ = lab_->Snapshot();
    uint32_t up1 = 0;
    {
        NetNamespace::Scope scope(lab_->ns());
        ASSERT_TRUE(GetInterfaceIndexByAddress("198.18.5.2", &up1));
    }
    COstrelRouteMgr mgr;
    ASSERT_EQ(InitIn(mgr, RouteGateway{"198.18.5.1", up1, 0}, TunnelGateway(*lab_)), 1);
    EXPECT_EQ(mgr.AddLocalRoute(L"203.0.113.10", L"255.255.255.255", 1), 1);
    EXPECT_EQ(mgr.AddTunnelRoute(L"0.0.0.0", L"128.0.0.0", 1), 1);
    lab_->Ip({"link", "del", "up1"});
    // Rules through the vanished link fail and leave nothing; removal still ends clean.
    EXPECT_EQ(mgr.AddModeRoutes(RulesOf("198.51.100.0/24\n"), 0), 0);
    EXPECT_EQ(mgr.RemoveAllRoutes(), 1);
    EXPECT_EQ(mgr.GetRouteCount(), 0u);
    Lines now = lab_->Snapshot();
    EXPECT_TRUE(Ours().empty()) << Difference(clean_, now);
}

TEST_F(RouteMgrTest, BypassRoutesRacingInitAndRemovalNeverOutliveTheDisconnect) {
    COstrelRouteMgr mgr;
    ASSERT_EQ(InitIn(mgr, LocalGateway(*lab_), TunnelGateway(*lab_)), 1);
    std::atomic<bool> stop{false};
    std::vector<std::thread> relays;
    for (int t = 0; t < 4; ++t) {
        relays.emplace_back([&, t] {
            for (int i = 0; !stop.load(); ++i) {
                std::string host = "198.51." + std::to_string(t) + "." + std::to_string(i % 200 + 1);
                if (!mgr.HasRoute(host, "255.255.255.255")) mgr.AddRoute(host, 0, "255.255.255.255", 1);
            }
        });
    }
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(InitIn(mgr, LocalGateway(*lab_), TunnelGateway(*lab_)), 1);
        EXPECT_EQ(mgr.AddTunnelRoute(L"0.0.0.0", L"0.0.0.0", 1), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        mgr.RemoveAllRoutes();
        // Disconnected: no bypass route gets in until the next Init.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(mgr.GetRouteCount(), 0u);
        EXPECT_TRUE(Ours().empty());
    }
    stop = true;
    for (auto& th : relays) th.join();
    ExpectClean();
}

TEST_F(RouteMgrTest, RulesFileAndAdditionalRoutesGiveExactlyTheExpectedTable) {
    testsupport::TempDir dir;
    std::filesystem::create_directory(dir / "rules");
    testsupport::WriteFile(dir / "rules/overlap.rules",
                           "#Overlap,Overlap,0,0,1,0,0,0,fixture\n"
                           "10.0.0.0/8\n10.1.0.0/16\n10.1.2.0/24\n"    // overlapping
                           "192.168.0.0/24\r\n192.168.1.0/24\n"        // adjacent
                           "172.16.0.0\\255.240.0.0\n"                 // mask form
                           "10.1.2.0/24\n010.9.0.0/16\n10.1.2.5/24\n"  // repeated, octal, host bits
                           "1.2.3\n0.0.0.0/0\n");
    CProxyModeMgr::ReleaseInstance();
    ASSERT_EQ(CProxyModeMgr::GetInstance()->LoadModes(dir.path(), 1), 4);
    CProxyMode* mode = CProxyModeMgr::GetInstance()->GetModes().back().get();
    ASSERT_EQ(mode->rules.size(), 6u);
    std::vector<int> lines;
    for (const auto& r : mode->rejectedRules) lines.push_back(r.lineNumber);
    EXPECT_EQ(lines, (std::vector<int>{8, 9, 10, 11, 12}));

    CAdditionalRouteMgr::ReleaseInstance();
    CAdditionalRouteMgr* extra = CAdditionalRouteMgr::GetInstance();
    extra->Add(L"10.1.2.3", AdditionalRouteDirect);
    extra->Add(L"192.168.7.9", AdditionalRouteProxify);
    extra->Add(L"192.168.7.10", 5);

    COstrelRouteMgr mgr;
    ASSERT_EQ(InitIn(mgr, LocalGateway(*lab_), TunnelGateway(*lab_)), 1);
    EXPECT_EQ(mgr.AddModeRoutes(mode->rules, mode->rulesDirect ? 0 : 1), 6);
    for (const auto& [address, action] : extra->GetRoutes()) {
        if (action == AdditionalRouteDirect) mgr.AddLocalRoute(address, L"255.255.255.255", 1);
        if (action == AdditionalRouteProxify) mgr.AddTunnelRoute(address, L"255.255.255.255", 1);
    }
    Lines want = {"10.0.0.0/8 via 10.198.75.61 dev ztun0 metric 2",
                  "10.1.0.0/16 via 10.198.75.61 dev ztun0 metric 2",
                  "10.1.2.0/24 via 10.198.75.61 dev ztun0 metric 2",
                  "10.1.2.3 via 192.0.2.1 dev up0 metric 101",
                  "172.16.0.0/12 via 10.198.75.61 dev ztun0 metric 2",
                  "192.168.0.0/24 via 10.198.75.61 dev ztun0 metric 2",
                  "192.168.1.0/24 via 10.198.75.61 dev ztun0 metric 2",
                  "192.168.7.9 via 10.198.75.61 dev ztun0 metric 2"};
    Lines ours = Ours();
    std::sort(ours.begin(), ours.end());
    EXPECT_EQ(ours, want);
    struct {
        const char* address;
        const char* via;
    } choices[] = {
        {"10.1.2.3", "via 192.0.2.1 dev up0"},        {"10.1.2.4", "via 10.198.75.61 dev ztun0"},
        {"10.200.0.1", "via 10.198.75.61 dev ztun0"}, {"192.168.1.77", "via 10.198.75.61 dev ztun0"},
        {"192.168.2.1", "via 192.0.2.1 dev up0"},     {"172.31.255.1", "via 10.198.75.61 dev ztun0"},
        {"172.32.0.1", "via 192.0.2.1 dev up0"}};
    for (const auto& c : choices)
        EXPECT_NE(lab_->RouteGet(c.address).find(c.via), std::string::npos) << c.address;
    EXPECT_EQ(mgr.RemoveAllRoutes(), 1);
    ExpectClean();
    CProxyModeMgr::ReleaseInstance();
    CAdditionalRouteMgr::ReleaseInstance();
}

// The local proxy service's bypass host routes reach the manager through the
// link the application registers: through the local gateway, remembered, and
// none after the disconnect.
TEST_F(RouteMgrTest, BypassRoutesOfTheProxyServiceGoThroughTheLocalGateway) {
    COstrelRouteMgr mgr;
    ASSERT_EQ(InitIn(mgr, LocalGateway(*lab_), TunnelGateway(*lab_)), 1);
    CRouteManagerLink link(&mgr);
    SetRouteManager(&link);
    ClearBypassRouteSet();
    AddBypassRoute("198.51.100.7", true);
    EXPECT_TRUE(IsBypassRouted("198.51.100.7"));
    EXPECT_EQ(Ours(), Lines{"198.51.100.7 via 192.0.2.1 dev up0 metric 101"});
    EXPECT_EQ(mgr.RemoveAllRoutes(), 1);
    ClearBypassRouteSet();
    AddBypassRoute("198.51.100.8", true);
    EXPECT_FALSE(IsBypassRouted("198.51.100.8")) << "refused after the disconnect, tried again later";
    SetRouteManager(nullptr);
    ExpectClean();
}

// Applies a mode, host and additional routes inside the lab named by
// CZT_ROUTE_LAB, says so on stdout and waits to be killed.
TEST(RouteMgrHelper, DISABLED_ApplyAndWait) {
    const char* ns = std::getenv("CZT_ROUTE_LAB");
    ASSERT_NE(ns, nullptr);
    // Adopted, never deleted: the lab belongs to the test that started this helper.
    static NetNamespace* lab = new NetNamespace(ns, NetNamespace::Adopt{});
    COstrelRouteMgr mgr;
    {
        NetNamespace::Scope scope(*lab);
        SetInterfaceMetricValue(std::atoi(std::getenv("CZT_UP0")), 100);
        SetInterfaceMetricValue(std::atoi(std::getenv("CZT_TUN")), 1);
        uint32_t up0 = std::atoi(std::getenv("CZT_UP0")), tun = std::atoi(std::getenv("CZT_TUN"));
        ASSERT_EQ(mgr.Init(RouteGateway{"192.0.2.1", up0, 0}, RouteGateway{"10.198.75.61", tun, 0}), 1);
    }
    mgr.AddLocalRoute(L"203.0.113.10", L"255.255.255.255", 1);
    mgr.AddTunnelRoute(L"0.0.0.0", L"128.0.0.0", 1);
    mgr.AddTunnelRoute(L"128.0.0.0", L"128.0.0.0", 1);
    mgr.AddModeRoutes(RulesOf("198.51.100.0/24\n198.18.0.0/15\n"), 1);
    mgr.AddLocalRoute(L"9.9.9.9", L"255.255.255.255", 1);
    std::printf("applied %zu\n", mgr.GetRouteCount());
    std::fflush(stdout);
    for (;;) pause();
}

TEST_F(RouteMgrTest, RoutesOfAKilledProcessAreRemovedByTheStartUpCall) {
    testsupport::TempDir dir;
    std::string log = (dir / "helper.log").string();
    testsupport::ScopedEnv labName("CZT_ROUTE_LAB", lab_->ns().name().c_str());
    testsupport::ScopedEnv up0("CZT_UP0", std::to_string(lab_->up0()).c_str());
    testsupport::ScopedEnv tun("CZT_TUN", std::to_string(lab_->tun()).c_str());
    testsupport::ChildProcess helper({"/proc/self/exe", "--gtest_filter=RouteMgrHelper.DISABLED_ApplyAndWait",
                                      "--gtest_also_run_disabled_tests"},
                                     log);
    for (int i = 0; i < 100 && testsupport::ReadFile(log).find("applied 6") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_NE(testsupport::ReadFile(log).find("applied 6"), std::string::npos) << testsupport::ReadFile(log);
    EXPECT_EQ(Ours().size(), 6u);
    kill(helper.pid(), SIGKILL);
    helper.Stop();
    EXPECT_EQ(Ours().size(), 6u) << "a killed process removes nothing";
    NetNamespace::Scope scope(lab_->ns());
    EXPECT_EQ(RemoveLeftoverRoutes(), 6);
    ExpectClean();
}

}  // namespace
