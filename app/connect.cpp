// Connect and disconnect: the worker jobs of the main window.
//
// Every change connect makes to the machine is recorded with how to undo
// it; a failed or stopped connect and every disconnect undo exactly those
// changes, newest first, so nothing depends on what the current mode or
// settings say by then.

#include "app/event_mgr.h"
#include "app/halvern_app.h"
#include "app/main_core.h"
#include "app/privileges.h"
#include "foundation/app_paths.h"
#include "foundation/message_box.h"
#include "foundation/program_log.h"
#include "foundation/settings.h"
#include "foundation/text_convert.h"
#include "foundation/text_format.h"
#include "foundation/translate.h"
#include "netconfig/adapter_choice.h"
#include "netconfig/additional_route.h"
#include "netconfig/dns_manager.h"
#include "netconfig/proxy_mode.h"
#include "nodes/node_mgr.h"

namespace {

constexpr const wchar_t* kTapAddressText = L"10.198.75.60";
constexpr const wchar_t* kEngineAddressText = L"10.198.75.61";
constexpr const wchar_t* kTunnelNetwork = L"10.198.75.0";
constexpr const wchar_t* kTunnelMask = L"255.255.255.0";
constexpr const wchar_t* kHostMask = L"255.255.255.255";
constexpr int kUdpGatewayPort = 7300;
constexpr int kAddressWaitMs = 15000;

}  // namespace

void DialogOstrelBase::Status(const char* message) {
    SetStatusTextA(Translate(message));
}

void DialogOstrelBase::Fail(const char* message) {
    AppMessageBox(Translate(message), MB_OK);
    Status(message);
}

void DialogOstrelBase::Did(const char* step, std::function<void()> undo) {
    std::lock_guard<std::mutex> lock(undoMutex_);
    undo_.push_back({step, std::move(undo)});
}

std::vector<std::string> DialogOstrelBase::GetConnectionSteps() {
    std::lock_guard<std::mutex> lock(undoMutex_);
    std::vector<std::string> steps;
    for (auto& u : undo_) steps.push_back(u.step);
    return steps;
}

void DialogOstrelBase::UndoConnection() {
    std::vector<Undo> undo;
    {
        std::lock_guard<std::mutex> lock(undoMutex_);
        undo.swap(undo_);
    }
    for (auto it = undo.rbegin(); it != undo.rend(); ++it) {
        if (it->fn) it->fn();
    }
}

bool DialogOstrelBase::StartRelaysThrough(CNodeInfo* node) {
    // The previous node must not go on carrying traffic: a node without a
    // test client, or one the service refuses, ends the connect before
    // anything changes.
    if (!system_->HasTestClient(*node) || !system_->SetCurrentNode(node)) {
        Fail("This proxy type can not be used for connecting.");
        return false;
    }
    system_->SetRelayRunning();
    Did("relays", [this] {
        system_->ResetAuthData();
        system_->StopRelaysAndWait();
    });
    return true;
}

bool DialogOstrelBase::Cancelled() {
    if (!StopRequested()) return false;
    Status("Connect was cancelled.");
    return true;
}

// ---- Commands (loop thread) ----

void DialogOstrelBase::OnConnectButton() {
    if (GetApp().IsConnected())
        Disconnect();
    else
        Connect();
}

void DialogOstrelBase::Connect() {
    CHalvernApp& app = GetApp();
    if (!app.IsDisconnected()) return;
    AdapterSettings& a = GetSettings()->adapter;
    CProxyMode* mode = nullptr;
    int modeRow = view_->GetSelectedModeIndex();
    if (modeRow >= 0) {
        auto& modes = CProxyModeMgr::GetInstance()->GetModes();
        if (modeRow < static_cast<int>(modes.size())) mode = modes[modeRow].get();
    }
    // Only the tunnel modes need the TUN device; the browser modes work without it.
    bool tunnelMode = !mode || !mode->IsSystemProxyMode();
    // Without network privileges no tunnel step could succeed: say what to do.
    if (tunnelMode && app.IsNetworkPrivilegeMissing()) {
        Fail(kTunnelPrivilegesRefused);
        return;
    }
    if (tunnelMode &&
        (a.tap_connection_name.empty() || a.tap_connection_guid.empty() || app.GetTapAdapterCount() <= 0)) {
        Fail("TUN virtual network card is not installed.");
        return;
    }
    NodeRowSelection sel = view_->GetSelectedNodeRow();
    if (sel.kind == NodeRowKind::kNone) {
        Fail("Please add and select a proxy first.");
        return;
    }
    CNodeInfo* node = sel.kind == NodeRowKind::kNode ? CNodeMgr::GetInstance()->FindNode(sel.nodeId) : nullptr;
    if (!node) {
        Fail("Please select a proxy first.");
        return;
    }
    if (modeRow < 0) {
        Fail("Please select a proxy mode.");
        return;
    }
    CNodeMgr::GetInstance()->SelectNode(node);
    CProxyModeMgr::GetInstance()->SetCurrentIndex(modeRow);
    ClearActionLog();
    Status("Please wait while connecting...");
    EnableControls(false);
    SetJobCode(MainWindowJobConnect);
    app.SetConnectState(ConnectStateConnecting);
    if (!StartWork()) {
        app.SetConnectState(ConnectStateDisconnected);
        EnableControls(true);
    }
}

