#include "engine/system/breactor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "engine/system/bsignal.h"

namespace {

class ReactorTest : public ::testing::Test {
protected:
    void SetUp() override {
        BTime_Start();
        ASSERT_EQ(BReactor_Init(&reactor), 1);
    }
    void TearDown() override { BReactor_Free(&reactor); }

    BReactor reactor;
    std::vector<std::string> trace;
};

struct Named {
    ReactorTest* t;
    std::vector<std::string>* trace;
    std::string name;
    BJob* then_set = nullptr;          // a job this handler sets
    BReactor* exit_reactor = nullptr;  // requests exit when set
};

void Record(void* user) {
    auto* n = static_cast<Named*>(user);
    n->trace->push_back(n->name);
    if (n->then_set) BJob_Set(n->then_set);
    if (n->exit_reactor) BReactor_RequestExit(n->exit_reactor, 7);
}

// A socket pair whose first end is registered with the reactor.
struct Pair {
    int fds[2] = {-1, -1};
    BReactorFd rfd;
    explicit Pair(BReactor* r) {
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
        EXPECT_EQ(BReactorFd_Init(&rfd, r, fds[0]), 1);
    }
    ~Pair() {
        BReactorFd_Free(&rfd);
        close(fds[0]);
        if (fds[1] >= 0) close(fds[1]);
    }
};

struct Reader {
    Reader(int fd_, std::vector<std::string>* trace_) : fd(fd_), trace(trace_) {}
    int fd;
    char buf[64] = {};
    std::vector<std::string>* trace;
    BReactor* exit_reactor = nullptr;
    BReactorOp op{};
};

int ReadAttempt(void* user, size_t* bytes, int* error) {
    auto* r = static_cast<Reader*>(user);
    ssize_t n = read(r->fd, r->buf, sizeof r->buf);
    if (n >= 0) {
        *bytes = static_cast<size_t>(n);
        return BREACTOROP_DONE;
    }
    if (errno == EAGAIN) return BREACTOROP_AGAIN;
    *error = errno;
    return BREACTOROP_FAILED;
}

void ReaderDone(void* user, int event, size_t bytes) {
    auto* r = static_cast<Reader*>(user);
    if (event == BREACTOROP_EVENT_EXITING) {
        r->trace->push_back("exiting");
        BReactorOp_Free(&r->op);
        return;
    }
    r->trace->push_back((event == BREACTOROP_EVENT_SUCCEEDED ? "read:" : "failed:") +
                        std::string(r->buf, bytes));
    if (r->exit_reactor) BReactor_RequestExit(r->exit_reactor, 0);
}

}  // namespace

TEST_F(ReactorTest, JobsRunLastSetFirstAndResettingMovesToTop) {
    BJob a, b, c;
    Named na{this, &trace, "a"}, nb{this, &trace, "b"}, nc{this, &trace, "c"};
    BJob_Init(&a, BReactor_JobStack(&reactor), Record, &na);
    BJob_Init(&b, BReactor_JobStack(&reactor), Record, &nb);
    BJob_Init(&c, BReactor_JobStack(&reactor), Record, &nc);
    BJob_Set(&a);
    BJob_Set(&b);
    BJob_Set(&c);
    BJob_Set(&a);  // already set: moves to the top
    BJob_Unset(&b);
    nb.exit_reactor = &reactor;
    BJob_Set(&b);  // now on top; runs first and asks to exit
    EXPECT_EQ(BReactor_Run(&reactor), 7);
    EXPECT_EQ(trace, (std::vector<std::string>{"b"}));
    EXPECT_TRUE(BJob_IsSet(&a));
    EXPECT_TRUE(BJob_IsSet(&c));
    BJob_Free(&a);
    BJob_Free(&b);
    BJob_Free(&c);
}

