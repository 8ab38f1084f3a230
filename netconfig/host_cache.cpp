#include "netconfig/host_cache.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <ctime>
#include <functional>
#include <map>

#include "foundation/named_lock.h"
#include "foundation/system_helpers.h"

namespace {

int64_t SystemClock() {
    return static_cast<int64_t>(std::time(nullptr));
}

std::atomic<HostCacheClock> g_clock{nullptr};

int64_t Now() {
    HostCacheClock clock = g_clock.load(std::memory_order_acquire);
    return clock ? clock() : SystemClock();
}

// Built on first use, so that callers from other static initialisers find it built.
struct HostCache {
    CNamedLock lock{L"Unspecific"};
    std::map<std::string, HostCacheEntry, std::less<>> entries;
};

HostCache& Cache() {
    static HostCache cache;
    return cache;
}

bool IsFresh(const HostCacheEntry& entry, int64_t now) {
    int64_t age = now >= entry.stored ? now - entry.stored : entry.stored - now;
    return age < kHostCacheLifetime;
}

// The first IPv4 address of `host` as dotted text; false when it does not resolve.
bool ResolveIPv4(std::string_view host, std::string* address) {
    if (host.empty()) return false;
    std::string name(host);
    if (name.find('\0') != std::string::npos) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || !result) return false;
    bool found = false;
    for (addrinfo* ai = result; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || !ai->ai_addr) continue;
        char text[INET_ADDRSTRLEN];
        const auto* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) {
            *address = text;
            found = true;
            break;
        }
    }
    freeaddrinfo(result);
    return found;
}

}  // namespace

void SetHostCacheClock(HostCacheClock clock) {
    g_clock.store(clock, std::memory_order_release);
}

int HostCacheContains(std::string_view host) {
    HostCache& cache = Cache();
    CNamedLockGuard guard(&cache.lock);
    return cache.entries.find(host) != cache.entries.end() ? 1 : 0;
}

int HostCacheLookup(std::string_view host, std::string* address) {
    HostCache& cache = Cache();
    int64_t now = Now();
    CNamedLockGuard guard(&cache.lock);
    auto it = cache.entries.find(host);
    if (it == cache.entries.end() || !IsFresh(it->second, now)) return 0;
    if (address) *address = it->second.address;
    return 1;
}

void HostCacheStore(std::string_view host, std::string_view address) {
    HostCache& cache = Cache();
    int64_t now = Now();
    CNamedLockGuard guard(&cache.lock);
    auto it = cache.entries.find(host);
    if (it == cache.entries.end()) it = cache.entries.emplace(std::string(host), HostCacheEntry{}).first;
    it->second.address.assign(address);
    it->second.stored = now;
}

int ResolveHostCached(std::string_view host, std::string* address) {
    std::string found;
    if (HostCacheLookup(host, &found)) {
        if (address) *address = found;
        return 1;
    }
    if (!ResolveIPv4(host, &found)) return 0;
    // A stale entry is refreshed too, so the name is not resolved on every later call.
    HostCacheStore(host, found);
    if (address) *address = found;
    return 1;
}

std::string ResolveRouteAddress(std::string_view text) {
    std::string name(text);
    if (name.empty() || name.find('\0') != std::string::npos) return {};
    if (IsAddressText(name.c_str())) return name;
    std::string address;
    if (!ResolveHostCached(name, &address)) return {};
    return address;
}
