#include "proxy/service_stop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace {

std::mutex g_stop_lock;
int g_stop_fd = -1;
std::atomic<bool> g_stopping{false};
thread_local bool t_watching = false;

}  // namespace

int ServiceStopFd() {
    std::lock_guard<std::mutex> guard(g_stop_lock);
    // Made once and kept for the life of the process: waiting threads may
    // hold the number at any time.
    if (g_stop_fd < 0) g_stop_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return g_stop_fd;
}

void SignalServiceStop() {
    int fd = ServiceStopFd();
    std::lock_guard<std::mutex> guard(g_stop_lock);
    if (g_stopping.exchange(true)) return;
    uint64_t one = 1;
    if (fd >= 0 && write(fd, &one, sizeof one) < 0) {
        // The counter cannot overflow from one write; nothing else can fail here.
    }
}

void ClearServiceStop() {
    int fd = ServiceStopFd();
    std::lock_guard<std::mutex> guard(g_stop_lock);
    if (!g_stopping.exchange(false)) return;
    uint64_t value = 0;
    if (fd >= 0 && read(fd, &value, sizeof value) < 0) {
        // Already drained.
    }
}

bool IsServiceStopping() {
    return g_stopping.load(std::memory_order_acquire);
}

void WatchServiceStop() {
    t_watching = true;
}

int ServiceStopFdForThread() {
    return t_watching ? ServiceStopFd() : -1;
}
