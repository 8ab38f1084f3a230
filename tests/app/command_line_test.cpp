#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/tap_command_line_parser.h"

namespace {

struct Case {
    std::vector<std::string> args;
    int taken;
    int cont;
    std::string acted;  // acting options in order: i install, u uninstall, q quitall
    int hideIcon, hideWindow, noProxy, noModes;
};

TEST(TapCommandLine, OptionsNeedTwoDashesAndIgnoreCase) {
    const Case cases[] = {
        {{}, 0, 1, "", 0, 0, 0, 0},
        {{"-x", "ab", "--"}, 0, 1, "", 0, 0, 0, 0},
        {{"-quitall", "quitall"}, 0, 1, "", 0, 0, 0, 0},
        {{"--QuitAll"}, 1, 0, "q", 0, 0, 0, 0},
        {{"--hideicon", "--hidewindow"}, 1, 1, "", 1, 1, 0, 0},
        {{"--uninstalldriver", "--installdriver"}, 1, 0, "ui", 0, 0, 0, 0},
        {{"--dontloadandsaveproxy", "--dontloadandsaveproxymode"}, 1, 1, "", 0, 0, 1, 1},
        {{"--unknown"}, 0, 1, "", 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        CTapCommandLineParser p;
        std::string acted;
        p.onInstallDriver = [&] { acted += 'i'; };
        p.onUninstallDriver = [&] { acted += 'u'; };
        p.onQuitAll = [&] { acted += 'q'; };
        std::vector<std::string> argv = {"cendrow"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(p.Parse(argv) ? 1 : 0, c.taken);
        EXPECT_EQ(p.GetContinue(), c.cont);
        EXPECT_EQ(acted, c.acted);
        EXPECT_EQ(p.GetHideIcon(), c.hideIcon);
        EXPECT_EQ(p.GetHideWindow(), c.hideWindow);
        EXPECT_EQ(p.GetDontLoadAndSaveProxy(), c.noProxy);
        EXPECT_EQ(p.GetDontLoadAndSaveProxyMode(), c.noModes);
    }
}

}  // namespace
