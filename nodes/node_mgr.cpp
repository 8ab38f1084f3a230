#include "nodes/node_mgr.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "ciphers/name_tables.h"
#include "foundation/ascii_case.h"
#include "foundation/string_util.h"
#include "foundation/text_format.h"
#include "nodes/share_link.h"

namespace {

// Shadowsocks nodes with an unknown cipher never get here.
void NormaliseNames(CNodeInfo& node) {
    if (!IsCipherName(node.method)) node.method = "none";
    if (!IsObfsName(node.obfs)) node.obfs = "plain";
    if (!IsProtocolName(node.protocol)) node.protocol = "origin";
}

// A byte total as a 64-bit count, truncated toward zero; values out of range
// are clamped, since converting them would be undefined.
int64_t ToInt64(double value) {
    if (std::isnan(value)) return 0;
    if (value <= -9.2e18) return std::numeric_limits<int64_t>::min();
    if (value >= 9.2e18) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(value);
}

}  // namespace

CNodeMgr::~CNodeMgr() {
    retired_.clear();
    nodes_.clear();
}

CNodeInfo* CNodeMgr::FindLiveNode(int32_t id) const {
    for (const auto& node : nodes_) {
        if (node && node->id == id) return node.get();
    }
    return nullptr;
}

int32_t CNodeMgr::GetCurrentNodeId() {
    CNamedLockGuard guard(&lock_);
    return currentId_;
}

CNodeInfo* CNodeMgr::GetCurrentNode() {
    CNamedLockGuard guard(&lock_);
    return FindLiveNode(currentId_);
}

void CNodeMgr::SelectNode(const CNodeInfo* node) {
    if (node) SetCurrentNodeId(node->id);
}

void CNodeMgr::SetCurrentNodeId(int32_t id) {
    CNamedLockGuard guard(&lock_);
    if (id != -1 && FindLiveNode(id)) currentId_ = id;
}

void CNodeMgr::SelectFirstNode() {
    CNamedLockGuard guard(&lock_);
    if (!nodes_.empty() && nodes_.front()) currentId_ = nodes_.front()->id;
}

int CNodeMgr::HasNode(int32_t id) {
    CNamedLockGuard guard(&lock_);
    return FindLiveNode(id) ? 1 : 0;
}

CNodeInfo* CNodeMgr::FindNode(int32_t id) {
    CNamedLockGuard guard(&lock_);
    return FindLiveNode(id);
}

int32_t CNodeMgr::NextNodeId(int advance) {
    CNamedLockGuard guard(&lock_);
    int32_t id = nextId_;
    if (advance) ++nextId_;
    return id;
}

CNodeInfo* CNodeMgr::AppendNode(std::unique_ptr<CNodeInfo> node) {
    // Trim before the test, so a host of spaces alone is refused too.
    TrimString(node->host, " ");
    if (node->host.empty() || node->port == 0) return nullptr;
    if (!IsAcceptedNodeCipher(node->type, node->method)) return nullptr;
    node->id = NextNodeId(1);
    NormaliseNames(*node);
    nodes_.push_back(std::move(node));
    return nodes_.back().get();
}

CNodeInfo* CNodeMgr::AddNode(NodeParams params) {
    CNamedLockGuard guard(&lock_);
    auto node = BuildNodeFromParams(params);
    // Unlike a parsed link, a node added here keeps the record's default -1.
    node->origin = params.originOrId;
    node->lastTestResult = -1;
    return AppendNode(std::move(node));
}

CNodeInfo* CNodeMgr::AddNodeObject(std::unique_ptr<CNodeInfo> node) {
    CNamedLockGuard guard(&lock_);
    if (!node) return nullptr;
    return AppendNode(std::move(node));
}

CNodeInfo* CNodeMgr::AddNodeFromLink(std::string link) {
    CNamedLockGuard guard(&lock_);
    return AddNodeObject(ParseShareLink(std::move(link)));
}

