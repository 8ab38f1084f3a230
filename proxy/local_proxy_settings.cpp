#include "proxy/local_proxy_settings.h"

#include "foundation/named_lock.h"

namespace {

std::atomic<int> g_relayRunning{0};
std::atomic<CNodeInfo*> g_currentNode{nullptr};
std::atomic<int32_t> g_activeConnections{0};

CNamedLock& CredentialsLock() {
    static CNamedLock lock(L"Unspecific", 0);
    return lock;
}

std::string& StoredUser() {
    static std::string user;
    return user;
}

std::string& StoredPassword() {
    static std::string password;
    return password;
}

}  // namespace

LocalProxySettings& GetLocalProxySettings() {
    static LocalProxySettings settings;
    return settings;
}

void SetLocalSocksCredentials(const char* user, const char* password) {
    CNamedLockGuard guard(&CredentialsLock());
    if (user) StoredUser() = user;
    if (password) StoredPassword() = password;
}

void GetLocalSocksCredentials(std::string* user, std::string* password) {
    CNamedLockGuard guard(&CredentialsLock());
    *user = StoredUser();
    *password = StoredPassword();
}

bool IsRelayRunning() {
    return g_relayRunning.load(std::memory_order_relaxed) != 0;
}

void SetRelayRunningFlag(bool running) {
    g_relayRunning.store(running ? 1 : 0, std::memory_order_relaxed);
}

CNodeInfo* GetCurrentProxyNode() {
    return g_currentNode.load(std::memory_order_acquire);
}

void StoreCurrentProxyNode(CNodeInfo* node) {
    g_currentNode.store(node, std::memory_order_release);
}

void IncrementActiveConnections() {
    g_activeConnections.fetch_add(1, std::memory_order_relaxed);
}

void DecrementActiveConnections() {
    g_activeConnections.fetch_sub(1, std::memory_order_relaxed);
}

int32_t ActiveConnections() {
    return g_activeConnections.load(std::memory_order_relaxed);
}
