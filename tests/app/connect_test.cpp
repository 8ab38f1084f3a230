// Connect and disconnect against the recording machine: the checks before a
// job, every failing step with what it undoes, the ordered calls of whole
// connects, the DNS host routes, browser modes, the driver job, and exit or
// disconnect while a connect runs.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/privileges.h"
#include "netconfig/additional_route.h"
#include "proxy/route_manager_link.h"
#include "tests/app/app_fixture.h"

namespace apptest {
namespace {

using Calls = std::vector<std::string>;

// The calls after the last occurrence of `marker`.
Calls After(const Calls& calls, const std::string& marker) {
    auto it = std::find(calls.rbegin(), calls.rend(), marker);
    if (it == calls.rend()) return {};
    return Calls(it.base(), calls.end());
}

struct CheckCase {
    const char* name;
    bool tunKnown;
    NodeRowKind row;
    int mode;
    const char* message;
};

TEST_F(AppCoreTest, ChecksBeforeTheJobRefuseWithTheirMessage) {
    const CheckCase cases[] = {
        {"no tun, tunnel mode", false, NodeRowKind::kNode, kGlobalMode, "TUN virtual network card is not installed."},
        {"no node row", true, NodeRowKind::kNone, kGlobalMode, "Please add and select a proxy first."},
        {"header row", true, NodeRowKind::kHeader, kGlobalMode, "Please select a proxy first."},
        {"no mode", true, NodeRowKind::kNode, -1, "Please select a proxy mode."},
    };
    CNodeInfo* node = AddNode();
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        boxes_.clear();
        GetSettings()->adapter.tap_connection_name = c.tunKnown ? L"cendrow" : L"";
        view_.row = {c.row, c.row == NodeRowKind::kNode ? node->id : -1};
        view_.modeRow = c.mode;
        core_->Connect();
        EXPECT_FALSE(core_->IsWorking());
        EXPECT_EQ(GetApp().GetConnectState(), ConnectStateDisconnected);
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(Boxes()[0], c.message);
        EXPECT_EQ(view_.Status().back(), c.message);
        EXPECT_TRUE(system_.log.Calls().empty());
    }
}

// Without network privileges (neither root nor the file capabilities) the
// tunnel modes are refused before anything runs; the browser modes work.
TEST_F(AppCoreTest, MissingNetworkPrivilegesRefuseOnlyTunnelModes) {
    GetApp().SetNetworkPrivilegeMissing(1);
    CNodeInfo* node = AddNode();
    Choose(node, kGlobalMode);
    core_->Connect();
    EXPECT_FALSE(core_->IsWorking());
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0], kTunnelPrivilegesRefused);
    EXPECT_EQ(view_.Status().back(), kTunnelPrivilegesRefused);
    EXPECT_TRUE(system_.log.Calls().empty());

    Choose(node, kBrowserMode);
    ConnectAndWait();
    EXPECT_EQ(GetApp().GetConnectState(), ConnectStateConnected);
    core_->Disconnect();
    WaitIdle();
    GetApp().SetNetworkPrivilegeMissing(0);
}

struct StepCase {
    const char* name;
    std::set<std::string> fail;
    int nodeType;
    const char* message;
    Calls undo;  // the calls after the failing step, in order
};

