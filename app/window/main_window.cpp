#include "app/window/main_window.h"

#include <wx/app.h>
#include <wx/imaglist.h>
#include <wx/thread.h>
#include <wx/utils.h>
#include <wx/window.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/halvern_app.h"
#include "app/main_core.h"
#include "dialogs/about_dlg.h"
#include "dialogs/dialog_add_new_socks_proxy.h"
#include "dialogs/dialog_add_new_ssr_proxy.h"
#include "dialogs/dialog_additional_route.h"
#include "dialogs/dialog_async_doing.h"
#include "dialogs/dialog_batch_add_from_link.h"
#include "dialogs/dialog_events_mgr.h"
#include "dialogs/dialog_login.h"
#include "dialogs/dialog_proxy_mode_management.h"
#include "dialogs/dialog_settings.h"
#include "dialogs/dialog_show_logs.h"
#include "dialogs/dialog_ssr_subscriptions.h"
#include "dialogs/dialog_traffic.h"
#include "dialogs/testing_current_node_dlg.h"
#include "dialogs/worker_wait.h"
#include "dialogs/node_combo.h"
#include "dialogs/pelmor_combos.h"
#include "foundation/program_log.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "foundation/translate.h"
#include "nodes/edition/vantor_authorization.h"
#include "nodes/node_mgr.h"
#include "platform/open_url.h"
#include "ui/base/skin_frame.h"
#include "ui/bmp_button.h"
#include "ui/base/tray_icon.h"
#include "ui/combo_box_icon.h"
#include "ui/dialog_my_dhtml_page.h"
#include "ui/hyperlink.h"
#include "ui/picture_ex.h"
#include "ui/qelt_menu.h"
#include "ui/skin_button.h"
#include "ui/tray_backend_wx.h"
#include "ui/wx_draw.h"

namespace {

// The tray's right-button press (the menu click) and left double click.
constexpr long kTrayRightDown = 0x0204;
constexpr long kTrayRightUp = 0x0205;
constexpr long kTrayLeftDoubleClick = 0x0203;

constexpr int kBitmapMenuImages = 153;
constexpr int kIconUdpWarning = 158;

wxString Tr(const char* id) {
    return wxString::FromUTF8(Translate(id));
}

PixRect ToPix(const wxRect& r) {
    return {r.x, r.y, r.width, r.height};
}

template <typename Dialog>
bool RunNodeDialogOf(wxWindow* parent, CNodeInfo* edit, int& nodeId, int& activate) {
    Dialog dlg(parent, edit ? 1 : 0);
    if (edit) dlg.SetEditNode(edit);
    if (dlg.ShowModal() != wxID_OK) return false;
    nodeId = dlg.GetNodeId();
    activate = dlg.GetActivate();
    return true;
}

}  // namespace

DialogOstrelWindow::DialogOstrelWindow(wxWindow* parent)
    : CDialogZentravWindow(parent, kMainTemplateId, wxSize(kMainClientWidth, kMainClientHeight), nullptr,
                           wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX),
      template_(MainTemplateRects()) {
    CTapCommandLineParser* parser = GetApp().GetCommandLineParser();
    hideWindow_ = parser->GetHideWindow() != 0;
    hideIcon_ = parser->GetHideIcon() != 0;
    BuildControls();
    // Closing hides the window in the tray; Enter and Esc do nothing.
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
        if (event.CanVeto()) {
            event.Veto();
            OnSysCommand(SC_CLOSE);
        } else {
            event.Skip();
        }
    });
    Bind(wxEVT_CHAR_HOOK, [](wxKeyEvent& event) {
        const int key = event.GetKeyCode();
        if (key == WXK_ESCAPE || key == WXK_RETURN || key == WXK_NUMPAD_ENTER) return;
        event.Skip();
    });
    Bind(EVT_TRAY_NOTIFY, &DialogOstrelWindow::OnTrayNotify, this, kMsgTrayNotify);
    Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
        event.Skip();
        if (!event.IsShown()) return;
        CallAfter([this] {
            RunDeferredOnce();
            WriteRects();
        });
    });
    // The test window follows the main window while it is shown.
    Bind(wxEVT_MOVE, [this](wxMoveEvent& event) {
        event.Skip();
        if (testDlg_ && testDlg_->IsShownFlag()) testDlg_->DockBeside(this);
    });
}

