#include "app/main_menus.h"

#include "app/halvern_app.h"
#include "foundation/translate.h"
#include "nodes/account/service_config.h"
#include "nodes/edition/vantor_authorization.h"

namespace {

// Connected, connecting, or the start-up data not loaded yet.
bool Restricted(const MenuState& s) {
    return s.connectState == ConnectStateConnected || s.connectState == ConnectStateConnecting || !s.dataLoaded;
}

}  // namespace

std::vector<MenuItemSpec> BuildMainMenu(MainMenu menu, const MenuState& s) {
    std::vector<MenuItemSpec> items;
    switch (menu) {
        case MainMenu::kTray:
            items.push_back({Translate("Show main window..."), kCmdShowWindow, kMenuImageNone, false});
            items.push_back({Translate("Settings..."), kCmdSettings, kMenuImageSettings, Restricted(s)});
            if (s.events) items.push_back({Translate("Events management..."), kCmdEvents, kMenuImageNone, false});
            items.push_back({Translate("Exit"), kCmdExit, kMenuImageExit, !s.dataLoaded});
            if (s.newVersion) {
                // Nothing in this program sets the flag; the text has no version to show.
                std::string text = Translate("New version [%S] is ready!");
                const size_t at = text.find("%S");
                if (at != std::string::npos) text.erase(at, 2);
                items.push_back({text, kCmdNewVersion, kMenuImageNone, false});
            }
            break;
        case MainMenu::kAddNode:
            items.push_back({Translate("Add HTTP/SOCKS4/SOCKS5 Proxy..."), kCmdAddSocksNode, kMenuImageAddSocks, false});
            items.push_back({Translate("Add SS/SSR proxy..."), kCmdAddSsrNode, kMenuImageAddSsr, false});
            items.push_back({Translate("Batch Add SS/SSR proxy from link..."), kCmdBatchAdd, kMenuImageAddSsr, false});
            break;
        case MainMenu::kPopup:
            items.push_back({Translate("Settings..."), kCmdSettings, kMenuImageSettings, Restricted(s)});
            if (s.additionalRoutes)
                items.push_back({Translate("Additional route management..."), kCmdAdditionalRoutes, kMenuImageRoutes,
                                 Restricted(s)});
            if (s.events) items.push_back({Translate("Events management..."), kCmdEvents, kMenuImageNone, false});
            items.push_back({Translate("Show logs..."), kCmdShowLogs, kMenuImageLogs, false});
            items.push_back({Translate("Exit"), kCmdExit, kMenuImageExit, !s.dataLoaded});
            break;
        case MainMenu::kExit:
            // Without an account service there is nobody to log in to again.
            items.push_back({Translate("Logout"), kCmdLogout, kMenuImageNone, !s.hasService});
            items.push_back({Translate("Exit"), kCmdExit, kMenuImageExit, false});
            break;
    }
    return items;
}

bool IsCommandAllowed(int command, const MenuState& s) {
    switch (command) {
        case kCmdAdditionalRoutes:
            return s.additionalRoutes;
        case kCmdSubscriptions:
        case kCmdReloadSubscriptions:
            return s.subscriptions;
        case kCmdEvents:
            return s.events;
        case kCmdLogout:
            return s.hasService;
        default:
            return true;
    }
}

MenuState CurrentMenuState(bool dataLoaded) {
    CVantorAuthorization* edition = CVantorAuthorization::GetInstance();
    const ServiceConfig service = GetServiceConfig();
    MenuState s;
    s.connectState = GetApp().GetConnectState();
    s.dataLoaded = dataLoaded;
    s.additionalRoutes = edition->IsAdditionalRouteEnabled() != 0;
    s.events = edition->IsEventsManagementEnabled() != 0;
    s.subscriptions = edition->IsSubscriptionEnabled() != 0;
    s.proxyModes = edition->IsProxyModeManagementEnabled() != 0;
    s.hasService = !service.accountBaseUrl.empty() || !service.accountFallbackUrl.empty();
    s.newVersion = GetApp().IsNewVersionAvailable() != 0;
    return s;
}