TEST_F(AppCoreTest, AFailedStepUndoesWhatConnectDidInReverse) {
    const Calls relays = {"ResetAuthData", "StopRelaysAndWait"};
    const Calls afterEngine = {"RestoreDns", "StopTunEngine", "SetTunDown cendrow", "ResetAuthData",
                               "StopRelaysAndWait"};
    const StepCase cases[] = {
        {"service refuses the node", {"set node"}, NodeTypeSocks5,
         "This proxy type can not be used for connecting.", {}},
        {"no test client (SSH2)", {}, NodeTypeSSH2, "This proxy type can not be used for connecting.", {}},
        {"no gateway", {"gateway"}, NodeTypeSocks5, "Basic routing information is missing", relays},
        {"name does not resolve", {"resolve"}, NodeTypeSocks5, "Can not resolve SS server's domain name", relays},
        {"tcp test", {"tcp test"}, NodeTypeSocks5,
         "TCP connection test has failed, please switch a new node and try agian.", relays},
        {"engine", {"engine"}, NodeTypeSocks5, "Launch TUN service failed.",
         {"SetTunDown cendrow", "ResetAuthData", "StopRelaysAndWait"}},
        {"address never shows", {"address"}, NodeTypeSocks5,
         "TUN virtual network interface status is abnormal, please try agian.", afterEngine},
        {"route manager", {"routes"}, NodeTypeSocks5, "The route manager is failed to initialize.", afterEngine},
        {"DNS servers not written", {"dns"}, NodeTypeSocks5, "Setting the DNS servers failed.", afterEngine},
    };
    for (const StepCase& c : cases) {
        SCOPED_TRACE(c.name);
        system_.fail = c.fail;
        system_.log.Clear();
        view_.status.clear();
        Choose(AddNode(c.nodeType), kGlobalMode);
        ConnectAndWait();
        EXPECT_EQ(GetApp().GetConnectState(), ConnectStateDisconnected);
        EXPECT_TRUE(view_.controlsEnabled);
        auto status = view_.Status();
        EXPECT_NE(std::find(status.begin(), status.end(), c.message), status.end());
        Calls calls = system_.log.Calls();
        ASSERT_GE(calls.size(), c.undo.size());
        EXPECT_EQ(Calls(calls.end() - static_cast<long>(c.undo.size()), calls.end()), c.undo);
        if (c.undo.empty()) {
            // Refused before anything changed.
            EXPECT_EQ(std::count(calls.begin(), calls.end(), "SetRelayRunning"), 0);
        }
        EXPECT_TRUE(system_.Routes().empty());
        EXPECT_TRUE(core_->GetConnectionSteps().empty());
    }
}

TEST_F(AppCoreTest, GlobalConnectAndDisconnectInOrder) {
    CAdditionalRouteMgr::GetInstance()->Add(L"203.0.113.5", 0);
    ASSERT_EQ(core_->StartLocalServices(), 1);
    Choose(AddNode(), kGlobalMode);
    ConnectAndWait();
    ASSERT_EQ(GetApp().GetConnectState(), ConnectStateConnected);
    const Calls expected = {
        "SetCurrentNode",
        "SetRelayRunning",
        "DetectNetworkAdapters",
        "ResolveHost proxy.test",
        "TestTcp",
        "TestUdp",
        "StartTunEngine",
        "SetStaticAddress cendrow 10.198.75.60",
        "SetDns 8.8.8.8 8.8.4.4",
        "InitRoutes 10.0.0.1 10.198.75.61",
        "local 192.0.2.10/255.255.255.255",
        "tunnel 0.0.0.0/0.0.0.0",
        "tunnel 0.0.0.0/128.0.0.0",
        "tunnel 128.0.0.0/128.0.0.0",
        "tunnel 8.8.8.8/255.255.255.255",
        "tunnel 8.8.4.4/255.255.255.255",
        "local 203.0.113.5/255.255.255.255",
        "FlushDnsCache",
    };
    EXPECT_EQ(system_.log.Calls(), expected);
    EXPECT_EQ(system_.engine.socks_port, 16666);
    EXPECT_EQ(system_.engine.relay_udp, 1);
    EXPECT_EQ(N(system_.engine.adapter_name), "cendrow");
    EXPECT_EQ(N(system_.engine.interface_address), "10.198.75.61");
    EXPECT_EQ(system_.engine.udpgw_port, 7300);
    EXPECT_EQ(view_.button, "DISCONNECT");
    EXPECT_EQ(view_.trayIcon, 128);
    EXPECT_EQ(view_.Status().back(), "Connected!");

    system_.log.Clear();
    core_->OnConnectButton();
    WaitIdle();
    EXPECT_EQ(GetApp().GetConnectState(), ConnectStateDisconnected);
    const Calls undo = {"RemoveAllRoutes", "ClearBypassRouteSet", "RestoreDns", "StopTunEngine",
                        "SetTunDown cendrow", "ResetAuthData",       "StopRelaysAndWait", "ResetAuthData",
                        "StopRelaysAndWait", "FlushDnsCache"};
    EXPECT_EQ(system_.log.Calls(), undo);
    EXPECT_TRUE(system_.Routes().empty());
    EXPECT_EQ(view_.button, "CONNECT");
    EXPECT_EQ(view_.Status().back(), "Disconnected!");
}

