#include "netconfig/route_table.h"

#include <arpa/inet.h>
#include <errno.h>
#include <net/if.h>

#include <map>
#include <mutex>

#include "foundation/system_helpers.h"
#include "netconfig/ipv4_text.h"
#include "netconfig/netconfig_log.h"
#include "platform/rtnetlink.h"

namespace {

constexpr uint8_t kRouteTypeUnicast = 1;  // RTN_UNICAST

struct MetricTable {
    std::mutex mutex;
    std::map<uint32_t, uint32_t> metrics;
};

MetricTable& Metrics() {
    static MetricTable table;
    return table;
}

RouteRow ToRow(const RtnlRoute& route) {
    RouteRow row;
    row.destination = route.destination;
    row.mask = PrefixToNetmask(route.prefixLength);
    row.nextHop = route.gateway;
    row.ifIndex = route.ifindex;
    row.direct = route.gateway == 0 ? 1 : 0;
    row.protocol = route.protocol;
    row.metric = route.priority;
    return row;
}

bool IsMainUnicast(const RtnlRoute& route) {
    return route.table == kRtnlMainTable && route.type == kRouteTypeUnicast;
}

}  // namespace

int MaskToPrefixLength(uint32_t mask) {
    uint32_t m = ntohl(mask);
    int prefix = 0;
    while (prefix < 32 && (m & (0x80000000u >> prefix))) ++prefix;
    return PrefixToNetmask(prefix) == mask ? prefix : -1;
}

bool ReadRouteTable(std::vector<RouteRow>* table) {
    table->clear();
    RtnlSocket socket;
    std::vector<RtnlRoute> routes;
    if (socket.Open() != 0 || socket.DumpRoutes(&routes) != 0) return false;
    for (const RtnlRoute& route : routes) {
        if (IsMainUnicast(route)) table->push_back(ToRow(route));
    }
    return true;
}

bool GetInterfaceIndexByAddress(const std::string& address, uint32_t* index) {
    uint32_t parsed = 0;
    if (!ParseDottedIPv4(address, &parsed)) return false;
    RtnlSocket socket;
    std::vector<RtnlAddress> addresses;
    if (socket.Open() != 0 || socket.DumpAddresses(&addresses) != 0) return false;
    for (const RtnlAddress& a : addresses) {
        if (a.address == parsed) {
            *index = a.ifindex;
            return true;
        }
    }
    return false;
}

void SetInterfaceMetricValue(uint32_t index, uint32_t metric) {
    MetricTable& table = Metrics();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.metrics[index] = metric;
}

bool GetInterfaceMetric(uint32_t index, uint32_t* metric) {
    char name[IF_NAMESIZE] = {};
    if (index == 0 || !if_indextoname(index, name)) return false;
    MetricTable& table = Metrics();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.metrics.find(index);
    *metric = it == table.metrics.end() ? 0 : it->second;
    return true;
}

std::optional<RouteRow> FindBestRoute(uint32_t destination) {
    RtnlSocket socket;
    std::vector<RtnlRoute> routes;
    std::vector<RtnlLink> links;
    std::vector<RtnlAddress> addresses;
    if (socket.Open() != 0 || socket.DumpRoutes(&routes) != 0 || socket.DumpLinks(&links) != 0 ||
        socket.DumpAddresses(&addresses) != 0) {
        return std::nullopt;
    }
    auto isTun = [&links](uint32_t ifindex) {
        for (const RtnlLink& link : links) {
            if (link.index == ifindex) return link.kind == "tun";
        }
        return false;
    };
    const RtnlRoute* best = nullptr;
    for (const RtnlRoute& route : routes) {
        if (!IsMainUnicast(route) || route.destination != destination) continue;
        // Only the default route itself: after a crash the tunnel's 0.0.0.0/1
        // must never pass for the local gateway.
        if (destination == 0 && route.prefixLength != 0) continue;
        if (route.protocol == kOwnRouteProtocol || isTun(route.ifindex)) continue;
        if (!best || route.priority < best->priority) best = &route;
    }
    if (!best) return std::nullopt;
    RouteRow row = ToRow(*best);
    if (row.direct) {
        for (const RtnlAddress& a : addresses) {
            if (a.ifindex == best->ifindex) {
                row.nextHop = a.address;
                break;
            }
        }
    }
    return row;
}

int RemoveLeftoverRoutes() {
    RtnlSocket socket;
    std::vector<RtnlRoute> routes;
    if (socket.Open() != 0 || socket.DumpRoutes(&routes) != 0) return -1;
    std::vector<RtnlRoute> ours;
    for (const RtnlRoute& route : routes) {
        if (route.protocol == kOwnRouteProtocol) ours.push_back(route);
    }
    if (ours.empty()) return 0;
    int deleted = 0;
    std::vector<RtnlResult> results = socket.DeleteRoutes(ours);
    for (const RtnlResult& r : results) {
        if (r.error == 0) ++deleted;
    }
    NetconfigLog("Removed " + std::to_string(deleted) + " routes left by an earlier run");
    return deleted;
}
