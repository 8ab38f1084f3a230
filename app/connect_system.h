#pragma once
// What connect and disconnect do to the machine and to the services below
// the application, behind one interface: the program uses the real one
// (CLinuxConnectSystem), the unit tests a recording fake that can refuse
// any step.

#include <cstdint>
#include <map>
#include <string>

#include "engine/tun2socks/tun2socks.h"
#include "netconfig/router_mgr.h"

class CNodeInfo;
struct CProxyModeRule;
class CProxyRouteManager;

class IConnectSystem {
public:
    virtual ~IConnectSystem() = default;

    // Adapter discovery: refreshes the adapter fields of the settings and
    // returns the number of TUN devices of ours (0 when none).
    virtual int DetectNetworkAdapters() = 0;
    virtual void InstallTapDriver() = 0;
    virtual void RemoveTapDriver() = 0;
    // 1 when the interface of that index is down (an unknown one counts as up).
    virtual int IsInterfaceDown(int ifIndex) = 0;

    // The local proxy service and the HTTP proxy in front of it.
    virtual int IsLocalProxyRunning() = 0;
    // The listener's port, 0 when it did not start.
    virtual int StartLocalProxy() = 0;
    virtual void StopLocalProxy() = 0;
    // 0 when the HTTP proxy runs and forwards to the SOCKS port.
    virtual int StartHttpProxy(int socksPort) = 0;
    virtual int IsHttpProxyStarted() = 0;
    virtual void StopHttpProxy() = 0;
    virtual void ChangeSystemProxy(int pac) = 0;
    virtual void RemoveSystemProxy() = 0;
    virtual void SetRouteManager(CProxyRouteManager* manager) = 0;
    virtual int SetCurrentNode(CNodeInfo* node) = 0;
    virtual void SetRelayRunning() = 0;
    virtual void StopRelaysAndWait() = 0;
    virtual void ResetAuthData() = 0;
    virtual void ClearBypassRouteSet() = 0;

    // Node tests: whether the node has a test client (by type); the TCP
    // (kind 0) or UDP (kind 1) test; the exit address through the node
    // (empty when it could not be fetched).
    virtual bool HasTestClient(const CNodeInfo& node) = 0;
    virtual bool RunTest(CNodeInfo* node, int kind) = 0;
    virtual std::string FetchExitAddress(CNodeInfo* node) = 0;
    // The first IPv4 address of a name as dotted text, empty when none.
    virtual std::string ResolveHost(const std::string& host) = 0;
    virtual bool IsLocalAddress(const std::wstring& address) = 0;

    // The smart-DNS resolver.
    virtual int StartResolver() = 0;
    virtual int IsResolverRunning() = 0;
    virtual void StopResolver() = 0;

    virtual int StartTunEngine(const TunEngineConfig& config) = 0;
    virtual void StopTunEngine() = 0;

    // The TUN device's address, its DNS servers, and undoing both.
    virtual int SetStaticAddress(const std::wstring& connection, const std::wstring& address,
                                 const std::wstring& mask) = 0;
    virtual std::wstring ReadAdapterAddress(const std::wstring& guid) = 0;
    virtual int SetAdapterDnsServers(const std::wstring& connection, const std::wstring& primary,
                                     const std::wstring& secondary) = 0;
    virtual void RestoreDns() = 0;
    // Removes the TUN device's address and sets it down (the kernel drops
    // every route through it).
    virtual void SetTunDown(const std::wstring& connection) = 0;
    virtual void FlushDnsCache() = 0;

    // The connection's routes (the route manager of the main window).
    virtual int InitRoutes(const RouteGatewayW& local, const RouteGatewayW& tunnel) = 0;
    virtual int IsRouteManagerInitialized() = 0;
    virtual int HasRoute(const std::wstring& address, const std::wstring& mask) = 0;
    virtual int AddLocalRoute(const std::wstring& address, const std::wstring& mask) = 0;
    virtual int AddTunnelRoute(const std::wstring& address, const std::wstring& mask) = 0;
    virtual int DeleteRoute(const std::wstring& address, const std::wstring& mask) = 0;
    virtual int AddModeRoutes(const std::map<uint32_t, CProxyModeRule>& rules, int viaTunnel) = 0;
    virtual void RemoveAllRoutes() = 0;

    // Milliseconds on a monotonic clock (the adapter-address wait).
    virtual int64_t NowMs() = 0;
};
