#include "platform/host_guard.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

uint64_t NamespaceOf(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_ino);
}

std::atomic<bool> g_enabled{false};

// Read at first use, or during static initialisation at the latest (below),
// before main can move any thread.
uint64_t FirstNamespace() {
    static const uint64_t first = NamespaceOf("/proc/self/ns/net");
    return first;
}
[[maybe_unused]] const uint64_t g_firstNamespace = FirstNamespace();

}  // namespace

constexpr const char* kNamespaceVariable = "CENDROW_HOST_GUARD_NETNS";

void HostGuard_Enable() {
    g_enabled.store(true, std::memory_order_release);
    setenv("CENDROW_HOST_GUARD", "1", 1);
    if (FirstNamespace() != 0 && !getenv(kNamespaceVariable))
        setenv(kNamespaceVariable, std::to_string(FirstNamespace()).c_str(), 1);
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
    return FirstNamespace();
}

bool HostGuard_Refuses(uint64_t ns, const char* what) {
    if (!HostGuard_IsEnabled()) return false;
    if (ns != 0 && FirstNamespace() != 0 && ns != FirstNamespace()) return false;
    std::fprintf(stderr,
                 "host guard: refused %s in the machine's own network namespace "
                 "(tests change the network only inside namespaces they create)\n",
                 what ? what : "a network change");
    return true;
}

bool HostGuard_RefusesHere(const char* what) {
    return HostGuard_Refuses(HostGuard_CurrentNamespace(), what);
}

bool HostGuard_RefusesInMachineNamespace(const char* what) {
    if (!HostGuard_IsEnabled()) return false;
    const char* text = getenv(kNamespaceVariable);
    char* end = nullptr;
    unsigned long long machine = text ? std::strtoull(text, &end, 10) : 0;
    uint64_t here = HostGuard_CurrentNamespace();
    if (machine != 0 && end && *end == '\0' && here != 0 && here != machine) return false;
    std::fprintf(stderr, "host guard: refused %s (the machine's own network namespace, or one not known)\n",
                 what ? what : "a network change");
    return true;
}
