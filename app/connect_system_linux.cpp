#include "app/connect_system_linux.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/if.h>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "app/http_front_proxy.h"
#include "foundation/app_paths.h"
#include "foundation/icmp_ping.h"
#include "foundation/program_log.h"
#include "foundation/settings.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "netconfig/local_host.h"
#include "netconfig/route_table.h"
#include "netconfig/unbound_controller.h"
#include "nodes/node_mgr.h"
#include "platform/resolv_conf.h"
#include "platform/rtnetlink.h"
#include "platform/tun_device.h"
#include "proxy/proxy_service.h"

namespace {

bool FindLink(const std::string& name, RtnlLink* out) {
    RtnlSocket s;
    if (s.Open() != 0) return false;
    std::vector<RtnlLink> links;
    if (s.DumpLinks(&links) != 0) return false;
    for (const RtnlLink& l : links) {
        if (l.name == name) {
            *out = l;
            return true;
        }
    }
    return false;
}

std::string LinkName(uint32_t index) {
    RtnlSocket s;
    std::vector<RtnlLink> links;
    if (s.Open() != 0 || s.DumpLinks(&links) != 0) return {};
    for (const RtnlLink& l : links)
        if (l.index == index) return l.name;
    return {};
}

std::wstring Dotted(uint32_t networkOrder) {
    in_addr a{};
    a.s_addr = networkOrder;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return Utf8ToWideString(text);
}

int MaskPrefix(const std::wstring& mask) {
    in_addr a{};
    if (inet_pton(AF_INET, WideToUtf8String(mask).c_str(), &a) != 1) return -1;
    return MaskToPrefixLength(a.s_addr);
}

RtnlResult AddressRequest(RtnlSocket& s, uint16_t type, uint16_t flags, uint32_t ifindex, uint32_t address,
                          int prefix) {
    return s.Request(
        type, flags,
        [&](nlmsghdr* nlh) {
            auto* ifa = static_cast<ifaddrmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(ifaddrmsg)));
            ifa->ifa_family = AF_INET;
            ifa->ifa_prefixlen = static_cast<uint8_t>(prefix);
            ifa->ifa_index = ifindex;
            mnl_attr_put_u32(nlh, IFA_LOCAL, address);
            mnl_attr_put_u32(nlh, IFA_ADDRESS, address);
        },
        "address");
}

// A TCP connection to the node's server within five seconds: the test of a
// node type whose own test client the proxy service does not have yet.
bool CanReach(const std::string& address, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) return false;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool ok = false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
        ok = true;
    } else if (errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, 5000) == 1) {
            int err = 0;
            socklen_t len = sizeof err;
            ok = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
        }
    }
    close(fd);
    return ok;
}

}  // namespace

int SetLinkDown(const std::string& name) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, name.c_str(), IFNAMSIZ - 1);
    int ok = 0;
    if (ioctl(fd, SIOCGIFFLAGS, &ifr) == 0) {
        if (!(ifr.ifr_flags & IFF_UP)) {
            ok = 1;
        } else {
            ifr.ifr_flags = static_cast<short>(ifr.ifr_flags & ~IFF_UP);
            ok = ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
        }
    }
    close(fd);
    return ok;
}

int ResetTunDevice(const std::string& name) {
    RtnlLink link;
    RtnlSocket s;
    std::vector<RtnlAddress> addresses;
    if (FindLink(name, &link) && s.Open() == 0 && s.DumpAddresses(&addresses) == 0) {
        in_addr ours{};
        inet_pton(AF_INET, "10.198.75.60", &ours);
        for (const RtnlAddress& a : addresses)
            if (a.ifindex == link.index && a.address == ours.s_addr)
                AddressRequest(s, RTM_DELADDR, 0, link.index, a.address, a.prefixLength);
    }
    return SetLinkDown(name);
}

CLinuxConnectSystem::CLinuxConnectSystem() : http_(std::make_unique<CHttpFrontProxy>()) {}

CLinuxConnectSystem::~CLinuxConnectSystem() = default;