TEST_F(AppCoreTest, RuleModeRoutesItsRulesAndNoDefaultRoutes) {
    CProxyModeMgr* modes = CProxyModeMgr::GetInstance();
    ASSERT_EQ(modes->SaveMode(L"two.rules", ProxyModeRules, L"Two nets", L"Two nets", 0, 0,
                              L"10.1.0.0/16\r\n10.2.0.0/16\r\n", 0, 0, ModeDnsAuto, L"", 0, dir_.path()),
              1);
    int index = static_cast<int>(modes->GetModes().size()) - 1;
    Choose(AddNode(NodeTypeSocks4), index);
    ConnectAndWait();
    ASSERT_EQ(GetApp().GetConnectState(), ConnectStateConnected);
    const Calls expected = {
        "SetCurrentNode",
        "SetRelayRunning",
        "DetectNetworkAdapters",
        "ResolveHost proxy.test",
        "TestTcp",
        "StartTunEngine",
        "SetStaticAddress cendrow 10.198.75.60",
        "SetDns 8.8.8.8 8.8.4.4",
        "InitRoutes 10.0.0.1 10.198.75.61",
        "local 192.0.2.10/255.255.255.255",
        "AddModeRoutes 2 tunnel",
        // SOCKS 4 relays no UDP: DNS goes direct.
        "local 8.8.8.8/255.255.255.255",
        "local 8.8.4.4/255.255.255.255",
        "FlushDnsCache",
    };
    EXPECT_EQ(system_.log.Calls(), expected);
    EXPECT_EQ(system_.engine.relay_udp, 0);
    EXPECT_TRUE(view_.udpWarning);
    EXPECT_NE(view_.TrayTip().find("UDP is disabled"), std::string::npos);
}

struct DnsCase {
    const char* name;
    int policy;
    bool udp;
    int proxify;
    bool smart;
    std::map<std::string, std::string> via;  // DNS server -> gateway
};

