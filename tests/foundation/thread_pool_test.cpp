#include "foundation/thread_pool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A gate that jobs wait at until the test opens it, and a count of what passed.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    int arrived = 0;
    int finished = 0;

    void Pass() {
        std::unique_lock lock(m);
        ++arrived;
        cv.notify_all();
        cv.wait(lock, [&] { return open; });
        ++finished;
        cv.notify_all();
    }
    void Open() {
        std::lock_guard lock(m);
        open = true;
        cv.notify_all();
    }
    // Waits with a deadline so that a lost job fails the test instead of hanging it.
    bool WaitArrived(int n) {
        std::unique_lock lock(m);
        return cv.wait_for(lock, 30s, [&] { return arrived >= n; });
    }
    bool WaitFinished(int n) {
        std::unique_lock lock(m);
        return cv.wait_for(lock, 30s, [&] { return finished >= n; });
    }
};

int PassGate(void* p) {
    static_cast<Gate*>(p)->Pass();
    return 0;
}

size_t ThreadsOfThisProcess() {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

// Records the order in which jobs run.
struct OrderLog {
    std::mutex m;
    std::condition_variable cv;
    std::vector<int> order;
};
struct OrderJob {
    OrderLog* log;
    int id;
};
int RecordOrder(void* p) {
    auto* job = static_cast<OrderJob*>(p);
    std::lock_guard lock(job->log->m);
    job->log->order.push_back(job->id);
    job->log->cv.notify_all();
    return 0;
}

}  // namespace

TEST(ThreadPool, GrowsByStepUpToItsMaximum) {
    Gate gate;
    CThreadPool pool(2, true, 307200, 2, 5, THREAD_PRIORITY_NORMAL, 0);
    EXPECT_TRUE(pool.IsStarted());
    EXPECT_EQ(pool.GetState(), CThreadPool::kRunning);
    EXPECT_EQ(pool.GetThreadCount(), 2);

    struct Step {
        int threadsAfter, busyAfter;
    };
    // 2 busy; a 3rd job grows to 4; the 4th takes the idle new worker; the 5th
    // grows past the maximum of 5 by less than a step; the 7th finds the pool
    // at its maximum and waits in the queue.
    const Step steps[] = {{2, 1}, {2, 2}, {4, 3}, {4, 4}, {6, 5}, {6, 6}, {6, 6}};
    int submitted = 0;
    for (const auto& s : steps) {
        ASSERT_TRUE(pool.Submit(PassGate, &gate, 1));
        ++submitted;
        EXPECT_EQ(pool.GetThreadCount(), s.threadsAfter) << "job " << submitted;
        EXPECT_EQ(pool.GetBusyCount(), s.busyAfter) << "job " << submitted;
    }
    ASSERT_TRUE(gate.WaitArrived(6));
    EXPECT_EQ(pool.Grow(2), 0);
    gate.Open();
    // The queued job is taken by the first worker that finishes.
    ASSERT_TRUE(gate.WaitFinished(7));
    pool.Stop(true);
    EXPECT_EQ(pool.GetThreadCount(), 0);
}

TEST(ThreadPool, PlacementOrdersTheQueue) {
    Gate gate;
    CThreadPool pool(1, true, 0, 0, 0, THREAD_PRIORITY_NORMAL, 0);
    ASSERT_TRUE(pool.Submit(PassGate, &gate, 1));
    ASSERT_TRUE(gate.WaitArrived(1));

    OrderLog log;
    OrderJob jobs[] = {{&log, 1}, {&log, 2}, {&log, 3}, {&log, 4}, {&log, 5}};
    const int placements[] = {1, 1, 1, 0, 2};  // any placement but 1 goes to the front
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(pool.Submit(RecordOrder, &jobs[i], placements[i]));
    EXPECT_EQ(pool.GetThreadCount(), 1);  // a grow step of 0 never grows
    gate.Open();
    {
        std::unique_lock lock(log.m);
        ASSERT_TRUE(log.cv.wait_for(lock, 30s, [&] { return log.order.size() == 5; }));
        EXPECT_EQ(log.order, (std::vector<int>{5, 4, 1, 2, 3}));
    }
}

TEST(ThreadPool, StopWaitsForBusyWorkersDropsQueuedJobsAndJoinsAll) {
    const size_t threadsBefore = ThreadsOfThisProcess();
    Gate gate, never;
    auto pool = std::make_unique<CThreadPool>(3, true, 307200, 0, 0, THREAD_PRIORITY_HIGHEST, 0);
    ASSERT_TRUE(pool->Submit(PassGate, &gate, 1));
    ASSERT_TRUE(pool->Submit(PassGate, &gate, 1));
    ASSERT_TRUE(gate.WaitArrived(2));
    // One idle worker takes this one; the next is queued behind the busy ones.
    ASSERT_TRUE(pool->Submit(PassGate, &gate, 1));
    ASSERT_TRUE(gate.WaitArrived(3));
    ASSERT_TRUE(pool->Submit(PassGate, &never, 1));
    EXPECT_EQ(pool->GetBusyCount(), 3);

    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        pool->Stop(true);
        stopped = true;
    });
    // Stop refuses new jobs as soon as it begins.
    auto deadline = std::chrono::steady_clock::now() + 30s;
    while (pool->GetState() == CThreadPool::kRunning && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(pool->GetState(), CThreadPool::kStopping);
    EXPECT_FALSE(pool->Submit(PassGate, &never, 1));
    EXPECT_FALSE(stopped);  // three jobs still sit at the gate

    gate.Open();
    stopper.join();
    EXPECT_EQ(gate.finished, 3);
    EXPECT_EQ(never.arrived, 0);  // the queued job was dropped, never run
    EXPECT_EQ(pool->GetState(), CThreadPool::kStopped);
    EXPECT_EQ(pool->GetBusyCount(), 0);
    EXPECT_EQ(pool->GetThreadCount(), 0);
    EXPECT_EQ(ThreadsOfThisProcess(), threadsBefore);  // every worker was joined
    pool.reset();
}