DialogOstrelWindow::~DialogOstrelWindow() {
    if (busy_) busy_->Stop();
    if (loading_) loading_->JoinWorker();
    // Its test thread ends before the nodes it reads go away with the core.
    delete testDlg_;
    testDlg_ = nullptr;
    if (core_) core_->DetachView();
    core_ = nullptr;
}

const PixRect& DialogOstrelWindow::TemplateRect(int id) const {
    return template_.at(id);
}

void DialogOstrelWindow::AddControl(int id, wxWindow* window) {
    controls_[id] = window;
}

CBmpButton* DialogOstrelWindow::MakeBmpButton(int id, const wxString& tip) {
    const wxRect r = WxRect(TemplateRect(id));
    auto* button = new CBmpButton(GetClientPanel(), id, wxEmptyString, r.GetPosition(), r.GetSize());
    if (!tip.empty()) button->SetToolTip(tip);
    button->Bind(wxEVT_BUTTON, [this, id](wxCommandEvent&) { OnCommand(id); });
    bmpButtons_[id] = button;
    AddControl(id, button);
    return button;
}

void DialogOstrelWindow::BuildControls() {
    wxPanel* p = GetClientPanel();
    auto at = [this](int id) { return WxRect(TemplateRect(id)); };

    // Placeholders of the panels: empty, see-through.
    webPlace_ = new wxWindow(p, kIdWebPlace, at(kIdWebPlace).GetPosition(), at(kIdWebPlace).GetSize());
    webPlace_->Hide();
    trafficPlace_ = new wxWindow(p, kIdTrafficPlace, at(kIdTrafficPlace).GetPosition(), at(kIdTrafficPlace).GetSize());
    trafficPlace_->Hide();
    AddControl(kIdWebPlace, webPlace_);
    AddControl(kIdTrafficPlace, trafficPlace_);

    connected_ = new CPictureEx(p, kIdConnectedPicture, at(kIdConnectedPicture).GetPosition(),
                                at(kIdConnectedPicture).GetSize());
    disconnected_ = new CPictureEx(p, kIdDisconnectedPicture, at(kIdDisconnectedPicture).GetPosition(),
                                   at(kIdDisconnectedPicture).GetSize());
    busy_ = new CPictureEx(p, kIdBusyPicture, at(kIdBusyPicture).GetPosition(), at(kIdBusyPicture).GetSize());
    AddControl(kIdConnectedPicture, connected_);
    AddControl(kIdDisconnectedPicture, disconnected_);
    AddControl(kIdBusyPicture, busy_);
    for (CPictureEx* picture : {connected_, disconnected_, busy_}) picture->Hide();

    udpIcon_ = new wxStaticBitmap(p, kIdUdpWarning, wxNullBitmap, at(kIdUdpWarning).GetPosition(),
                                  at(kIdUdpWarning).GetSize());
    udpIcon_->Hide();
    AddControl(kIdUdpWarning, udpIcon_);

    frame_ = new wxStaticBox(p, kIdRowsFrame, wxEmptyString, at(kIdRowsFrame).GetPosition(), at(kIdRowsFrame).GetSize());
    frame_->SetBackgroundColour(*wxWHITE);
    AddControl(kIdRowsFrame, frame_);
    proxyLabel_ = new wxStaticText(p, kIdProxyLabel, Tr("Proxy:"), at(kIdProxyLabel).GetPosition(),
                                   at(kIdProxyLabel).GetSize(), wxST_NO_AUTORESIZE);
    modeLabel_ = new wxStaticText(p, kIdModeLabel, Tr("Mode:"), at(kIdModeLabel).GetPosition(),
                                  at(kIdModeLabel).GetSize(), wxST_NO_AUTORESIZE);
    AddControl(kIdProxyLabel, proxyLabel_);
    AddControl(kIdModeLabel, modeLabel_);

    nodeCombo_ = new CProxyListGroupComboBoxWithIcons(p, kIdNodeCombo, at(kIdNodeCombo).GetPosition(),
                                                      at(kIdNodeCombo).GetSize());
    nodeCombo_->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { OnNodeChosen(); });
    modeCombo_ = new CComboBoxPelmorMode(p, kIdModeCombo, at(kIdModeCombo).GetPosition(), at(kIdModeCombo).GetSize());
    modeCombo_->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { OnModeChosen(); });
    AddControl(kIdNodeCombo, nodeCombo_);
    AddControl(kIdModeCombo, modeCombo_);

    MakeBmpButton(kIdAddNode, Tr("Add new proxy"));
    MakeBmpButton(kIdDeleteNode, Tr("Delete current proxy"));
    MakeBmpButton(kIdEditNode, Tr("Edit current proxy"));
    MakeBmpButton(kIdTestNode, Tr("Test current proxy"));
    MakeBmpButton(kIdModesButton, Tr("Create or edit proxy mode"));
    MakeBmpButton(kIdDonate, Tr("Donate this program"));
    // Its bitmap is a plain face: the caption says what it opens.
    MakeBmpButton(kIdMenuButton, Tr("Popup menu"))->SetLabel("...");
    MakeBmpButton(kIdExitButton, Tr("Exit program"));

    connect_ = new CSkinButton(p, kIdConnect, Tr("CONNECT"), at(kIdConnect).GetPosition(), at(kIdConnect).GetSize());
    connect_->SetToolTip(Tr("Connect to proxy"));
    connect_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCommand(kIdConnect); });
    AddControl(kIdConnect, connect_);

    productLink_ = new CHyperLink(p, kIdProductLink, wxEmptyString, wxEmptyString, at(kIdProductLink).GetPosition());
    updateLink_ = new CHyperLink(p, kIdUpdateLink, wxString::FromUTF8("New version [1.0.8.8] is ready for you!"),
                                 wxEmptyString, at(kIdUpdateLink).GetPosition());
    productLink_->Hide();
    updateLink_->Hide();
    AddControl(kIdProductLink, productLink_);
    AddControl(kIdUpdateLink, updateLink_);
    AddControl(kIdStatusLine, GetStatusEdit());
}

