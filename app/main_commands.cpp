// The effects of the main window's commands, apart from its menus and dialogs.
#include "app/main_core.h"

#include "app/headless_view.h"
#include "foundation/settings.h"
#include "foundation/text_convert.h"
#include "foundation/text_format.h"
#include "foundation/translate.h"
#include "nodes/account/agent_download_proxy.h"
#include "nodes/node_mgr.h"

void DialogOstrelBase::DetachView() {
    // What is still said goes to the program log, as without a window.
    static CHeadlessView detached;
    view_ = &detached;
}

void DialogOstrelBase::DeleteSelectedNode() {
    const NodeRowSelection sel = view_->GetSelectedNodeRow();
    if (sel.kind != NodeRowKind::kNode || sel.nodeId < 0) return;
    CNodeMgr* nodes = CNodeMgr::GetInstance();
    if (!nodes->RemoveNode(sel.nodeId)) return;
    const std::vector<CNodeInfo*> left = nodes->GetNodes();
    if (left.empty()) {
        nodes->ValidateCurrentId();
        view_->FillNodes(-1);
        return;
    }
    // The first node row, never the neighbour of the deleted one.
    nodes->SelectNode(left.front());
    view_->FillNodes(left.front()->id);
}

void DialogOstrelBase::OnNodeAdded(bool activate, int newNodeId) {
    const int id = activate ? newNodeId : -1;
    FillNodeList(id);
    if (id != -1 && CNodeMgr::GetInstance()->FindNode(id)) {
        CNodeMgr::GetInstance()->SetCurrentNodeId(id);
        GetSettings()->LastUsedNodeId = id;
        SaveSettings();
    }
}

void DialogOstrelBase::OnNodeEdited(int nodeId) {
    FillNodeList(nodeId);
}

void DialogOstrelBase::OnNodesImported(int count) {
    if (count > 0) FillNodeList(-1);
}

void DialogOstrelBase::Logout() {
    Exit(0);
    view_->HideToTray();
    CNodeMgr::GetInstance()->RemoveServiceNodes(1);
    if (!view_->RunLogin()) {
        Exit(1);
        return;
    }
    FillNodeList(-1);
    OnAfterRelogin();
    UpdateAccountInfo();
    view_->ShowMainWindow();
}

void DialogOstrelBase::UpdateAccountInfo() {
    const NodeRowSelection sel = view_->GetSelectedNodeRow();
    if (sel.kind != NodeRowKind::kNode || sel.nodeId < 0) return;
    CNodeInfo* node = CNodeMgr::GetInstance()->FindNode(sel.nodeId);
    if (!node) return;
    std::string remaining = CAgentDownloadProxy::GetInstance()->GetPackageInfo().TrafficRemaining();
    if (remaining.empty()) remaining = Translate("N/A");
    std::string traffic, expiration;
    FormatString(traffic, Translate("Traffic remaining: %s"), remaining.c_str());
    FormatString(expiration, Translate("Expiration: %s"), node->nextDueDate.c_str());
    view_->SetAccountLines(Utf8ToWideString(traffic), Utf8ToWideString(expiration));
}
