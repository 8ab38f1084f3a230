#pragma once
// What the login window does, apart from the window: the fields it starts
// with, the checks of the OK handler, what is stored of the credentials, and
// the login job on the worker. The window derives from this and answers the
// two calls that need it (the close after a good login, the inputs); boxes
// go through AppMessageBox.

#include <string>

#include "app/worker_base.h"

// Message 2028: the login job is done, the window closes with OK.
inline constexpr int kMsgLoginFinished = 2028;

struct LoginFields {
    std::wstring username;
    std::wstring password;
    int remember = 0;
};

class CDialogLoginCore : public CDialogZentravBase {
public:
    ~CDialogLoginCore() override;

    // From the settings: with rememberuser the box is checked and the stored
    // user name and password fill the fields.
    static LoginFields InitialFields();
    // Autologin and rememberuser set and both stored values present.
    static bool WantsAutoLogin();

    // The OK handler. A missing user name or password gives its box and
    // nothing else (0). Otherwise the inputs are disabled, the credentials
    // stored only when "Remember me" is on (removed when it is off), the
    // account set and the job started (1).
    int OnLoginOK(const LoginFields& fields);

    // The job: log in, fetch the proxy list, close with OK when the account
    // has nodes; otherwise the failure in the status line and the inputs
    // back. A stop request ends the running request within a second and
    // the job without a word.
    int DoWork() override;

    // Cancel while the job may run: raises the stop request and waits for
    // the worker to end.
    void CancelLogin() { StopWork(1); }

protected:
    // Posts message 2028 to the window; called on the worker.
    virtual void PostLoginFinished() = 0;
};