TEST_F(AppCoreTest, DnsHostRoutesFollowPolicyUdpProxifyAndSmartDns) {
    const DnsCase cases[] = {
        {"auto, proxified", ModeDnsAuto, true, 1, false, {{"8.8.8.8", "tunnel"}, {"8.8.4.4", "tunnel"}}},
        {"auto, not proxified", ModeDnsAuto, true, 0, false, {{"8.8.8.8", "local"}, {"8.8.4.4", "local"}}},
        {"auto, no UDP", ModeDnsAuto, false, 1, false, {{"8.8.8.8", "local"}, {"8.8.4.4", "local"}}},
        {"direct", ModeDnsDirect, true, 1, false, {{"8.8.8.8", "local"}, {"8.8.4.4", "local"}}},
        {"proxify", ModeDnsProxify, true, 0, false, {{"8.8.8.8", "tunnel"}, {"8.8.4.4", "tunnel"}}},
        {"proxify, no UDP", ModeDnsProxify, false, 1, false, {{"8.8.8.8", "local"}, {"8.8.4.4", "local"}}},
        {"smart, auto",
         ModeDnsAuto,
         true,
         0,
         true,
         {{"8.8.8.8", "tunnel"}, {"8.8.4.4", "tunnel"}, {"119.29.29.29", "local"}, {"119.28.28.28", "local"}}},
        {"smart, no UDP",
         ModeDnsAuto,
         false,
         0,
         true,
         {{"8.8.8.8", "local"}, {"8.8.4.4", "local"}, {"119.29.29.29", "local"}, {"119.28.28.28", "local"}}},
    };
    CNodeInfo* node = AddNode();
    for (const DnsCase& c : cases) {
        SCOPED_TRACE(c.name);
        CDNSManager* dns = CDNSManager::GetInstance();
        dns->SetCurrentDNS(c.smart ? kSmartDnsPresetId : kGoogleDns, L"", L"");
        dns->SetProxifyCurrentDNS(c.proxify);
        dns->SetProxifyDefaultSmartDNS(1);
        dns->SetProxifyNativeSmartDNS(0);
        CProxyModeMgr::GetInstance()->GetModes()[kGlobalMode]->dnsPolicy = c.policy;
        system_.fail = c.udp ? std::set<std::string>{} : std::set<std::string>{"udp test"};
        Choose(node, kGlobalMode);
        ConnectAndWait();
        ASSERT_EQ(GetApp().GetConnectState(), ConnectStateConnected);
        auto routes = system_.Routes();
        for (const auto& [server, via] : c.via) EXPECT_EQ(routes[server + "/255.255.255.255"], via) << server;
        core_->Disconnect();
        WaitIdle();
        EXPECT_TRUE(system_.Routes().empty());
    }
}

TEST_F(AppCoreTest, BrowserModesNeedNoTunAndChangeNoRoute) {
    GetSettings()->adapter.tap_connection_name.clear();
    GetApp().SetTapAdapterCount(0);
    for (int mode : {kBrowserMode, kBrowserPacMode}) {
        SCOPED_TRACE(mode);
        system_.log.Clear();
        Choose(AddNode(), mode);
        ConnectAndWait();
        ASSERT_EQ(GetApp().GetConnectState(), ConnectStateConnected);
        const Calls expected = {"SetCurrentNode", "SetRelayRunning", "TestTcp",
                                std::string("ChangeSystemProxy ") + (mode == kBrowserPacMode ? "1" : "0"),
                                "FlushDnsCache"};
        EXPECT_EQ(system_.log.Calls(), expected);
        system_.log.Clear();
        core_->Disconnect();
        WaitIdle();
        const Calls undo = {"RemoveSystemProxy", "ResetAuthData", "StopRelaysAndWait", "ResetAuthData",
                            "StopRelaysAndWait", "FlushDnsCache"};
        EXPECT_EQ(system_.log.Calls(), undo);
    }
    // A failed test leaves the system proxy alone.
    system_.fail = {"tcp test"};
    system_.log.Clear();
    ConnectAndWait();
    EXPECT_EQ(GetApp().GetConnectState(), ConnectStateDisconnected);
    auto calls = system_.log.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "ChangeSystemProxy 0"), 0);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "RemoveSystemProxy"), 0);
}

TEST_F(AppCoreTest, SmartDnsResolverFailureFallsBackAndIsNotUndone) {
    CDNSManager::GetInstance()->SetCurrentDNS(kSmartDnsPresetId, L"", L"");
    system_.fail = {"resolver"};
    Choose(AddNode(), kGlobalMode);
    ConnectAndWait();
    ASSERT_EQ(GetApp().GetConnectState(), ConnectStateConnected);
    auto status = view_.Status();
    EXPECT_NE(std::find(status.begin(), status.end(), "Failed to start smart DNS service..."), status.end());
    EXPECT_EQ(CDNSManager::GetInstance()->GetCurrentDnsId(), CDNSManager::GetInstance()->FindPresetAfter(1)->id);
    system_.log.Clear();
    core_->Disconnect();
    WaitIdle();
    auto calls = system_.log.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "StopResolver"), 0);

    // A resolver that starts is stopped at disconnect.
    system_.fail.clear();
    CDNSManager::GetInstance()->SetCurrentDNS(kSmartDnsPresetId, L"", L"");
    ConnectAndWait();
    system_.log.Clear();
    core_->Disconnect();
    WaitIdle();
    calls = system_.log.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "StopResolver"), 1);
}