int CLinuxConnectSystem::DetectNetworkAdapters() {
    AdapterSettings& a = GetSettings()->adapter;
    int count = 0;
    RtnlLink tun;
    if (TunDevice_Find(kTunDeviceName) == TunLookup::kFound && FindLink(kTunDeviceName, &tun)) {
        a.tap_connection_name = Utf8ToWideString(tun.name);
        a.tap_connection_guid = Utf8ToWideString(tun.name);
        a.tap_connection_index = static_cast<int>(tun.index);
        count = 1;
    } else {
        a.tap_connection_name.clear();
        a.tap_connection_guid.clear();
        a.tap_connection_index = 0;
    }
    a.tap_address = L"10.198.75.60";
    a.tunnel_gateway = L"10.198.75.61";
    if (auto best = FindBestRoute(0)) {
        std::string name = LinkName(best->ifIndex);
        a.local_connection_name = Utf8ToWideString(name);
        a.local_connection_guid = a.local_connection_name;
        a.local_connection_index = static_cast<int>(best->ifIndex);
        a.local_connection_shortest_r_nexthop = Dotted(best->nextHop);
        a.local_connection_shortest_r_ifindex = static_cast<int>(best->ifIndex);
        a.local_connection_shortest_r_directhop = best->direct != 0;
        a.local_connection_gateway = best->direct ? L"" : Dotted(best->nextHop);
    } else {
        a.local_connection_name.clear();
        a.local_connection_guid.clear();
        a.local_connection_shortest_r_nexthop.clear();
        a.local_connection_shortest_r_ifindex = -1;
    }
    return count;
}

void CLinuxConnectSystem::InstallTapDriver() {
    ::InstallTapDriver(GetAppDir());
}

void CLinuxConnectSystem::RemoveTapDriver() {
    ::RemoveTapDriver(GetAppDir(), true);
}

int CLinuxConnectSystem::IsInterfaceDown(int ifIndex) {
    RtnlSocket s;
    std::vector<RtnlLink> links;
    if (s.Open() != 0 || s.DumpLinks(&links) != 0) return 0;
    for (const RtnlLink& l : links) {
        if (static_cast<int>(l.index) != ifIndex) continue;
        if (!(l.flags & IFF_UP)) return 1;
        return l.operstate == IF_OPER_NOTPRESENT || l.operstate == IF_OPER_DOWN ||
                       l.operstate == IF_OPER_LOWERLAYERDOWN
                   ? 1
                   : 0;
    }
    return 0;
}

int CLinuxConnectSystem::IsLocalProxyRunning() {
    return ::IsLocalProxyRunning() ? 1 : 0;
}

int CLinuxConnectSystem::StartLocalProxy() {
    if (!::StartLocalProxy(nullptr, nullptr, 0)) return 0;
    return ::GetLocalProxyPort();
}

void CLinuxConnectSystem::StopLocalProxy() {
    ::StopLocalProxy();
}

int CLinuxConnectSystem::StartHttpProxy(int socksPort) {
    return http_->Start(static_cast<uint16_t>(socksPort)) ? 0 : 1;
}

int CLinuxConnectSystem::IsHttpProxyStarted() {
    return http_->IsRunning() ? 1 : 0;
}

void CLinuxConnectSystem::StopHttpProxy() {
    http_->Stop();
}

int CLinuxConnectSystem::GetHttpProxyPort() const {
    return http_->GetPort();
}

void CLinuxConnectSystem::ChangeSystemProxy(int pac) {
    // No desktop-wide proxy setting is changed: the browser modes leave the
    // HTTP proxy on 127.0.0.1 for applications configured to use it.
    AppendToProgramLog("system proxy: would point at http://127.0.0.1:" + std::to_string(http_->GetPort()) +
                       (pac ? " with the auto-configuration file" : ""));
}

void CLinuxConnectSystem::RemoveSystemProxy() {
    AppendToProgramLog("system proxy: would be removed");
}

void CLinuxConnectSystem::SetRouteManager(CProxyRouteManager* manager) {
    ::SetRouteManager(manager);
}

int CLinuxConnectSystem::SetCurrentNode(CNodeInfo* node) {
    return ::SetCurrentNode(node);
}

void CLinuxConnectSystem::SetRelayRunning() {
    ::SetRelayRunning();
}

void CLinuxConnectSystem::StopRelaysAndWait() {
    ::StopRelaysAndWait();
}

void CLinuxConnectSystem::ResetAuthData() {
    ::ResetAuthData();
}

void CLinuxConnectSystem::ClearBypassRouteSet() {
    ::ClearBypassRouteSet();
}

bool CLinuxConnectSystem::HasTestClient(const CNodeInfo& node) {
    return node.type == NodeTypeHttp || node.type == NodeTypeSocks4 || node.type == NodeTypeSocks5 ||
           node.type == NodeTypeSSR;
}

bool CLinuxConnectSystem::RunTest(CNodeInfo* node, int kind) {
    if (!node) return false;
    // No UDP test yet: UDP stays off.
    if (kind != 0) return false;
    NodeFields f = CNodeMgr::GetInstance()->CopyNodeFields(*node);
    std::string address = f.GetConnectAddress();
    if (!IsValidIPv4(address.c_str())) address = ResolveHostToIp(address.c_str());
    return CanReach(address, f.port);
}

std::string CLinuxConnectSystem::FetchExitAddress(CNodeInfo*) {
    return {};
}

