#pragma once
// What the current-node test window does apart from the window: the list
// of nodes, one test run at a time on a thread of its own, and the routing
// of the tests' lines into the window's log.
//
// Every run has a number. A line reaches the log only while its run is the
// current one, so the lines of a stopped run that come late are dropped;
// the check and the hand-over happen under one lock with the clear of the
// next run, so none of them lands after that clear. StopTest never waits:
// it asks the run to stop (its sockets are shut down, see
// proxy/test_stop.h), and the next run's thread first waits for the
// stopped one, so two tests never run at once. The destructor stops and
// waits, so no line arrives once the log is gone.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "nodes/node_info.h"
#include "ui/base/pixmap.h"
#include "proxy/node_testing.h"
#include "proxy/test_stop.h"

// Where the lines go: the window's log.
class ITestLogSink {
public:
    virtual ~ITestLogSink() = default;
    // From any thread.
    virtual void AddLog(const wchar_t* text, int level) = 0;
    // On the window's thread; drops lines not yet shown.
    virtual void ClearLog() = 0;
};

// The test object for a node type: the real test classes, or a fake.
using NodeTesterFactory =
    std::function<std::unique_ptr<CTestingBase>(int nodeType, TestLogCallback callback, void* userData, int option)>;
std::unique_ptr<CTestingBase> MakeNodeTester(int nodeType, TestLogCallback callback, void* userData, int option);

// Where the test window goes beside the main window `main`: against its
// right edge at its top, keeping its own size; against the screen's right
// edge (overlapping the main window) when it would leave the screen.
PixRect DockBesideRect(const PixRect& self, const PixRect& main, int screenWidth);

enum NodeTestKind : int {
    kNodeTestTcp = 0,
    kNodeTestUdp = 1,
    kNodeTestTcpThenUdp = 2,
};

class CTestingCurrentNodeCore {
public:
    explicit CTestingCurrentNodeCore(ITestLogSink* sink, NodeTesterFactory factory = MakeNodeTester);
    virtual ~CTestingCurrentNodeCore();
    CTestingCurrentNodeCore(const CTestingCurrentNodeCore&) = delete;
    CTestingCurrentNodeCore& operator=(const CTestingCurrentNodeCore&) = delete;

    // The nodes of the next run (not owned: whoever removes a node record
    // stops and waits for the run first).
    void ClearNodes() { nodes_.clear(); }
    void AddNode(CNodeInfo* node) { nodes_.push_back(node); }
    const std::vector<CNodeInfo*>& GetNodes() const { return nodes_; }

    // Stops the running test, clears the log when asked and starts a run of
    // `kind` over the nodes on a new thread. False (with a line in the log)
    // when no thread could be made.
    bool StartTest(int kind, bool clearLog);
    // Asks the running test to stop and returns at once; its later lines
    // are dropped.
    void StopTest();
    // Waits for every run to end (not from a run's own thread).
    void Join();
    // StopTest, then Join.
    void StopAndJoin();

    int GetTestKind() const { return kind_; }
    // Test procedures running now, and the most ever running at once.
    int RunningTests() const { return running_.load(); }
    int MostTestsAtOnce() const { return mostAtOnce_.load(); }
    // The log callback given to the test objects; `user` is the run.
    static void TestingLogCallback(void* user, const wchar_t* text, int level);

private:
    struct Run {
        CTestingCurrentNodeCore* owner = nullptr;
        uint64_t number = 0;
        int kind = 0;
        std::vector<CNodeInfo*> nodes;
        std::shared_ptr<CTestStop> stop;
    };
    void Deliver(const Run& run, const wchar_t* text, int level);
    void Procedure(Run& run);
    void TestNode(Run& run, CNodeInfo* node);

    ITestLogSink* sink_;
    NodeTesterFactory factory_;
    std::vector<CNodeInfo*> nodes_;
    int kind_ = kNodeTestTcp;

    std::mutex logMutex_;  // the current number and the hand-over to the sink
    uint64_t current_ = 0;

    std::mutex threadMutex_;  // the worker and the running stop
    std::thread worker_;
    std::shared_ptr<CTestStop> stop_;

    std::atomic<int> running_{0};
    std::atomic<int> mostAtOnce_{0};
};
