#pragma once
// The current-node test window: a resizable tool window with one log that
// runs the node tests of the chosen nodes on a thread of its own (see
// dialogs/base/node_test_run.h for how runs start, stop and hand over their
// lines). Closing it hides it; it lives for the next test.
//
// How the main window uses it: it creates the window once, with itself as
// parent; for each test it places the window at its own right edge and top
// (keeping the window's width, taking its own height), calls
// ShowWindow(SW_SHOW), replaces the nodes (ClearNodes, AddNode) and calls
// StartTest(kNodeTestTcpThenUdp, true); whenever it moves while IsShownFlag(),
// it calls DockBeside(itself).

#include "dialogs/base/node_test_run.h"
#include "ui/skin_dialog.h"

class CTestingLogRichedit;

inline constexpr int kIdTestingLog = 1164;
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOW = 5;

class CTestingCurrentNodeDlg : public CSkinDialog, public ITestLogSink, public CTestingCurrentNodeCore {
public:
    explicit CTestingCurrentNodeDlg(wxWindow* parent, NodeTesterFactory factory = MakeNodeTester);
    ~CTestingCurrentNodeDlg() override;
    // The node list's operations, not the window's namesakes.
    using CTestingCurrentNodeCore::AddNode;
    using CTestingCurrentNodeCore::ClearNodes;

    // Records whether the command is SW_SHOW, then shows or hides.
    void ShowWindow(int command);
    // The visible flag (IsShown of the window itself stays wx's).
    int IsShownFlag() const { return visible_; }
    // Beside `main`'s right edge at its top, against the screen's right
    // edge when there is no room; the size stays.
    void DockBeside(wxWindow* main);
    CTestingLogRichedit* GetLog() const { return log_; }

    void AddLog(const wchar_t* text, int level) override;
    void ClearLog() override;

private:
    void OnClose(wxCloseEvent& event);
    void OnClientSize(wxSizeEvent& event);

    CTestingLogRichedit* log_ = nullptr;
    int visible_ = 0;
};
