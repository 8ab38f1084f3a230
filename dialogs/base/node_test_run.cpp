#include "dialogs/base/node_test_run.h"

#include <system_error>

#include "foundation/text_convert.h"
#include "foundation/translate.h"

std::unique_ptr<CTestingBase> MakeNodeTester(int nodeType, TestLogCallback callback, void* userData, int option) {
    if (nodeType == NodeTypeSSR) return std::make_unique<CSSRClientTesting>(callback, userData, option);
    return std::make_unique<CS45ClientTesting>(callback, userData, option);
}

PixRect DockBesideRect(const PixRect& self, const PixRect& main, int screenWidth) {
    const int right = main.x + main.width;
    PixRect placed = self;
    placed.x = right + self.width > screenWidth ? screenWidth - self.width : right;
    placed.y = main.y;
    return placed;
}

CTestingCurrentNodeCore::CTestingCurrentNodeCore(ITestLogSink* sink, NodeTesterFactory factory)
    : sink_(sink), factory_(std::move(factory)) {}

CTestingCurrentNodeCore::~CTestingCurrentNodeCore() {
    StopAndJoin();
}

void CTestingCurrentNodeCore::StopTest() {
    {
        // Late lines of the stopped run no longer count.
        std::lock_guard<std::mutex> lock(logMutex_);
        ++current_;
    }
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (stop_) stop_->RequestStop();
}

void CTestingCurrentNodeCore::StopAndJoin() {
    StopTest();
    Join();
}

void CTestingCurrentNodeCore::Join() {
    std::thread last;
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        last = std::move(worker_);
    }
    // Each run waits for the one before it, so the last one ends after all.
    if (last.joinable()) last.join();
}

bool CTestingCurrentNodeCore::StartTest(int kind, bool clearLog) {
    kind_ = kind;
    StopTest();
    auto run = std::make_shared<Run>();
    run->owner = this;
    run->kind = kind;
    run->nodes = nodes_;
    run->stop = std::make_shared<CTestStop>();
    {
        std::lock_guard<std::mutex> lock(logMutex_);
        run->number = ++current_;
        if (clearLog && sink_) sink_->ClearLog();
    }
    std::lock_guard<std::mutex> lock(threadMutex_);
    auto previous = std::make_shared<std::thread>(std::move(worker_));
    try {
        worker_ = std::thread([this, run, previous] {
            if (previous->joinable()) previous->join();
            Procedure(*run);
        });
    } catch (const std::system_error&) {
        worker_ = std::move(*previous);
        stop_.reset();
        Deliver(*run, Utf8ToWideString(Translate("Failed to create test thread.")).c_str(), kTestLogError);
        return false;
    }
    stop_ = run->stop;
    return true;
}

void CTestingCurrentNodeCore::TestingLogCallback(void* user, const wchar_t* text, int level) {
    const Run* run = static_cast<const Run*>(user);
    if (run && run->owner) run->owner->Deliver(*run, text, level);
}

void CTestingCurrentNodeCore::Deliver(const Run& run, const wchar_t* text, int level) {
    std::lock_guard<std::mutex> lock(logMutex_);
    if (run.number == current_ && sink_ && text) sink_->AddLog(text, level);
}

void CTestingCurrentNodeCore::Procedure(Run& run) {
    const int now = running_.fetch_add(1) + 1;
    int most = mostAtOnce_.load();
    while (now > most && !mostAtOnce_.compare_exchange_weak(most, now)) {
    }
    {
        CTestStopScope scope(run.stop);
        for (CNodeInfo* node : run.nodes) {
            if (run.stop->StopRequested()) break;
            if (node) TestNode(run, node);
        }
    }
    running_.fetch_sub(1);
}

void CTestingCurrentNodeCore::TestNode(Run& run, CNodeInfo* node) {
    const int type = node->type;
    const bool ssr = type == NodeTypeSSR;
    const bool httpOrSocks4 = type == NodeTypeHttp || type == NodeTypeSocks4;
    if (!ssr && !httpOrSocks4 && type != NodeTypeSocks5) return;
    if (httpOrSocks4 && run.kind == kNodeTestUdp) {
        Deliver(run, Utf8ToWideString(Translate("SOCKS 4 do not support UDP.")).c_str(), kTestLogInfo);
        return;
    }
    // The test writes no header lines (option 1).
    std::unique_ptr<CTestingBase> tester = factory_(type, &TestingLogCallback, &run, 1);
    if (!tester) return;
    if (run.kind == kNodeTestTcp || httpOrSocks4) {
        tester->RunTest(node, 0);
    } else if (run.kind == kNodeTestUdp) {
        tester->RunTest(node, 1);
    } else {
        tester->RunTest(node, 0);
        if (!run.stop->StopRequested()) tester->RunTest(node, 1);
    }
}
