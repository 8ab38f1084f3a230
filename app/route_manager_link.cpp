#include "app/route_manager_link.h"

int CRouteManagerLink::HasRoute(const std::string& address, const std::string& mask) {
    return manager_ ? manager_->HasRoute(address, mask) : 0;
}

int CRouteManagerLink::AddLocalRouteViaActiveRouter(const std::string& address, const std::string& mask,
                                                     int metric) {
    return manager_ ? manager_->AddRoute(address, 0, mask, metric) : 0;
}
