#include "netconfig/adapter_discovery.h"

#include <net/if_arp.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "foundation/ascii_case.h"
#include "foundation/settings.h"
#include "foundation/string_util.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "netconfig/adapter_choice.h"
#include "netconfig/adapter_config.h"
#include "netconfig/ipv4_text.h"
#include "netconfig/netconfig_log.h"
#include "netconfig/route_table.h"
#include "platform/resolv_conf.h"
#include "platform/rtnetlink.h"

namespace {

// Descriptions that make the adapter choice score a link as the adapter it
// stands for.
constexpr const wchar_t* kOwnTunDescription = L"TAP-Windows Adapter V9";
constexpr const wchar_t* kWirelessDescription = L"Wireless";
constexpr const wchar_t* kEthernetDescription = L"Ethernet";
constexpr const wchar_t* kVirtualDescription = L"Virtual Ethernet";

// Operational states that mean "not operational" (IF_OPER_NOTPRESENT, DOWN, LOWERLAYERDOWN).
constexpr uint8_t kOperNotPresent = 1;
constexpr uint8_t kOperLowerLayerDown = 3;

struct Snapshot {
    std::vector<RtnlLink> links;
    std::vector<RtnlAddress> addresses;
    std::vector<RtnlRoute> routes;
};

bool TakeSnapshot(Snapshot* s) {
    RtnlSocket socket;
    if (socket.Open() != 0 || socket.DumpLinks(&s->links) != 0 || socket.DumpAddresses(&s->addresses) != 0 ||
        socket.DumpRoutes(&s->routes) != 0) {
        NetconfigLog("Cannot read the links, addresses and routes");
        return false;
    }
    return true;
}

// sysfs shows the links of the namespace it was mounted in, which need not
// be the caller's: the entry counts only when its index is the link's.
bool IsWireless(const RtnlLink& link) {
    std::filesystem::path dir = std::filesystem::path("/sys/class/net") / link.name;
    std::error_code ec;
    if (!std::filesystem::exists(dir / "wireless", ec) && !std::filesystem::exists(dir / "phy80211", ec))
        return false;
    std::ifstream in(dir / "ifindex");
    uint32_t index = 0;
    return static_cast<bool>(in >> index) && index == link.index;
}

// The record's description and type, or nothing for a link that is not listed.
std::optional<std::pair<std::wstring, int>> Describe(const RtnlLink& link) {
    if (IsOwnTunLink(link)) return std::make_pair(std::wstring(kOwnTunDescription), kAdapterTypeEthernet);
    if (link.type != ARPHRD_ETHER || link.kind == "tun" || link.kind == "wireguard") return std::nullopt;
    if (IsWireless(link)) return std::make_pair(std::wstring(kWirelessDescription), kAdapterTypeWireless);
    if (link.kind.empty()) return std::make_pair(std::wstring(kEthernetDescription), kAdapterTypeEthernet);
    return std::make_pair(std::wstring(kVirtualDescription), kAdapterTypeEthernet);
}

// The gateway of the link's default route with the lowest metric (routes of
// this program aside); empty for none or one straight onto the link.
std::wstring DefaultGatewayOf(const Snapshot& s, uint32_t ifindex) {
    const RtnlRoute* best = nullptr;
    for (const RtnlRoute& r : s.routes) {
        if (r.table != kRtnlMainTable || r.destination != 0 || r.prefixLength != 0 || r.ifindex != ifindex ||
            r.protocol == kOwnRouteProtocol)
            continue;
        if (!best || r.priority < best->priority) best = &r;
    }
    return best && best->gateway ? Utf8ToWideString(DottedIPv4(best->gateway)) : std::wstring();
}

std::vector<CNetAdapterInfo> List(const Snapshot& s) {
    std::vector<std::string> dns = ResolvConf_OriginalServers();
    std::vector<CNetAdapterInfo> out;
    for (const RtnlLink& link : s.links) {
        auto kind = Describe(link);
        if (!kind) continue;
        CNetAdapterInfo a;
        a.connectionName = Utf8ToWideString(ConnectionNameOf(link));
        a.guid = Utf8ToWideString(link.name);
        a.index = link.index;
        a.description = kind->first;
        a.type = kind->second;
        for (const RtnlAddress& addr : s.addresses) {
            if (addr.ifindex != link.index) continue;
            a.ipAddress = Utf8ToWideString(DottedIPv4(addr.address));
            a.mask = Utf8ToWideString(DottedIPv4(PrefixToNetmask(addr.prefixLength)));
            a.configuredAddress = a.ipAddress;
            break;
        }
        if (!IsOwnTunLink(link)) {
            if (!dns.empty()) a.primaryDns = Utf8ToWideString(dns[0]);
            if (dns.size() > 1) a.secondaryDns = Utf8ToWideString(dns[1]);
        }
        out.push_back(a);
    }
    return out;
}

const CNetAdapterInfo* ByGuid(const std::vector<CNetAdapterInfo>& list, const std::wstring& guid) {
    for (const CNetAdapterInfo& a : list) {
        if (a.guid == guid) return &a;
    }
    return nullptr;
}

}  // namespace

