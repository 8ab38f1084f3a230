#pragma once
// The process-wide host-name cache: the IPv4 address of every name the
// program resolved, kept for 48 hours so that dialogs and the local proxy
// service do not resolve the same name again and again. Every function is
// safe from any thread; resolution runs outside the cache's lock.

#include <cstdint>
#include <string>
#include <string_view>

struct HostCacheEntry {
    std::string address;  // dotted IPv4 text
    int64_t stored = 0;   // seconds, when the entry was stored or refreshed
};

// An entry is fresh while fewer than this many seconds passed since it was stored.
inline constexpr int64_t kHostCacheLifetime = 172800;

// 1 when the cache has an entry for `host` (names compared exactly), of any age.
int HostCacheContains(std::string_view host);
// 1 and the address when the entry exists and is fresh; else 0.
int HostCacheLookup(std::string_view host, std::string* address);
// Inserts the entry with the current time, or replaces an existing entry's
// address and time.
void HostCacheStore(std::string_view host, std::string_view address);

// 1 and the dotted IPv4 address of `host`, from a fresh cache entry or from
// the resolver (the first IPv4 answer, which is then stored, also over a
// stale entry); 0 when the name does not resolve (the cache is unchanged).
int ResolveHostCached(std::string_view host, std::string* address);

// The address an additional route is registered under: text that reads as an
// address (IsAddressText) comes back unchanged, a name comes back as its
// IPv4 address through ResolveHostCached; empty when the name does not
// resolve. Blocks while the resolver works.
std::string ResolveRouteAddress(std::string_view text);

// The clock the cache reads (seconds); null restores the system clock. For tests.
using HostCacheClock = int64_t (*)();
void SetHostCacheClock(HostCacheClock clock);
