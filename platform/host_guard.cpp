#include "platform/host_guard.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

uint64_t NamespaceOf(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_ino);
}

std::atomic<bool> g_enabled{false};

// Read during static initialisation, before main can move any thread.
const uint64_t g_firstNamespace = NamespaceOf("/proc/self/ns/net");

}  // namespace

void HostGuard_Enable() {
    g_enabled.store(true, std::memory_order_release);
    setenv("CENDROW_HOST_GUARD", "1", 1);
}

bool HostGuard_IsEnabled() {
    if (g_enabled.load(std::memory_order_acquire)) return true;
    const char* env = getenv("CENDROW_HOST_GUARD");
    return env && std::strcmp(env, "1") == 0;
}

uint64_t HostGuard_CurrentNamespace() {
    return NamespaceOf("/proc/thread-self/ns/net");
}

uint64_t HostGuard_FirstNamespace() {
    return g_firstNamespace;
}

bool HostGuard_Refuses(uint64_t ns, const char* what) {
    if (!HostGuard_IsEnabled()) return false;
    if (ns != 0 && g_firstNamespace != 0 && ns != g_firstNamespace) return false;
    std::fprintf(stderr,
                 "host guard: refused %s in the machine's own network namespace "
                 "(tests change the network only inside namespaces they create)\n",
                 what ? what : "a network change");
    return true;
}

bool HostGuard_RefusesHere(const char* what) {
    return HostGuard_Refuses(HostGuard_CurrentNamespace(), what);
}
