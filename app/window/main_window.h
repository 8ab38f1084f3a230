#pragma once
// The main window (template 210): node and mode choosers, the CONNECT
// button, the small bitmap buttons and their menus, the logo pictures, the
// status line, the traffic panel's place, the tray icon. It is the view of
// the windowless core DialogOstrelBase, which decides everything; the
// window shows what the core says and hands it the user's commands.
//
// How the shell runs it (the window before the core, the core gone last):
//
//   DialogOstrelWindow* wnd = hasService ? new CAgentDialogOstrel(nullptr)
//                                        : new DialogOstrelWindow(nullptr);
//   DialogOstrelBase core(&loop, wnd, &system);  // the window is the view
//   wnd->AttachCore(&core);   // the tray icon, the local services, the
//                             // edition's controls; shows the window
//                             // unless "hidewindow"; the deferred start-up
//                             // load runs after the first show (at once
//                             // when the window stays hidden)
//   ... the event loop runs until core.Exit(1) quits it ...
//   delete wnd;               // detaches itself from the core: view calls
//                             // made later go nowhere
//   (then the core is destroyed; it releases the managers the window read)
//
// Closing the window hides it in the tray; Enter and Esc do nothing; while
// "hidewindow" holds, Show is refused until ShowMainWindow.
//
// Threads: view calls from other threads are queued to the window in
// order and never wait; the getters run on the window's thread.

#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <map>
#include <memory>
#include <string>

#include "app/main_menus.h"
#include "app/main_window_view.h"
#include "app/window/base/main_layout.h"
#include "app/window/base/main_template.h"
#include "dialogs/zentrav_window.h"

class CBmpButton;
class CComboBoxPelmorMode;
class CDialogLoadDatas;
class CDialogMyDHtmlPage;
class CHyperLink;
class CPictureEx;
class CProxyListGroupComboBoxWithIcons;
class CSkinButton;
class CTestingCurrentNodeDlg;
class CTrayIcon;
class CNodeInfo;
class DialogOstrelBase;
class QeltMenu;
class wxImageList;

// The tray icon's callback message.
inline constexpr int kMsgTrayNotify = 2025;
inline constexpr int kTrayIconId = 128;

class DialogOstrelWindow : public CDialogZentravWindow, public IMainWindowView {
public:
    explicit DialogOstrelWindow(wxWindow* parent);
    ~DialogOstrelWindow() override;

    // Ties the window to its core and runs the window's start-up (see above).
    void AttachCore(DialogOstrelBase* core);
    DialogOstrelBase* GetCore() const { return core_; }

    // One dispatch for the buttons' and the menus' command ids.
    virtual void OnCommand(int id);
    // The four menus at the pointer; the chosen item goes to OnCommand.
    void ShowMenu(MainMenu menu);
    // Closes a menu that is open (the quit hook, tests).
    void CancelMenu();
    bool IsMenuOpen() const { return openMenu_ != nullptr; }
    // The items the menu would show now (tests and the gallery).
    std::vector<MenuItemSpec> MenuItems(MainMenu menu);

    // The control of a template id, the panels by theirs (131, 133); null
    // when the window has none.
    wxWindow* GetControl(int id) const;
    // Runs the layout over the controls that exist.
    void RepositionStatusBar() override;
    bool IsHideWindow() const { return hideWindow_; }
    bool Show(bool show = true) override;
    CTrayIcon* GetTrayIcon() const { return tray_.get(); }
    // The node test window, null before the first test.
    CTestingCurrentNodeDlg* GetTestWindow() const { return testDlg_; }

    // IMainWindowView.
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
    NodeRowSelection GetSelectedNodeRow() override;
    void SelectNodeById(int nodeId) override;
    void FillModes(int index) override;
    int GetSelectedModeIndex() override;
    void SelectModeIndex(int index) override;
    bool RunLoadingPanel(int loadFlags, std::function<void()> done) override;
    void JoinLoadingPanel() override;
    bool RunLogin() override;

protected:
    // The steps of the window's start-up the editions change.
    virtual void InitLayout();
    virtual void CreateTrafficPanel();
    virtual void InitControls();
    virtual void InitEditionControls() {}
    virtual void CreateWebPanel();
    // The web panel over placeholder 1130; nothing for an empty address.
    void MakeWebPanel(const std::wstring& url);
    virtual void LayoutControls(ControlRects& rects);
    virtual void ShowBusyPictures();
    virtual void ShowIdlePictures(bool connected);
    // The traffic panel over placeholder 1022; null for none.
    virtual wxWindow* NewTrafficPanel(wxWindow* parent);
    // Opens a web address of a button; an empty one is only logged.
    void OpenAddress(const std::wstring& url, const char* what);
    // Writes the RECT lines when CENDROW_WINDOW_RECTS names a file.
    void WriteRects();
    void AddControl(int id, wxWindow* window);
    CBmpButton* MakeBmpButton(int id, const wxString& tip);
    const PixRect& TemplateRect(int id) const;

    DialogOstrelBase* core_ = nullptr;
    std::map<int, wxWindow*> controls_;
    std::map<int, PixRect> template_;
    CProxyListGroupComboBoxWithIcons* nodeCombo_ = nullptr;
    CComboBoxPelmorMode* modeCombo_ = nullptr;
    CSkinButton* connect_ = nullptr;
    std::map<int, CBmpButton*> bmpButtons_;
    wxStaticBox* frame_ = nullptr;
    wxStaticText* proxyLabel_ = nullptr;
    wxStaticText* modeLabel_ = nullptr;
    wxStaticBitmap* udpIcon_ = nullptr;
    wxWindow* webPlace_ = nullptr;
    wxWindow* trafficPlace_ = nullptr;
    CPictureEx* connected_ = nullptr;
    CPictureEx* disconnected_ = nullptr;
    CPictureEx* busy_ = nullptr;
    CHyperLink* productLink_ = nullptr;
    CHyperLink* updateLink_ = nullptr;
    CDialogMyDHtmlPage* web_ = nullptr;
    wxWindow* traffic_ = nullptr;
    CDialogLoadDatas* loading_ = nullptr;
    std::unique_ptr<CTrayIcon> tray_;
    std::unique_ptr<wxImageList> menuImages_;

private:
    void BuildControls();
    void OnTrayNotify(wxCommandEvent& event);
    // Stops a running node test and waits for it, before node records go.
    void StopNodeTest();
    void OnNodeChosen();
    void OnModeChosen();
    void OnExitButton();
    void OnTestButton();
    void OnDonateButton();
    void OnAddNode(int command);
    void OnEditButton();
    void OnProxyModes();
    // The SS/SSR or HTTP/SOCKS node dialog, adding or editing `edit`; true
    // on OK with the saved node's id and its "activate" choice.
    bool RunNodeDialog(bool ssr, CNodeInfo* edit, int& nodeId, int& activate);
    void RunDeferredOnce();
    void OnSysCommand(int command) override;

    QeltMenu* openMenu_ = nullptr;
    bool hideWindow_ = false;
    bool hideIcon_ = false;
    bool deferredDone_ = false;
    bool layingOut_ = false;
    CTestingCurrentNodeDlg* testDlg_ = nullptr;
};
