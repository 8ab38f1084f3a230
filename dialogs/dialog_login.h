#pragma once
// The login window: user name, password, "Remember me", the login button,
// three links to the account site, the logo and two field icons, the status
// line. The logic is CDialogLoginCore's; this class places the controls and
// answers it. Cancel (Esc, the close box) stops a running job, waits for
// it, and ends with wxID_CANCEL.

#include "dialogs/base/login_core.h"
#include "dialogs/zentrav_window.h"

class CHyperLink;
class CPictureEx;
class CSkinButton;
class CSkinCheckBox;
class wxStaticBox;

enum LoginControlId : int {
    kIdLoginOk = 1,
    kIdLoginGroup = 1000,
    kIdLoginUser = 1111,
    kIdLoginRemember = 1112,
    kIdLoginPassword = 1118,
    kIdLoginUserIcon = 1121,
    kIdLoginPasswordIcon = 1123,
    kIdLoginRegister = 1172,
    kIdLoginRecharge = 1173,
    kIdLoginForgot = 1174,
    kIdLoginLogo = 1194,
};

class CDialogLogin : public CDialogZentravWindow, public CDialogLoginCore {
public:
    explicit CDialogLogin(wxWindow* parent);
    ~CDialogLogin() override;

    // Runs a login window modally (at start-up, and again after "Logout")
    // and destroys it; wxID_OK after a good login, else wxID_CANCEL. A
    // quit meanwhile closes it as its cancel does.
    static int RunModal(wxWindow* parent);

    // The OK handler (button 1, Enter, the automatic login).
    void OnOK();
    void OnCancel();

    // The control of a template id (null for an unknown id).
    wxWindow* GetControl(int id) const;
    // The addresses the three links open.
    static wxString LinkUrl(const char* path);

    void EnableInputs(int enable) override;
    void SetStatusText(const std::wstring& text) override;
    void OnDeferredInit() override;

protected:
    void PostLoginFinished() override;

private:
    void OnCharHook(wxKeyEvent& event);
    void OnClose(wxCloseEvent& event);

    wxStaticBox* group_ = nullptr;
    CSkinEdit* user_ = nullptr;
    CSkinEdit* password_ = nullptr;
    CSkinCheckBox* remember_ = nullptr;
    CSkinButton* ok_ = nullptr;
    CHyperLink* register_ = nullptr;
    CHyperLink* recharge_ = nullptr;
    CHyperLink* forgot_ = nullptr;
    CPictureEx* logo_ = nullptr;
    CPictureEx* userIcon_ = nullptr;
    CPictureEx* passwordIcon_ = nullptr;
};
