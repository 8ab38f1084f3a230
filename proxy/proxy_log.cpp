#include "proxy/proxy_log.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

#include "foundation/program_log.h"

namespace {

using Clock = std::chrono::steady_clock;

// A burst of 30 lines, then 5 a second.
constexpr double kBurst = 30;
constexpr double kPerSecond = 5;

struct Budget {
    std::mutex lock;
    double tokens = kBurst;
    Clock::time_point refilled = Clock::now();
    uint64_t suppressed = 0;
};

Budget& TheBudget() {
    static Budget* budget = new Budget;  // used by threads that may outlive exit
    return *budget;
}

std::atomic<uint64_t> g_events{0};

}  // namespace

bool LogProxyEvent(std::string_view line) {
    g_events.fetch_add(1);
    Budget& b = TheBudget();
    uint64_t suppressed = 0;
    {
        std::lock_guard<std::mutex> guard(b.lock);
        auto now = Clock::now();
        double elapsed = std::chrono::duration<double>(now - b.refilled).count();
        b.refilled = now;
        b.tokens = std::min(kBurst, b.tokens + elapsed * kPerSecond);
        if (b.tokens < 1) {
            ++b.suppressed;
            return false;
        }
        b.tokens -= 1;
        suppressed = b.suppressed;
        b.suppressed = 0;
    }
    std::string text = "local proxy: ";
    text.append(line);
    if (suppressed > 0) text += " (" + std::to_string(suppressed) + " similar lines left out before this one)";
    AppendToProgramLog(text);
    return true;
}

uint64_t ProxyEventCount() {
    return g_events.load();
}

void ResetProxyLogBudget() {
    Budget& b = TheBudget();
    std::lock_guard<std::mutex> guard(b.lock);
    b.tokens = kBurst;
    b.refilled = Clock::now();
    b.suppressed = 0;
}

std::string DescribeEndpoint(const std::string& host, uint16_t port) {
    return host + ":" + std::to_string(port);
}
