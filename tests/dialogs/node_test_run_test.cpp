// The current-node test window's procedure against a recording fake of the
// test classes: which tests run per node type and kind, which lines reach
// the log, and how a stopped run ends.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <string>
#include <thread>

#include "dialogs/base/node_test_run.h"

namespace {

struct Line {
    std::wstring text;
    int level;
    bool operator==(const Line&) const = default;
};

class RecordingSink : public ITestLogSink {
public:
    void AddLog(const wchar_t* text, int level) override {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back({text, level});
    }
    void ClearLog() override {
        std::lock_guard<std::mutex> lock(mutex);
        lines.clear();
        ++clears;
    }
    std::vector<Line> Lines() {
        std::lock_guard<std::mutex> lock(mutex);
        return lines;
    }
    std::mutex mutex;
    std::vector<Line> lines;
    int clears = 0;
};

// Logs "<type> tcp" or "<type> udp" per RunTest; a blocking one waits until
// its run is stopped and then logs a late line.
class FakeTester : public CTestingBase {
public:
    FakeTester(int type, TestLogCallback cb, void* user, int option, bool block)
        : CTestingBase(cb, user, option), type_(type), block_(block) {}
    bool RunTest(CNodeInfo*, int udp) override {
        if (block_) {
            while (!TestStopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            LogRaw(kTestLogError, "late");
            return false;
        }
        LogRaw(kTestLogPassed, std::to_string(type_) + (udp ? " udp" : " tcp") + " option=" + std::to_string(option_));
        return true;
    }

private:
    int type_;
    bool block_;
};

NodeTesterFactory Fake(bool block = false) {
    return [block](int type, TestLogCallback cb, void* user, int option) -> std::unique_ptr<CTestingBase> {
        return std::make_unique<FakeTester>(type, cb, user, option, block);
    };
}

std::vector<Line> Expect(std::initializer_list<const char*> texts) {
    std::vector<Line> out;
    for (const char* t : texts) {
        std::string s = t;
        out.push_back({std::wstring(s.begin(), s.end()), kTestLogPassed});
    }
    return out;
}

struct KindCase {
    int type;
    int kind;
    std::vector<Line> lines;
};

TEST(NodeTestRun, EachTypeAndKindRunsItsTests) {
    const std::vector<Line> noUdp = {{L"SOCKS 4 do not support UDP.", kTestLogInfo}};
    const KindCase cases[] = {
        {6, 0, Expect({"6 tcp option=1"})},
        {6, 1, Expect({"6 udp option=1"})},
        {6, 2, Expect({"6 tcp option=1", "6 udp option=1"})},
        {5, 0, Expect({"5 tcp option=1"})},
        {5, 1, Expect({"5 udp option=1"})},
        {5, 2, Expect({"5 tcp option=1", "5 udp option=1"})},
        {4, 0, Expect({"4 tcp option=1"})},
        {4, 1, noUdp},
        {4, 2, Expect({"4 tcp option=1"})},
        {3, 0, Expect({"3 tcp option=1"})},
        {3, 1, noUdp},
        {3, 2, Expect({"3 tcp option=1"})},
        {13, 0, {}},
        {13, 2, {}},
    };
    for (const KindCase& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " kind " + std::to_string(c.kind));
        RecordingSink sink;
        CTestingCurrentNodeCore core(&sink, Fake());
        CNodeInfo node;
        node.type = c.type;
        core.AddNode(&node);
        ASSERT_TRUE(core.StartTest(c.kind, true));
        core.Join();
        EXPECT_EQ(sink.Lines(), c.lines);
        EXPECT_EQ(core.GetTestKind(), c.kind);
    }
}

TEST(NodeTestRun, NodesRunInListOrderAndAnEmptyListLogsNothing) {
    RecordingSink sink;
    CTestingCurrentNodeCore core(&sink, Fake());
    ASSERT_TRUE(core.StartTest(kNodeTestTcpThenUdp, true));
    core.Join();
    EXPECT_TRUE(sink.Lines().empty());

    CNodeInfo a, b, c;
    a.type = 3;
    b.type = 13;
    c.type = 6;
    for (CNodeInfo* n : {&a, &b, &c}) core.AddNode(n);
    ASSERT_TRUE(core.StartTest(kNodeTestTcpThenUdp, false));
    core.Join();
    EXPECT_EQ(sink.Lines(), Expect({"3 tcp option=1", "6 tcp option=1", "6 udp option=1"}));
    EXPECT_EQ(sink.clears, 1);
}

TEST(NodeTestRun, ANewTestStopsTheRunningOneAndDropsItsLateLines) {
    RecordingSink sink;
    std::atomic<int> made{0};
    // The first test object blocks until stopped; later ones answer at once.
    CTestingCurrentNodeCore core(&sink, [&made](int type, TestLogCallback cb, void* user, int option)
                                            -> std::unique_ptr<CTestingBase> {
        return std::make_unique<FakeTester>(type, cb, user, option, made.fetch_add(1) == 0);
    });
    CNodeInfo node;
    node.type = 6;
    core.AddNode(&node);
    ASSERT_TRUE(core.StartTest(kNodeTestTcpThenUdp, true));
    // Until its tester exists, a stopped run would end before making it and
    // the next run would get the blocking one.
    while (made.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(core.StartTest(kNodeTestTcp, true));
    core.Join();
    // The stopped run's "late" line and its UDP step are gone.
    EXPECT_EQ(sink.Lines(), Expect({"6 tcp option=1"}));
    EXPECT_EQ(sink.clears, 2);
    EXPECT_EQ(core.MostTestsAtOnce(), 1);
    EXPECT_EQ(made.load(), 2);
}

TEST(NodeTestRun, DestructionStopsAndWaitsForTheRun) {
    RecordingSink sink;
    CNodeInfo node;
    node.type = 5;
    {
        CTestingCurrentNodeCore core(&sink, Fake(true));
        core.AddNode(&node);
        ASSERT_TRUE(core.StartTest(kNodeTestTcp, true));
        while (core.RunningTests() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(sink.Lines().empty());
}

TEST(NodeTestRun, AStopShutsDownTheRunsSocketsAndOnesOpenedLater) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    auto stop = std::make_shared<CTestStop>();
    std::atomic<int> got{1};
    std::thread reader([&] {
        CTestStopScope scope(stop);
        TrackTestSocket(pair[0]);
        char c;
        // Blocks without a time-out until the stop shuts the socket down.
        got = static_cast<int>(recv(pair[0], &c, 1, 0));
        UntrackTestSocket(pair[0]);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop->RequestStop();
    reader.join();
    EXPECT_EQ(got.load(), 0);
    EXPECT_TRUE(stop->StopRequested());
    // Tracked after the request: shut down at once.
    int late[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, late), 0);
    stop->Track(late[0]);
    char c;
    EXPECT_EQ(recv(late[0], &c, 1, 0), 0);
    for (int fd : {pair[0], pair[1], late[0], late[1]}) close(fd);
    EXPECT_FALSE(TestStopRequested());
}

}  // namespace

namespace {

TEST(NodeTestWindow, DocksBesideTheMainWindowOrAgainstTheScreensEdge) {
    const PixRect self{0, 0, 300, 420};
    struct Case {
        PixRect main;
        PixRect placed;
    } cases[] = {
        {{100, 50, 400, 500}, {500, 50, 300, 420}},     // room on the right
        {{580, 70, 400, 500}, {980, 70, 300, 420}},     // exactly fits
        {{1000, 30, 280, 500}, {980, 30, 300, 420}},    // main window at the right edge: S - W
        {{-50, -10, 200, 500}, {150, -10, 300, 420}},   // partly off the left edge
    };
    for (const Case& c : cases) EXPECT_EQ(DockBesideRect(self, c.main, 1280), c.placed);
}

}  // namespace