void DialogOstrelBase::Disconnect() {
    CHalvernApp& app = GetApp();
    if (app.IsDisconnected() || app.IsDisconnecting()) return;
    if (app.IsConnecting()) {
        // Stop the connect and wait for it: it undoes what it did, or it
        // finished just before and is disconnected below.
        StopWork(1);
        if (!app.IsConnected()) return;
    }
    StopWork(0);
    SetJobCode(MainWindowJobDisconnect);
    EnableControls(false);
    if (!StartWork()) DoWork();
}

// ---- Jobs (worker) ----

int DialogOstrelBase::DoWork() {
    CEventMgr* events = CEventMgr::GetInstance();
    switch (GetJobCode()) {
        case MainWindowJobConnect:
            events->FireEvent(0);
            if (DoConnect()) events->FireEvent(1);
            break;
        case MainWindowJobDisconnect:
            events->FireEvent(2);
            if (DoDisconnect()) events->FireEvent(3);
            break;
        case MainWindowJobDriver:
            UninstallOldDrivers();
            InstallDriver();
            break;
        default:
            break;
    }
    return CDialogZentravBase::DoWork();
}

int DialogOstrelBase::DoConnect() {
    CHalvernApp& app = GetApp();
    udpRelayed_ = 1;
    CProxyMode* mode = CProxyModeMgr::GetInstance()->GetCurrentMode();
    int ok = 0;
    if (!mode) {
        Fail("Proxy mode error");
    } else {
        ok = mode->IsSystemProxyMode() ? ConnectBrowserMode() : ConnectTunnel();
        if (ok && Cancelled()) ok = 0;
    }
    if (ok) {
        system_->FlushDnsCache();
        app.SetConnectState(ConnectStateConnected);
        Status("Connected!");
        view_->ShowIdle(true);
        UpdateConnectButton();
        view_->EnableConnectAndExit();
        UpdateTray(0);
        AutoHideAfterConnect();
        return 1;
    }
    UndoConnection();
    view_->ShowUdpWarning(false);
    app.SetConnectState(ConnectStateDisconnected);
    UpdateConnectButton();
    EnableControls(true);
    view_->ShowIdle(false);
    return 0;
}

CNodeInfo* DialogOstrelBase::CheckModeAndNode(CProxyMode* mode) {
    if (!mode) {
        Fail("Proxy mode error");
        return nullptr;
    }
    CNodeInfo* node = CNodeMgr::GetInstance()->GetCurrentNode();
    if (!node) {
        Fail("You have not purchased any packages yet, can not start proxy engine.");
        return nullptr;
    }
    if (node->IsUnderMaintenance()) {
        AppMessageBox(Translate("The server node you selected is now undergoing maintenance, please select "
                                "another server node."),
                      MB_OK);
        Status("The server node you selected is now undergoing maintenance.");
        return nullptr;
    }
    return node;
}

int DialogOstrelBase::ConnectBrowserMode() {
    CProxyMode* mode = CProxyModeMgr::GetInstance()->GetCurrentMode();
    CNodeInfo* node = CheckModeAndNode(mode);
    if (!node) return 0;
    if (!system_->IsHttpProxyStarted()) {
        Fail("HTTP is not started.");
        return 0;
    }
    if (!StartRelaysThrough(node)) return 0;
    Status("Testing TCP connection for current node...");
    if (!system_->RunTest(node, 0)) {
        Status("TCP connection test has failed, please switch a new node and try agian.");
        return 0;
    }
    if (Cancelled()) return 0;
    system_->ChangeSystemProxy(mode->type == ProxyModeBrowserPac ? 1 : 0);
    Did("system proxy", [this] { system_->RemoveSystemProxy(); });
    return 1;
}