TEST(ThreadPool, StopWithoutWaitAndDestructionJoinWorkers) {
    const size_t threadsBefore = ThreadsOfThisProcess();
    {
        CThreadPool pool(4, true, 0, 1, 0, THREAD_PRIORITY_LOWEST, 5000);
        EXPECT_EQ(ThreadsOfThisProcess(), threadsBefore + 4);
        pool.Stop(false);
        EXPECT_EQ(ThreadsOfThisProcess(), threadsBefore);
        pool.Stop(false);  // a second stop does nothing
        EXPECT_FALSE(pool.Submit(PassGate, nullptr, 1));
    }
    {
        Gate gate;
        auto pool = std::make_unique<CThreadPool>(2, true, 0, 0, 0, THREAD_PRIORITY_NORMAL, 0);
        ASSERT_TRUE(pool->Submit(PassGate, &gate, 1));
        ASSERT_TRUE(gate.WaitArrived(1));
        std::thread opener([&] { gate.Open(); });
        pool.reset();  // returns once the busy job has ended
        opener.join();
        EXPECT_EQ(gate.finished, 1);
    }
    EXPECT_EQ(ThreadsOfThisProcess(), threadsBefore);
}

TEST(ThreadPool, NotStartedOrRestarted) {
    CThreadPool pool(2, false, 0, 0, 0, THREAD_PRIORITY_NORMAL, 0);
    EXPECT_FALSE(pool.IsStarted());
    EXPECT_EQ(pool.GetState(), CThreadPool::kStopped);
    EXPECT_FALSE(pool.Submit(PassGate, nullptr, 1));
    EXPECT_EQ(pool.Grow(3), 0);
    EXPECT_EQ(pool.GetThreadCount(), 0);
    ASSERT_TRUE(pool.Start());
    EXPECT_FALSE(pool.Start());  // only a stopped pool starts
    std::wstring name = pool.GetName();
    EXPECT_EQ(name.rfind(L"Pool", 0), 0u);
    EXPECT_GT(std::stoi(name.substr(4)), 0);
    pool.Stop(true);
}

TEST(ThreadPool, FailedStartLeavesNoWorkers) {
    const size_t threadsBefore = ThreadsOfThisProcess();
    // A stack larger than the address space cannot be mapped.
    const size_t hugeStack = size_t(1) << 52;
    EXPECT_THROW(
        {
            try {
                CThreadPool pool(3, true, hugeStack, 0, 0, THREAD_PRIORITY_NORMAL, 0);
            } catch (int code) {
                EXPECT_EQ(code, 1);
                throw;
            }
        },
        int);
    CThreadPool pool(3, false, hugeStack, 0, 0, THREAD_PRIORITY_NORMAL, 0);
    EXPECT_FALSE(pool.Start());
    EXPECT_EQ(pool.GetState(), CThreadPool::kStopped);
    EXPECT_EQ(pool.GetThreadCount(), 0);
    EXPECT_EQ(ThreadsOfThisProcess(), threadsBefore);
}

TEST(ThreadPool, ManySubmittersLoseNoJob) {
    // Workers keep going idle while jobs arrive from several threads; a lost
    // wake-up would leave jobs queued with idle workers and the wait would time out.
    struct Counter {
        std::mutex m;
        std::condition_variable cv;
        int done = 0;
    } counter;
    auto count = [](void* p) -> int {
        auto* c = static_cast<Counter*>(p);
        std::lock_guard lock(c->m);
        ++c->done;
        c->cv.notify_all();
        return 0;
    };
    CThreadPool pool(3, true, 0, 0, 0, THREAD_PRIORITY_NORMAL, 0);
    constexpr int kSubmitters = 4, kJobs = 3000;
    std::latch go(kSubmitters);
    std::vector<std::thread> submitters;
    for (int t = 0; t < kSubmitters; ++t) {
        submitters.emplace_back([&, t] {
            go.arrive_and_wait();
            for (int i = 0; i < kJobs; ++i) ASSERT_TRUE(pool.Submit(count, &counter, (i + t) % 2));
        });
    }
    for (auto& s : submitters) s.join();
    std::unique_lock lock(counter.m);
    EXPECT_TRUE(counter.cv.wait_for(lock, 60s, [&] { return counter.done == kSubmitters * kJobs; }))
        << counter.done;
}

TEST(ThreadPool, GlobalPoolHasTwoWorkers) {
    CThreadPool& pool = GetGlobalThreadPool();
    EXPECT_EQ(&pool, &GetGlobalThreadPool());
    EXPECT_EQ(pool.GetThreadCount(), 2);
    EXPECT_EQ(pool.GetState(), CThreadPool::kRunning);
}
