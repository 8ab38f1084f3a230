#include "app/connect_system_linux.h"

#include <filesystem>
#include <memory>

#include "app/http_front_proxy.h"
#include "foundation/app_paths.h"
#include "foundation/icmp_ping.h"
#include "foundation/program_log.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "netconfig/adapter_config.h"
#include "netconfig/adapter_discovery.h"
#include "netconfig/local_host.h"
#include "netconfig/unbound_controller.h"
#include "nodes/account/service_config.h"
#include "nodes/node_mgr.h"
#include "platform/resolv_conf.h"
#include "platform/tun_device.h"
#include "proxy/node_testing.h"
#include "proxy/proxy_service.h"

namespace {

// The test client of the node's type, built without a log callback and
// with option 0; null for a type that has none.
std::unique_ptr<CTestingBase> MakeTestClient(int type) {
    switch (type) {
        case NodeTypeSSR:
            return std::make_unique<CSSRClientTesting>(nullptr, nullptr, 0);
        case NodeTypeHttp:
        case NodeTypeSocks4:
        case NodeTypeSocks5:
            return std::make_unique<CS45ClientTesting>(nullptr, nullptr, 0);
        default:
            return nullptr;
    }
}

bool InInitialNetworkNamespace() {
    std::error_code a, b;
    auto own = std::filesystem::read_symlink("/proc/self/ns/net", a);
    auto first = std::filesystem::read_symlink("/proc/1/ns/net", b);
    return !a && !b && own == first;
}

}  // namespace

CLinuxConnectSystem::CLinuxConnectSystem() : http_(std::make_unique<CHttpFrontProxy>()) {}

CLinuxConnectSystem::~CLinuxConnectSystem() = default;

int CLinuxConnectSystem::DetectNetworkAdapters() {
    return ::DetectNetworkAdapters();
}

void CLinuxConnectSystem::InstallTapDriver() {
    ::InstallTapDriver(GetAppDir());
}

void CLinuxConnectSystem::RemoveTapDriver() {
    ::RemoveTapDriver(GetAppDir(), true);
}

int CLinuxConnectSystem::IsInterfaceDown(int ifIndex) {
    return ifIndex < 0 ? 0 : ::IsInterfaceDown(static_cast<uint32_t>(ifIndex));
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
    return MakeTestClient(node.type) != nullptr;
}

bool CLinuxConnectSystem::RunTest(CNodeInfo* node, int kind) {
    if (!node) return false;
    std::unique_ptr<CTestingBase> client = MakeTestClient(CNodeMgr::GetInstance()->CopyNodeFields(*node).type);
    return client && client->RunTest(node, kind);
}

std::string CLinuxConnectSystem::FetchExitAddress(CNodeInfo* node) {
    if (!node) return {};
    // Only the HTTP and SOCKS test client fetches the exit address; the
    // Shadowsocks one leaves it empty.
    if (CNodeMgr::GetInstance()->CopyNodeFields(*node).type == NodeTypeSSR) return {};
    ServiceConfig config = GetServiceConfig();
    std::vector<std::wstring> urls;
    if (!config.exitIpABase.empty()) {
        std::wstring first = Utf8ToWideString(config.exitIpABase + "/ip/");
        urls = {first, first};  // the first service is asked twice
    }
    if (!config.exitIpBBase.empty()) urls.push_back(Utf8ToWideString(config.exitIpBBase + "/"));
    for (const std::wstring& url : urls) {
        CS45ClientTesting client(nullptr, nullptr, 0);
        std::string address;
        if (client.FetchExitAddress(node, url, &address) && !address.empty()) return address;
    }
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
    return ::SetStaticAddress(connection, 0, 0, address, mask, L"");
}

std::wstring CLinuxConnectSystem::ReadAdapterAddress(const std::wstring& guid) {
    std::wstring address, mask, gateway;
    if (!::ReadAdapterAddress(guid, &address, &mask, &gateway)) return {};
    return address;
}

int CLinuxConnectSystem::SetAdapterDnsServers(const std::wstring& connection, const std::wstring& primary,
                                              const std::wstring& secondary) {
    return ::SetAdapterDnsServers(connection, primary, secondary);
}

void CLinuxConnectSystem::RestoreDns() {
    ResolvConf_Restore();
}

void CLinuxConnectSystem::SetTunDown(const std::wstring& connection) {
    ResetTunDevice(connection);
}

void CLinuxConnectSystem::FlushDnsCache() {
    // The system's caching resolver serves the machine's own network
    // namespace; a program run inside another one has nothing of it to flush.
    if (InInitialNetworkNamespace()) ::FlushDnsCache();
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

int ResetTunDevice(const std::wstring& connection) {
    // Our address goes first: a device left up with it would keep its routes.
    int ok = SetAddressDhcp(connection);
    return TunDevice_SetDown(WideToUtf8String(connection)) && ok;
}