int DialogOstrelBase::ConnectTunnel() {
    AppSettings* s = GetSettings();
    AdapterSettings& a = s->adapter;
    CProxyMode* mode = CProxyModeMgr::GetInstance()->GetCurrentMode();
    CDNSManager* dns = CDNSManager::GetInstance();
    dns->ValidateCurrentDNS();
    CNodeMgr* nodes = CNodeMgr::GetInstance();

    if (!GetApp().IsTapDriverAvailable()) {
        AppMessageBox(Translate("Virtual network interface driver not installed.\nProxy modes based on virtual "
                                "network card will not be available.\nUse Web Browser mode please."),
                      MB_OK);
        Status("Virtual network interface driver not installed,Proxy modes based on virtual network card will "
               "not be available. Use Web Browser mode please.");
        return 0;
    }
    CNodeInfo* node = CheckModeAndNode(mode);
    if (!node) return 0;
    nodes->TrimNodeHost(*node);
    if (!StartRelaysThrough(node)) return 0;

    Status("Getting basic network configuration...");
    GetApp().SetTapAdapterCount(system_->DetectNetworkAdapters());
    if (a.local_connection_shortest_r_ifindex == -1 || a.local_connection_shortest_r_nexthop.empty()) {
        AppMessageBox(Translate("Basic routing information is missing! \n\nMaybe your computer does not  have any "
                                "network connection.\nPlease restart this program and try again."),
                      MB_OK);
        Status("Basic routing information is missing");
        return 0;
    }
    if (a.tap_connection_name.empty() || GetApp().GetTapAdapterCount() <= 0) {
        Fail("TUN virtual network card is not installed.");
        return 0;
    }
    if (Cancelled()) return 0;

    DnsPreset* preset = dns->GetCurrentPreset();
    if (preset && preset->IsSmartDNS()) {
        Status("Starting smart DNS service...");
        if (system_->StartResolver()) {
            Did("resolver", [this] { system_->StopResolver(); });
        } else {
            Status("Failed to start smart DNS service...");
            if (DnsPreset* next = dns->FindPresetAfter(1)) dns->SetCurrentDNS(next->id, L"", L"");
        }
    }
    if (Cancelled()) return 0;

    Status("Loading proxy mode...");
    mode->LoadRules();

    Status("Resolving SS server's domain name...");
    NodeFields fields = nodes->CopyNodeFields(*node);
    std::string resolved = fields.resolvedAddress;
    if (resolved.empty()) {
        resolved = system_->ResolveHost(fields.host);
        if (!resolved.empty()) nodes->SetResolvedAddress(node, resolved);
    }
    if (resolved.empty()) {
        Fail("Can not resolve SS server's domain name");
        return 0;
    }
    std::wstring server = Utf8ToWideString(resolved);
    if (Cancelled()) return 0;

    std::string exitIp;
    if (system_->IsLocalAddress(server)) {
        Status("Retrieving the actual proxy IP address...");
        exitIp = system_->FetchExitAddress(node);
        if (!exitIp.empty()) {
            if (exitIp.size() > 99) exitIp.resize(99);
            std::string text;
            FormatString(text, Translate("Your actual proxy IP is: %s"), exitIp.c_str());
            SetStatusTextA(text.c_str());
        } else {
            Status("Retrieving the actual proxy IP address...Failed!");
        }
    }

    Status("Testing TCP connection for current node...");
    if (!system_->RunTest(node, 0)) {
        Status("TCP connection test has failed, please switch a new node and try agian.");
        return 0;
    }
    if (Cancelled()) return 0;

    if (a.bDontProxyUDP) {
        Status("You are disabled UDP in the configuration.");
        udpRelayed_ = 0;
    } else if (node->IsSocks4Node() || node->IsHttpNode()) {
        Status("UDP relay is disabled because you are using SOCKS 4 or HTTP proxy.");
        udpRelayed_ = 0;
    } else {
        Status("Testing UDP relay for current node...");
        udpRelayed_ = system_->RunTest(node, 1) ? 1 : 0;
    }
    if (!udpRelayed_) Status("UDP relay test has failed, UDP relay will be disabled.");
    if (Cancelled()) return 0;

    Status("Configging TAP network interface...");
    Status("Starting TAP service...");
    TunEngineConfig config;
    config.bin_folder = (GetAppDir() / "bin").wstring();
    config.adapter_name = a.tap_connection_name;
    config.output_handle = -1;
    config.socks_host = L"127.0.0.1";
    config.socks_port = localSocksPort_;
    config.relay_udp = udpRelayed_;
    config.tun_address = kTapAddressText;
    config.interface_address = kEngineAddressText;
    config.tun_network = kTunnelNetwork;
    config.tun_netmask = kTunnelMask;
    config.udpgw_host = L"127.0.0.1";
    config.udpgw_port = kUdpGatewayPort;
    // The TUN device is set down whether or not the engine and the address
    // took, so that the kernel drops every route through it. Undone after
    // the engine stops: the engine brings the device up when it opens it.
    std::wstring tunName = a.tap_connection_name;
    Did("tun address", [this, tunName] { system_->SetTunDown(tunName); });
    if (!system_->StartTunEngine(config)) {
        Fail("Launch TUN service failed.");
        return 0;
    }
    Did("engine", [this] { system_->StopTunEngine(); });

    if (!system_->SetStaticAddress(tunName, kTapAddressText, kTunnelMask))
        AppendToProgramLog("connect: the TUN device did not take its address");

    if (!ConfigureTapDns()) return 0;

    Status("Verifying connection's status...");
    int64_t t0 = system_->NowMs();
    for (;;) {
        if (!WaitOrStop(addressPollMs_)) {
            Status("Connect was cancelled.");
            return 0;
        }
        if (system_->ReadAdapterAddress(a.tap_connection_guid) == kTapAddressText) {
            a.tap_adapter_configed = true;
            SaveSettings();
            break;
        }
        if (system_->NowMs() - t0 >= kAddressWaitMs) {
            Fail("TUN virtual network interface status is abnormal, please try agian.");
            return 0;
        }
    }

    Status("Configging network...");
    RouteGatewayW local{a.local_connection_shortest_r_nexthop,
                        static_cast<uint32_t>(a.local_connection_shortest_r_ifindex),
                        a.local_connection_shortest_r_directhop ? 1 : 0};
    RouteGatewayW tunnel{kEngineAddressText, static_cast<uint32_t>(a.tap_connection_index), 0};
    if (!system_->InitRoutes(local, tunnel)) {
        Fail("The route manager is failed to initialize.");
        return 0;
    }
    Did("routes", [this] {
        system_->RemoveAllRoutes();
        system_->ClearBypassRouteSet();
    });
    AddServerHostRoute(server);
    if (!exitIp.empty()) {
        std::wstring exitW = Utf8ToWideString(exitIp);
        if (!exitW.empty()) AddServerHostRoute(exitW);
    }
    if (mode->routeAll) {
        system_->AddTunnelRoute(L"0.0.0.0", L"0.0.0.0");
        system_->AddTunnelRoute(L"0.0.0.0", L"128.0.0.0");
        system_->AddTunnelRoute(L"128.0.0.0", L"128.0.0.0");
    }
    if (!mode->IsGlobalMode()) system_->AddModeRoutes(mode->rules, mode->rulesDirect == 0);
    AddDnsRoutes(udpRelayed_);
    if (!udpRelayed_) view_->ShowUdpWarning(true);
    AddAdditionalRoutes();
    return 1;
}