int EnumNetworkConnections(std::vector<CNetAdapterInfo>& list) {
    Snapshot s;
    if (!TakeSnapshot(&s)) return 0;
    std::vector<CNetAdapterInfo> found = List(s);
    list.insert(list.end(), found.begin(), found.end());
    return static_cast<int>(found.size());
}

int ReadAdapterAddress(const std::wstring& guid, std::wstring* address, std::wstring* mask,
                       std::wstring* gateway) {
    Snapshot s;
    if (guid.empty() || !TakeSnapshot(&s)) return 0;
    std::vector<CNetAdapterInfo> list = List(s);
    const CNetAdapterInfo* a = ByGuid(list, guid);
    if (!a) return 0;
    *address = a->ipAddress;
    *mask = a->mask;
    *gateway = DefaultGatewayOf(s, a->index);
    return 1;
}

int AdapterInfoByIndex(uint32_t index, std::wstring* connectionName, std::wstring* guid, std::wstring* primaryDns,
                       std::wstring* secondaryDns, std::wstring* dhcpNameServer) {
    std::vector<CNetAdapterInfo> list;
    EnumNetworkConnections(list);
    for (const CNetAdapterInfo& a : list) {
        if (a.index != index) continue;
        *connectionName = a.connectionName;
        *guid = a.guid;
        *primaryDns = a.primaryDns;
        *secondaryDns = a.secondaryDns;
        *dhcpNameServer = a.dhcpNameServer;
        return 1;
    }
    return 0;
}

int FindLocalAndTapAdapters(FoundAdapters* out) {
    std::vector<CNetAdapterInfo> records;
    EnumNetworkConnections(records);
    AdapterChoice choice = ChooseAdapters(records);
    // A TUN of another program is never listed, so this only ever meets
    // records that stand for someone else's adapter; the reset refuses them.
    for (int i : choice.reset) SetAddressDhcp(records[i].connectionName);
    out->tapCount += choice.tapCount;

    if (choice.local >= 0) {
        const CNetAdapterInfo& local = records[choice.local];
        out->localName = local.connectionName;
        out->localGuid = local.guid;
        out->localIndex = local.index;
        out->localPrimaryDns = local.primaryDns;
        out->localSecondaryDns = local.secondaryDns;
        out->localDhcpNameServer = local.dhcpNameServer;
    }
    CNetAdapterInfo tap;
    if (choice.tap >= 0) tap = records[choice.tap];
    if (!ContainsNoCaseW(kTapConnectionWord, tap.connectionName)) {
        std::wstring name = MakeTapConnectionName();
        if (RenameTapConnection(tap.guid, tap.connectionName, name)) tap.connectionName = name;
    }
    out->tapAddress = kTapAddress;
    out->tunnelGateway = kTunnelGateway;
    out->tapName = tap.connectionName;
    out->tapGuid = tap.guid;
    out->tapIndex = tap.index;
    out->tapScore = choice.tapScore;
    return 1;
}