void DialogOstrelWindow::AttachCore(DialogOstrelBase* core) {
    core_ = core;
    // The tray icon first, so that the services' messages find it.
    tray_ = std::make_unique<CTrayIcon>(kTrayIconId, MakeWxTrayBackend());
    if (!hideIcon_) {
        tray_->SetNotificationWnd(this, kMsgTrayNotify);
        core_->UpdateTray(0);
    }
    InitLayout();
    CreateTrafficPanel();
    InitControls();
    CreateWebPanel();
    QeltMenu::SetMenuDrawMode(1);
    menuImages_ = CComboBoxIcon::LoadImageStrip(kBitmapMenuImages, *wxWHITE, 1);
    core_->StartServices();
    InitEditionControls();
    RepositionStatusBar();
    if (hideWindow_)
        CallAfter([this] { RunDeferredOnce(); });
    else
        Show();
}

void DialogOstrelWindow::RunDeferredOnce() {
    if (deferredDone_ || !core_) return;
    deferredDone_ = true;
    core_->OnDeferredInitMessage(0);
}

// ---- Start-up steps ----

void DialogOstrelWindow::InitLayout() {
    const PixRect logo = LogoSquare(ToPix(connected_->GetRect()), GetClientPanel()->GetClientSize().x);
    for (CPictureEx* picture : {connected_, disconnected_, busy_}) {
        picture->SetBkColor(RGB(255, 255, 255));
        picture->SetSize(WxRect(logo));
        picture->SetPaintRect(wxRect(0, 0, logo.width, logo.height));
    }
    connected_->LoadBitmapResource(137, false);
    disconnected_->LoadBitmapResource(138, false);
    busy_->LoadResource(146, "GIF", false);
    ShowIdlePictures(false);
    udpIcon_->SetSize(WxRect(UdpWarningPlace(logo)));
}