int DialogOstrelBase::ConfigureTapDns() {
    DnsPreset* preset = CDNSManager::GetInstance()->GetCurrentPreset();
    if (!preset) return 1;
    // DNS is machine-wide here: whatever connect wrote goes back at the end.
    Did("dns", [this] { system_->RestoreDns(); });
    if (system_->SetAdapterDnsServers(GetSettings()->adapter.tap_connection_name, preset->primary,
                                      preset->secondary))
        return 1;
    AppendToProgramLog("connect: the DNS servers were not set");
    // A preset without servers changes nothing; servers that could not be
    // written (a refused or failed helper run) fail the connect.
    if (preset->primary.empty() && preset->secondary.empty()) return 1;
    Fail("Setting the DNS servers failed.");
    return 0;
}

void DialogOstrelBase::AddServerHostRoute(const std::wstring& address) {
    if (address.empty() || !system_->IsRouteManagerInitialized() || system_->IsLocalAddress(address) ||
        system_->HasRoute(address, kHostMask))
        return;
    system_->AddLocalRoute(address, kHostMask);
}

void DialogOstrelBase::AddDnsRoutes(int udpRelayed) {
    CProxyMode* mode = CProxyModeMgr::GetInstance()->GetCurrentMode();
    if (!mode) return;
    CDNSManager* dns = CDNSManager::GetInstance();
    struct Pair {
        DnsPreset* preset;
        int proxify;
    };
    std::vector<Pair> pairs;
    if (dns->IsSmartDNSSelected()) {
        pairs.push_back({dns->GetDefaultSmartPreset(), dns->GetProxifyDefaultSmartDNS()});
        pairs.push_back({dns->GetNativeSmartPreset(), dns->GetProxifyNativeSmartDNS()});
    } else {
        pairs.push_back({dns->GetCurrentPreset(), dns->GetProxifyCurrentDNS()});
    }
    for (const Pair& p : pairs) {
        if (!p.preset) continue;
        bool viaTunnel;
        if (!udpRelayed)
            viaTunnel = false;
        else if (mode->dnsPolicy == ModeDnsDirect)
            viaTunnel = false;
        else if (mode->dnsPolicy == ModeDnsProxify)
            viaTunnel = true;
        else
            viaTunnel = p.proxify != 0;
        for (const std::wstring* address : {&p.preset->primary, &p.preset->secondary}) {
            if (address->empty()) continue;
            system_->DeleteRoute(*address, kHostMask);
        }
        for (const std::wstring* address : {&p.preset->primary, &p.preset->secondary}) {
            if (address->empty()) continue;
            if (viaTunnel)
                system_->AddTunnelRoute(*address, kHostMask);
            else
                system_->AddLocalRoute(*address, kHostMask);
        }
    }
}

