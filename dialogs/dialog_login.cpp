#include "dialogs/dialog_login.h"

#include <wx/statbox.h>

#include "dialogs/worker_wait.h"
#include "foundation/crack_url.h"
#include "foundation/text_convert.h"
#include "foundation/translate.h"
#include "nodes/account/agent_config.h"
#include "nodes/account/service_config.h"
#include "ui/hyperlink.h"
#include "ui/picture_ex.h"
#include "ui/skin_button.h"
#include "ui/skin_check_box.h"
#include "ui/wx_draw.h"

namespace {

// Template 104, in pixels at 96 DPI.
constexpr int kWidth = 360;
constexpr int kHeight = 334;
const wxRect kLogo(0, 14, kWidth, 72);
const wxRect kGroup(20, 96, 320, 176);
const wxRect kUserIcon(40, 128, 16, 16);
const wxRect kUser(64, 122, 256, 28);
const wxRect kPasswordIcon(40, 168, 16, 16);
const wxRect kPassword(64, 162, 256, 28);
const wxRect kRemember(64, 200, 200, 20);
const wxRect kOk(64, 228, 256, 30);
const wxPoint kRegister(24, 284);
const wxPoint kRecharge(150, 284);
const wxPoint kForgot(240, 284);

}  // namespace

CDialogLogin::CDialogLogin(wxWindow* parent)
    : CDialogZentravWindow(parent, 104, wxSize(kWidth, kHeight), nullptr) {
    SetWorker(this);
    wxPanel* p = GetClientPanel();
    wxString title;
    title.Printf(wxString::FromUTF8(Translate("%s %s")), wxString(GetAgentSoftName()), "2.6");
    SetTitle(title);

    group_ = new wxStaticBox(p, kIdLoginGroup, wxString::FromUTF8(Translate("Log in")), kGroup.GetPosition(),
                             kGroup.GetSize());
    group_->SetBackgroundColour(*wxWHITE);
    user_ = new CSkinEdit(p, kIdLoginUser, wxEmptyString, kUser.GetPosition(), kUser.GetSize());
    password_ = new CSkinEdit(p, kIdLoginPassword, wxEmptyString, kPassword.GetPosition(),
                              kPassword.GetSize(), wxTE_PASSWORD);
    remember_ = new CSkinCheckBox(p, kIdLoginRemember, wxString::FromUTF8(Translate("Remember me")),
                                  kRemember.GetPosition(), kRemember.GetSize());
    ok_ = new CSkinButton(p, kIdLoginOk, wxString::FromUTF8(Translate("Log in")), kOk.GetPosition(),
                          kOk.GetSize());

    // The pictures on white; the logo square, centred at its old top.
    userIcon_ = new CPictureEx(p, kIdLoginUserIcon, kUserIcon.GetPosition(), kUserIcon.GetSize());
    passwordIcon_ =
        new CPictureEx(p, kIdLoginPasswordIcon, kPasswordIcon.GetPosition(), kPasswordIcon.GetSize());
    const int side = std::min(kLogo.width, kLogo.height);
    logo_ = new CPictureEx(p, kIdLoginLogo, wxPoint((kWidth - side) / 2, kLogo.y), wxSize(side, side));
    for (CPictureEx* picture : {userIcon_, passwordIcon_, logo_}) picture->SetBkColor(RGB(255, 255, 255));
    userIcon_->LoadBitmapResource(243, true);
    passwordIcon_->LoadBitmapResource(244, true);
    logo_->LoadBitmapResource(233, false);
    logo_->SetPaintRect(wxRect(0, 0, side, side));
    logo_->Draw();
    logo_->SetSize(side, side);

    // Cue banners stay while the field has the focus.
    user_->GetTextCtrl()->SetHint(wxString::FromUTF8(Translate("Enter your username")));
    password_->GetTextCtrl()->SetHint(wxString::FromUTF8(Translate("Enter your password")));

    register_ = new CHyperLink(p, kIdLoginRegister, wxString::FromUTF8(Translate("Register")),
                               LinkUrl("//auth/aff"), kRegister);
    recharge_ = new CHyperLink(p, kIdLoginRecharge, wxString::FromUTF8(Translate("Recharge")),
                               LinkUrl("/auth/register"), kRecharge);
    recharge_->Hide();
    forgot_ = new CHyperLink(p, kIdLoginForgot, wxString::FromUTF8(Translate("Forgot password?")),
                             LinkUrl("/password/reset"), kForgot);
    // Right-aligned to the group box's edge, whatever the language's text width.
    forgot_->Move(kGroup.GetRight() + 1 - forgot_->GetSize().x, kForgot.y);
    for (CHyperLink* link : {register_, recharge_, forgot_}) link->SetBkColor(RGB(255, 255, 255));
    forgot_->Show();

    const LoginFields fields = InitialFields();
    remember_->SetCheck(fields.remember);
    user_->ChangeValue(wxString(fields.username));
    password_->ChangeValue(wxString(fields.password));

    ok_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); });
    for (CSkinEdit* edit : {user_, password_}) {
        edit->GetTextCtrl()->SetWindowStyleFlag(edit->GetTextCtrl()->GetWindowStyleFlag() |
                                                wxTE_PROCESS_ENTER);
        edit->GetTextCtrl()->Bind(wxEVT_TEXT_ENTER, [this](wxCommandEvent&) { OnOK(); });
    }
    Bind(wxEVT_CHAR_HOOK, &CDialogLogin::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CDialogLogin::OnClose, this);
    SetTitleCentered(1);
    user_->GetTextCtrl()->SetFocus();
}

