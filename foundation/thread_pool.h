#pragma once
// Worker threads for short jobs (a function and one pointer). Workers are
// created with a chosen stack size and priority; when a job arrives and no
// worker is idle the pool grows by a fixed step, up to a maximum.
//
// Stop, Terminate and the destructor join every worker; a job must not call
// them on its own pool.

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Win32 relative thread priorities, as callers pass them.
enum : int {
    THREAD_PRIORITY_IDLE = -15,
    THREAD_PRIORITY_LOWEST = -2,
    THREAD_PRIORITY_BELOW_NORMAL = -1,
    THREAD_PRIORITY_NORMAL = 0,
    THREAD_PRIORITY_ABOVE_NORMAL = 1,
    THREAD_PRIORITY_HIGHEST = 2,
    THREAD_PRIORITY_TIME_CRITICAL = 15,
};

class CThreadPool {
public:
    // The job's result is ignored.
    using JobFunction = int (*)(void* param);

    enum State : int { kRunning = 0, kStopping = 1, kStopped = 2 };

    // stackSize 0 is the default stack; growStep 0 never grows; maxThreads 0
    // has no limit. With startNow, a failing Start throws the integer 1.
    // extraStopWaitMs is accepted for callers and unused: Stop always waits
    // for running jobs to return.
    CThreadPool(int initialThreads, bool startNow, size_t stackSize, int growStep, int maxThreads,
                int priority, int extraStopWaitMs);
    virtual ~CThreadPool();
    CThreadPool(const CThreadPool&) = delete;
    CThreadPool& operator=(const CThreadPool&) = delete;

    // Creates the initial workers; false when the pool is not stopped or a
    // worker cannot be created (the pool is then left stopped, without workers).
    bool Start();

    // Placement 1 queues the job at the back; any other value at the front, so
    // it is the next job taken. Wakes an idle worker, else grows the pool; a
    // job that finds no worker waits for the first one that finishes. False
    // (nothing queued) unless the pool is running.
    bool Submit(JobFunction fn, void* param, int placement);

    // Adds up to n workers unless the pool already has its maximum (the step
    // may carry it past the maximum by less than one step). Returns how many.
    int Grow(int n);

    // Refuses new jobs, drops the queued ones, lets running jobs finish and
    // joins every worker. Idle workers end at once, with or without wait.
    void Stop(bool wait);
    // Threads cannot be killed safely here, so this is Stop without wait.
    void Terminate();

    int GetBusyCount();
    int GetThreadCount();
    State GetState() const { return state_.load(std::memory_order_acquire); }
    bool IsStarted() const { return started_.load(std::memory_order_acquire); }
    std::wstring GetName();

private:
    struct Worker {
        CThreadPool* pool = nullptr;
        pthread_t thread{};
        bool idle = true;
        bool wake = false;  // set by Submit; cleared only when the queue is found empty
        std::condition_variable cv;
    };
    struct Job {
        JobFunction fn;
        void* param;
    };

    static void* WorkerMain(void* arg);
    void WorkerLoop(Worker& w);
    bool CreateWorker();    // creationMutex_ held
    bool WakeIdleWorker();  // mutex_ held
    // Moves a running pool to stopping and wakes every worker; true for the
    // one caller that did, which must then call JoinAll.
    bool BeginStop();
    void JoinAll();

    const int initialThreads_;
    const size_t stackSize_;
    const int growStep_;
    const int maxThreads_;
    const int priority_;

    std::mutex creationMutex_;  // Start, Grow and the joining in Stop; before mutex_
    std::mutex mutex_;          // queue, workers and their flags, name
    std::deque<Job> queue_;
    std::vector<std::unique_ptr<Worker>> workers_;  // creation order
    std::wstring name_;
    std::atomic<State> state_{kStopped};
    std::atomic<bool> started_{false};
};

// The process-wide pool of two workers, built on first use and stopped at exit.
CThreadPool& GetGlobalThreadPool();
