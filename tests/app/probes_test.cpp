// The node list fill starts at most 100 probes per fill, each node at most
// once at a time, and exit waits for every probe.
#include <gtest/gtest.h>

#include <condition_variable>
#include <set>

#include "tests/app/app_fixture.h"

namespace apptest {
namespace {

TEST_F(AppCoreTest, ProbesAtMostAHundredPerFillAndNeverTwiceAtOnce) {
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    std::multiset<int> probed;
    core_->SetNodeProber([&](CNodeInfo* node, const std::atomic<int>&) {
        std::unique_lock<std::mutex> lock(m);
        probed.insert(node->id);
        cv.wait(lock, [&] { return release; });
        node->latency = 5;
        node->countryIndex = 1;
    });
    for (int i = 0; i < 150; ++i) AddNode(NodeTypeSocks5, "node" + std::to_string(i) + ".test");
    core_->FillNodeList(-1);
    EXPECT_EQ(core_->GetRunningProbeCount(), 100u);
    // A second fill while those run takes the other 50 only.
    core_->FillNodeList(-1);
    EXPECT_EQ(core_->GetRunningProbeCount(), 150u);
    {
        std::lock_guard<std::mutex> lock(m);
        release = true;
    }
    cv.notify_all();
    core_->WaitForProbeThreads();
    EXPECT_EQ(core_->GetRunningProbeCount(), 0u);
    EXPECT_EQ(probed.size(), 150u);
    EXPECT_EQ(std::set<int>(probed.begin(), probed.end()).size(), 150u);
    // Nodes with a latency and a country are not probed again.
    core_->FillNodeList(-1);
    EXPECT_EQ(core_->GetRunningProbeCount(), 0u);
    // The first node became current, and the chooser was filled.
    EXPECT_NE(CNodeMgr::GetInstance()->GetCurrentNodeId(), -1);
    EXPECT_EQ(view_.fills.size(), 3u);
}

TEST_F(AppCoreTest, ExitWaitsForRunningProbesWhichSeeTheFlag) {
    std::atomic<int> sawExit{0};
    core_->SetNodeProber([&](CNodeInfo*, const std::atomic<int>& exiting) {
        while (!exiting) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ++sawExit;
    });
    for (int i = 0; i < 5; ++i) AddNode();
    core_->FillNodeList(-1);
    core_->Exit(1);
    EXPECT_EQ(sawExit, 5);
    EXPECT_EQ(core_->GetRunningProbeCount(), 0u);
}

}  // namespace
}  // namespace apptest
