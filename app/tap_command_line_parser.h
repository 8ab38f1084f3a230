#pragma once
// The program's command-line options, each written with two dashes:
// --installdriver, --uninstalldriver and --quitall act and end start-up;
// --hideicon, --hidewindow, --dontloadandsaveproxy and
// --dontloadandsaveproxymode set flags that start-up and the main window read.

#include <functional>

#include "foundation/command_line_parser.h"

class CTapCommandLineParser : public CCommandLineParser {
public:
    int GetHideIcon() const { return hideIcon_; }
    int GetHideWindow() const { return hideWindow_; }
    int GetDontLoadAndSaveProxy() const { return dontLoadAndSaveProxy_; }
    int GetDontLoadAndSaveProxyMode() const { return dontLoadAndSaveProxyMode_; }

    // What the acting options run; start-up sets them, tests record them.
    std::function<void()> onInstallDriver;
    std::function<void()> onUninstallDriver;
    std::function<void()> onQuitAll;

    int ParseParam(const wchar_t* option) override;

private:
    int hideIcon_ = 0;
    int hideWindow_ = 0;
    int dontLoadAndSaveProxy_ = 0;
    int dontLoadAndSaveProxyMode_ = 0;
};
