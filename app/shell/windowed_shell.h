#pragma once
// The program with windows: wx on GTK (through X11, also on Wayland, for the
// XEmbed tray), CMainLoop inside GTK's loop, the login when an account
// service is configured, the main window, the tray, a sleeping machine and
// a lost display. Without a display the program runs without windows.

#include "app/app_shell.h"

class CWindowedShell : public IAppShell {
public:
    CWindowedShell() = default;
    ~CWindowedShell() override;

    bool Open(int argc, char** argv) override;
    int Run(AppRunContext& ctx) override;

private:
    bool opened_ = false;
    int argc_ = 0;
};

// Whether config/services.ini names an account service: then the login runs
// first and the account window follows; without one the base window opens
// at once.
bool HasAccountService();
