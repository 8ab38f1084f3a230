#pragma once
// The main window's logic without the window: local services at start, the
// loading work, the node and mode choices, connect and disconnect on the
// worker, the timers, the action log, the latency probes and the exit path.
// Its window (or the headless stand-in) is an IMainWindowView; the machine
// is reached through an IConnectSystem.
//
// Loop-thread operations: StartServices, OnDeferredInit, OnDataLoaded,
// Connect, Disconnect, the timers, Exit, FillNodeList and the channel's
// selections. The worker runs DoWork.

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/connect_system.h"
#include "app/main_menus.h"
#include "app/main_window_view.h"
#include "app/worker_base.h"

class CMainLoop;
class CNodeInfo;
class CProxyMode;
class CProxyRouteManager;

enum MainWindowJob : int {
    MainWindowJobConnect = 0,
    MainWindowJobDisconnect = 2,
    MainWindowJobDriver = 3,
};

inline constexpr int kTimerAutoConnect = 3536;
inline constexpr int kTimerLinkWatch = 3539;
inline constexpr int kLinkWatchPeriodMs = 3000;
inline constexpr int kMaxProbesPerFill = 100;

// Runs once per node probe on its own thread (ping, name, country).
using NodeProber = std::function<void(CNodeInfo* node, const std::atomic<int>& exiting)>;

class DialogOstrelBase : public CDialogZentravBase {
public:
    DialogOstrelBase(CMainLoop* loop, IMainWindowView* view, IConnectSystem* system);
    ~DialogOstrelBase() override;

    // Start-up: the local services, the bypass-route link, additional
    // routes and events, and the driver job when no TUN device is known.
    void StartServices();
    int StartLocalServices();
    // The loading work (edition switches, proxy modes) on a thread of its
    // own; its end runs OnLoadingDone on the loop.
    void OnDeferredInit() override;
    void ShowLoadingPanel(int job);
    int OnLoadingDone();
    void OnDataLoaded();
    // Waits for a loading job that still runs.
    void JoinLoading();

    // The chooser fills.
    void FillModeCombo();
    void FillNodeList(int nodeId);
    void SelectNodeById(int nodeId);
    void SelectModeIndex(int index);
    void ClearNodes();
    void ReloadSubscriptionNodes();
    void OnModeSelected();
    void OnNodeSelected();

    void OnConnectButton();
    void Connect();
    void Disconnect();
    void OnTimer(int id);
    void OnEndSession();
    // The exit path: TRUE ends the program, FALSE is the first half of logging out.
    void Exit(int quit);
    // Exit (TRUE)'s steps once the window is gone for good (the display was
    // lost), also when an exit was already under way: that one waited on
    // the window and never comes back. The view must be cut off first.
    void ExitWithoutWindow();
    int IsExiting() const { return exiting_.load(); }
    // Exit (TRUE) from the loop's next turn.
    void PostExit();

    // Worker jobs.
    int DoWork() override;
    int DoConnect();
    int DoDisconnect();
    void OnBeforeWork() override;
    void OnWorkFinished() override;
    void SetStatusText(const std::wstring& text) override;

    void UpdateTray(int remove);
    void UpdateConnectButton();
    void ShowMainWindow();
    void AutoHideAfterConnect();

    // What the window's commands do once their menu or dialog has answered.
    // Deletes the node of the chooser's selected row (nothing for no row, a
    // header or a row without a node): the first remaining node becomes
    // current, or none when the list is empty.
    void DeleteSelectedNode();
    // An add dialog ended with OK: the chooser is filled again; with
    // "Add and activate it" the new node becomes current and is saved.
    void OnNodeAdded(bool activate, int newNodeId);
    // An edit dialog ended with OK.
    void OnNodeEdited(int nodeId);
    // The batch dialog ended with OK having added `count` nodes.
    void OnNodesImported(int count);
    // Command 3541: the first half of the exit path, the service's nodes
    // removed, the login again; a cancelled login ends the program through
    // Exit (TRUE), so nothing keeps running behind released managers.
    void Logout();
    virtual void OnAfterRelogin() {}
    // The account lines of the selected node's package; a header row or no
    // row leaves them as they are.
    void UpdateAccountInfo();
    MenuState GetMenuState() { return CurrentMenuState(dataLoaded_.load() != 0); }
    // The view no longer exists (its window is gone): later calls go to a
    // view that does nothing. Only once no worker, probe or loading job runs.
    void DetachView();

    // Action log.
    void AppendActionLog(const std::wstring& text);
    void ClearActionLog();
    std::vector<std::wstring> GetActionLog();

    // Probes: the registry of running probe threads.
    void WaitForProbeThreads();
    size_t GetRunningProbeCount();
    void SetNodeProber(NodeProber prober) { prober_ = std::move(prober); }
    static void DefaultProbeNode(CNodeInfo* node, const std::atomic<int>& exiting);

    int GetLocalSocksPort() const { return localSocksPort_; }
    int IsUdpRelayed() const { return udpRelayed_.load(); }
    int IsDataLoaded() const { return dataLoaded_.load(); }
    // The steps the current connection made, by name, in order (tests and logs).
    std::vector<std::string> GetConnectionSteps();
    // The address wait's poll period (tests shorten it).
    void SetAddressPollInterval(int ms) { addressPollMs_ = ms; }
    IMainWindowView* GetView() { return view_; }

private:
    // The current node when a mode is given and the node exists and is in
    // service; otherwise the failure is shown and null returned.
    CNodeInfo* CheckModeAndNode(CProxyMode* mode);
    // Makes `node` the service's node and lets the relays run (undone with
    // the connection); false, with the failure shown, for a refused node.
    bool StartRelaysThrough(CNodeInfo* node);
    int ConnectBrowserMode();
    int ConnectTunnel();
    // 0 when servers were given and could not be set.
    int ConfigureTapDns();
    void AddServerHostRoute(const std::wstring& address);
    void AddDnsRoutes(int udpRelayed);
    void AddAdditionalRoutes();
    void UninstallOldDrivers();
    void InstallDriver();
    void EnableControls(bool enable);
    // Status and box with the same translated text.
    void Fail(const char* message);
    void Status(const char* message);
    // Records one change of the connection with how to undo it.
    void Did(const char* step, std::function<void()> undo);
    // Undoes, newest first, what the current connection did.
    void UndoConnection();
    bool Cancelled();
    void RunExitSteps(int quit);
    void StartProbe(CNodeInfo* node);

    CMainLoop* loop_;
    IMainWindowView* view_;
    IConnectSystem* system_;
    std::atomic<int> exiting_{0};
    std::atomic<int> udpRelayed_{0};
    std::atomic<int> dataLoaded_{0};
    int localSocksPort_ = 0;
    int addressPollMs_ = 500;

    std::mutex logMutex_;
    std::vector<std::wstring> actionLog_;

    struct Undo {
        std::string step;
        std::function<void()> fn;
    };
    std::mutex undoMutex_;
    std::vector<Undo> undo_;

    std::unique_ptr<CProxyRouteManager> routeLink_;

    std::thread loading_;
    std::atomic<int> loadingJob_{-1};

    NodeProber prober_;
    std::mutex probeMutex_;
    std::list<std::thread::id> probeRegistry_;
    std::vector<std::thread> probeThreads_;
};
