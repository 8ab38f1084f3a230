#include "app/tap_command_line_parser.h"

#include <cwchar>

int CTapCommandLineParser::ParseParam(const wchar_t* option) {
    // The base strips the first dash; every option has a second one.
    if (!option || option[0] != L'-') return 0;
    const wchar_t* name = option + 1;
    auto is = [name](const wchar_t* s) { return std::wcscmp(name, s) == 0; };
    if (is(L"installdriver")) {
        if (onInstallDriver) onInstallDriver();
        SetContinue(0);
    } else if (is(L"uninstalldriver")) {
        if (onUninstallDriver) onUninstallDriver();
        SetContinue(0);
    } else if (is(L"hideicon")) {
        hideIcon_ = 1;
    } else if (is(L"hidewindow")) {
        hideWindow_ = 1;
    } else if (is(L"quitall")) {
        if (onQuitAll) onQuitAll();
        SetContinue(0);
    } else if (is(L"dontloadandsaveproxy")) {
        dontLoadAndSaveProxy_ = 1;
    } else if (is(L"dontloadandsaveproxymode")) {
        dontLoadAndSaveProxyMode_ = 1;
    } else {
        return 0;
    }
    return 1;
}
