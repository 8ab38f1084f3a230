#include "proxy/udp_relay_clock.h"

#include <atomic>
#include <ctime>

namespace {

std::atomic<int64_t (*)()> g_clock{nullptr};

}  // namespace

int64_t UdpRelayNow() {
    int64_t (*now)() = g_clock.load(std::memory_order_acquire);
    return now ? now() : static_cast<int64_t>(time(nullptr));
}

void SetUdpRelayClock(int64_t (*now)()) {
    g_clock.store(now, std::memory_order_release);
}
