#include "engine/base/btime.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace {

std::atomic<int64_t> g_start_ms{0};

int64_t MonotonicMs() {
    timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) {
        std::fprintf(stderr, "%s:%d Assertion failed\n", __FILE__, __LINE__);
        std::abort();
    }
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

void BTime_Start(void) {
    static std::once_flag once;
    std::call_once(once, [] { g_start_ms.store(MonotonicMs(), std::memory_order_release); });
}

btime_t BTime_NowMs(void) {
    return MonotonicMs() - g_start_ms.load(std::memory_order_acquire);
}

btime_t BTime_AddSaturating(btime_t a, btime_t b) {
    if (b > 0 && a > BTIME_MAX - b) return BTIME_MAX;
    return a + b;
}