CDialogLogin::~CDialogLogin() {
    // The job calls into this window: it ends before anything here goes.
    StopWork(1);
}

wxString CDialogLogin::LinkUrl(const char* path) {
    const ServiceConfig config = GetServiceConfig();
    std::string urlPath, host;
    int scheme = 0, port = 0;
    if (config.accountBaseUrl.empty() ||
        !CrackUrl(urlPath, config.accountBaseUrl.c_str(), scheme, host, port) || host.empty())
        return wxEmptyString;
    std::string url = "https://" + host;
    if (port > 0 && port != 443) url += ":" + std::to_string(port);
    return wxString::FromUTF8(url + path);
}

wxWindow* CDialogLogin::GetControl(int id) const {
    switch (id) {
        case kIdLoginOk:
            return ok_;
        case kIdLoginGroup:
            return group_;
        case kIdLoginUser:
            return user_;
        case kIdLoginRemember:
            return remember_;
        case kIdLoginPassword:
            return password_;
        case kIdLoginUserIcon:
            return userIcon_;
        case kIdLoginPasswordIcon:
            return passwordIcon_;
        case kIdLoginRegister:
            return register_;
        case kIdLoginRecharge:
            return recharge_;
        case kIdLoginForgot:
            return forgot_;
        case kIdLoginLogo:
            return logo_;
        case kIdStatusEdit:
            return GetStatusEdit();
        default:
            return nullptr;
    }
}

void CDialogLogin::OnOK() {
    if (!ok_->IsEnabled()) return;  // a job runs
    LoginFields f;
    f.username = user_->GetValue().ToStdWstring();
    f.password = password_->GetValue().ToStdWstring();
    f.remember = remember_->GetCheck();
    OnLoginOK(f);
}

int CDialogLogin::RunModal(wxWindow* parent) {
    auto* login = new CDialogLogin(parent);
    const int result = login->ShowModal();
    delete login;
    return result == wxID_OK ? wxID_OK : wxID_CANCEL;
}

void CDialogLogin::OnCancel() {
    // The job may wait for a box of this thread: served while it ends.
    StopWorkServingEvents(this);
    EndDialog(wxID_CANCEL);
}

void CDialogLogin::EnableInputs(int enable) {
    RunOnWindow([this, enable] {
        const std::initializer_list<wxWindow*> inputs{user_, password_, remember_, ok_};
        wxWindow* focus = FindFocus();
        bool focusedInput = false;
        for (wxWindow* w : inputs) focusedInput |= focus && (focus == w || w->IsDescendant(focus));
        // Keys (Esc above all) must still reach the window when the focused input goes grey.
        if (!enable && focusedInput) GetClientPanel()->SetFocusIgnoringChildren();
        for (wxWindow* w : inputs) w->Enable(enable != 0);
    });
}

void CDialogLogin::SetStatusText(const std::wstring& text) {
    CDialogLoginCore::SetStatusText(text);
    ShowStatusText(text);
}

void CDialogLogin::OnDeferredInit() {
    if (WantsAutoLogin()) OnOK();
}

void CDialogLogin::PostLoginFinished() {
    CallAfter([this] { EndDialog(wxID_OK); });
}

void CDialogLogin::OnCharHook(wxKeyEvent& event) {
    switch (event.GetKeyCode()) {
        case WXK_ESCAPE:
            OnCancel();
            return;
        case WXK_RETURN:
        case WXK_NUMPAD_ENTER:
            OnOK();
            return;
        default:
            event.Skip();
    }
}

void CDialogLogin::OnClose(wxCloseEvent&) {
    OnCancel();
}