TEST_F(ReactorTest, JobSetByHandlerRunsBeforeCompletions) {
    Pair pair(&reactor);
    ASSERT_EQ(write(pair.fds[1], "x", 1), 1);
    Reader reader(pair.fds[0], &trace);
    reader.exit_reactor = &reactor;
    BReactorOp_Init(&reader.op, &reactor, &reader, ReaderDone);
    BReactorOp_Start(&reader.op, &pair.rfd, BREACTOR_READ, ReadAttempt, &reader);
    EXPECT_TRUE(trace.empty()) << "a result is never delivered from inside the start";

    BJob first, second;
    Named n1{this, &trace, "first"}, n2{this, &trace, "second"};
    BJob_Init(&first, BReactor_JobStack(&reactor), Record, &n1);
    BJob_Init(&second, BReactor_JobStack(&reactor), Record, &n2);
    n1.then_set = &second;
    BJob_Set(&first);

    EXPECT_EQ(BReactor_Run(&reactor), 0);
    EXPECT_EQ(trace, (std::vector<std::string>{"first", "second", "read:x"}));
    BReactorOp_Free(&reader.op);
    BJob_Free(&first);
    BJob_Free(&second);
}

TEST_F(ReactorTest, TimersExpireInOrderAndStoppedExpiredTimerDoesNotRun) {
    struct Ctx {
        std::vector<std::string>* trace;
        BReactor* reactor;
        BReactorTimer t[3];
        BReactorTimer late, end;
    } ctx{&trace, &reactor, {}, {}, {}};
    static Ctx* current;
    current = &ctx;
    BReactorTimer_Init(
        &ctx.t[0], 0,
        [](void*) {
            current->trace->push_back("t0");
            EXPECT_EQ(current->t[2].state, BTIMER_STATE_EXPIRED);
            BReactor_StopTimer(current->reactor, &current->t[2]);
        },
        nullptr);
    BReactorTimer_Init(
        &ctx.t[1], 0, [](void*) { current->trace->push_back("t1"); }, nullptr);
    BReactorTimer_Init(
        &ctx.t[2], 0, [](void*) { current->trace->push_back("t2"); }, nullptr);
    BReactorTimer_Init(
        &ctx.late, 30, [](void*) { current->trace->push_back("late"); }, nullptr);
    BReactorTimer_Init(
        &ctx.end, 45,
        [](void*) {
            current->trace->push_back("end");
            BReactor_RequestExit(current->reactor, 0);
        },
        nullptr);
    BReactor_RestartTimer(&reactor, &ctx.end);
    BReactor_RestartTimer(&reactor, &ctx.late);
    // Started in reverse order; the clock may tick between starts, so retry
    // until all three share one expiry.
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (int i = 2; i >= 0; --i) BReactor_StartTimer(&reactor, &ctx.t[i], 15);
        if (ctx.t[0].expiry == ctx.t[2].expiry) break;
    }
    ASSERT_EQ(ctx.t[0].expiry, ctx.t[2].expiry);
    btime_t start = BTime_NowMs();
    BReactor_Run(&reactor);
    EXPECT_GE(BTime_NowMs() - start, 30);
    EXPECT_EQ(trace, (std::vector<std::string>{"t0", "t1", "late", "end"}));
}

TEST_F(ReactorTest, ManyTimersFireInExpiryOrder) {
    constexpr int kCount = 24;
    struct Ctx {
        std::vector<int> order;
        BReactor* reactor;
    } ctx{{}, &reactor};
    struct Slot {
        Ctx* ctx;
        int index;
        BReactorTimer timer;
    } slots[kCount];
    // Intervals 15 ms apart, started in a scrambled order, some restarted.
    for (int i = 0; i < kCount; ++i) {
        slots[i].ctx = &ctx;
        slots[i].index = i;
        BReactorTimer_Init(
            &slots[i].timer, 15 * (i + 1),
            [](void* u) {
                auto* s = static_cast<Slot*>(u);
                s->ctx->order.push_back(s->index);
                if (s->ctx->order.size() == kCount) BReactor_RequestExit(s->ctx->reactor, 0);
            },
            &slots[i]);
    }
    for (int k = 0; k < kCount; ++k) BReactor_RestartTimer(&reactor, &slots[(k * 7) % kCount].timer);
    for (int k = 0; k < kCount; k += 3) BReactor_RestartTimer(&reactor, &slots[(k * 5) % kCount].timer);
    BReactor_StopTimer(&reactor, &slots[4].timer);
    BReactor_RestartTimer(&reactor, &slots[4].timer);
    BReactor_Run(&reactor);
    std::vector<int> want(kCount);
    for (int i = 0; i < kCount; ++i) want[i] = i;
    EXPECT_EQ(ctx.order, want);
}

