#pragma once
// The route manager: adds and removes the IPv4 routes of a connection
// through exactly two gateways, gateway 0 (the local gateway, the next hop of
// the physical connection's best default route) and gateway 1 (the tunnel,
// the packet engine's own address on the TUN device). It remembers every
// route the kernel created for it, so that one call removes exactly those at
// disconnect, at a new Init and when the manager is destroyed, and never
// anyone else's route.
//
// Routes carry the program's protocol tag and the metric base + the
// gateway's interface metric; they are created exclusively, so a route that
// already exists is never taken over. The manager acts in the network
// namespace of the thread that called Init. Every operation is safe from
// any thread (relay threads add bypass host routes while connect and
// disconnect run).

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/named_lock.h"
#include "platform/rtnetlink.h"

// One gateway given to Init: dotted address, interface index (0: look it up
// from the address), direct flag (routes go straight onto the interface).
struct RouteGateway {
    std::string address;
    uint32_t ifIndex = 0;
    int direct = 0;
};

struct RouteGatewayW {
    std::wstring address;
    uint32_t ifIndex = 0;
    int direct = 0;
};

class CRouterMgr {
public:
    CRouterMgr() = default;
    // Removes every route the manager holds.
    virtual ~CRouterMgr();
    CRouterMgr(const CRouterMgr&) = delete;
    CRouterMgr& operator=(const CRouterMgr&) = delete;

    // Removes the routes of an earlier Init, then takes the gateways: 1 when
    // both addresses are dotted IPv4, their interfaces are found and their
    // metrics read; 0 leaves the manager not initialised and holding nothing.
    virtual int Init(const RouteGateway& gateway0, const RouteGateway& gateway1);
    virtual int InitW(const RouteGatewayW& gateway0, const RouteGatewayW& gateway1);
    int IsInitialized();

    // Adds destination/mask (dotted texts) through gateway 0 (`gateway` 0)
    // or gateway 1 (any other value) with metric `baseMetric` + the gateway's
    // interface metric. 1 when the kernel created the route (it is then
    // remembered) or already had one of that destination, mask and metric
    // (which stays someone else's); 0 for empty or invalid texts, a 127.x
    // destination, a manager not initialised or past RemoveAllRoutes, or a
    // refusal of the kernel (logged).
    int AddRoute(const std::string& destination, int gateway, const std::string& mask, int baseMetric);
    int AddRouteW(const std::wstring& destination, int gateway, const std::wstring& mask, int baseMetric);
    int AddTunnelRoute(const std::wstring& destination, const std::wstring& mask, int baseMetric);
    int AddLocalRoute(const std::wstring& destination, const std::wstring& mask, int baseMetric);

    // Deletes the routes to destination/mask that this manager holds, through
    // either gateway, and forgets them; returns how many were removed.
    int DeleteRoute(const std::string& destination, const std::string& mask);
    int DeleteRouteW(const std::wstring& destination, const std::wstring& mask);

    // Deletes every route the manager holds. From then on AddRoute refuses
    // until the next Init, so that no bypass route outlives a disconnect.
    // 0 when it held none, else 1. A route the kernel would not delete (other
    // than one already gone) stays held, and is tried again later.
    int RemoveAllRoutes();

    // 1 when the manager holds destination/mask through either gateway.
    int HasRoute(const std::string& destination, const std::string& mask);
    int HasRouteW(const std::wstring& destination, const std::wstring& mask);

    // The number of routes held.
    size_t GetRouteCount();
    // The address text of gateway 0 or 1 (empty when not initialised).
    std::string GetGatewayAddress(int gateway);

protected:
    struct Gateway {
        uint32_t address = 0;  // network order
        std::string text;
        uint32_t ifIndex = 0;
        uint32_t metric = 0;
        int direct = 0;
    };
    // destination, mask, gateway address: all network order
    using RouteKey = std::tuple<uint32_t, uint32_t, uint32_t>;

    // The row of destination/mask (network order) through gateway 0 or 1.
    RtnlRoute MakeRow(uint32_t destination, int prefixLength, int gateway, int baseMetric) const;
    // The key of a row: its gateway's address also for a direct gateway.
    RouteKey KeyOf(const RtnlRoute& row) const;
    const Gateway& SelectGateway(int gateway) const { return gateway == 0 ? gateways_[0] : gateways_[1]; }
    // Adds many rows at once; the caller holds the lock. Returns the number
    // created or found existing, or -1 after the first refusal, when
    // everything this call created has been deleted again.
    int AddRows(const std::vector<RtnlRoute>& rows);
    bool CanAdd() const { return initialized_ && !retired_; }
    int RemoveAllRoutesLocked();
    void Forget(const std::vector<RouteKey>& keys);

    CNamedLock lock_{L"Unspecific"};
    int initialized_ = 0;
    bool retired_ = false;
    Gateway gateways_[2];
    std::map<RouteKey, RtnlRoute> routes_;
    RtnlSocket socket_;
};

struct CProxyModeRule;

class COstrelRouteMgr : public CRouterMgr {
public:
    // Adds a host-or-network route for every rule (through the tunnel when
    // `viaTunnel`, else the local gateway), skipping 127.x networks. Returns
    // the number of routes added (created or already there); on the first
    // refusal of the kernel it deletes what it created and returns 0.
    int AddModeRoutes(const std::map<uint32_t, CProxyModeRule>& rules, int viaTunnel);
};
