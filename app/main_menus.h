#pragma once
// The main window's menus and commands without the window: the command ids,
// the items of each menu with their images and grays, and which commands
// the edition switches leave working. The window shows what these say.

#include <string>
#include <vector>

enum MainCommand : int {
    kCmdAbout = 16,
    kCmdExit = 3024,
    kCmdWebsite = 3025,
    kCmdShowWindow = 3026,
    kCmdSettings = 3030,
    kCmdForum = 3525,
    kCmdShowLogs = 3527,
    kCmdAdditionalRoutes = 3529,
    kCmdResetStatistics = 3530,
    kCmdAddSocksNode = 3531,
    kCmdAddSsrNode = 3532,
    kCmdBatchAdd = 3533,
    kCmdSubscriptions = 3534,
    kCmdReloadSubscriptions = 3535,
    kCmdEvents = 3538,
    kCmdLogout = 3541,
    kCmdNewVersion = 3544,
};

// Image indexes in the menus' image list (bitmap 153).
enum MenuImage : int {
    kMenuImageNone = -1,
    kMenuImageSettings = 0,
    kMenuImageLogs = 3,
    kMenuImageExit = 4,
    kMenuImageRoutes = 5,
    kMenuImageAddSocks = 10,
    kMenuImageAddSsr = 11,
};

enum class MainMenu {
    kTray,     // the tray icon's right button
    kAddNode,  // button 1017
    kPopup,    // button 1016
    kExit,     // button 1119
};

// What the menus depend on.
struct MenuState {
    int connectState = 0;  // ConnectState
    bool dataLoaded = false;
    bool additionalRoutes = false;  // edition switches
    bool events = false;
    bool subscriptions = false;
    bool proxyModes = false;
    bool hasService = false;  // an account service to log in again to
    bool newVersion = false;
};

struct MenuItemSpec {
    std::string text;  // English message id, or the filled new-version text
    int command = 0;
    int image = kMenuImageNone;
    bool grayed = false;
};

std::vector<MenuItemSpec> BuildMainMenu(MainMenu menu, const MenuState& state);

// False for a command whose edition switch is off (it then does nothing).
bool IsCommandAllowed(int command, const MenuState& state);

// The state of the running program: connection, switches, service.
MenuState CurrentMenuState(bool dataLoaded);
