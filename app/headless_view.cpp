#include "app/headless_view.h"

#include <cstdio>

#include "foundation/program_log.h"
#include "foundation/text_convert.h"
#include "netconfig/proxy_mode.h"
#include "nodes/node_mgr.h"

void CHeadlessView::SetStatusText(const std::wstring& text) {
    std::string line = WideToUtf8String(text);
    AppendToProgramLog("status: " + line);
    std::fprintf(stderr, "%s\n", line.c_str());
}

void CHeadlessView::ShowMainWindow() {
    AppendToProgramLog("show the main window");
    std::fprintf(stderr, "show the main window\n");
}

void CHeadlessView::FillNodes(int nodeId) {
    CNodeMgr* nodes = CNodeMgr::GetInstance();
    std::lock_guard<std::mutex> lock(mutex_);
    if (nodes->FindNode(nodeId)) {
        nodeId_ = nodeId;
    } else {
        std::vector<CNodeInfo*> list = nodes->GetNodes();
        nodeId_ = list.empty() ? -1 : list.front()->id;
    }
}

NodeRowSelection CHeadlessView::GetSelectedNodeRow() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (nodeId_ < 0) return {};
    return {NodeRowKind::kNode, nodeId_};
}

void CHeadlessView::SelectNodeById(int nodeId) {
    if (!CNodeMgr::GetInstance()->FindNode(nodeId)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    nodeId_ = nodeId;
}

void CHeadlessView::FillModes(int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    modeIndex_ = index;
}

int CHeadlessView::GetSelectedModeIndex() {
    std::lock_guard<std::mutex> lock(mutex_);
    return modeIndex_;
}

void CHeadlessView::SelectModeIndex(int index) {
    int count = static_cast<int>(CProxyModeMgr::GetInstance()->GetModes().size());
    if (index < 0 || index >= count) return;
    std::lock_guard<std::mutex> lock(mutex_);
    modeIndex_ = index;
}
