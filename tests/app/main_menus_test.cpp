// The main window's menus as one table over the connection state, the
// data-loaded flag, the edition switches and the account service.
#include <gtest/gtest.h>

#include "app/halvern_app.h"
#include "app/main_menus.h"

namespace {

// "text" for an enabled item, "(text)" for a grayed one, in menu order.
std::string Shown(MainMenu menu, const MenuState& s) {
    std::string out;
    for (const MenuItemSpec& item : BuildMainMenu(menu, s)) {
        if (!out.empty()) out += "|";
        out += item.grayed ? "(" + item.text + ")" : item.text;
    }
    return out;
}

MenuState State(int connect, bool loaded, bool switches, bool service) {
    MenuState s;
    s.connectState = connect;
    s.dataLoaded = loaded;
    s.additionalRoutes = s.events = s.subscriptions = s.proxyModes = switches;
    s.hasService = service;
    return s;
}

TEST(MainMenus, ItemsAndGraysOverStateLoadingSwitchesAndService) {
    struct Case {
        MenuState state;
        const char* tray;
        const char* popup;
        const char* exit;
    };
    const Case cases[] = {
        // Before loading: "Exit" and "Settings..." grayed in the tray and popup menus, never in the exit menu.
        {State(ConnectStateDisconnected, false, true, true),
         "Show main window...|(Settings...)|Events management...|(Exit)",
         "(Settings...)|(Additional route management...)|Events management...|Show logs...|(Exit)", "Logout|Exit"},
        {State(ConnectStateDisconnected, true, true, true), "Show main window...|Settings...|Events management...|Exit",
         "Settings...|Additional route management...|Events management...|Show logs...|Exit", "Logout|Exit"},
        // Connected or connecting: settings and routes grayed, "Exit" stays.
        {State(ConnectStateConnected, true, true, true), "Show main window...|(Settings...)|Events management...|Exit",
         "(Settings...)|(Additional route management...)|Events management...|Show logs...|Exit", "Logout|Exit"},
        {State(ConnectStateConnecting, true, true, true), "Show main window...|(Settings...)|Events management...|Exit",
         "(Settings...)|(Additional route management...)|Events management...|Show logs...|Exit", "Logout|Exit"},
        {State(ConnectStateDisconnecting, true, true, true),
         "Show main window...|Settings...|Events management...|Exit",
         "Settings...|Additional route management...|Events management...|Show logs...|Exit", "Logout|Exit"},
        // Switched off: no item at all. No service: "Logout" grayed.
        {State(ConnectStateDisconnected, true, false, false), "Show main window...|Settings...|Exit",
         "Settings...|Show logs...|Exit", "(Logout)|Exit"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.state.connectState) + " loaded=" + std::to_string(c.state.dataLoaded));
        EXPECT_EQ(Shown(MainMenu::kTray, c.state), c.tray);
        EXPECT_EQ(Shown(MainMenu::kPopup, c.state), c.popup);
        EXPECT_EQ(Shown(MainMenu::kExit, c.state), c.exit);
        EXPECT_EQ(Shown(MainMenu::kAddNode, c.state),
                  "Add HTTP/SOCKS4/SOCKS5 Proxy...|Add SS/SSR proxy...|Batch Add SS/SSR proxy from link...");
    }
}

TEST(MainMenus, CommandsAndImagesOfTheItems) {
    const MenuState s = State(ConnectStateDisconnected, true, true, true);
    std::vector<std::pair<int, int>> popup;
    for (const MenuItemSpec& item : BuildMainMenu(MainMenu::kPopup, s)) popup.push_back({item.command, item.image});
    EXPECT_EQ(popup, (std::vector<std::pair<int, int>>{{kCmdSettings, 0}, {kCmdAdditionalRoutes, 5}, {kCmdEvents, -1},
                                                        {kCmdShowLogs, 3}, {kCmdExit, 4}}));
    std::vector<std::pair<int, int>> add;
    for (const MenuItemSpec& item : BuildMainMenu(MainMenu::kAddNode, s)) add.push_back({item.command, item.image});
    EXPECT_EQ(add, (std::vector<std::pair<int, int>>{{kCmdAddSocksNode, 10}, {kCmdAddSsrNode, 11}, {kCmdBatchAdd, 11}}));
    std::vector<int> tray;
    for (const MenuItemSpec& item : BuildMainMenu(MainMenu::kTray, s)) tray.push_back(item.command);
    EXPECT_EQ(tray, (std::vector<int>{kCmdShowWindow, kCmdSettings, kCmdEvents, kCmdExit}));
}

TEST(MainMenus, SwitchedOffCommandsAreInert) {
    const MenuState on = State(ConnectStateDisconnected, true, true, true);
    const MenuState off = State(ConnectStateDisconnected, true, false, false);
    for (int command : {kCmdAdditionalRoutes, kCmdEvents, kCmdSubscriptions, kCmdReloadSubscriptions, kCmdLogout}) {
        EXPECT_TRUE(IsCommandAllowed(command, on)) << command;
        EXPECT_FALSE(IsCommandAllowed(command, off)) << command;
    }
    for (int command : {kCmdExit, kCmdSettings, kCmdShowLogs, kCmdShowWindow, kCmdAddSocksNode})
        EXPECT_TRUE(IsCommandAllowed(command, off)) << command;
}

}  // namespace
