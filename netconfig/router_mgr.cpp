#include "netconfig/router_mgr.h"

#include <arpa/inet.h>
#include <errno.h>

#include <cstring>

#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "netconfig/ipv4_text.h"
#include "netconfig/netconfig_log.h"
#include "netconfig/proxy_mode.h"
#include "netconfig/route_table.h"

namespace {

constexpr uint8_t kScopeUniverse = 0;  // RT_SCOPE_UNIVERSE
constexpr uint8_t kScopeLink = 253;    // RT_SCOPE_LINK

std::string Describe(const RtnlRoute& row, const RtnlResult& result) {
    std::string line = DottedIPv4(row.destination) + "/" + std::to_string(row.prefixLength);
    line += row.gateway ? " via " + DottedIPv4(row.gateway) : std::string(" direct");
    line += " dev #" + std::to_string(row.ifindex) + " metric " + std::to_string(row.priority) + ": ";
    line += std::strerror(result.error);
    if (!result.message.empty()) line += " (" + result.message + ")";
    return line;
}

}  // namespace

CRouterMgr::~CRouterMgr() {
    CNamedLockGuard guard(&lock_);
    if (initialized_) RemoveAllRoutesLocked();
    initialized_ = 0;
}

int CRouterMgr::Init(const RouteGateway& gateway0, const RouteGateway& gateway1) {
    CNamedLockGuard guard(&lock_);
    if (initialized_) {
        RemoveAllRoutesLocked();
        initialized_ = 0;
    }
    gateways_[0] = Gateway{};
    gateways_[1] = Gateway{};
    socket_.Close();

    const RouteGateway* given[2] = {&gateway0, &gateway1};
    Gateway taken[2];
    for (int i = 0; i < 2; ++i) {
        Gateway& g = taken[i];
        g.text = given[i]->address;
        g.ifIndex = given[i]->ifIndex;
        g.direct = given[i]->direct;
        if (!ParseDottedIPv4(g.text, &g.address)) return 0;
        if (g.ifIndex == 0 && !GetInterfaceIndexByAddress(g.text, &g.ifIndex)) return 0;
    }
    for (Gateway& g : taken) {
        if (!GetInterfaceMetric(g.ifIndex, &g.metric)) return 0;
    }
    // The socket acts in this thread's namespace for the manager's whole life.
    if (int error = socket_.Open(); error != 0) {
        NetconfigLog(std::string("Route manager: no netlink socket: ") + std::strerror(error));
        return 0;
    }
    gateways_[0] = taken[0];
    gateways_[1] = taken[1];
    routes_.clear();
    retired_ = false;
    initialized_ = 1;
    return 1;
}

int CRouterMgr::InitW(const RouteGatewayW& gateway0, const RouteGatewayW& gateway1) {
    RouteGateway g0{WideToAnsiString(gateway0.address), gateway0.ifIndex, gateway0.direct};
    RouteGateway g1{WideToAnsiString(gateway1.address), gateway1.ifIndex, gateway1.direct};
    return Init(g0, g1);
}

int CRouterMgr::IsInitialized() {
    CNamedLockGuard guard(&lock_);
    return initialized_;
}

RtnlRoute CRouterMgr::MakeRow(uint32_t destination, int prefixLength, int gateway, int baseMetric) const {
    const Gateway& g = SelectGateway(gateway);
    RtnlRoute row;
    row.destination = destination;
    row.prefixLength = static_cast<uint8_t>(prefixLength);
    row.ifindex = g.ifIndex;
    row.protocol = kOwnRouteProtocol;
    row.priority = static_cast<uint32_t>(baseMetric) + g.metric;
    // A direct gateway has no next hop of its own: the route goes onto its link.
    row.gateway = g.direct ? 0 : g.address;
    row.scope = g.direct ? kScopeLink : kScopeUniverse;
    return row;
}

CRouterMgr::RouteKey CRouterMgr::KeyOf(const RtnlRoute& row) const {
    uint32_t hop = row.gateway;
    for (const Gateway& g : gateways_) {
        if (!hop && g.direct && g.ifIndex == row.ifindex) hop = g.address;
    }
    return RouteKey(row.destination, PrefixToNetmask(row.prefixLength), hop);
}

int CRouterMgr::AddRows(const std::vector<RtnlRoute>& rows) {
    std::vector<RtnlResult> results = socket_.AddRoutes(rows);
    std::vector<RtnlRoute> created;
    int added = 0;
    int refused = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const RtnlResult& r = results[i];
        if (r.error == 0) {
            created.push_back(rows[i]);
            ++added;
        } else if (r.error == EEXIST) {
            ++added;  // someone's route of the same destination and metric: not ours to remove
        } else if (refused++ == 0) {
            NetconfigLog("Route refused: " + Describe(rows[i], r));
        }
    }
    if (refused) {
        if (refused > 1) NetconfigLog(std::to_string(refused) + " routes refused in all");
        // Leave nothing half applied.
        std::vector<RtnlResult> undone = socket_.DeleteRoutes(created);
        for (size_t i = 0; i < created.size(); ++i) {
            if (undone[i].error != 0 && undone[i].error != ESRCH) {
                NetconfigLog("Route not removed: " + Describe(created[i], undone[i]));
                routes_[KeyOf(created[i])] = created[i];
            }
        }
        return -1;
    }
    for (const RtnlRoute& row : created) routes_[KeyOf(row)] = row;
    return added;
}

