#pragma once
// Recording stand-ins for the main window and the machine: every call is
// logged in order as one short text, and any step of the machine can be
// made to fail.

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/connect_system.h"
#include "app/main_window_view.h"
#include "foundation/text_convert.h"
#include "netconfig/proxy_mode.h"
#include "nodes/node_mgr.h"

namespace apptest {

class CallLog {
public:
    void Add(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

inline std::string N(const std::wstring& w) {
    return WideToUtf8String(w);
}

class RecordingView : public IMainWindowView {
public:
    void SetStatusText(const std::wstring& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        status.push_back(N(text));
    }
    void ShowBusy() override { log.Add("busy"); }
    void ShowIdle(bool connected) override { log.Add(connected ? "idle connected" : "idle"); }
    void SetConnectButton(const std::wstring& text, const std::wstring&) override { button = N(text); }
    void EnableControls(bool enable) override {
        controlsEnabled = enable;
        log.Add(enable ? "enable" : "disable");
    }
    void EnableConnectAndExit() override { log.Add("enable connect+exit"); }
    void UpdateTray(bool remove, int iconId, const std::wstring& tip) override {
        std::lock_guard<std::mutex> lock(mutex_);
        trayIcon = remove ? 0 : iconId;
        trayTip = N(tip);
    }
    void ShowUdpWarning(bool show) override { udpWarning = show; }
    void ShowModeManagementButton(bool) override {}
    void ShowMainWindow() override { log.Add("show"); }
    void HideToTray() override { log.Add("hide"); }
    void FillNodes(int nodeId) override {
        std::lock_guard<std::mutex> lock(mutex_);
        fills.push_back(nodeId);
        if (CNodeMgr::GetInstance()->FindNode(nodeId)) row = {NodeRowKind::kNode, nodeId};
    }
    NodeRowSelection GetSelectedNodeRow() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return row;
    }
    void SelectNodeById(int nodeId) override {
        std::lock_guard<std::mutex> lock(mutex_);
        row = {NodeRowKind::kNode, nodeId};
    }
    void FillModes(int index) override { modeRow = index; }
    int GetSelectedModeIndex() override { return modeRow; }
    void SelectModeIndex(int index) override { modeRow = index; }
    void SetAccountLines(const std::wstring& traffic, const std::wstring& expiration) override {
        std::lock_guard<std::mutex> lock(mutex_);
        accountLines.push_back(N(traffic) + " | " + N(expiration));
    }
    // The login after "Logout": what `login` does and answers (cancelled without it).
    bool RunLogin() override {
        log.Add("login");
        return login ? login() : false;
    }

    std::vector<std::string> Status() {
        std::lock_guard<std::mutex> lock(mutex_);
        return status;
    }
    std::string TrayTip() {
        std::lock_guard<std::mutex> lock(mutex_);
        return trayTip;
    }

    CallLog log;
    std::mutex mutex_;
    std::vector<std::string> status;
    std::string button;
    bool controlsEnabled = true;
    int trayIcon = -1;
    std::string trayTip;
    bool udpWarning = false;
    std::vector<int> fills;
    std::vector<std::string> accountLines;
    std::function<bool()> login;
    NodeRowSelection row;
    int modeRow = -1;
};

// The machine as the connect code sees it. Steps named in `fail` return
// their failure value.
class RecordingSystem : public IConnectSystem {
public:
    bool Fails(const std::string& step) { return fail.count(step) != 0; }
    int Ok(const std::string& call, const std::string& step) {
        log.Add(call);
        return Fails(step) ? 0 : 1;
    }

    int DetectNetworkAdapters() override {
        log.Add("DetectNetworkAdapters");
        AdapterSettings& a = GetSettings()->adapter;
        if (Fails("gateway")) {
            a.local_connection_shortest_r_ifindex = -1;
            a.local_connection_shortest_r_nexthop.clear();
        } else {
            a.local_connection_shortest_r_ifindex = 2;
            a.local_connection_shortest_r_nexthop = L"10.0.0.1";
        }
        if (Fails("tun")) {
            a.tap_connection_name.clear();
            a.tap_connection_guid.clear();
            return 0;
        }
        a.tap_connection_name = L"cendrow";
        a.tap_connection_guid = L"cendrow";
        a.tap_connection_index = 7;
        return 1;
    }
    void InstallTapDriver() override { log.Add("InstallTapDriver"); }
    void RemoveTapDriver() override { log.Add("RemoveTapDriver"); }
    int IsInterfaceDown(int ifIndex) override { return downIndex == ifIndex ? 1 : 0; }