void DialogOstrelWindow::CreateTrafficPanel() {
    const wxRect place = trafficPlace_->GetRect();
    trafficPlace_->Hide();
    traffic_ = NewTrafficPanel(GetClientPanel());
    if (!traffic_) return;
    traffic_->SetSize(place);
    traffic_->Show();
    AddControl(kIdTrafficPanel, traffic_);
}

void DialogOstrelWindow::InitControls() {
    udpIcon_->Hide();
    const Pixmap icon = LoadPictureResource("icon", kIconUdpWarning);
    if (icon.IsOk()) udpIcon_->SetBitmap(ToWxBitmap(icon, true));
    udpIcon_->SetToolTip(
        Tr("Currently, UDP is not enabled, and some UDP-dependent programs may not work properly"));
    const std::pair<int, int> bitmaps[] = {{kIdAddNode, 235},    {kIdDeleteNode, 236}, {kIdEditNode, 238},
                                           {kIdTestNode, 242},   {kIdModesButton, 251}, {kIdMenuButton, 240},
                                           {kIdDonate, 237},     {kIdExitButton, 239}};
    for (const auto& [id, bitmap] : bitmaps) bmpButtons_[id]->SetBitmap(bitmap, false);
    bmpButtons_[kIdModesButton]->Show(CVantorAuthorization::GetInstance()->IsProxyModeManagementEnabled() != 0);
    // The product's site: none is built in, so the link stays hidden.
    const std::wstring site = CVantorAuthorization::GetInstance()->GetWebsiteUrl();
    productLink_->SetBkColor(RGB(255, 255, 255));
    productLink_->SetLinkText(wxString::FromUTF8("Cendrow"));
    productLink_->SetURL(wxString(site));
    productLink_->Show(!site.empty());
    updateLink_->SetColours(0x0000FF, 0x808000, 0x800080, 0x0000FF);
    updateLink_->SetBkColor(RGB(255, 255, 255));
    updateLink_->SetNotifyTarget(this, 3543);
    updateLink_->Hide();
}

void DialogOstrelWindow::CreateWebPanel() {
    CVantorAuthorization* edition = CVantorAuthorization::GetInstance();
    if (!edition->IsWebPaneHidden()) MakeWebPanel(edition->GetClientPageUrl());
}

void DialogOstrelWindow::MakeWebPanel(const std::wstring& url) {
    // No address, no panel: the placeholder stays empty.
    if (url.empty() || web_) return;
    const wxRect place = webPlace_->GetRect();
    webPlace_->Hide();
    const std::wstring text = Utf8ToWideString(Translate("Page is loading, please wait..."));
    web_ = new CDialogMyDHtmlPage(131, 0, this, 132, url, 225, L"GIF", text);
    if (!web_->CreateModeless(GetClientPanel())) {
        web_->Destroy();
        web_ = nullptr;
        return;
    }
    web_->SetLoadingText(text);
    web_->SetSize(place);
    web_->Show();
    AddControl(kIdWebPanel, web_);
    RepositionStatusBar();
}

// ---- Layout ----

void DialogOstrelWindow::LayoutControls(ControlRects& rects) {
    const wxSize client = GetClientPanel()->GetClientSize();
    LayoutBaseWindow(rects, client.x, client.y, GetStatusBarHeight());
}

void DialogOstrelWindow::RepositionStatusBar() {
    CDialogZentravWindow::RepositionStatusBar();
    if (layingOut_ || controls_.empty()) return;
    layingOut_ = true;
    ControlRects rects;
    for (const auto& [id, window] : controls_) {
        if (id != kIdStatusLine) rects[id] = ToPix(window->GetRect());
    }
    LayoutControls(rects);
    for (const auto& [id, rect] : rects) {
        wxWindow* window = controls_[id];
        if (ToPix(window->GetRect()) != rect) window->SetSize(WxRect(rect));
    }
    layingOut_ = false;
    WriteRects();
}

