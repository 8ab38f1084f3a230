// The main loop (posted tasks, timers on a test clock, Invoke from another
// thread) and the worker base (one job at a time, a stop that is a request
// followed by a join).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "app/main_loop.h"
#include "app/worker_base.h"

namespace {

TEST(MainLoop, TimersFireOnTheirClockAndStopWhenKilled) {
    CMainLoop loop;
    int64_t now = 0;
    loop.SetClock([&now] { return now; });
    int fired = 0;
    loop.SetTimer(1, 1000, [&] { ++fired; });
    loop.RunPending();
    EXPECT_EQ(fired, 0);
    now = 999;
    loop.RunPending();
    EXPECT_EQ(fired, 0);
    now = 1000;
    loop.RunPending();
    EXPECT_EQ(fired, 1);
    now = 2000;
    loop.RunPending();
    EXPECT_EQ(fired, 2);
    loop.KillTimer(1);
    now = 5000;
    loop.RunPending();
    EXPECT_EQ(fired, 2);
    EXPECT_FALSE(loop.HasTimer(1));
}

TEST(MainLoop, RunsPostedAndInvokedTasksOnItsThreadUntilQuit) {
    CMainLoop loop;
    std::thread::id loopThread;
    std::atomic<int> ran{0};
    std::thread other([&] {
        // Invoke waits for the loop to run the task.
        EXPECT_TRUE(loop.Invoke([&] {
            loopThread = std::this_thread::get_id();
            ++ran;
        }));
        loop.Post([&] { loop.Quit(7); });
    });
    EXPECT_EQ(loop.Run(), 7);
    other.join();
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(loopThread, std::this_thread::get_id());
    EXPECT_FALSE(loop.Post([] {}));  // an ended loop takes nothing more
}

class SlowJob : public CDialogZentravBase {
public:
    ~SlowJob() override { StopWork(1); }
    int DoWork() override {
        ++started;
        // Stops early only when asked to.
        stoppedEarly = !WaitOrStop(60000);
        return CDialogZentravBase::DoWork();
    }
    void OnWorkFinished() override { ++finished; }
    std::atomic<int> started{0}, finished{0};
    std::atomic<bool> stoppedEarly{false};
};

TEST(WorkerBase, OneJobAtATimeAndAStopIsARequestThenAJoin) {
    SlowJob job;
    EXPECT_EQ(job.StopWork(0), 0);  // no worker: nothing happens
    ASSERT_EQ(job.StartWork(), 1);
    EXPECT_EQ(job.StartWork(), 0);  // the first still runs
    while (job.started == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(job.StopWork(1), 1);
    EXPECT_FALSE(job.IsWorking());
    EXPECT_TRUE(job.stoppedEarly);
    EXPECT_EQ(job.finished, 1);
    // A fresh job starts after the last one ended.
    ASSERT_EQ(job.StartWork(), 1);
    while (job.started < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    job.StopWork(1);
    EXPECT_EQ(job.finished, 2);
}

TEST(WorkerBase, RequestStopReturnsAtOnceAndTheJobEndsByItself) {
    SlowJob job;
    job.RequestStop();  // no job: nothing is left behind for the next one
    ASSERT_EQ(job.StartWork(), 1);
    while (job.started == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(job.IsWorking());
    job.RequestStop();
    // The caller keeps serving (here: polling) until the job has left.
    while (job.IsWorking()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(job.stoppedEarly);
    EXPECT_EQ(job.finished, 1);
    EXPECT_EQ(job.StopWork(1), 1);  // joins the thread that has ended
    EXPECT_EQ(job.StopWork(0), 0);
}

TEST(MainLoop, WaitUntilUsesTheNestedRunnerOnTheLoopThread) {
    CMainLoop loop;
    std::atomic<bool> flag{false};
    int runs = 0;
    loop.SetNestedRunner([&](const std::function<bool()>& done) {
        ++runs;
        flag = true;  // the runner serves what the waited-for work needs
        EXPECT_TRUE(done());
    });
    loop.WaitUntil([&] { return flag.load(); });
    EXPECT_EQ(runs, 1);
    // Off the loop thread the runner is not used: only polling.
    flag = false;
    std::thread other([&] { loop.WaitUntil([&] { return flag.load(); }); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    flag = true;
    other.join();
    EXPECT_EQ(runs, 1);
}

TEST(WorkerBase, StatusTextAcceptsInvalidUtf8) {
    CDialogZentravBase base;
    base.SetStatusTextA("Ready!");
    EXPECT_EQ(base.GetLastStatusText(), L"Ready!");
    base.SetStatusTextA("bad \xff byte");
    EXPECT_EQ(base.GetLastStatusText(), L"bad \uFFFD byte");
    base.SetStatusTextA(nullptr);
    EXPECT_EQ(base.GetLastStatusText(), L"bad \uFFFD byte");
}

}  // namespace
