#include "app/main_loop.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <future>

namespace {

int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

CMainLoop::CMainLoop() : clock_(SteadyMs) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (epoll_ >= 0 && wake_ >= 0) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = wake_;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
    }
    loopThread_ = std::this_thread::get_id();
}

CMainLoop::~CMainLoop() {
    ended_ = true;
    if (signalFd_ >= 0) close(signalFd_);
    if (wake_ >= 0) close(wake_);
    if (epoll_ >= 0) close(epoll_);
}

void CMainLoop::Wake() {
    uint64_t one = 1;
    if (write(wake_, &one, sizeof one) < 0) {
        // The counter is full: the loop is awake anyway.
    }
}

bool CMainLoop::Post(Task task) {
    if (ended_) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        posted_.push_back(std::move(task));
    }
    Wake();
    return true;
}

bool CMainLoop::Invoke(const Task& task) {
    if (IsLoopThread()) {
        task();
        return true;
    }
    auto done = std::make_shared<std::promise<void>>();
    auto future = done->get_future();
    if (!Post([task, done] {
            task();
            done->set_value();
        }))
        return false;
    // A loop that ends without running it drops the task, which breaks the promise.
    while (future.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        if (ended_) return false;
    }
    return true;
}

void CMainLoop::SetTimer(int id, int64_t periodMs, Task fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    Timer& t = timers_[id];
    t.period = periodMs < 1 ? 1 : periodMs;
    t.due = clock_() + t.period;
    t.fn = std::move(fn);
}

void CMainLoop::KillTimer(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    timers_.erase(id);
}

bool CMainLoop::HasTimer(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timers_.count(id) != 0;
}

int64_t CMainLoop::GetTimerPeriod(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = timers_.find(id);
    return it == timers_.end() ? 0 : it->second.period;
}

bool CMainLoop::WatchFd(int fd, std::function<void()> fn) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    watches_[fd] = std::move(fn);
    return true;
}

void CMainLoop::UnwatchFd(int fd) {
    epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    std::lock_guard<std::mutex> lock(mutex_);
    watches_.erase(fd);
}

bool CMainLoop::WatchSignals(const std::vector<int>& signals, std::function<void(int)> fn) {
    sigset_t set;
    sigemptyset(&set);
    for (int s : signals) sigaddset(&set, s);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return false;
    signalFd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd_ < 0) return false;
    onSignal_ = std::move(fn);
    return WatchFd(signalFd_, [this] {
        signalfd_siginfo info{};
        while (read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            if (onSignal_) onSignal_(static_cast<int>(info.ssi_signo));
        }
    });
}

void CMainLoop::Quit(int code) {
    exitCode_ = code;
    quit_ = true;
    Wake();
    QuitHook hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = quitHook_;
    }
    if (!hook) return;
    if (IsLoopThread())
        hook(code);
    else
        Post([hook, code] { hook(code); });
}

void CMainLoop::SetQuitHook(QuitHook hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    quitHook_ = std::move(hook);
}

void CMainLoop::SetNestedRunner(NestedRunner runner) {
    std::lock_guard<std::mutex> lock(mutex_);
    nestedRunner_ = std::move(runner);
}

void CMainLoop::WaitUntil(const std::function<bool()>& done) {
    if (done()) return;
    NestedRunner runner;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        runner = nestedRunner_;
    }
    if (runner && IsLoopThread()) {
        runner(done);
        return;
    }
    while (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

bool CMainLoop::IsLoopThread() const {
    return std::this_thread::get_id() == loopThread_;
}

void CMainLoop::SetClock(Clock clock) {
    std::lock_guard<std::mutex> lock(mutex_);
    clock_ = clock ? std::move(clock) : Clock(SteadyMs);
}

int64_t CMainLoop::Now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return clock_();
}

void CMainLoop::RunPosted() {
    // Taken one at a time from the shared queue, as many as were there when
    // the pass began: a nested pass (a task waiting in a box) goes on with
    // the next ones in order, and a task that posts again cannot keep a pass
    // running for ever.
    size_t count;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        count = posted_.size();
    }
    for (; count > 0; --count) {
        Task t;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (posted_.empty()) return;  // a nested pass ran them
            t = std::move(posted_.front());
            posted_.pop_front();
        }
        if (t) t();
    }
}

void CMainLoop::RunDueTimers() {
    // Every due timer is re-armed before any of them runs, so that a nested
    // pass does not fire it a second time.
    std::vector<std::pair<int, Task>> due;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        int64_t now = clock_();
        for (auto& [id, t] : timers_) {
            if (t.due > now) continue;
            t.due = now + t.period;
            due.emplace_back(id, t.fn);
        }
    }
    for (auto& [id, fn] : due) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (timers_.count(id) == 0) continue;  // an earlier timer killed it
        }
        if (fn) fn();
    }
}

void CMainLoop::RunPending() {
    loopThread_ = std::this_thread::get_id();
    RunPosted();
    RunDueTimers();
}

int CMainLoop::NextTimeout() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!posted_.empty()) return 0;
    if (timers_.empty()) return -1;
    int64_t now = clock_();
    int64_t next = INT64_MAX;
    for (auto& [id, t] : timers_) next = std::min(next, t.due);
    if (next <= now) return 0;
    return static_cast<int>(std::min<int64_t>(next - now, INT_MAX));
}

void CMainLoop::DrainWake() {
    uint64_t v;
    while (read(wake_, &v, sizeof v) > 0) {
    }
}

void CMainLoop::RunWatch(int fd) {
    if (fd == wake_) {
        DrainWake();
        return;
    }
    std::function<void()> fn;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = watches_.find(fd);
        if (it != watches_.end()) fn = it->second;
    }
    if (fn) fn();
}

int CMainLoop::Run() {
    loopThread_ = std::this_thread::get_id();
    quit_ = false;
    while (!quit_) {
        epoll_event events[16];
        int n = epoll_wait(epoll_, events, 16, NextTimeout());
        for (int i = 0; i < n && !quit_; ++i) RunWatch(events[i].data.fd);
        if (quit_) break;
        RunPosted();
        if (quit_) break;
        RunDueTimers();
    }
    return Finish();
}

void CMainLoop::Dispatch() {
    epoll_event events[16];
    int n = epoll_wait(epoll_, events, 16, 0);
    for (int i = 0; i < n; ++i) RunWatch(events[i].data.fd);
    RunPosted();
    RunDueTimers();
}

int CMainLoop::Finish() {
    // Tasks posted after the end are dropped (their Invoke callers return false).
    ended_ = true;
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.clear();
    return exitCode_;
}