wxWindow* DialogOstrelWindow::GetControl(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void DialogOstrelWindow::WriteRects() {
    const char* path = std::getenv("CENDROW_WINDOW_RECTS");
    if (!path || !*path) return;
    // A hidden window has no places on the screen; they are written when it
    // shows again. The loading panel hides the controls for a moment; their
    // places stay.
    if (!IsShown() || (loading_ && loading_->IsShown())) return;
    std::string text;
    for (const auto& [id, window] : controls_) {
        if (!window->IsShown()) continue;
        const wxRect r = window->GetScreenRect();
        text += "RECT " + std::to_string(id) + " " + std::to_string(r.x) + " " + std::to_string(r.y) + " " +
                std::to_string(r.width) + " " + std::to_string(r.height) + "\n";
    }
    // Whole or not at all: a reader never sees half a list.
    const std::string temp = std::string(path) + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << text;
        if (!out) return;
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
}

// ---- Pictures and states ----

void DialogOstrelWindow::ShowBusyPictures() {
    connected_->Hide();
    disconnected_->Hide();
    busy_->Show();
    busy_->Draw();
}

void DialogOstrelWindow::ShowIdlePictures(bool connected) {
    busy_->Stop();
    busy_->Hide();
    connected_->Show(connected);
    disconnected_->Show(!connected);
    (connected ? connected_ : disconnected_)->Draw();
}

void DialogOstrelWindow::SetStatusText(const std::wstring& text) {
    ShowStatusText(text);
    RunOnWindow([this] { WriteRects(); });
}

void DialogOstrelWindow::ShowBusy() {
    RunOnWindow([this] { ShowBusyPictures(); });
}

void DialogOstrelWindow::ShowIdle(bool connected) {
    RunOnWindow([this, connected] { ShowIdlePictures(connected); });
}

void DialogOstrelWindow::SetConnectButton(const std::wstring& text, const std::wstring& tip) {
    RunOnWindow([this, text, tip] {
        connect_->SetLabel(wxString(text));
        connect_->SetToolTip(wxString(tip));
        WriteRects();
    });
}

void DialogOstrelWindow::EnableControls(bool enable) {
    RunOnWindow([this, enable] {
        for (int id : {kIdNodeCombo, kIdModeCombo, kIdAddNode, kIdEditNode, kIdDeleteNode, kIdModesButton, kIdConnect,
                       kIdExitButton})
            controls_[id]->Enable(enable);
    });
}

void DialogOstrelWindow::EnableConnectAndExit() {
    RunOnWindow([this] {
        connect_->Enable(true);
        bmpButtons_[kIdExitButton]->Enable(true);
    });
}

void DialogOstrelWindow::UpdateTray(bool remove, int iconId, const std::wstring& tip) {
    RunOnWindow([this, remove, iconId, tip] {
        if (hideIcon_ || !tray_) return;
        if (remove)
            tray_->SetIcon(0);
        else
            tray_->SetIconResourceAndTip(iconId, tip.c_str());
    });
}

void DialogOstrelWindow::ShowUdpWarning(bool show) {
    RunOnWindow([this, show] {
        udpIcon_->Show(show);
        WriteRects();
    });
}

void DialogOstrelWindow::ShowModeManagementButton(bool show) {
    RunOnWindow([this, show] {
        bmpButtons_[kIdModesButton]->Show(show);
        WriteRects();
    });
}

// ---- Visibility ----

bool DialogOstrelWindow::Show(bool show) {
    // "hidewindow": nothing shows the window but ShowMainWindow.
    if (show && hideWindow_) return false;
    return CDialogZentravWindow::Show(show);
}

void DialogOstrelWindow::ShowMainWindow() {
    RunOnWindow([this] {
        hideWindow_ = false;
        if (IsIconized()) Iconize(false);
        Show();
        Raise();
        SetFocus();
    });
}

void DialogOstrelWindow::HideToTray() {
    RunOnWindow([this] { Hide(); });
}

void DialogOstrelWindow::OnSysCommand(int command) {
    if (command == SC_CLOSE) {
        // Closing only puts the window away into the tray.
        Hide();
        return;
    }
    CDialogZentravWindow::OnSysCommand(command);
}

void DialogOstrelWindow::OnTrayNotify(wxCommandEvent& event) {
    if (event.GetInt() != kTrayIconId) return;
    const long mouse = event.GetExtraLong();
    if (mouse == kTrayRightDown || mouse == kTrayRightUp)
        ShowMenu(MainMenu::kTray);
    else if (mouse == kTrayLeftDoubleClick && core_)
        core_->ShowMainWindow();
}

// ---- Choosers ----

void DialogOstrelWindow::FillNodes(int nodeId) {
    RunOnWindow([this, nodeId] { nodeCombo_->FillNodes(nodeId); });
}

NodeRowSelection DialogOstrelWindow::GetSelectedNodeRow() {
    const int row = nodeCombo_->GetCurSel();
    if (row < 0) return {};
    const CGroupComboBoxItem* item = nodeCombo_->GetItem(row);
    if (!item) return {};
    if (item->IsHeader()) return {NodeRowKind::kHeader, -1};
    const CNodeInfo* node = nodeCombo_->GetNodeAt(row);
    return {NodeRowKind::kNode, node ? node->id : -1};
}

void DialogOstrelWindow::SelectNodeById(int nodeId) {
    RunOnWindow([this, nodeId] { nodeCombo_->SelectNodeById(nodeId); });
}

void DialogOstrelWindow::FillModes(int index) {
    RunOnWindow([this, index] {
        modeCombo_->FillModes();
        if (index >= 0 && index < static_cast<int>(modeCombo_->GetCount())) modeCombo_->SetSelection(index);
    });
}

int DialogOstrelWindow::GetSelectedModeIndex() {
    return modeCombo_->GetSelection();
}

void DialogOstrelWindow::SelectModeIndex(int index) {
    RunOnWindow([this, index] {
        if (index >= 0 && index < static_cast<int>(modeCombo_->GetCount())) modeCombo_->SetSelection(index);
    });
}

void DialogOstrelWindow::StopNodeTest() {
    if (!testDlg_) return;
    // A test reads and writes the records of its nodes: before a record can
    // go, the running test stops (its sockets are shut) and ends; a stopped
    // run touches no further node.
    testDlg_->StopTest();
    RunEventsUntil([this] { return testDlg_->RunningTests() == 0; });
    testDlg_->ClearNodes();
}

void DialogOstrelWindow::OnNodeChosen() {
    if (!core_) return;
    const int row = nodeCombo_->GetCurSel();
    if (row < 0) return;
    if (const CGroupComboBoxItem* item = nodeCombo_->GetItem(row); item && item->IsHeader()) {
        // A header stands for the first node under it; with none nothing changes.
        const int next = nodeCombo_->FindNextItem(row);
        if (next < 0) return;
        nodeCombo_->SelectItem(next);
    }
    core_->OnNodeSelected();
}

void DialogOstrelWindow::OnModeChosen() {
    if (core_) core_->OnModeSelected();
}

// ---- Panels ----

bool DialogOstrelWindow::RunLoadingPanel(int loadFlags, std::function<void()> done) {
    if (!wxThread::IsMain()) return false;
    if (!loading_) {
        loading_ = new CDialogLoadDatas(GetClientPanel());
        // The controls it hid come back when it goes: their places then count.
        loading_->Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
            event.Skip();
            if (!event.IsShown()) CallAfter([this] { WriteRects(); });
        });
    }
    loading_->SetSize(wxRect(wxPoint(0, 0), GetClientPanel()->GetClientSize()));
    loading_->SetLoadFlags(loadFlags);
    loading_->SetDoneCallback(std::move(done));
    loading_->Show();
    loading_->Raise();
    if (!loading_->StartWork()) {
        loading_->Hide();
        return false;
    }
    return true;
}

