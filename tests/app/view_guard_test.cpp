// The view in front of the window once the display is lost: nothing reaches
// the window any more, and the exit still puts everything back without it.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/view_guard.h"
#include "tests/app/app_fixture.h"

namespace apptest {
namespace {

class ViewGuardTest : public AppCoreTest {
protected:
    void SetUp() override {
        AppCoreTest::SetUp();
        // The core talks to the window through the guard, as the windowed program's does.
        core_ = std::make_unique<DialogOstrelBase>(&loop_, &guard_, &system_);
        core_->SetAddressPollInterval(1);
        core_->SetNodeProber([](CNodeInfo*, const std::atomic<int>&) {});
    }
    CViewGuard guard_{&view_};
};

TEST_F(ViewGuardTest, CallsReachTheWindowUntilCutOff) {
    guard_.ShowBusy();
    guard_.HideToTray();
    guard_.SetStatusText(L"first");
    EXPECT_EQ(view_.log.Calls(), (std::vector<std::string>{"busy", "hide"}));
    view_.row = {NodeRowKind::kNode, 7};
    EXPECT_EQ(guard_.GetSelectedNodeRow().nodeId, 7);

    guard_.CutOff();
    view_.log.Clear();
    guard_.ShowBusy();
    guard_.ShowIdle(true);
    guard_.ShowMainWindow();
    guard_.EnableControls(false);
    guard_.UpdateTray(false, 128, L"tip");
    guard_.FillNodes(3);
    guard_.SetStatusText(L"second");
    EXPECT_TRUE(view_.log.Calls().empty());
    EXPECT_EQ(view_.Status(), (std::vector<std::string>{"first"}));
    EXPECT_EQ(view_.trayIcon, -1);
    EXPECT_TRUE(view_.fills.empty());
    EXPECT_FALSE(guard_.RunLoadingPanel(0, [] {})) << "the caller runs the job itself";
    EXPECT_FALSE(guard_.RunLogin()) << "nobody logs in without a window";
    // A row without a node: the saved node stays.
    const NodeRowSelection row = guard_.GetSelectedNodeRow();
    EXPECT_EQ(row.kind, NodeRowKind::kNode);
    EXPECT_EQ(row.nodeId, -1);
}

TEST_F(ViewGuardTest, ExitAfterTheDisplayWentPutsTheMachineBackWithoutTheWindow) {
    CNodeInfo* node = AddNode();
    Choose(node, kGlobalMode);
    ConnectAndWait();
    ASSERT_TRUE(GetApp().IsConnected());
    GetSettings()->LastUsedNodeId = node->id;

    guard_.CutOff();
    view_.log.Clear();
    system_.log.Clear();
    core_->ExitWithoutWindow();
    EXPECT_TRUE(GetApp().IsDisconnected());
    EXPECT_TRUE(core_->IsExiting());
    EXPECT_TRUE(view_.log.Calls().empty()) << "no call reached the window";
    EXPECT_EQ(GetSettings()->LastUsedNodeId, node->id) << "the unanswered chooser leaves the saved node";
    const std::vector<std::string> steps = system_.log.Calls();
    EXPECT_NE(std::find(steps.begin(), steps.end(), "StopLocalProxy"), steps.end());
}

}  // namespace
}  // namespace apptest
