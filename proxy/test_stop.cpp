#include "proxy/test_stop.h"

#include <sys/socket.h>

namespace {

thread_local std::shared_ptr<CTestStop> t_stop;

}  // namespace

void CTestStop::RequestStop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_.store(true, std::memory_order_release);
    // Under the lock: a socket is untracked before it is closed, so its
    // number cannot have passed to another socket meanwhile.
    for (int fd : sockets_) shutdown(fd, SHUT_RDWR);
}

void CTestStop::Track(int fd) {
    if (fd < 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    sockets_.insert(fd);
    if (stopping_.load(std::memory_order_relaxed)) shutdown(fd, SHUT_RDWR);
}

void CTestStop::Untrack(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    sockets_.erase(fd);
}

CTestStopScope::CTestStopScope(std::shared_ptr<CTestStop> stop) : previous_(std::move(t_stop)) {
    t_stop = std::move(stop);
}

CTestStopScope::~CTestStopScope() {
    t_stop = std::move(previous_);
}

bool TestStopRequested() {
    return t_stop && t_stop->StopRequested();
}

void TrackTestSocket(int fd) {
    if (t_stop) t_stop->Track(fd);
}

void UntrackTestSocket(int fd) {
    if (t_stop) t_stop->Untrack(fd);
}