std::string CLinuxConnectSystem::ResolveHost(const std::string& host) {
    return ResolveHostToIp(host.c_str());
}

bool CLinuxConnectSystem::IsLocalAddress(const std::wstring& address) {
    return IsLocalAddressW(address.c_str()) != 0;
}

int CLinuxConnectSystem::StartResolver() {
    return CUnboundController::GetInstance()->Start();
}

int CLinuxConnectSystem::IsResolverRunning() {
    return CUnboundController::GetInstance()->IsRunning();
}

void CLinuxConnectSystem::StopResolver() {
    CUnboundController::GetInstance()->KillAll();
}

int CLinuxConnectSystem::StartTunEngine(const TunEngineConfig& config) {
    return ::StartTunEngine(config);
}

void CLinuxConnectSystem::StopTunEngine() {
    ::StopTunEngine();
}

int CLinuxConnectSystem::SetStaticAddress(const std::wstring& connection, const std::wstring& address,
                                          const std::wstring& mask) {
    RtnlLink link;
    std::string name = WideToUtf8String(connection);
    in_addr addr{};
    int prefix = MaskPrefix(mask);
    if (!FindLink(name, &link) || prefix <= 0 ||
        inet_pton(AF_INET, WideToUtf8String(address).c_str(), &addr) != 1)
        return 0;
    RtnlSocket s;
    if (s.Open() != 0) return 0;
    // The address becomes the device's only IPv4 address.
    std::vector<RtnlAddress> addresses;
    s.DumpAddresses(&addresses);
    for (const RtnlAddress& a : addresses) {
        if (a.ifindex == link.index && (a.address != addr.s_addr || a.prefixLength != prefix))
            AddressRequest(s, RTM_DELADDR, 0, link.index, a.address, a.prefixLength);
    }
    RtnlResult r = AddressRequest(s, RTM_NEWADDR, NLM_F_CREATE | NLM_F_REPLACE, link.index, addr.s_addr, prefix);
    if (r.error != 0) {
        AppendToProgramLog("address: " + r.message);
        return 0;
    }
    return TunDevice_SetUp(name);
}

std::wstring CLinuxConnectSystem::ReadAdapterAddress(const std::wstring& guid) {
    RtnlLink link;
    if (!FindLink(WideToUtf8String(guid), &link)) return {};
    RtnlSocket s;
    std::vector<RtnlAddress> addresses;
    if (s.Open() != 0 || s.DumpAddresses(&addresses) != 0) return {};
    for (const RtnlAddress& a : addresses)
        if (a.ifindex == link.index) return Dotted(a.address);
    return {};
}

int CLinuxConnectSystem::SetAdapterDnsServers(const std::wstring&, const std::wstring& primary,
                                              const std::wstring& secondary) {
    std::vector<std::string> servers;
    if (!primary.empty()) servers.push_back(WideToUtf8String(primary));
    if (!secondary.empty()) servers.push_back(WideToUtf8String(secondary));
    return ResolvConf_SetServers(servers) == ResolvConfResult::kOk ? 1 : 0;
}

void CLinuxConnectSystem::RestoreDns() {
    ResolvConf_Restore();
}

void CLinuxConnectSystem::SetTunDown(const std::wstring& connection) {
    ResetTunDevice(WideToUtf8String(connection));
}

void CLinuxConnectSystem::FlushDnsCache() {
    // No system-wide DNS cache to flush: the C library asks the servers of
    // resolv.conf each time.
}

int CLinuxConnectSystem::InitRoutes(const RouteGatewayW& local, const RouteGatewayW& tunnel) {
    return routes_.InitW(local, tunnel);
}

int CLinuxConnectSystem::IsRouteManagerInitialized() {
    return routes_.IsInitialized();
}

int CLinuxConnectSystem::HasRoute(const std::wstring& address, const std::wstring& mask) {
    return routes_.HasRouteW(address, mask);
}

int CLinuxConnectSystem::AddLocalRoute(const std::wstring& address, const std::wstring& mask) {
    return routes_.AddLocalRoute(address, mask, 1);
}

int CLinuxConnectSystem::AddTunnelRoute(const std::wstring& address, const std::wstring& mask) {
    return routes_.AddTunnelRoute(address, mask, 1);
}

int CLinuxConnectSystem::DeleteRoute(const std::wstring& address, const std::wstring& mask) {
    return routes_.DeleteRouteW(address, mask);
}

int CLinuxConnectSystem::AddModeRoutes(const std::map<uint32_t, CProxyModeRule>& rules, int viaTunnel) {
    return routes_.AddModeRoutes(rules, viaTunnel);
}

void CLinuxConnectSystem::RemoveAllRoutes() {
    routes_.RemoveAllRoutes();
}

int64_t CLinuxConnectSystem::NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
