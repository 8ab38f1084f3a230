#pragma once
// The route lab: a namespace the test makes with an uplink `up0`
// (192.0.2.2/24, default route via 192.0.2.1 metric 100) and the program's
// persistent TUN device `ztun0` (10.198.75.60/24, up, held open so that it
// has a carrier). The interface-metric table gets up0 100 and ztun0 1, as
// adapter configuration gives them. Deleted with everything in it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/net.h"

namespace routelab {

class RouteLab {
public:
    explicit RouteLab(const std::string& base = "czt-rt");
    ~RouteLab();

    const testsupport::NetNamespace& ns() const { return *ns_; }
    uint32_t up0() const { return up0_; }
    uint32_t tun() const { return tun_; }

    // Sorted lines of `ip route show table all`.
    std::vector<std::string> Snapshot() const;
    // Lines of `ip route show` restricted by extra selectors (e.g. {"proto", "157"}).
    std::vector<std::string> Routes(const std::vector<std::string>& selectors) const;
    // The line `ip route get <address>` prints first.
    std::string RouteGet(const std::string& address) const;
    void Ip(const std::vector<std::string>& args) const;

private:
    std::unique_ptr<testsupport::NetNamespace> ns_;
    int tunFd_ = -1;
    uint32_t up0_ = 0;
    uint32_t tun_ = 0;
};

// Both sorted; prints what differs.
std::string Difference(const std::vector<std::string>& before, const std::vector<std::string>& after);

}  // namespace routelab