CNodeInfo* CNodeMgr::EditNode(NodeParams params) {
    CNamedLockGuard guard(&lock_);
    CNodeInfo* node = FindLiveNode(params.originOrId);
    if (!node || params.port == 0) return nullptr;
    if (!IsAcceptedNodeCipher(params.type, params.method)) return nullptr;

    TrimString(params.host, " ");
    if (!params.host.empty()) {
        if (!AsciiEqualsNoCase(params.host, node->host)) {
            // The next probe resolves and locates the new host.
            node->locationText.clear();
            node->regionText.clear();
            node->resolvedAddress.clear();
        }
        node->host = params.host;
    }
    CopyNodeParams(params, *node);
    ResetNodeStatistics(node);
    return node;
}

NodeFields CNodeMgr::CopyNodeFields(const CNodeInfo& node) {
    CNamedLockGuard guard(&lock_);
    NodeFields f;
    f.id = node.id;
    f.type = node.type;
    f.host = node.host;
    f.resolvedAddress = node.resolvedAddress;
    f.port = node.port;
    f.user = node.user;
    f.password = node.password;
    f.method = node.method;
    f.protocol = node.protocol;
    f.protocolParam = node.protocolParam;
    f.obfs = node.obfs;
    f.obfsParam = node.obfsParam;
    f.udpPort = node.udpPort;
    f.udpOverTcp = node.udpOverTcp;
    f.remarks = node.remarks;
    f.group = node.group;
    return f;
}

void CNodeMgr::TrimNodeHost(CNodeInfo& node) {
    CNamedLockGuard guard(&lock_);
    TrimString(node.host, " ");
}

int CNodeMgr::RemoveNode(int32_t id) {
    CNamedLockGuard guard(&lock_);
    auto it = std::find_if(nodes_.begin(), nodes_.end(), [id](const auto& n) { return n && n->id == id; });
    if (it == nodes_.end()) return 0;
    retired_.push_back(std::move(*it));
    nodes_.erase(it);
    return 1;
}

void CNodeMgr::RemoveServiceNodes(int keepUserNodes) {
    CNamedLockGuard guard(&lock_);
    if (nodes_.empty()) return;
    auto keep = std::stable_partition(nodes_.begin(), nodes_.end(), [keepUserNodes](const auto& n) {
        return !n || (keepUserNodes && !n->HasListOrigin());
    });
    for (auto it = keep; it != nodes_.end(); ++it) retired_.push_back(std::move(*it));
    nodes_.erase(keep, nodes_.end());
    if (nodes_.empty()) currentId_ = -1;
}

size_t CNodeMgr::GetNodeCount() {
    CNamedLockGuard guard(&lock_);
    return nodes_.size();
}

std::vector<CNodeInfo*> CNodeMgr::GetNodes() {
    CNamedLockGuard guard(&lock_);
    std::vector<CNodeInfo*> snapshot;
    snapshot.reserve(nodes_.size());
    for (const auto& node : nodes_) snapshot.push_back(node.get());
    return snapshot;
}

CNodeInfo* CNodeMgr::ResetNodeStatistics(CNodeInfo* node) {
    if (!node) return node;
    node->latency = 0;
    node->bytesSent = 0.0;
    node->bytesReceived = 0.0;
    node->connectAttempts = 0;
    node->failedAttempts = 0;
    return node;
}

void CNodeMgr::ResetAllStatistics() {
    CNamedLockGuard guard(&lock_);
    for (const auto& node : nodes_) ResetNodeStatistics(node.get());
}

void CNodeMgr::ValidateCurrentId() {
    CNamedLockGuard guard(&lock_);
    if (!FindLiveNode(currentId_)) currentId_ = -1;
}

int64_t CNodeMgr::GetTotalBytes() {
    CNamedLockGuard guard(&lock_);
    int64_t total = 0;
    for (const auto& node : nodes_) {
        if (!node) continue;
        total = ToInt64(static_cast<double>(total) + node->bytesSent.load(std::memory_order_relaxed));
        total = ToInt64(static_cast<double>(total) + node->bytesReceived.load(std::memory_order_relaxed));
    }
    return total;
}

void CNodeMgr::GetTrafficText(std::wstring& out) {
    int64_t total = std::max<int64_t>(GetTotalBytes(), 0);
    out = FormatByteSize(ToInt64(static_cast<double>(total) * 1.5));
}

void CNodeMgr::SetResolvedAddress(CNodeInfo* node, const std::string& address) {
    if (!node) return;
    CNamedLockGuard guard(&lock_);
    node->resolvedAddress = address;
}
