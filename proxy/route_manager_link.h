#pragma once
// What the local proxy service asks of the route manager, which lives above
// it: the application registers an object that forwards these to the real
// route manager (SetRouteManager).

#include <string>

class CProxyRouteManager {
public:
    virtual ~CProxyRouteManager() = default;
    // 1 when the manager already holds the route to `address` with `mask`
    // (dotted texts).
    virtual int HasRoute(const std::string& address, const std::string& mask) = 0;
    // Adds a route to `address`/`mask` through the physical gateway with
    // `metric`; 1 on success.
    virtual int AddLocalRouteViaActiveRouter(const std::string& address, const std::string& mask,
                                             int metric) = 0;
    // A bypass route is in place: `line` says which address leaves the
    // tunnel and why, for the user to see. Any thread.
    virtual void ReportBypassRoute(const std::string& line) { (void)line; }
};
