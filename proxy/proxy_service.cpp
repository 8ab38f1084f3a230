#include "proxy/proxy_service.h"

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "ciphers/cryptor.h"
#include "ciphers/plugins/auth_data.h"
#include "foundation/named_lock.h"
#include "foundation/private_heap.h"
#include "foundation/program_log.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "netconfig/local_host.h"
#include "nodes/node_mgr.h"
#include "nodes/subscriptions.h"
#include "proxy/listener.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/route_manager_link.h"
#include "proxy/service_stop.h"

namespace {

constexpr size_t kMaxFolderLength = 999;
constexpr auto kRelayStopWait = std::chrono::milliseconds(500);

std::atomic<CProxyRouteManager*> g_routeManager{nullptr};

CNamedLock& BypassLock() {
    static CNamedLock lock(L"Unspecific", 0);
    return lock;
}

std::set<std::string>& BypassSet() {
    static std::set<std::string> set;
    return set;
}

CNamedLock& FolderLock() {
    static CNamedLock lock(L"Unspecific", 0);
    return lock;
}

std::wstring& Folder() {
    static std::wstring folder;
    return folder;
}

// 501 connections of up to four sockets each and the UDP sessions need more
// descriptors than the usual soft limit of 1024.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    rlim_t old = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        AppendToProgramLog("local proxy: could not raise the descriptor limit from " + std::to_string(old));
    }
}

}  // namespace

void InitProxyService(const std::wstring& programFolder) {
    {
        CNamedLockGuard guard(&FolderLock());
        Folder() = programFolder.substr(0, kMaxFolderLength);
    }
    InitCipherLibrary();
    WriteLocalHostIni(WideToPath(programFolder));
    LoadSubscriptions();
    CAuthData::GetInstance();
}

std::wstring GetProxyServiceFolder() {
    CNamedLockGuard guard(&FolderLock());
    return Folder();
}

void SetUdpRelayPort(uint16_t port) {
    GetLocalProxySettings().udpRelayPort = port;
}

int StartLocalProxy(const char* user, const char* password, uint16_t port) {
    if (port == 0) {
        int free = FindFreeLocalPort();
        if (free <= 0 || free > 65535) return 0;
        port = static_cast<uint16_t>(free);
    }
    GetLocalProxySettings().localSocksPort = port;
    SetLocalSocksCredentials(user, password);
    CreatePrivateHeap();
    RaiseDescriptorLimit();
    ClearServiceStop();
    if (!GetLocalListener().Start()) return 0;
    SetRelayRunningFlag(true);
    return 1;
}

void StopLocalProxy() {
    SetRelayRunningFlag(false);
    SignalServiceStop();
    GetLocalListener().Stop();
    SaveSubscriptions();
}

bool IsLocalProxyRunning() {
    return GetLocalListener().IsListening();
}

uint16_t GetLocalProxyPort() {
    return GetLocalProxySettings().localSocksPort.load();
}

int GetLocalProxyLastError() {
    return GetLocalListener().GetLastError();
}

int SetCurrentNode(CNodeInfo* node) {
    if (node == nullptr) return 0;
    NodeFields f = CNodeMgr::GetInstance()->CopyNodeFields(*node);
    switch (f.type) {
        case NodeTypeSSR:
            if (f.host.empty() || f.password.empty() || f.method.empty() || f.port == 0) return 0;
            break;
        case NodeTypeHttp:
        case NodeTypeSocks4:
        case NodeTypeSocks5:
            if (f.host.empty() || f.port == 0) return 0;
            break;
        default:
            return 0;
    }
    StoreCurrentProxyNode(node);
    return 1;
}

void SetRelayRunning() {
    SetRelayRunningFlag(true);
}

void StopRelaysAndWait() {
    SetRelayRunningFlag(false);
    std::this_thread::sleep_for(kRelayStopWait);
}

void SetRouteManager(CProxyRouteManager* manager) {
    g_routeManager.store(manager);
}

void ClearBypassRouteSet() {
    CNamedLockGuard guard(&BypassLock());
    BypassSet().clear();
}

bool IsBypassRouted(const std::string& address) {
    if (g_routeManager.load() == nullptr) return true;
    CNamedLockGuard guard(&BypassLock());
    return BypassSet().count(address) != 0;
}

void AddBypassRoute(const std::string& address, bool checkExisting, const std::string& why) {
    CProxyRouteManager* manager = g_routeManager.load();
    if (manager == nullptr || IsBypassRouted(address)) return;
    static const std::string kHostMask = "255.255.255.255";
    bool present = checkExisting && manager->HasRoute(address, kHostMask);
    // A failed addition is not recorded, so that a later call tries again.
    if (!present && !manager->AddLocalRouteViaActiveRouter(address, kHostMask, 1)) return;
    {
        CNamedLockGuard guard(&BypassLock());
        if (!BypassSet().insert(address).second) return;  // another thread got there first
    }
    std::string line = "Warning: traffic to " + address + " now goes around the tunnel, not through the proxy";
    if (!why.empty()) line += " (" + why + ")";
    AppendToProgramLogOrStderr(line);
    manager->ReportBypassRoute(line);
}

uint64_t GetActiveConnectionCount() {
    int32_t count = ActiveConnections();
    return static_cast<uint32_t>(count);
}

void ResetAuthData() {
    CAuthData::GetInstance();
}
