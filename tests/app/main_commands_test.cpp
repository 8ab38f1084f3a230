// What the main window's commands do once their menu or dialog has
// answered: delete, the add follow-ups, the logout with its login, and the
// account lines.
#include <gtest/gtest.h>

#include "app/main_core.h"
#include "foundation/settings.h"
#include "nodes/account/agent_download_proxy.h"
#include "tests/app/app_fixture.h"

namespace apptest {
namespace {

class MainCommandsTest : public AppCoreTest {
protected:
    std::vector<int> Ids() {
        std::vector<int> ids;
        for (CNodeInfo* n : CNodeMgr::GetInstance()->GetNodes()) ids.push_back(n->id);
        return ids;
    }
    // Nodes as the account service delivers them, with the package's texts.
    void Deliver(const std::string& host, const std::string& remaining) {
        const std::string reply = R"({"errcode":0,"proxylist":[{"nextduedate":"2031-12-31","traffic_remaining":")" +
                                  remaining + R"(","nodelist":[{"type":5,"hostname":")" + host +
                                  R"(","port":1080,"password":"x","method":"whatever"}]}]})";
        ASSERT_EQ(CAgentDownloadProxy::GetInstance()->ParseProxyList(reply), 1);
    }
};

TEST_F(MainCommandsTest, DeletingTheOnlyNodeLeavesNoCurrentNode) {
    CNodeInfo* only = AddNode();
    CNodeMgr::GetInstance()->SelectNode(only);
    view_.row = {NodeRowKind::kNode, only->id};
    core_->DeleteSelectedNode();
    EXPECT_EQ(CNodeMgr::GetInstance()->GetNodeCount(), 0u);
    EXPECT_EQ(CNodeMgr::GetInstance()->GetCurrentNodeId(), -1);
    ASSERT_FALSE(view_.fills.empty());
    EXPECT_EQ(view_.fills.back(), -1);
}

TEST_F(MainCommandsTest, DeletingOneOfSeveralSelectsTheFirstRemaining) {
    CNodeInfo* a = AddNode(NodeTypeSocks5, "a.test");
    CNodeInfo* b = AddNode(NodeTypeSocks5, "b.test");
    CNodeInfo* c = AddNode(NodeTypeSocks5, "c.test");
    CNodeMgr::GetInstance()->SelectNode(b);
    view_.row = {NodeRowKind::kNode, b->id};
    core_->DeleteSelectedNode();
    // The first node, not the deleted one's neighbour c.
    EXPECT_EQ(Ids(), (std::vector<int>{a->id, c->id}));
    EXPECT_EQ(CNodeMgr::GetInstance()->GetCurrentNodeId(), a->id);
    EXPECT_EQ(view_.row.nodeId, a->id);
    const int saved = GetSettings()->LastUsedNodeId;
    // A header row, or none, deletes nothing.
    for (NodeRowSelection sel : {NodeRowSelection{NodeRowKind::kHeader, -1}, NodeRowSelection{}}) {
        view_.row = sel;
        core_->DeleteSelectedNode();
        EXPECT_EQ(Ids().size(), 2u);
    }
    EXPECT_EQ(GetSettings()->LastUsedNodeId, saved) << "delete leaves the saved node alone";
}

TEST_F(MainCommandsTest, AddWithAndWithoutActivate) {
    CNodeInfo* first = AddNode(NodeTypeSocks5, "first.test");
    CNodeMgr::GetInstance()->SelectNode(first);
    GetSettings()->LastUsedNodeId = first->id;
    CNodeInfo* quiet = AddNode(NodeTypeSocks5, "quiet.test");
    core_->OnNodeAdded(false, quiet->id);
    EXPECT_EQ(CNodeMgr::GetInstance()->GetCurrentNodeId(), first->id);
    EXPECT_EQ(GetSettings()->LastUsedNodeId, first->id);
    EXPECT_EQ(view_.fills.back(), first->id) << "the fill keeps the saved node";

    CNodeInfo* active = AddNode(NodeTypeSocks5, "active.test");
    core_->OnNodeAdded(true, active->id);
    EXPECT_EQ(CNodeMgr::GetInstance()->GetCurrentNodeId(), active->id);
    EXPECT_EQ(view_.fills.back(), active->id);
    LoadSettings();
    EXPECT_EQ(GetSettings()->LastUsedNodeId, active->id) << "saved";
}

TEST_F(MainCommandsTest, LogoutReplacesTheServiceNodesAndKeepsTheUsers) {
    CNodeInfo* mine = AddNode(NodeTypeSocks5, "mine.test");
    Deliver("old.service.test", "5 GB");
    ASSERT_EQ(Ids().size(), 2u);
    view_.login = [this] {
        Deliver("new.service.test", "7 GB");
        return true;
    };
    view_.row = {NodeRowKind::kNode, mine->id};
    core_->Logout();
    std::vector<std::string> hosts;
    for (CNodeInfo* n : CNodeMgr::GetInstance()->GetNodes()) hosts.push_back(n->host);
    EXPECT_EQ(hosts, (std::vector<std::string>{"mine.test", "new.service.test"}));
    const auto calls = view_.log.Calls();
    EXPECT_EQ(calls, (std::vector<std::string>{"hide", "login", "show"}));
    EXPECT_FALSE(core_->IsExiting());
    EXPECT_FALSE(loop_.IsQuitting()) << "the program goes on";
}

TEST_F(MainCommandsTest, CancelledLoginAfterLogoutEndsThroughExit) {
    AddNode(NodeTypeSocks5, "mine.test");
    core_->Logout();
    EXPECT_TRUE(core_->IsExiting());
    EXPECT_TRUE(loop_.IsQuitting());
    const auto calls = system_.log.Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "StopLocalProxy"), calls.end())
        << "the local proxy service is stopped before the managers go";
}

TEST_F(MainCommandsTest, AccountLinesAndHeaderChoice) {
    Deliver("s.test", "");
    CNodeInfo* node = CNodeMgr::GetInstance()->GetNodes().front();
    view_.row = {NodeRowKind::kNode, node->id};
    core_->UpdateAccountInfo();
    ASSERT_EQ(view_.accountLines.size(), 1u);
    EXPECT_EQ(view_.accountLines[0], "Traffic remaining: N/A | Expiration: 2031-12-31");
    Deliver("t.test", "12 GB");
    core_->UpdateAccountInfo();
    EXPECT_EQ(view_.accountLines.back(), "Traffic remaining: 12 GB | Expiration: 2031-12-31");
    // A header or no row leaves the lines as they are.
    for (NodeRowSelection sel : {NodeRowSelection{NodeRowKind::kHeader, -1}, NodeRowSelection{}}) {
        view_.row = sel;
        core_->UpdateAccountInfo();
        core_->OnNodeSelected();
    }
    EXPECT_EQ(view_.accountLines.size(), 2u);
}

}  // namespace
}  // namespace apptest
