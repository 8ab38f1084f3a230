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
    // Ends Run after the current task; from any thread. With a quit hook
    // (the toolkit's loop runs this one) the hook runs on the loop thread.
    void Quit(int code = 0);

    // One pass without waiting: ready descriptors, then the tasks posted
    // before the pass began (in order), then the timers that are due.
    void Dispatch();
    // The descriptor that is readable whenever Dispatch has work (epoll).
    int GetFd() const { return epoll_; }
    // Milliseconds until a pass has work without a descriptor: 0 when
    // tasks wait or a timer is due, -1 when no timer is armed.
    int NextTimeout() const;
    using QuitHook = std::function<void(int code)>;
    void SetQuitHook(QuitHook hook);
    // Marks the end when another loop ran this one: later posts are
    // refused and waiting ones dropped. Returns the code Quit gave.
    int Finish();

    // Waits on the loop thread until `done` is true. A windowed program
    // sets a runner that keeps its windows' events served meanwhile (a
    // worker may be waiting for them); without one it only polls.
    using NestedRunner = std::function<void(const std::function<bool()>& done)>;
    void SetNestedRunner(NestedRunner runner);
    void WaitUntil(const std::function<bool()>& done);
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
    void DrainWake();
    void RunWatch(int fd);
    void RunPosted();
    void RunDueTimers();

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
    QuitHook quitHook_;
    NestedRunner nestedRunner_;
};
