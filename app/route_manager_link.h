#pragma once
// The main window's route manager as the local proxy service sees it: the
// service asks for bypass host routes through the small interface it
// declares, and this object forwards them to the manager (gateway 0).

#include <string>

#include "netconfig/router_mgr.h"
#include "proxy/route_manager_link.h"

class CRouteManagerLink : public CProxyRouteManager {
public:
    explicit CRouteManagerLink(CRouterMgr* manager) : manager_(manager) {}
    int HasRoute(const std::string& address, const std::string& mask) override;
    int AddLocalRouteViaActiveRouter(const std::string& address, const std::string& mask, int metric) override;

private:
    CRouterMgr* manager_;
};
