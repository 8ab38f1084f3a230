#include "app/main_core.h"

#include "app/event_mgr.h"
#include "app/halvern_app.h"
#include "app/loading_job.h"
#include "app/main_loop.h"
#include "foundation/app_paths.h"
#include "foundation/message_box.h"
#include "foundation/settings.h"
#include "foundation/text_convert.h"
#include "foundation/text_format.h"
#include "foundation/system_helpers.h"
#include "foundation/translate.h"
#include "netconfig/additional_route.h"
#include "netconfig/dns_manager.h"
#include "netconfig/proxy_mode.h"
#include "netconfig/unbound_controller.h"
#include "nodes/account/agent_download_proxy.h"
#include "nodes/edition/vantor_authorization.h"
#include "nodes/node_mgr.h"
#include "proxy/route_manager_link.h"

namespace {

constexpr const char* kEditionName = "Cendrow";
constexpr const char* kVersionText = "2.6";

// Forwards the local proxy service's bypass routes to the connection's route manager.
class RouteLink : public CProxyRouteManager {
public:
    RouteLink(IConnectSystem* system, DialogOstrelBase* wnd) : system_(system), wnd_(wnd) {}
    int HasRoute(const std::string& address, const std::string& mask) override {
        return system_->HasRoute(Utf8ToWideString(address), Utf8ToWideString(mask));
    }
    int AddLocalRouteViaActiveRouter(const std::string& address, const std::string& mask, int) override {
        return system_->AddLocalRoute(Utf8ToWideString(address), Utf8ToWideString(mask));
    }
    void ReportBypassRoute(const std::string& line) override { wnd_->AppendActionLog(Utf8ToWideString(line)); }

private:
    IConnectSystem* system_;
    DialogOstrelBase* wnd_;
};

}  // namespace

DialogOstrelBase::DialogOstrelBase(CMainLoop* loop, IMainWindowView* view, IConnectSystem* system)
    : loop_(loop), view_(view), system_(system), prober_(&DialogOstrelBase::DefaultProbeNode) {
    CDNSManager* dns = CDNSManager::GetInstance();
    dns->SetWorkDirectory(GetAppDir().wstring().c_str());
    dns->Load();
    CUnboundController* unbound = CUnboundController::GetInstance();
    unbound->SetBaseDirectory(GetAppDir().wstring());
    DnsPreset* remote = dns->GetDefaultSmartPreset();
    DnsPreset* domestic = dns->GetNativeSmartPreset();
    if (remote && domestic)
        unbound->SetForwardAddresses(remote->primary, remote->secondary, domestic->primary, domestic->secondary);
    GetApp().SetMainWnd(this);
}

DialogOstrelBase::~DialogOstrelBase() {
    // No thread of ours may outlive the object or the singletons below.
    exiting_ = 1;
    StopWork(1);
    JoinLoading();
    WaitForProbeThreads();
    if (GetApp().GetMainWnd() == this) GetApp().SetMainWnd(nullptr);
    system_->SetRouteManager(nullptr);
    CProxyModeMgr::ReleaseInstance();
    CAdditionalRouteMgr::ReleaseInstance();
    CAgentDownloadProxy::ReleaseInstance();
    CNodeMgr::ReleaseInstance();
    CEventMgr::ReleaseInstance();
    CUnboundController::ReleaseInstance();
    CDNSManager::ReleaseInstance();
}

// ---- Start-up ----

int DialogOstrelBase::StartLocalServices() {
    if (system_->IsLocalProxyRunning()) return 1;
    int port = system_->StartLocalProxy();
    if (port <= 0) {
        AppMessageBox(Translate("Local service of SSR started failed, restart this program and retry it."), MB_OK);
        return 0;
    }
    localSocksPort_ = port;
    if (system_->StartHttpProxy(localSocksPort_) != 0)
        AppMessageBox(Translate("HTTP started failed, restart this program and retry it."), MB_OK);
    return 1;
}

void DialogOstrelBase::StartServices() {
    SetStatusTextA(Translate("Ready!"));
    if (!StartLocalServices()) {
        AppMessageBox(Translate("Start local service failed."), MB_OK);
        SetStatusTextA(Translate("Start local service failed."));
    }
    routeLink_ = std::make_unique<RouteLink>(system_, this);
    system_->SetRouteManager(routeLink_.get());
    view_->ShowUdpWarning(false);
    CAdditionalRouteMgr::GetInstance()->Load();
    CEventMgr::GetInstance()->Load(GetAppDir().wstring().c_str());
    UpdateConnectButton();
    AdapterSettings& a = GetSettings()->adapter;
    if (a.tap_connection_name.empty() || a.tap_connection_guid.empty() || GetApp().GetTapAdapterCount() <= 0) {
        SetJobCode(MainWindowJobDriver);
        StartWork();
    }
}

