// CMainLoop run by a GLib main loop, as the windowed program runs it:
// posts in order, timers by id, a signal and a channel request, the same
// while a task waits in a nested loop (a modal box), and Quit through its
// hook.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/command_channel.h"
#include "app/glib/main_loop_source.h"
#include "app/main_loop.h"
#include "tests/support/temp_dir.h"

namespace {

// A private context and loop, so that nothing else in the process runs in it.
class GlibLoopTest : public ::testing::Test {
protected:
    GlibLoopTest() : context_(g_main_context_new()), glib_(g_main_loop_new(context_, FALSE)), source_(&loop_, context_) {
        loop_.SetQuitHook([this](int) { g_main_loop_quit(glib_); });
        // A hung test ends with a failure, not at ctest's timeout.
        GSource* guard = g_timeout_source_new_seconds(20);
        g_source_set_callback(
            guard,
            [](gpointer self) -> gboolean {
                auto* t = static_cast<GlibLoopTest*>(self);
                t->timedOut_ = true;
                g_main_loop_quit(t->glib_);
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
        g_source_attach(guard, context_);
        g_source_unref(guard);
    }
    ~GlibLoopTest() override {
        source_.Detach();
        g_main_loop_unref(glib_);
        g_main_context_unref(context_);
    }
    // Runs until Quit; the code Quit gave.
    int RunLoop() {
        g_main_context_push_thread_default(context_);
        g_main_loop_run(glib_);
        g_main_context_pop_thread_default(context_);
        EXPECT_FALSE(timedOut_) << "the loop did not end by itself";
        return loop_.Finish();
    }
    // A nested loop on the same context, as a modal box runs one, until `done`.
    void RunNested(const std::function<bool()>& done) {
        while (!done() && !timedOut_) g_main_context_iteration(context_, TRUE);
    }

    GMainContext* context_;
    GMainLoop* glib_;
    CMainLoop loop_;
    CMainLoopSource source_;
    bool timedOut_ = false;
};

// A channel whose commands only record what ran, on which thread.
class RecordingChannel : public CNS {
public:
    explicit RecordingChannel(std::vector<std::string>* trace) : trace_(trace) {}
    NSReply RunCommand(int command, const std::string& data) override {
        trace_->push_back("channel " + std::to_string(command) + " " + data);
        onLoopThread = loopThread == std::this_thread::get_id();
        return {0, "done"};
    }
    std::vector<std::string>* trace_;
    std::thread::id loopThread = std::this_thread::get_id();
    bool onLoopThread = false;
};

TEST_F(GlibLoopTest, PostsFromAnotherThreadRunInOrderAndQuitEndsTheLoop) {
    std::vector<int> order;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) loop_.Post([&order, i] { order.push_back(i); });
        loop_.Post([&] { loop_.Quit(3); });
    });
    EXPECT_EQ(RunLoop(), 3);
    poster.join();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
    EXPECT_FALSE(loop_.Post([] {}));  // an ended loop takes nothing more
}

TEST_F(GlibLoopTest, TimersFireByIdAndAKilledOneStops) {
    int fast = 0, slow = 0;
    loop_.SetTimer(1, 5, [&] {
        if (++fast == 3) loop_.KillTimer(1);
    });
    loop_.SetTimer(2, 15, [&] {
        ++slow;
        if (fast == 3) loop_.Quit(0);
    });
    EXPECT_EQ(RunLoop(), 0);
    EXPECT_EQ(fast, 3);  // never again once killed
    EXPECT_GE(slow, 1);
    EXPECT_FALSE(loop_.HasTimer(1));
    EXPECT_TRUE(loop_.HasTimer(2));
}

TEST_F(GlibLoopTest, ASignalAndAChannelRequestAreServedAlsoWhileATaskWaitsInANestedLoop) {
    std::vector<std::string> trace;
    ASSERT_TRUE(loop_.WatchSignals({SIGUSR1}, [&](int s) {
        trace.push_back("signal " + std::to_string(s));
    }));
    testsupport::TempDir dir;
    RecordingChannel channel(&trace);
    ASSERT_TRUE(channel.Start(&loop_, dir.path() / "channel"));

    std::atomic<bool> replied{false};
    std::thread client;
    int timerTicks = 0;
    loop_.Post([&] {
        trace.push_back("box opens");
        // Everything below arrives while this task waits, as in a modal box.
        loop_.SetTimer(7, 5, [&] { ++timerTicks; });
        kill(getpid(), SIGUSR1);
        client = std::thread([&] {
            NSReply reply;
            EXPECT_EQ(SendChannelRequest(dir.path() / "channel", NSCMD_NOP, "x", &reply), 1);
            EXPECT_EQ(reply.text, "done");
            replied = true;
        });
        loop_.Post([&] { trace.push_back("posted meanwhile"); });
        RunNested([&] {
            return replied.load() && timerTicks >= 2 && trace.size() >= 4;
        });
        trace.push_back("box closes");
        loop_.Post([&] {
            trace.push_back("after the box");
            loop_.Quit(0);
        });
    });
    EXPECT_EQ(RunLoop(), 0);
    if (client.joinable()) client.join();
    channel.Stop();
    EXPECT_TRUE(channel.onLoopThread);
    EXPECT_GE(timerTicks, 2);
    // The request, the signal and the post are served inside the box, each once.
    ASSERT_EQ(trace.size(), 6u);
    EXPECT_EQ(trace.front(), "box opens");
    std::vector<std::string> inside(trace.begin() + 1, trace.begin() + 4);
    std::sort(inside.begin(), inside.end());
    EXPECT_EQ(inside, (std::vector<std::string>{"channel 13 x", "posted meanwhile", "signal 10"}));
    EXPECT_EQ(trace[4], "box closes");
    EXPECT_EQ(trace[5], "after the box");
}

TEST_F(GlibLoopTest, ANestedPassKeepsThePostOrder) {
    // Posted before the box opens: a nested pass goes on with them in order
    // instead of holding them until the box closes.
    std::vector<std::string> trace;
    loop_.Post([&] {
        trace.push_back("box");
        RunNested([&] { return trace.size() >= 3; });
    });
    loop_.Post([&] { trace.push_back("second"); });
    loop_.Post([&] { trace.push_back("third"); });
    loop_.Post([&] { loop_.Quit(0); });
    RunLoop();
    EXPECT_EQ(trace, (std::vector<std::string>{"box", "second", "third"}));
}

TEST_F(GlibLoopTest, QuitFromAnotherThreadRunsTheHookOnTheLoop) {
    std::thread::id hookThread;
    loop_.SetQuitHook([&](int) {
        hookThread = std::this_thread::get_id();
        g_main_loop_quit(glib_);
    });
    std::thread other([&] { loop_.Quit(5); });
    EXPECT_EQ(RunLoop(), 5);
    other.join();
    EXPECT_EQ(hookThread, std::this_thread::get_id());
}

}  // namespace