    int IsLocalProxyRunning() override { return 0; }
    int StartLocalProxy() override { return Fails("local proxy") ? 0 : 16666; }
    void StopLocalProxy() override { log.Add("StopLocalProxy"); }
    int StartHttpProxy(int) override { return Fails("http proxy") ? 1 : 0; }
    int IsHttpProxyStarted() override { return Fails("http proxy") ? 0 : 1; }
    void StopHttpProxy() override {}
    void ChangeSystemProxy(int pac) override { log.Add("ChangeSystemProxy " + std::to_string(pac)); }
    void RemoveSystemProxy() override { log.Add("RemoveSystemProxy"); }
    void SetRouteManager(CProxyRouteManager* manager) override { routeManager = manager; }
    int SetCurrentNode(CNodeInfo*) override { return Ok("SetCurrentNode", "set node"); }
    void SetRelayRunning() override { log.Add("SetRelayRunning"); }
    void StopRelaysAndWait() override { log.Add("StopRelaysAndWait"); }
    void ResetAuthData() override { log.Add("ResetAuthData"); }
    void ClearBypassRouteSet() override { log.Add("ClearBypassRouteSet"); }

    bool HasTestClient(const CNodeInfo& node) override { return node.type != NodeTypeSSH2; }
    bool RunTest(CNodeInfo*, int kind) override {
        log.Add(kind == 0 ? "TestTcp" : "TestUdp");
        return !Fails(kind == 0 ? "tcp test" : "udp test");
    }
    std::string FetchExitAddress(CNodeInfo*) override {
        log.Add("FetchExitAddress");
        return exitAddress;
    }
    std::string ResolveHost(const std::string& host) override {
        log.Add("ResolveHost " + host);
        return Fails("resolve") ? "" : resolved;
    }
    bool IsLocalAddress(const std::wstring& address) override { return localAddresses.count(N(address)) != 0; }

    int StartResolver() override { return Ok("StartResolver", "resolver"); }
    int IsResolverRunning() override { return 0; }
    void StopResolver() override { log.Add("StopResolver"); }

    int StartTunEngine(const TunEngineConfig& config) override {
        engine = config;
        return Ok("StartTunEngine", "engine");
    }
    void StopTunEngine() override { log.Add("StopTunEngine"); }
    int SetStaticAddress(const std::wstring& connection, const std::wstring& address, const std::wstring&) override {
        log.Add("SetStaticAddress " + N(connection) + " " + N(address));
        if (!Fails("address")) tunAddress = address;
        return Fails("address") ? 0 : 1;
    }
    std::wstring ReadAdapterAddress(const std::wstring&) override {
        clock += 500;
        return tunAddress;
    }
    int SetAdapterDnsServers(const std::wstring&, const std::wstring& primary, const std::wstring& secondary) override {
        return Ok("SetDns " + N(primary) + " " + N(secondary), "dns");
    }
    void RestoreDns() override { log.Add("RestoreDns"); }
    void SetTunDown(const std::wstring& connection) override {
        log.Add("SetTunDown " + N(connection));
        tunAddress.clear();
    }
    void FlushDnsCache() override { log.Add("FlushDnsCache"); }

    int InitRoutes(const RouteGatewayW& local, const RouteGatewayW& tunnel) override {
        routesInitialized = !Fails("routes");
        return Ok("InitRoutes " + N(local.address) + " " + N(tunnel.address), "routes");
    }
    int IsRouteManagerInitialized() override { return routesInitialized ? 1 : 0; }
    CProxyRouteManager* routeManager = nullptr;
    int HasRoute(const std::wstring& a, const std::wstring& m) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return routes.count(N(a) + "/" + N(m)) ? 1 : 0;
    }
    int AddLocalRoute(const std::wstring& a, const std::wstring& m) override { return AddRoute("local", a, m); }
    int AddTunnelRoute(const std::wstring& a, const std::wstring& m) override { return AddRoute("tunnel", a, m); }
    int DeleteRoute(const std::wstring& a, const std::wstring& m) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return routes.erase(N(a) + "/" + N(m)) ? 1 : 0;
    }
    int AddModeRoutes(const std::map<uint32_t, CProxyModeRule>& rules, int viaTunnel) override {
        log.Add("AddModeRoutes " + std::to_string(rules.size()) + (viaTunnel ? " tunnel" : " local"));
        return static_cast<int>(rules.size());
    }
    void RemoveAllRoutes() override {
        log.Add("RemoveAllRoutes");
        std::lock_guard<std::mutex> lock(mutex_);
        routes.clear();
        routesInitialized = false;
    }
    int64_t NowMs() override { return clock; }

    int AddRoute(const char* via, const std::wstring& a, const std::wstring& m) {
        std::string key = N(a) + "/" + N(m);
        log.Add(std::string(via) + " " + key);
        std::lock_guard<std::mutex> lock(mutex_);
        routes[key] = via;
        return 1;
    }
    std::map<std::string, std::string> Routes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return routes;
    }

    CallLog log;
    std::set<std::string> fail;
    std::set<std::string> localAddresses;
    std::string resolved = "192.0.2.10";
    std::string exitAddress;
    std::wstring tunAddress;
    TunEngineConfig engine;
    bool routesInitialized = false;
    int downIndex = -100;
    std::atomic<int64_t> clock{0};
    std::mutex mutex_;
    std::map<std::string, std::string> routes;
};

}  // namespace apptest
