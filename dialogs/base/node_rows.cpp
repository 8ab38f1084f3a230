#include "dialogs/base/node_rows.h"

#include <map>

#include "foundation/settings.h"
#include "foundation/text_convert.h"
#include "foundation/translate.h"
#include "nodes/account/agent_config.h"
#include "nodes/node_info.h"
#include "nodes/node_mgr.h"

int LatencyToClass(int ms) {
    if (ms <= 0) return 0;
    if (ms <= 100) return 5;
    if (ms <= 200) return 4;
    if (ms <= 300) return 3;
    if (ms <= 400) return 2;
    return 1;
}

COLORREF LatencyClassToColor(int cls) {
    switch (cls) {
        case 5:
            return RGB(50, 255, 56);
        case 4:
            return RGB(159, 255, 162);
        case 3:
            return RGB(255, 210, 174);
        case 2:
            return RGB(255, 164, 91);
        case 1:
            return RGB(255, 134, 74);
        default:
            return RGB(255, 255, 255);
    }
}

COLORREF LatencyToColor(int ms) {
    return LatencyClassToColor(LatencyToClass(ms));
}

std::string LatencyText(const CNodeInfo& node) {
    return std::to_string(static_cast<int>(node.latency.load())) + " ms";
}

void CutUtf8(std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) return;
    size_t end = maxBytes;
    // Back over continuation bytes to the start of the character cut in two.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
}

namespace {

std::string TypeLabel(const CNodeInfo& node) {
    std::string label;
    node.GetTypeLabel(label);
    return label;
}

std::string Bracketed(const CNodeInfo& node) {
    return "[" + TypeLabel(node) + "] ";
}

}  // namespace

bool NodeAddressesHidden() {
    return IsAgentConfigLoaded() && IsHideNodeAddress();
}

namespace {

std::string ListCaption(const CNodeInfo& node, const NodeFields& f, bool hideAddresses) {
    std::string out;
    if (!f.remarks.empty())
        out = Bracketed(node) + f.remarks;
    else if (hideAddresses)
        out = "[-] -:-";
    else
        out = Bracketed(node) + f.host + ":" + std::to_string(f.port);
    CutUtf8(out, kMaxCaptionBytes);
    return out;
}

std::string GroupText(const NodeFields& f) {
    return f.group.empty() ? std::string(Translate("Default Group")) : f.group;
}

}  // namespace

std::string NodeListCaption(const CNodeInfo& node, bool hideAddresses) {
    return ListCaption(node, CNodeMgr::GetInstance()->CopyNodeFields(node), hideAddresses);
}

std::wstring NodeGroupCaption(const CNodeInfo& node) {
    return Utf8ToWideString(GroupText(CNodeMgr::GetInstance()->CopyNodeFields(node)));
}

std::string NodeFaceText(const CNodeInfo& node, bool hideAddresses) {
    const NodeFields f = CNodeMgr::GetInstance()->CopyNodeFields(node);
    std::string prefix = GroupText(f) + " -> ";
    CutUtf8(prefix, kMaxGroupPrefixBytes);
    std::string out;
    if (!f.remarks.empty())
        out = Bracketed(node) + prefix + f.remarks;
    else if (hideAddresses)
        out = "[-] -:-";
    else
        out = Bracketed(node) + prefix + f.host + ":" + std::to_string(f.port);
    CutUtf8(out, kMaxCaptionBytes);
    return out;
}

int FillNodeRows(GroupComboModel& model, int nodeId, const NodeRowFactory& make) {
    model.SetAdjustDropWidth(false);
    model.ResetContent();
    CNodeMgr* mgr = CNodeMgr::GetInstance();
    const std::vector<CNodeInfo*> nodes = mgr->GetNodes();
    if (nodes.empty()) return -1;
    const bool hide = NodeAddressesHidden();
    // Group texts already placed, so that most nodes skip the case-blind search.
    std::map<std::string, int> known;
    for (CNodeInfo* node : nodes) {
        if (!node) continue;
        // Hosts typed with blanks are cleaned under the list's lock, not under a connection's feet.
        mgr->TrimNodeHost(*node);
        const NodeFields f = mgr->CopyNodeFields(*node);
        const std::string groupText = GroupText(f);
        auto it = known.find(groupText);
        if (it == known.end()) {
            // Case-blind, like the header lookup of the combo box.
            const std::wstring group = Utf8ToWideString(groupText);
            int g = model.FindGroup(group);
            if (g < 0) g = model.AddGroup(new CGroupComboBoxHeader(group, false));
            it = known.emplace(groupText, g).first;
        }
        CGroupComboBoxItem* item =
            make(Utf8ToWideString(ListCaption(*node, f, hide)), node->countryIndex.load(), node);
        if (model.AddItem(item, it->second) < 0) delete item;
    }
    if (model.GetCount() == 0) return -1;
    int id = nodeId == -1 ? 0 : nodeId;
    if (!mgr->HasNode(id)) id = mgr->GetCurrentNodeId();
    if (id == -1) return -1;
    return SelectNodeRowById(model, id);
}

int SelectNodeRowById(GroupComboModel& model, int nodeId) {
    for (int row = 0; row < model.GetCount(); ++row) {
        const CNodeInfo* node = NodeAtRow(model, row);
        if (node && node->id == nodeId) {
            model.SelectItem(row);
            return row;
        }
    }
    return -1;
}

CNodeInfo* NodeAtRow(const GroupComboModel& model, int row) {
    const CGroupComboBoxItem* item = model.GetItem(row);
    if (!item || item->IsHeader()) return nullptr;
    return static_cast<CNodeInfo*>(item->GetData());
}

std::string FaceTextOfRow(const GroupComboModel& model, int row, bool hideAddresses) {
    const CGroupComboBoxItem* item = model.GetItem(row);
    if (!item) return {};
    if (item->IsHeader()) return WideToUtf8String(item->caption());
    const CNodeInfo* node = NodeAtRow(model, row);
    return node ? NodeFaceText(*node, hideAddresses) : WideToUtf8String(item->caption());
}

int ResolveSavedModeIndex(int modeCount) {
    AppSettings* s = GetSettings();
    if (s->last_proxymode_index < 0 || s->last_proxymode_index >= modeCount) {
        s->last_proxymode_index = 0;
        SaveSettings();
    }
    return s->last_proxymode_index;
}
