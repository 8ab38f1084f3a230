#pragma once
// The routing-table functions: the main table as rows, the interface of an
// address, the interface-metric table, the best default route, and the
// start-up clean-up of routes a crashed run left behind. Each call reads or
// changes the network namespace of the calling thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One route of the main table, as adapter discovery and the route manager see it.
struct RouteRow {
    uint32_t destination = 0;  // network order
    uint32_t mask = 0;         // network order
    // The gateway; for a route straight onto the link, the link's first IPv4 address.
    uint32_t nextHop = 0;
    uint32_t ifIndex = 0;
    int direct = 0;  // 1: no gateway
    uint32_t protocol = 0;
    uint32_t metric = 0;
};

// The IPv4 unicast routes of the main table, in the kernel's order; false
// when the table cannot be read.
bool ReadRouteTable(std::vector<RouteRow>* table);

// The interface that carries the IPv4 address `address` (dotted text); false
// when the text is no address or no interface has it.
bool GetInterfaceIndexByAddress(const std::string& address, uint32_t* index);

// The interface-metric table: the metric the program gave an interface (the
// adapter configuration fills it); an interface without an entry has metric
// 0. GetInterfaceMetric fails only when no interface has that index.
void SetInterfaceMetricValue(uint32_t index, uint32_t metric);
bool GetInterfaceMetric(uint32_t index, uint32_t* metric);

// The default route (destination 0, prefix 0) of the main table with the
// smallest metric, the first of equals; routes this program added and routes
// onto TUN devices never count. Empty when there is none.
std::optional<RouteRow> FindBestRoute(uint32_t destination);

// Deletes every route that carries this program's protocol tag: what a
// crashed run left behind. Run once at start-up, before adapter discovery.
// Returns the number deleted, or -1 when the table could not be read.
int RemoveLeftoverRoutes();

// The prefix length of a mask (network order); -1 for a mask that is not contiguous.
int MaskToPrefixLength(uint32_t mask);
