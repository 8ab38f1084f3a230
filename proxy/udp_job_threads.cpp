#include "proxy/udp_job_threads.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

void RaiseToSessionPoolPriority() {
    id_t tid = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    int base = getpriority(PRIO_PROCESS, tid);
    if (base == -1 && errno != 0) return;
    setpriority(PRIO_PROCESS, tid, std::clamp(base - 4, -20, 19));
}

CJobOverflowThreads::CJobOverflowThreads(size_t maxThreads, size_t stackSize)
    : maxThreads_(maxThreads), stackSize_(stackSize) {}

CJobOverflowThreads::~CJobOverflowThreads() {
    JoinAll();
}

void* CJobOverflowThreads::Main(void* arg) {
    auto* entry = static_cast<Entry*>(arg);
    RaiseToSessionPoolPriority();
    entry->fn(entry->param);
    entry->done.store(true, std::memory_order_release);
    return nullptr;
}

bool CJobOverflowThreads::Run(JobFunction fn, void* param) {
    Reap();
    std::lock_guard<std::mutex> guard(lock_);
    if (fn == nullptr || threads_.size() >= maxThreads_) return false;
    auto entry = std::make_unique<Entry>();
    entry->fn = fn;
    entry->param = param;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackSize_);
    int result = pthread_create(&entry->thread, &attr, Main, entry.get());
    pthread_attr_destroy(&attr);
    if (result != 0) return false;
    threads_.push_back(std::move(entry));
    return true;
}

void CJobOverflowThreads::Reap() {
    std::vector<std::unique_ptr<Entry>> finished;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto it = threads_.begin(); it != threads_.end();) {
            if ((*it)->done.load(std::memory_order_acquire)) {
                finished.push_back(std::move(*it));
                it = threads_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Their jobs have returned: each join is a thread's last instructions.
    for (auto& entry : finished) pthread_join(entry->thread, nullptr);
}

void CJobOverflowThreads::JoinAll() {
    std::list<std::unique_ptr<Entry>> all;
    {
        std::lock_guard<std::mutex> guard(lock_);
        all.swap(threads_);
    }
    for (auto& entry : all) pthread_join(entry->thread, nullptr);
}

size_t CJobOverflowThreads::Running() {
    std::lock_guard<std::mutex> guard(lock_);
    size_t running = 0;
    for (auto& entry : threads_) {
        if (!entry->done.load(std::memory_order_acquire)) ++running;
    }
    return running;
}
