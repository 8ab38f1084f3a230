#pragma once
// The loop that stands in for the user-interface thread of a windowed
// program: tasks posted from any thread, timers by id on a clock that tests
// can replace, and readable descriptors (signals through signalfd, the
// command channel's socket). Everything it runs, runs on the thread that
// calls Run.

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

class CMainLoop {
public:
    using Task = std::function<void()>;
    using Clock = std::function<int64_t()>;  // milliseconds, monotonic

    CMainLoop();
    ~CMainLoop();
    CMainLoop(const CMainLoop&) = delete;
    CMainLoop& operator=(const CMainLoop&) = delete;

    // From any thread; false once the loop has ended for good.
    bool Post(Task task);
    // Runs the task on the loop and waits until it ran; on the loop's own
    // thread it runs at once. False when the loop ended first.
    bool Invoke(const Task& task);

    // A repeating timer: `fn` runs every `periodMs` from now on. Setting an
    // id again restarts it. Loop thread, or before Run.
    void SetTimer(int id, int64_t periodMs, Task fn);
    void KillTimer(int id);
    bool HasTimer(int id) const;
    int64_t GetTimerPeriod(int id) const;

    // Calls `fn` on the loop whenever `fd` is readable, until UnwatchFd.
    bool WatchFd(int fd, std::function<void()> fn);
    void UnwatchFd(int fd);
    // Blocks the signals for the whole process and delivers them through
    // the loop. Call before any other thread starts.
    bool WatchSignals(const std::vector<int>& signals, std::function<void(int)> fn);

    // Runs until Quit; returns the code Quit gave.
    int Run();
    // Ends Run after the current task; from any thread.
    void Quit(int code = 0);
    bool IsQuitting() const { return quit_.load(); }
    bool IsLoopThread() const;

    // Tests: a clock of their own, and one pass over what is due now
    // (posted tasks, then timers) without waiting.
    void SetClock(Clock clock);
    int64_t Now() const;
    void RunPending();

private:
    struct Timer {
        int64_t period = 0;
        int64_t due = 0;
        Task fn;
    };
    void Wake();
    void RunPosted();
    void RunDueTimers();
    int NextTimeout() const;

    int epoll_ = -1;
    int wake_ = -1;
    int signalFd_ = -1;
    std::atomic<bool> quit_{false};
    std::atomic<bool> ended_{false};
    int exitCode_ = 0;
    std::thread::id loopThread_;
    mutable std::mutex mutex_;
    std::deque<Task> posted_;
    std::map<int, Timer> timers_;
    std::map<int, std::function<void()>> watches_;
    std::function<void(int)> onSignal_;
    Clock clock_;
};