TEST_F(AppCoreTest, LocalServerGetsNoHostRouteButItsExitAddressDoes) {
    system_.localAddresses = {"192.0.2.10"};
    system_.exitAddress = "198.51.100.7";
    Choose(AddNode(), kGlobalMode);
    ConnectAndWait();
    ASSERT_EQ(GetApp().GetConnectState(), ConnectStateConnected);
    auto routes = system_.Routes();
    EXPECT_EQ(routes.count("192.0.2.10/255.255.255.255"), 0u);
    EXPECT_EQ(routes["198.51.100.7/255.255.255.255"], "local");
    auto status = view_.Status();
    EXPECT_NE(std::find(status.begin(), status.end(), "Your actual proxy IP is: 198.51.100.7"), status.end());
}

TEST_F(AppCoreTest, DriverJobInstallsOrMarksTheDriverUnavailable) {
    for (bool works : {true, false}) {
        SCOPED_TRACE(works);
        GetApp().Reset();
        GetSettings()->adapter.tap_connection_name.clear();
        system_.fail = works ? std::set<std::string>{} : std::set<std::string>{"tun"};
        system_.log.Clear();
        core_->StartServices();
        WaitIdle();
        const Calls expected = {"RemoveTapDriver", "InstallTapDriver", "DetectNetworkAdapters"};
        EXPECT_EQ(system_.log.Calls(), expected);
        EXPECT_EQ(GetApp().IsTapDriverAvailable(), works ? 1 : 0);
        EXPECT_EQ(GetApp().GetTapAdapterCount(), works ? 1 : 0);
    }
}

// A bypass route of the UDP relay is a warning the window shows.
TEST_F(AppCoreTest, BypassRoutesReachTheActionLog) {
    core_->StartServices();
    WaitIdle();
    ASSERT_NE(system_.routeManager, nullptr);
    system_.routeManager->ReportBypassRoute("Warning: traffic to 192.0.2.9 now goes around the tunnel");
    auto lines = core_->GetActionLog();
    EXPECT_NE(std::find(lines.begin(), lines.end(), L"Warning: traffic to 192.0.2.9 now goes around the tunnel"),
              lines.end());
}