TEST_F(ReactorTest, ZeroTimerRunsBeforeWaitingForIo) {
    Pair pair(&reactor);
    Reader reader(pair.fds[0], &trace);
    BReactorOp_Init(&reader.op, &reactor, &reader, ReaderDone);
    BReactorOp_Start(&reader.op, &pair.rfd, BREACTOR_READ, ReadAttempt, &reader);  // would block
    BReactorTimer t;
    Named n{this, &trace, "zero"};
    n.exit_reactor = &reactor;
    BReactorTimer_Init(&t, 0, Record, &n);
    BReactor_RestartTimer(&reactor, &t);
    BReactor_Run(&reactor);
    EXPECT_EQ(trace, (std::vector<std::string>{"zero"}));
    BReactorOp_Free(&reader.op);
}

TEST_F(ReactorTest, CompletionsArriveThroughTheLoop) {
    Pair pair(&reactor);
    Reader reader(pair.fds[0], &trace);
    reader.exit_reactor = &reactor;
    BReactorOp_Init(&reader.op, &reactor, &reader, ReaderDone);

    // Data written by another thread while the loop waits.
    BReactorOp_Start(&reader.op, &pair.rfd, BREACTOR_READ, ReadAttempt, &reader);
    EXPECT_TRUE(BReactorOp_IsBusy(&reader.op));
    std::thread writer([&] { ASSERT_EQ(write(pair.fds[1], "hello", 5), 5); });
    BReactor_Run(&reactor);
    writer.join();
    EXPECT_EQ(trace, (std::vector<std::string>{"read:hello"}));
    BReactorOp_Free(&reader.op);
}

TEST(Reactor, EndOfStreamAndErrorsAreCompletions) {
    BTime_Start();
    BReactor reactor;
    ASSERT_EQ(BReactor_Init(&reactor), 1);
    std::vector<std::string> trace;
    {
        Pair pair(&reactor);
        Reader reader(pair.fds[0], &trace);
        reader.exit_reactor = &reactor;
        BReactorOp_Init(&reader.op, &reactor, &reader, ReaderDone);
        BReactorOp_Start(&reader.op, &pair.rfd, BREACTOR_READ, ReadAttempt, &reader);
        std::thread closer([&] {
            close(pair.fds[1]);
            pair.fds[1] = -1;
        });
        BReactor_Run(&reactor);
        closer.join();
        EXPECT_EQ(trace, (std::vector<std::string>{"read:"}));
        BReactorOp_Free(&reader.op);
    }
    BReactor_Free(&reactor);

    // A failing system call is reported as a failed completion with its errno.
    ASSERT_EQ(BReactor_Init(&reactor), 1);
    trace.clear();
    {
        Pair pair(&reactor);
        Reader reader(-1, &trace);  // read(-1) fails with EBADF
        reader.exit_reactor = &reactor;
        BReactorOp_Init(&reader.op, &reactor, &reader, ReaderDone);
        BReactorOp_Start(&reader.op, &pair.rfd, BREACTOR_READ, ReadAttempt, &reader);
        BReactor_Run(&reactor);
        EXPECT_EQ(trace, (std::vector<std::string>{"failed:"}));
        EXPECT_EQ(BReactorOp_Error(&reader.op), EBADF);
        BReactorOp_Free(&reader.op);
    }
    BReactor_Free(&reactor);
}

TEST(Reactor, ExitRequestedFromAnotherThreadWakesAnIdleLoop) {
    BTime_Start();
    BReactor reactor;
    ASSERT_EQ(BReactor_Init(&reactor), 1);
    std::promise<void> entered;
    BJob job;
    BJob_Init(
        &job, BReactor_JobStack(&reactor), [](void* p) { static_cast<std::promise<void>*>(p)->set_value(); },
        &entered);
    BJob_Set(&job);
    std::future<int> code = std::async(std::launch::async, [&] { return BReactor_Run(&reactor); });
    entered.get_future().wait();  // the loop runs and then waits with no timer at all
    BReactor_RequestExit(&reactor, 3);
    EXPECT_EQ(code.get(), 3);
    BReactor_Free(&reactor);
}

