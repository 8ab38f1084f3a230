#pragma once
// Additional routes: single IPv4 addresses the user sends past the tunnel
// ("Direct", through the local gateway) or into it ("Proxify"), whatever the
// proxy mode says. Kept as a map from address text to action and stored in
// "config/additionalroute.ini" (section "basic", keys ip1/action1, ip2/...).

#include <map>
#include <string>

#include "foundation/singleton.h"

enum AdditionalRouteAction : int {
    AdditionalRouteDirect = 0,   // host route through the local gateway
    AdditionalRouteProxify = 1,  // host route through the tunnel
};

class CAdditionalRouteMgr : public CSingleton<CAdditionalRouteMgr> {
public:
    // Reads the program folder's file and adds its entries (numbered from 1,
    // up to the first number with a key missing); returns the number of entries.
    int Load();
    // Replaces the file, in one atomic write, by the entries in map order. An
    // empty list deletes the file. 1 when the file holds the list, 0 when it
    // could not be written or deleted.
    int Save();
    int Exists(const std::wstring& address) const { return routes_.count(address) ? 1 : 0; }
    // Adds the entry unless the address is 127.x, already listed, or no strict
    // dotted IPv4 address (four decimal parts 0-255 without leading zeros, the
    // first not 0). Other actions than 0 and 1 are kept but route nothing.
    void Add(const std::wstring& address, int action);
    void RemoveRoute(const std::wstring& address) { routes_.erase(address); }
    const std::map<std::wstring, int>& GetRoutes() const { return routes_; }

private:
    friend class CSingleton<CAdditionalRouteMgr>;
    CAdditionalRouteMgr() = default;
    ~CAdditionalRouteMgr() override = default;

    std::map<std::wstring, int> routes_;
};
