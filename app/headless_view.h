#pragma once
// The main window of a program that runs without one: the choosers'
// selections kept as values, status lines written to the program log and
// standard error, everything else ignored.

#include <mutex>

#include "app/main_window_view.h"

class CHeadlessView : public IMainWindowView {
public:
    void SetStatusText(const std::wstring& text) override;
    void ShowBusy() override {}
    void ShowIdle(bool) override {}
    void SetConnectButton(const std::wstring&, const std::wstring&) override {}
    void EnableControls(bool) override {}
    void EnableConnectAndExit() override {}
    void UpdateTray(bool, int, const std::wstring&) override {}
    void ShowUdpWarning(bool) override {}
    void ShowModeManagementButton(bool) override {}
    void ShowMainWindow() override;
    void HideToTray() override {}

    void FillNodes(int nodeId) override;
    NodeRowSelection GetSelectedNodeRow() override;
    void SelectNodeById(int nodeId) override;
    void FillModes(int index) override;
    int GetSelectedModeIndex() override;
    void SelectModeIndex(int index) override;

private:
    std::mutex mutex_;
    int nodeId_ = -1;
    int modeIndex_ = -1;
};