void DialogOstrelWindow::JoinLoadingPanel() {
    if (loading_) loading_->JoinWorker();
}

bool DialogOstrelWindow::RunLogin() {
    CDialogLogin login(this);
    login.CentreOnScreen();
    return login.ShowModal() == wxID_OK;
}

// ---- Menus and commands ----

std::vector<MenuItemSpec> DialogOstrelWindow::MenuItems(MainMenu menu) {
    return BuildMainMenu(menu, core_ ? core_->GetMenuState() : CurrentMenuState(false));
}

void DialogOstrelWindow::ShowMenu(MainMenu menu) {
    QeltMenu popup;
    for (const MenuItemSpec& item : MenuItems(menu)) {
        const std::wstring text = Utf8ToWideString(item.text);
        popup.AppendMenu(item.grayed ? (MF_GRAYED | MF_DISABLED) : 0, static_cast<uintptr_t>(item.command),
                         text.c_str(), item.image >= 0 ? menuImages_.get() : nullptr, item.image);
    }
    const wxPoint at = wxGetMousePosition();
    if (IsShown()) Raise();
    openMenu_ = &popup;
    const int chosen = popup.TrackPopupMenu(TPM_RIGHTBUTTON | TPM_RETURNCMD, at.x, at.y, this);
    openMenu_ = nullptr;
    if (chosen > 0) OnCommand(chosen);
}