void DialogOstrelBase::OnDeferredInit() {
    ShowLoadingPanel(255);
}

void DialogOstrelBase::JoinLoading() {
    view_->JoinLoadingPanel();
    if (loading_.joinable() && loading_.get_id() != std::this_thread::get_id()) loading_.join();
}

void DialogOstrelBase::ShowLoadingPanel(int job) {
    JoinLoading();
    loadingJob_ = job;
    if (view_->RunLoadingPanel(job, [this] { loop_->Post([this] { OnLoadingDone(); }); })) return;
    loading_ = std::thread([this, job] {
        RunLoadingJob(job, nullptr);
        loop_->Post([this] { OnLoadingDone(); });
    });
}

int DialogOstrelBase::OnLoadingDone() {
    JoinLoading();
    view_->ShowModeManagementButton(CVantorAuthorization::GetInstance()->IsProxyModeManagementEnabled() != 0);
    if (loadingJob_ == 255)
        OnDataLoaded();
    else if (loadingJob_ == 2)
        FillNodeList(-1);
    UpdateAccountInfo();
    return 1;
}

void DialogOstrelBase::OnDataLoaded() {
    AppSettings* s = GetSettings();
    FillModeCombo();
    FillNodeList(s->LastUsedNodeId);
    dataLoaded_ = 1;
    if (s->AutomaticallyEstablishConnection) {
        if (s->DelayedConnect < 1 || s->DelayedConnect > 300) s->DelayedConnect = 10;
        loop_->SetTimer(kTimerAutoConnect, static_cast<int64_t>(s->DelayedConnect) * 1000,
                        [this] { OnTimer(kTimerAutoConnect); });
    }
    loop_->SetTimer(kTimerLinkWatch, kLinkWatchPeriodMs, [this] { OnTimer(kTimerLinkWatch); });
}

// ---- Choosers ----

void DialogOstrelBase::FillModeCombo() {
    CProxyModeMgr* modes = CProxyModeMgr::GetInstance();
    int index = GetSettings()->last_proxymode_index;
    if (index < 0 || index >= static_cast<int>(modes->GetModes().size())) index = modes->GetModes().empty() ? -1 : 0;
    view_->FillModes(index);
    if (index >= 0) modes->SetCurrentIndex(index);
}

void DialogOstrelBase::SelectNodeById(int nodeId) {
    view_->SelectNodeById(nodeId);
    OnNodeSelected();
}

void DialogOstrelBase::SelectModeIndex(int index) {
    view_->SelectModeIndex(index);
    OnModeSelected();
}

void DialogOstrelBase::ClearNodes() {
    CNodeMgr::GetInstance()->RemoveServiceNodes(0);
    view_->FillNodes(-1);
}

void DialogOstrelBase::ReloadSubscriptionNodes() {
    ShowLoadingPanel(2);
}

void DialogOstrelBase::OnModeSelected() {
    int row = view_->GetSelectedModeIndex();
    if (row < 0) return;
    GetSettings()->last_proxymode_index = row;
    CProxyModeMgr::GetInstance()->SetCurrentIndex(row);
    SaveSettings();
}

void DialogOstrelBase::OnNodeSelected() {
    NodeRowSelection sel = view_->GetSelectedNodeRow();
    if (sel.kind != NodeRowKind::kNode || sel.nodeId < 0) return;
    CNodeMgr* nodes = CNodeMgr::GetInstance();
    CNodeInfo* node = nodes->FindNode(sel.nodeId);
    if (!node) return;
    nodes->SelectNode(node);
    GetSettings()->LastUsedNodeId = node->id;
    SaveSettings();
    UpdateAccountInfo();
}

// ---- Timers and session ----

void DialogOstrelBase::OnTimer(int id) {
    if (id == kTimerAutoConnect) {
        loop_->KillTimer(kTimerAutoConnect);
        Connect();
    } else if (id == kTimerLinkWatch) {
        if (!GetApp().IsConnected()) return;
        CProxyMode* mode = CProxyModeMgr::GetInstance()->GetCurrentMode();
        if (!mode || mode->IsSystemProxyMode()) return;
        AdapterSettings& a = GetSettings()->adapter;
        if (system_->IsInterfaceDown(a.tap_connection_index) ||
            system_->IsInterfaceDown(a.local_connection_shortest_r_ifindex))
            Disconnect();
    }
}

void DialogOstrelBase::OnEndSession() {
    if (GetApp().IsConnected()) Disconnect();
}

void DialogOstrelBase::Exit(int quit) {
    // A stop that arrives while this exit waits (its loop serves signals
    // and the channel meanwhile) leaves the exit to it.
    if (quit && exiting_.exchange(1)) return;
    RunExitSteps(quit);
}