TEST_F(AppCoreTest, ExitDuringAConnectStopsItAndUndoesBeforeQuitting) {
    system_.fail = {"address"};  // the connect waits for an address that never comes
    core_->SetAddressPollInterval(20);
    system_.clock = 0;
    Choose(AddNode(), kGlobalMode);
    core_->Connect();
    for (int i = 0; i < 2000; ++i) {
        auto calls = system_.log.Calls();
        if (std::find(calls.begin(), calls.end(), "SetStaticAddress cendrow 10.198.75.60") != calls.end()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    system_.clock = -1000000;  // the wait must end by the stop, not by its deadline
    core_->Exit(1);
    EXPECT_FALSE(core_->IsWorking());
    EXPECT_EQ(GetApp().GetConnectState(), ConnectStateDisconnected);
    EXPECT_TRUE(loop_.IsQuitting());
    Calls calls = system_.log.Calls();
    const Calls tail = {"RestoreDns", "StopTunEngine", "SetTunDown cendrow", "ResetAuthData", "StopRelaysAndWait",
                        "StopLocalProxy"};
    ASSERT_GE(calls.size(), tail.size());
    EXPECT_EQ(Calls(calls.end() - static_cast<long>(tail.size()), calls.end()), tail);
}

TEST_F(AppCoreTest, DisconnectDuringAConnectStopsIt) {
    system_.fail = {"address"};
    core_->SetAddressPollInterval(20);
    system_.clock = -1000000;
    Choose(AddNode(), kGlobalMode);
    core_->Connect();
    while (GetApp().IsConnecting()) {
        auto calls = system_.log.Calls();
        if (std::find(calls.begin(), calls.end(), "StartTunEngine") != calls.end()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    core_->Disconnect();
    EXPECT_FALSE(core_->IsWorking());
    EXPECT_EQ(GetApp().GetConnectState(), ConnectStateDisconnected);
    Calls calls = system_.log.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "StopTunEngine"), 1);
    EXPECT_EQ(After(calls, "StopTunEngine"), (Calls{"SetTunDown cendrow", "ResetAuthData", "StopRelaysAndWait"}));
}

TEST_F(AppCoreTest, LinkWatchDisconnectsATunnelWhoseLinkWentDown) {
    int64_t now = 0;
    loop_.SetClock([&now] { return now; });
    core_->OnDataLoaded();
    Choose(AddNode(), kGlobalMode);
    ConnectAndWait();
    ASSERT_EQ(GetApp().GetConnectState(), ConnectStateConnected);
    now += kLinkWatchPeriodMs;
    loop_.RunPending();
    WaitIdle();
    EXPECT_EQ(GetApp().GetConnectState(), ConnectStateConnected);
    system_.downIndex = 2;  // the physical link
    now += kLinkWatchPeriodMs;
    loop_.RunPending();
    WaitIdle();
    EXPECT_EQ(GetApp().GetConnectState(), ConnectStateDisconnected);
}

TEST_F(AppCoreTest, AutoConnectDelayIsClampedAndFiresOnce) {
    const std::pair<int, int> cases[] = {{0, 10}, {-3, 10}, {301, 10}, {1, 1}, {300, 300}, {42, 42}};
    for (auto [delay, seconds] : cases) {
        SCOPED_TRACE(delay);
        GetSettings()->AutomaticallyEstablishConnection = true;
        GetSettings()->DelayedConnect = delay;
        core_->OnDataLoaded();
        EXPECT_EQ(loop_.GetTimerPeriod(kTimerAutoConnect), seconds * 1000);
        EXPECT_EQ(GetSettings()->DelayedConnect, seconds);
        EXPECT_EQ(loop_.GetTimerPeriod(kTimerLinkWatch), kLinkWatchPeriodMs);
    }
    int64_t now = 0;
    loop_.SetClock([&now] { return now; });
    GetSettings()->DelayedConnect = 5;
    core_->OnDataLoaded();
    Choose(AddNode(), kGlobalMode);
    now = 5000;
    loop_.RunPending();
    WaitIdle();
    EXPECT_EQ(GetApp().GetConnectState(), ConnectStateConnected);
    EXPECT_FALSE(loop_.HasTimer(kTimerAutoConnect));

    GetSettings()->AutomaticallyEstablishConnection = false;
    loop_.KillTimer(kTimerLinkWatch);
    core_->OnDataLoaded();
    EXPECT_FALSE(loop_.HasTimer(kTimerAutoConnect));
    EXPECT_TRUE(loop_.HasTimer(kTimerLinkWatch));
}

TEST_F(AppCoreTest, TrayTipByConnectionState) {
    core_->UpdateTray(0);
    EXPECT_EQ(view_.trayIcon, 228);
    EXPECT_EQ(view_.TrayTip(), "Cendrow 2.6 Disconnected");
    Choose(AddNode(NodeTypeHttp, "web.test"), kGlobalMode);
    ConnectAndWait();
    EXPECT_EQ(view_.TrayTip(), "Cendrow 2.6\nProxy: HTTP-web.test:1080\nMode: Global wide\nUDP is disabled");
}

}  // namespace
}  // namespace apptest