void DialogOstrelBase::AddAdditionalRoutes() {
    for (const auto& [address, action] : CAdditionalRouteMgr::GetInstance()->GetRoutes()) {
        if (action == AdditionalRouteDirect)
            system_->AddLocalRoute(address, kHostMask);
        else if (action == AdditionalRouteProxify)
            system_->AddTunnelRoute(address, kHostMask);
    }
}

int DialogOstrelBase::DoDisconnect() {
    CHalvernApp& app = GetApp();
    if (app.IsDisconnected() || app.IsDisconnecting()) return 1;
    app.SetConnectState(ConnectStateDisconnecting);
    Status("DisConnecting...");
    UndoConnection();
    view_->ShowUdpWarning(false);
    system_->ResetAuthData();
    system_->StopRelaysAndWait();
    system_->FlushDnsCache();
    app.SetConnectState(ConnectStateDisconnected);
    UpdateConnectButton();
    Status("Disconnected!");
    view_->ShowIdle(false);
    UpdateTray(0);
    EnableControls(true);
    return 1;
}

// ---- Driver job ----

void DialogOstrelBase::UninstallOldDrivers() {
    Status("UnInstalling old drivers...");
    system_->RemoveTapDriver();
    EnableControls(true);
    Status("Ready!");
}

void DialogOstrelBase::InstallDriver() {
    Status("Installing driver...");
    AdapterSettings& a = GetSettings()->adapter;
    auto present = [&] {
        return !a.tap_connection_name.empty() && !a.tap_connection_guid.empty() && GetApp().GetTapAdapterCount() > 0;
    };
    if (present()) {
        EnableControls(true);
        Status("Ready!");
        return;
    }
    system_->InstallTapDriver();
    Status("Checking whether the driver is installed correctly...");
    GetApp().SetTapAdapterCount(system_->DetectNetworkAdapters());
    if (!present()) {
        AppMessageBox(Translate("Virtual network interface driver install failed.\nProxy modes based on virtual "
                                "network card will not be available."),
                      MB_OK);
        Status("Virtual network interface driver install failed,Proxy modes based on virtual network card will "
               "not be available.");
        GetApp().SetTapDriverUnavailable();
        return;
    }
    SaveSettings();
    EnableControls(true);
    Status("Ready!");
}