void DialogOstrelBase::ExitWithoutWindow() {
    exiting_ = 1;
    RunExitSteps(1);
}

void DialogOstrelBase::RunExitSteps(int quit) {
    if (quit) view_->HideToTray();
    // A connect or disconnect that still runs ends first; a stopped connect
    // undoes itself. Its boxes are answered meanwhile (a windowed loop
    // keeps serving them), so the wait cannot deadlock on one.
    RequestStop();
    loop_->WaitUntil([this] { return !IsWorking(); });
    StopWork(1);
    if (quit) system_->StopLocalProxy();
    DoDisconnect();
    NodeRowSelection sel = view_->GetSelectedNodeRow();
    if (sel.kind == NodeRowKind::kNone)
        GetSettings()->LastUsedNodeId = -1;
    else if (sel.kind == NodeRowKind::kNode && sel.nodeId >= 0)
        GetSettings()->LastUsedNodeId = sel.nodeId;
    SaveSettings();
    if (quit) {
        JoinLoading();
        WaitForProbeThreads();
        system_->StopHttpProxy();
        loop_->KillTimer(kTimerAutoConnect);
        loop_->KillTimer(kTimerLinkWatch);
        loop_->Quit(0);
    }
}

void DialogOstrelBase::PostExit() {
    loop_->Post([this] { Exit(1); });
}

// ---- Window state ----

void DialogOstrelBase::OnBeforeWork() {
    view_->ShowBusy();
}

void DialogOstrelBase::OnWorkFinished() {
    view_->ShowIdle(GetApp().IsConnected() != 0);
}

void DialogOstrelBase::SetStatusText(const std::wstring& text) {
    CDialogZentravBase::SetStatusText(text);
    view_->SetStatusText(text);
    AppendActionLog(text);
}

void DialogOstrelBase::EnableControls(bool enable) {
    view_->EnableControls(enable);
}

void DialogOstrelBase::UpdateConnectButton() {
    if (GetApp().IsConnected())
        view_->SetConnectButton(Utf8ToWideString(Translate("DISCONNECT")),
                                Utf8ToWideString(Translate("DisConnect from proxy")));
    else
        view_->SetConnectButton(Utf8ToWideString(Translate("CONNECT")),
                                Utf8ToWideString(Translate("Connect to proxy")));
}

void DialogOstrelBase::UpdateTray(int remove) {
    if (GetApp().GetCommandLineParser()->GetHideIcon()) return;
    if (remove) {
        view_->UpdateTray(true, 0, L"");
        return;
    }
    bool connected = GetApp().IsConnected() != 0;
    std::string tip;
    if (connected) {
        std::string nodeLine, modeLine;
        CNodeMgr* nodes = CNodeMgr::GetInstance();
        if (CNodeInfo* node = nodes->GetCurrentNode()) {
            NodeFields f = nodes->CopyNodeFields(*node);
            const char* typeName = GetProxyTypeName(f.type, 0);
            if (node->remarks.empty())
                FormatString(nodeLine, Translate("Proxy: %s-%s:%d"), typeName, f.host.c_str(), f.port);
            else
                FormatString(nodeLine, Translate("Proxy: %s-%s"), typeName, node->remarks.c_str());
        }
        if (CProxyMode* mode = CProxyModeMgr::GetInstance()->GetCurrentMode()) {
            std::string name = WideToUtf8String(IsChineseUiLocale() ? mode->nameCn : mode->nameEn);
            FormatString(modeLine, Translate("Mode: %s"), name.c_str());
        }
        FormatString(tip, Translate("%s %s\n%s\n%s\n%s"), kEditionName, kVersionText, nodeLine.c_str(),
                     modeLine.c_str(), Translate(udpRelayed_ ? "UDP is enabled" : "UDP is disabled"));
    } else {
        FormatString(tip, Translate("%s %s %s"), kEditionName, kVersionText, Translate("Disconnected"));
    }
    view_->UpdateTray(false, connected ? 128 : 228, Utf8ToWideString(tip));
}

void DialogOstrelBase::ShowMainWindow() {
    view_->ShowMainWindow();
}

void DialogOstrelBase::AutoHideAfterConnect() {
    if (GetSettings()->AutomaticHideWindow) view_->HideToTray();
}

// ---- Action log ----

void DialogOstrelBase::AppendActionLog(const std::wstring& text) {
    if (exiting_) return;
    std::lock_guard<std::mutex> lock(logMutex_);
    actionLog_.push_back(text);
}

void DialogOstrelBase::ClearActionLog() {
    if (exiting_) return;
    std::lock_guard<std::mutex> lock(logMutex_);
    actionLog_.clear();
}

std::vector<std::wstring> DialogOstrelBase::GetActionLog() {
    std::lock_guard<std::mutex> lock(logMutex_);
    return actionLog_;
}
