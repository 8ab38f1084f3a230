#pragma once
// The connect system of the running program: the local proxy service, the
// packet engine, the route manager, the resolver, resolv.conf and the TUN
// device of the calling thread's network namespace.

#include <memory>
#include <string>

#include "app/connect_system.h"

class CHttpFrontProxy;

class CLinuxConnectSystem : public IConnectSystem {
public:
    CLinuxConnectSystem();
    ~CLinuxConnectSystem() override;

    int DetectNetworkAdapters() override;
    void InstallTapDriver() override;
    void RemoveTapDriver() override;
    int IsInterfaceDown(int ifIndex) override;

    int IsLocalProxyRunning() override;
    int StartLocalProxy() override;
    void StopLocalProxy() override;
    int StartHttpProxy(int socksPort) override;
    int IsHttpProxyStarted() override;
    void StopHttpProxy() override;
    void ChangeSystemProxy(int pac) override;
    void RemoveSystemProxy() override;
    void SetRouteManager(CProxyRouteManager* manager) override;
    int SetCurrentNode(CNodeInfo* node) override;
    void SetRelayRunning() override;
    void StopRelaysAndWait() override;
    void ResetAuthData() override;
    void ClearBypassRouteSet() override;

    bool HasTestClient(const CNodeInfo& node) override;
    bool RunTest(CNodeInfo* node, int kind) override;
    std::string FetchExitAddress(CNodeInfo* node) override;
    std::string ResolveHost(const std::string& host) override;
    bool IsLocalAddress(const std::wstring& address) override;

    int StartResolver() override;
    int IsResolverRunning() override;
    void StopResolver() override;

    int StartTunEngine(const TunEngineConfig& config) override;
    void StopTunEngine() override;

    int SetStaticAddress(const std::wstring& connection, const std::wstring& address,
                         const std::wstring& mask) override;
    std::wstring ReadAdapterAddress(const std::wstring& guid) override;
    int SetAdapterDnsServers(const std::wstring& connection, const std::wstring& primary,
                             const std::wstring& secondary) override;
    void RestoreDns() override;
    void SetTunDown(const std::wstring& connection) override;
    void FlushDnsCache() override;

    int InitRoutes(const RouteGatewayW& local, const RouteGatewayW& tunnel) override;
    int IsRouteManagerInitialized() override;
    int HasRoute(const std::wstring& address, const std::wstring& mask) override;
    int AddLocalRoute(const std::wstring& address, const std::wstring& mask) override;
    int AddTunnelRoute(const std::wstring& address, const std::wstring& mask) override;
    int DeleteRoute(const std::wstring& address, const std::wstring& mask) override;
    int AddModeRoutes(const std::map<uint32_t, CProxyModeRule>& rules, int viaTunnel) override;
    void RemoveAllRoutes() override;

    int64_t NowMs() override;

    int GetHttpProxyPort() const;

private:
    COstrelRouteMgr routes_;
    std::unique_ptr<CHttpFrontProxy> http_;
};

// The TUN device as connect found it: without our address, and down; 1 when
// both are done.
int ResetTunDevice(const std::wstring& connection);