void StoreBestDefaultRoute() {
    AdapterSettings& a = GetSettings()->adapter;
    std::optional<RouteRow> best = FindBestRoute(0);
    if (best) {
        a.local_connection_shortest_r_directhop = best->direct != 0;
        a.local_connection_shortest_r_ifindex = static_cast<int>(best->ifIndex);
        a.local_connection_shortest_r_nexthop = Utf8ToWideString(DottedIPv4(best->nextHop));
    } else {
        a.local_connection_shortest_r_directhop = false;
        a.local_connection_shortest_r_ifindex = -1;
        a.local_connection_shortest_r_nexthop.clear();
    }
    SaveSettings();
}

int DetectNetworkAdapters() {
    StoreBestDefaultRoute();
    AdapterSettings& a = GetSettings()->adapter;
    FoundAdapters found;
    FindLocalAndTapAdapters(&found);
    a.tap_address = found.tapAddress;
    a.tunnel_gateway = found.tunnelGateway;
    a.tap_connection_name = found.tapName;
    a.tap_connection_guid = found.tapGuid;
    a.tap_connection_index = static_cast<int>(found.tapIndex);

    if (a.local_connection_shortest_r_ifindex == -1) {
        a.local_connection_index = static_cast<int>(found.localIndex);
        a.local_connection_name = found.localName;
        a.local_connection_guid = found.localGuid;
        a.local_connection_primary_dns = found.localPrimaryDns;
        a.local_connection_second_dns = found.localSecondaryDns;
        a.local_connection_DhcpNameServer = found.localDhcpNameServer;
    } else {
        a.local_connection_index = a.local_connection_shortest_r_ifindex;
        if (!AdapterInfoByIndex(static_cast<uint32_t>(a.local_connection_shortest_r_ifindex),
                                &a.local_connection_name, &a.local_connection_guid, &a.local_connection_primary_dns,
                                &a.local_connection_second_dns, &a.local_connection_DhcpNameServer)) {
            // The default route leaves through a link that is not listed (a
            // tunnel of another program): nothing of an earlier run may stand.
            NetconfigLog("The default route's interface is no listed adapter");
            a.local_connection_name.clear();
            a.local_connection_guid.clear();
            a.local_connection_primary_dns.clear();
            a.local_connection_second_dns.clear();
            a.local_connection_DhcpNameServer.clear();
            a.local_connection_ip.clear();
            a.local_connection_mask.clear();
            a.local_connection_gateway.clear();
        }
    }
    a.local_dns_unset = a.local_connection_primary_dns.empty() && a.local_connection_second_dns.empty();
    ReadAdapterAddress(a.local_connection_guid, &a.local_connection_ip, &a.local_connection_mask,
                       &a.local_connection_gateway);
    SaveSettings();
    return found.tapCount;
}

std::wstring MakeTapConnectionName() {
    // Every link counts, listed or not: the name must be free among all of them.
    Snapshot s;
    std::vector<std::wstring> names;
    if (TakeSnapshot(&s)) {
        for (const RtnlLink& link : s.links) names.push_back(Utf8ToWideString(ConnectionNameOf(link)));
    }
    return std::wstring(kTapConnectionWord) + L" " + std::to_wstring(LargestTapConnectionNumber(names) + 1);
}

int IsConnectionNamed(const std::wstring& guid, const std::wstring& name) {
    std::vector<CNetAdapterInfo> list;
    EnumNetworkConnections(list);
    for (const CNetAdapterInfo& a : list) {
        if (a.type == kAdapterTypeEthernet && AsciiEqualsNoCase(a.guid, guid) &&
            AsciiEqualsNoCase(a.connectionName, name))
            return 1;
    }
    return 0;
}

int RenameTapConnection(const std::wstring& guid, const std::wstring& currentName, const std::wstring& newName) {
    RenameConnection(currentName, newName);
    return IsConnectionNamed(guid, newName);
}

int IsInterfaceDown(uint32_t index) {
    RtnlSocket socket;
    std::vector<RtnlLink> links;
    if (socket.Open() != 0 || socket.DumpLinks(&links) != 0) return 0;
    for (const RtnlLink& link : links) {
        if (link.index == index)
            return link.operstate >= kOperNotPresent && link.operstate <= kOperLowerLayerDown ? 1 : 0;
    }
    return 0;
}
