#pragma once
// A view in front of the window that can be cut off at once: once the
// display is lost the window must not be touched again (any toolkit call
// would end the process before the network is put back), so the core's
// calls become no-ops; status lines still reach the program log, and the
// getters answer "no change".

#include <atomic>

#include "app/main_window_view.h"

class CViewGuard : public IMainWindowView {
public:
    explicit CViewGuard(IMainWindowView* window) : window_(window) {}

    // From now on nothing reaches the window. Any thread; lock-free, so
    // that it is safe where the display was lost.
    void CutOff() { cut_.store(true); }
    bool IsCutOff() const { return cut_.load(); }

    void SetStatusText(const std::wstring& text) override;
    void ShowBusy() override;
    void ShowIdle(bool connected) override;
    void SetConnectButton(const std::wstring& text, const std::wstring& tip) override;
    void EnableControls(bool enable) override;
    void EnableConnectAndExit() override;
    void UpdateTray(bool remove, int iconId, const std::wstring& tip) override;
    void ShowUdpWarning(bool show) override;
    void ShowModeManagementButton(bool show) override;
    void ShowMainWindow() override;
    void HideToTray() override;
    void FillNodes(int nodeId) override;
    // Cut off: a row without a node, which leaves the saved node as it is.
    NodeRowSelection GetSelectedNodeRow() override;
    void SelectNodeById(int nodeId) override;
    void FillModes(int index) override;
    int GetSelectedModeIndex() override;
    void SelectModeIndex(int index) override;
    bool RunLoadingPanel(int loadFlags, std::function<void()> done) override;
    void JoinLoadingPanel() override;
    void SetAccountLines(const std::wstring& traffic, const std::wstring& expiration) override;
    // Cut off: nobody can log in, as without a window.
    bool RunLogin() override;

private:
    IMainWindowView* window_;
    std::atomic<bool> cut_{false};
};