void DialogOstrelWindow::CancelMenu() {
    if (openMenu_) openMenu_->CancelTracking();
}

void DialogOstrelWindow::OpenAddress(const std::wstring& url, const char* what) {
    if (url.empty()) {
        AppendToProgramLog(std::string("main window: ") + what + ": no address is configured; nothing opened");
        return;
    }
    OpenUrl(WideToUtf8String(url));
}

void DialogOstrelWindow::OnCommand(int id) {
    if (!core_) return;
    const MenuState state = core_->GetMenuState();
    if (!IsCommandAllowed(id, state)) return;
    switch (id) {
        // Buttons.
        case kIdAddNode:
            ShowMenu(MainMenu::kAddNode);
            break;
        case kIdDeleteNode:
            StopNodeTest();
            core_->DeleteSelectedNode();
            break;
        case kIdEditNode:
            OnEditButton();
            break;
        case kIdTestNode:
            OnTestButton();
            break;
        case kIdModesButton:
            if (state.proxyModes) OnProxyModes();
            break;
        case kIdMenuButton:
            ShowMenu(MainMenu::kPopup);
            break;
        case kIdDonate:
            OnDonateButton();
            break;
        case kIdExitButton:
            OnExitButton();
            break;
        case kIdConnect:
            core_->OnConnectButton();
            break;
        // Menu items.
        case kCmdAbout: {
            CAboutDlg dlg(this);
            dlg.ShowModal();
            break;
        }
        case kCmdExit:
            core_->Exit(1);
            break;
        case kCmdWebsite:
            OpenAddress(CVantorAuthorization::GetInstance()->GetWebsiteUrl(), "web site");
            break;
        case kCmdShowWindow:
            core_->ShowMainWindow();
            break;
        case kCmdSettings: {
            const SettingsOptions options{
                CVantorAuthorization::GetInstance()->IsSmartDnsConfigEnabled() != 0, state.hasService};
            CDialogSettings(this, options).ShowModal();
            break;
        }
        case kCmdForum:
            OpenAddress(CVantorAuthorization::GetInstance()->GetForumUrl(), "forum");
            break;
        case kCmdShowLogs: {
            CDialogShowLogs dlg(core_->GetActionLog(), this);
            dlg.ShowModal();
            break;
        }
        case kCmdAdditionalRoutes:
            CDialogAdditionalRouteMgr(this).ShowModal();
            break;
        case kCmdResetStatistics:
            CNodeMgr::GetInstance()->ResetAllStatistics();
            break;
        case kCmdAddSocksNode:
        case kCmdAddSsrNode:
            OnAddNode(id);
            break;
        case kCmdBatchAdd: {
            CDialogBatchAddFromLink dlg(this);
            if (dlg.ShowModal() == wxID_OK && dlg.GetAddedCount() > 0) core_->OnNodesImported(dlg.GetAddedCount());
            break;
        }
        case kCmdSubscriptions: {
            CDialogSSRSubscriptions dlg(this);
            dlg.ShowModal();
            if (dlg.IsChanged() && IsCommandAllowed(kCmdReloadSubscriptions, core_->GetMenuState()))
                core_->ReloadSubscriptionNodes();
            break;
        }
        case kCmdReloadSubscriptions:
            core_->ReloadSubscriptionNodes();
            break;
        case kCmdEvents: {
            CDialogEventsMgr dlg(this);
            dlg.ShowModal();
            break;
        }
        case kCmdLogout:
            StopNodeTest();
            core_->Logout();
            break;
        default:
            break;
    }
}