TEST_F(ReactorTest, RunJobsUntil) {
    BJob ref, other, exiting;
    Named nr{this, &trace, "ref"}, no{this, &trace, "other"}, ne{this, &trace, "exiting"};
    BJob_Init(&ref, BReactor_JobStack(&reactor), Record, &nr);
    BJob_Init(&other, BReactor_JobStack(&reactor), Record, &no);
    BJob_Init(&exiting, BReactor_JobStack(&reactor), Record, &ne);
    BJob_Set(&ref);
    BJob_Set(&other);
    EXPECT_EQ(BReactor_RunJobsUntil(&reactor, &ref), 1);
    EXPECT_EQ(trace, (std::vector<std::string>{"other"}));
    EXPECT_TRUE(BJob_IsSet(&ref));

    ne.exit_reactor = &reactor;
    BJob_Set(&exiting);
    EXPECT_EQ(BReactor_RunJobsUntil(&reactor, &other), 0);
    EXPECT_TRUE(BJob_IsSet(&ref)) << "jobs still queued stay queued";
    BJob_Free(&ref);
    BJob_Free(&other);
    BJob_Free(&exiting);
}

// What an action sets runs at the point's Run(), jobs set before the point
// stay for the loop, and a point that goes away leaves nothing set.
TEST_F(ReactorTest, SyncPointRunsWhatWasSetSinceIt) {
    BJob before, after, chained;
    Named nb{this, &trace, "before"}, na{this, &trace, "after"}, nc{this, &trace, "chained"};
    na.then_set = &chained;
    BJob_Init(&before, BReactor_JobStack(&reactor), Record, &nb);
    BJob_Init(&after, BReactor_JobStack(&reactor), Record, &na);
    BJob_Init(&chained, BReactor_JobStack(&reactor), Record, &nc);
    BJob_Set(&before);
    {
        BReactorSyncPoint sync(&reactor);
        BJob_Set(&after);
        sync.Run();
        EXPECT_EQ(trace, (std::vector<std::string>{"after", "chained"}));
    }
    EXPECT_TRUE(BJob_IsSet(&before));
    EXPECT_EQ(BReactor_RunJobsUntil(&reactor, &before), 1) << "only the earlier job is left";
    BJob_Free(&before);
    BJob_Free(&after);
    BJob_Free(&chained);
}

TEST_F(ReactorTest, FreeTellsRemainingOperationsAndWaitKeepsOtherResults) {
    Pair pair(&reactor);
    Reader a(pair.fds[0], &trace);
    BReactorOp_Init(&a.op, &reactor, &a, ReaderDone);
    // A second pair whose result arrives while we block on the first.
    Pair pair2(&reactor);
    Reader b(pair2.fds[0], &trace);
    BReactorOp_Init(&b.op, &reactor, &b, ReaderDone);
    ASSERT_EQ(write(pair2.fds[1], "B", 1), 1);
    BReactorOp_Start(&b.op, &pair2.rfd, BREACTOR_READ, ReadAttempt, &b);
    BReactorOp_Start(&a.op, &pair.rfd, BREACTOR_READ, ReadAttempt, &a);
    std::thread writer([&] { ASSERT_EQ(write(pair.fds[1], "A", 1), 1); });
    int ok = 0;
    size_t bytes = 0;
    BReactorOp_Wait(&a.op, &ok, &bytes);
    writer.join();
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(bytes, 1u);
    EXPECT_TRUE(trace.empty()) << "Wait dispatches nothing";
    EXPECT_TRUE(BReactorOp_IsBusy(&b.op)) << "b's result stays queued for the loop";
    BReactorOp_Cancel(&b.op);
    // TearDown frees the reactor, which calls both handlers with the exiting event.
    TearDown();
    EXPECT_EQ(trace, (std::vector<std::string>{"exiting", "exiting"}));
    SetUp();
}

TEST_F(ReactorTest, ConsoleEventReachesEngineOnlyWhileHooked) {
    BSignal sig;
    Named n{this, &trace, "signal"};
    n.exit_reactor = &reactor;
    ASSERT_EQ(BSignal_Init(&sig, &reactor, Record, &n), 1);
    BSignal second;
    EXPECT_EQ(BSignal_Init(&second, &reactor, Record, &n), 0) << "one hook per process";
    std::thread raiser([] { EXPECT_EQ(BSignal_RaiseConsoleEvent(), 1); });
    BReactor_Run(&reactor);
    raiser.join();
    EXPECT_EQ(trace, (std::vector<std::string>{"signal"}));
    BSignal_Free(&sig);
    EXPECT_EQ(BSignal_RaiseConsoleEvent(), 0) << "no engine holds the hook";
}