int CRouterMgr::AddRoute(const std::string& destination, int gateway, const std::string& mask,
                         int baseMetric) {
    uint32_t dst = 0, msk = 0;
    if (!ParseDottedIPv4(destination, &dst) || !ParseDottedIPv4(mask, &msk)) return 0;
    if (IsLoopbackInAddr(dst)) return 0;  // loopback destinations are never routed
    int prefix = MaskToPrefixLength(msk);
    if (prefix < 0 || (dst & ~msk) != 0) {
        NetconfigLog("Route " + destination + "/" + mask + " refused: not a network and mask");
        return 0;
    }
    CNamedLockGuard guard(&lock_);
    if (!CanAdd()) return 0;
    return AddRows({MakeRow(dst, prefix, gateway, baseMetric)}) > 0 ? 1 : 0;
}

int CRouterMgr::AddRouteW(const std::wstring& destination, int gateway, const std::wstring& mask,
                          int baseMetric) {
    if (destination.empty() || mask.empty()) return 0;
    return AddRoute(WideToAnsiString(destination), gateway, WideToAnsiString(mask), baseMetric);
}

int CRouterMgr::AddTunnelRoute(const std::wstring& destination, const std::wstring& mask, int baseMetric) {
    return AddRouteW(destination, 1, mask, baseMetric);
}

int CRouterMgr::AddLocalRoute(const std::wstring& destination, const std::wstring& mask, int baseMetric) {
    return AddRouteW(destination, 0, mask, baseMetric);
}

void CRouterMgr::Forget(const std::vector<RouteKey>& keys) {
    for (const RouteKey& key : keys) routes_.erase(key);
}

int CRouterMgr::DeleteRoute(const std::string& destination, const std::string& mask) {
    uint32_t dst = 0, msk = 0;
    if (!ParseDottedIPv4(destination, &dst) || !ParseDottedIPv4(mask, &msk)) return 0;
    CNamedLockGuard guard(&lock_);
    std::vector<RouteKey> keys;
    std::vector<RtnlRoute> rows;
    for (auto it = routes_.lower_bound(RouteKey(dst, msk, 0));
         it != routes_.end() && std::get<0>(it->first) == dst && std::get<1>(it->first) == msk; ++it) {
        keys.push_back(it->first);
        rows.push_back(it->second);
    }
    if (rows.empty()) return 0;
    std::vector<RtnlResult> results = socket_.DeleteRoutes(rows);
    std::vector<RouteKey> gone;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (results[i].error == 0 || results[i].error == ESRCH) {
            gone.push_back(keys[i]);
        } else {
            NetconfigLog("Route not removed: " + Describe(rows[i], results[i]));
        }
    }
    Forget(gone);
    return static_cast<int>(gone.size());
}

int CRouterMgr::DeleteRouteW(const std::wstring& destination, const std::wstring& mask) {
    return DeleteRoute(WideToAnsiString(destination), WideToAnsiString(mask));
}

int CRouterMgr::RemoveAllRoutesLocked() {
    retired_ = true;
    if (routes_.empty()) return 0;
    std::vector<RouteKey> keys;
    std::vector<RtnlRoute> rows;
    for (const auto& [key, row] : routes_) {
        keys.push_back(key);
        rows.push_back(row);
    }
    std::vector<RtnlResult> results = socket_.DeleteRoutes(rows);
    std::vector<RouteKey> gone;
    int kept = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        // Already gone (its link was deleted, say) counts as removed.
        if (results[i].error == 0 || results[i].error == ESRCH) {
            gone.push_back(keys[i]);
        } else if (kept++ == 0) {
            NetconfigLog("Route not removed: " + Describe(rows[i], results[i]));
        }
    }
    if (kept > 1) NetconfigLog(std::to_string(kept) + " routes could not be removed; kept for another try");
    Forget(gone);
    return 1;
}

int CRouterMgr::RemoveAllRoutes() {
    CNamedLockGuard guard(&lock_);
    return RemoveAllRoutesLocked();
}

int CRouterMgr::HasRoute(const std::string& destination, const std::string& mask) {
    uint32_t dst = 0, msk = 0;
    if (!ParseDottedIPv4(destination, &dst) || !ParseDottedIPv4(mask, &msk)) return 0;
    CNamedLockGuard guard(&lock_);
    auto it = routes_.lower_bound(RouteKey(dst, msk, 0));
    return it != routes_.end() && std::get<0>(it->first) == dst && std::get<1>(it->first) == msk ? 1 : 0;
}

int CRouterMgr::HasRouteW(const std::wstring& destination, const std::wstring& mask) {
    if (destination.empty() || mask.empty()) return 0;
    return HasRoute(WideToAnsiString(destination), WideToAnsiString(mask));
}

size_t CRouterMgr::GetRouteCount() {
    CNamedLockGuard guard(&lock_);
    return routes_.size();
}

std::string CRouterMgr::GetGatewayAddress(int gateway) {
    CNamedLockGuard guard(&lock_);
    return SelectGateway(gateway).text;
}

int COstrelRouteMgr::AddModeRoutes(const std::map<uint32_t, CProxyModeRule>& rules, int viaTunnel) {
    if (rules.empty()) return 0;
    CNamedLockGuard guard(&lock_);
    if (!CanAdd()) return 0;
    std::vector<RtnlRoute> rows;
    rows.reserve(rules.size());
    for (const auto& [network, rule] : rules) {
        uint32_t destination = htonl(network);
        if (IsLoopbackInAddr(destination)) continue;
        int prefix = MaskToPrefixLength(rule.mask);
        if (prefix < 0 || (destination & ~rule.mask) != 0) continue;  // rules files never give these
        rows.push_back(MakeRow(destination, prefix, viaTunnel ? 1 : 0, 1));
    }
    int added = AddRows(rows);
    return added < 0 ? 0 : added;
}