void DialogOstrelWindow::OnAddNode(int command) {
    int nodeId = -1;
    int activate = 0;
    if (!RunNodeDialog(command == kCmdAddSsrNode, nullptr, nodeId, activate)) return;
    core_->OnNodeAdded(activate != 0, nodeId);
}

void DialogOstrelWindow::OnEditButton() {
    const NodeRowSelection sel = GetSelectedNodeRow();
    if (sel.kind != NodeRowKind::kNode || sel.nodeId < 0) return;
    CNodeInfo* node = CNodeMgr::GetInstance()->FindNode(sel.nodeId);
    if (!node) return;
    int nodeId = -1;
    int activate = 0;
    if (!RunNodeDialog(node->type == NodeTypeSSR, node, nodeId, activate)) return;
    core_->OnNodeEdited(nodeId);
}

bool DialogOstrelWindow::RunNodeDialog(bool ssr, CNodeInfo* edit, int& nodeId, int& activate) {
    return ssr ? RunNodeDialogOf<CDialogAddNewSSRProxy>(this, edit, nodeId, activate)
               : RunNodeDialogOf<CDialogAddNewSOCKSProxy>(this, edit, nodeId, activate);
}

void DialogOstrelWindow::OnProxyModes() {
    CDialogProxyModeManagement dlg(this);
    dlg.ShowModal();
    if (dlg.IsChanged()) FillModes(GetSelectedModeIndex());
}

void DialogOstrelWindow::OnTestButton() {
    const NodeRowSelection sel = GetSelectedNodeRow();
    if (sel.kind != NodeRowKind::kNode || sel.nodeId < 0) return;
    CNodeInfo* node = CNodeMgr::GetInstance()->FindNode(sel.nodeId);
    if (!node) return;
    if (!testDlg_) testDlg_ = new CTestingCurrentNodeDlg(this);
    const wxRect main = GetRect();
    testDlg_->SetSize(main.GetRight() + 1, main.y, testDlg_->GetSize().x, main.height);
    testDlg_->ShowWindow(SW_SHOW);
    testDlg_->ClearNodes();
    testDlg_->AddNode(node);
    testDlg_->StartTest(kNodeTestTcpThenUdp, true);
}

wxWindow* DialogOstrelWindow::NewTrafficPanel(wxWindow* parent) {
    return new CDialogTraffic(parent, wxDefaultPosition, wxDefaultSize);
}

void DialogOstrelWindow::OnDonateButton() {
    CVantorAuthorization* edition = CVantorAuthorization::GetInstance();
    OpenAddress(IsChineseUiLocale() ? edition->GetDonateUrl() : edition->GetDonateUrlEnglish(), "donate page");
}

void DialogOstrelWindow::OnExitButton() {
    // The probes end within seconds; the loop keeps serving meanwhile (a
    // probe may wait for a box), with the windows taking no input.
    std::unique_ptr<wxWindowDisabler> disabled;
    if (core_->GetRunningProbeCount() > 0) disabled = std::make_unique<wxWindowDisabler>();
    while (core_->GetRunningProbeCount() > 0) {
        wxMilliSleep(50);
        wxTheApp->Yield(true);
    }
    ShowMenu(MainMenu::kExit);
}
