#pragma once
// Threads for the UDP relay loop's session jobs beyond the pool's own
// workers. Each runs one job and ends with it, so a burst of flows leaves no
// threads behind once its flows have ended; the pool keeps its initial
// workers for the steady load.

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>

// Gives the calling thread the session pool's priority (the highest of the
// Win32 relative ones, which the pool applies as a nice value 4 below the
// process's; best effort, it needs the right to raise it). The reader, the
// writer and the extra job threads must not run below the pool's workers.
void RaiseToSessionPoolPriority();

class CJobOverflowThreads {
public:
    using JobFunction = int (*)(void* param);

    CJobOverflowThreads(size_t maxThreads, size_t stackSize);
    ~CJobOverflowThreads();
    CJobOverflowThreads(const CJobOverflowThreads&) = delete;
    CJobOverflowThreads& operator=(const CJobOverflowThreads&) = delete;

    // Runs the job on a thread of its own; false (nothing run) when the
    // maximum runs already or no thread can be made.
    bool Run(JobFunction fn, void* param);
    // Joins the threads whose jobs have returned.
    void Reap();
    // Waits for every job to return and joins its thread.
    void JoinAll();
    // Threads whose jobs still run.
    size_t Running();

private:
    struct Entry {
        pthread_t thread{};
        JobFunction fn = nullptr;
        void* param = nullptr;
        std::atomic<bool> done{false};
    };
    static void* Main(void* arg);

    const size_t maxThreads_;
    const size_t stackSize_;
    std::mutex lock_;
    std::list<std::unique_ptr<Entry>> threads_;
};
