#pragma once
// Everything the main window's logic shows or asks of its window: status
// line, busy and idle pictures, the CONNECT button, control states, the tray
// icon, the UDP warning, visibility, and the node and mode choosers. The
// program runs with a headless implementation; the window implements it
// later; tests record the calls. Called from the loop thread and from the
// worker, so implementations are thread-safe.

#include <functional>
#include <string>

// What the node chooser's selected row holds.
enum class NodeRowKind {
    kNone,    // no row selected
    kHeader,  // a group header
    kNode,    // a node row
};

struct NodeRowSelection {
    NodeRowKind kind = NodeRowKind::kNone;
    int nodeId = -1;  // for kNode; -1 when the row holds no node
};

class IMainWindowView {
public:
    virtual ~IMainWindowView() = default;

    virtual void SetStatusText(const std::wstring& text) = 0;
    virtual void ShowBusy() = 0;
    virtual void ShowIdle(bool connected) = 0;
    virtual void SetConnectButton(const std::wstring& text, const std::wstring& tip) = 0;
    // Node and mode choosers, node and mode buttons, CONNECT and exit.
    virtual void EnableControls(bool enable) = 0;
    // After a connect only these two come back.
    virtual void EnableConnectAndExit() = 0;
    // The tray icon by resource id and its tip; `remove` deletes the icon.
    virtual void UpdateTray(bool remove, int iconId, const std::wstring& tip) = 0;
    virtual void ShowUdpWarning(bool show) = 0;
    virtual void ShowModeManagementButton(bool show) = 0;
    virtual void ShowMainWindow() = 0;
    // What closing the window does: it goes to the tray.
    virtual void HideToTray() = 0;

    // Refills the node chooser from the node list and selects `nodeId`.
    virtual void FillNodes(int nodeId) = 0;
    virtual NodeRowSelection GetSelectedNodeRow() = 0;
    virtual void SelectNodeById(int nodeId) = 0;
    // Refills the mode chooser and selects `index`; -1 selects nothing.
    virtual void FillModes(int index) = 0;
    // The selected mode row, -1 for none.
    virtual int GetSelectedModeIndex() = 0;
    virtual void SelectModeIndex(int index) = 0;

    // The loading panel: runs the start-up data job (RunLoadingJob with
    // `loadFlags`) on its own worker over the window and calls `done` on
    // that worker at the end. False when the view has no panel (headless):
    // the caller then runs the job itself.
    virtual bool RunLoadingPanel(int /*loadFlags*/, std::function<void()> /*done*/) { return false; }
    // Waits until a job the panel runs has ended.
    virtual void JoinLoadingPanel() {}

    // The account edition's two lines under CONNECT; other windows have none.
    virtual void SetAccountLines(const std::wstring& /*traffic*/, const std::wstring& /*expiration*/) {}
    // The login after "Logout", modal; true when it logged in. Without a
    // window there is no one to log in.
    virtual bool RunLogin() { return false; }
};
