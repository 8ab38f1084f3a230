#include "dialogs/base/login_core.h"

#include "foundation/message_box.h"
#include "foundation/settings.h"
#include "foundation/text_format.h"
#include "foundation/translate.h"
#include "nodes/account/agent_download_proxy.h"
#include "nodes/node_mgr.h"

CDialogLoginCore::~CDialogLoginCore() {
    // The job calls back into the derived window: it ends before any part goes.
    StopWork(1);
}

LoginFields CDialogLoginCore::InitialFields() {
    LoginFields f;
    const AppSettings* s = GetSettings();
    if (s->rememberuser) {
        f.remember = 1;
        f.username = s->username;
        f.password = s->password;
    }
    return f;
}

bool CDialogLoginCore::WantsAutoLogin() {
    const AppSettings* s = GetSettings();
    return s->autologin && s->rememberuser && !s->username.empty() && !s->password.empty();
}

int CDialogLoginCore::OnLoginOK(const LoginFields& fields) {
    if (fields.username.empty()) {
        AppMessageBox(Translate("Input username please!"), MB_OK);
        return 0;
    }
    if (fields.password.empty()) {
        AppMessageBox(Translate("Input password please!"), MB_OK);
        return 0;
    }
    if (IsWorking()) return 0;
    EnableInputs(0);
    if (fields.remember) {
        SetLoginCredentials(1, fields.username, fields.password);
    } else {
        // Not remembered means not kept on disk at all.
        SetLoginCredentials(0, L"", L"");
        ForgetLoginCredentials();
    }
    SaveSettings();
    CAgentDownloadProxy::GetInstance()->SetAccountW(fields.username, fields.password);
    if (!StartWork()) {
        EnableInputs(1);
        return 0;
    }
    return 1;
}

int CDialogLoginCore::DoWork() {
    CAgentDownloadProxy* client = CAgentDownloadProxy::GetInstance();
    client->SetAbortFlag(&StopFlag());
    SetStatusTextA(Translate("Please wait while logging in..."));
    int result = 0;
    bool failed = false;
    if (!client->Login()) {
        failed = true;
    } else {
        if (!StopRequested()) SetStatusTextA(Translate("Getting proxy list..."));
        if (!client->GetAllProxyList()) failed = true;
    }
    client->SetAbortFlag(nullptr);
    if (StopRequested()) {
        // Cancelled: the window is closing and shows nothing more.
        CDialogZentravBase::DoWork();
        return 0;
    }
    if (failed) {
        std::string text;
        FormatString(text, Translate("Login failed: %s"), client->GetLastErrorText().c_str());
        SetStatusTextA(text.c_str());
    } else if (CNodeMgr::GetInstance()->GetNodeCount() > 0) {
        SetStatusTextA(Translate("Ready!"));
        PostLoginFinished();
        CDialogZentravBase::DoWork();
        return 1;  // the inputs stay disabled: the window closes
    } else {
        SetStatusTextA(Translate("You have not purchased any packages yet."));
    }
    EnableInputs(1);
    CDialogZentravBase::DoWork();
    return result;
}
