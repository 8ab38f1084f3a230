#pragma once
// The one list of proxy nodes of a running program and the current node's id.
//
// The list owns its nodes. A removed node moves to a retired list and is freed
// only when the manager is destroyed, because relay, probe and dialog threads
// keep plain pointers to nodes. Every operation takes the member lock, so the
// login worker may append while the user interface reads; GetNodes hands out
// a snapshot for the caller to walk.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/named_lock.h"
#include "foundation/singleton.h"
#include "nodes/node_info.h"

class CNodeMgr : public CSingleton<CNodeMgr> {
public:
    int32_t GetCurrentNodeId();
    // The live node with the current id, or null (none chosen, or removed).
    CNodeInfo* GetCurrentNode();
    // Null is ignored.
    void SelectNode(const CNodeInfo* node);
    // Taken only when a live node has this id (so -1 is never set here).
    void SetCurrentNodeId(int32_t id);
    // The first node becomes current; an empty list changes nothing.
    void SelectFirstNode();
    int HasNode(int32_t id);
    CNodeInfo* FindNode(int32_t id);
    // The id the next node receives; advances the counter when `advance` is nonzero.
    int32_t NextNodeId(int advance);

    // Builds a node from `params` (first field: origin). Null, taking no id,
    // when the host is empty after trimming its spaces, the port is 0, or a
    // Shadowsocks node names no known cipher (IsAcceptedNodeCipher). Other
    // types' unknown cipher names become "none"; unknown obfuscation and
    // protocol names become "plain" and "origin".
    CNodeInfo* AddNode(NodeParams params);
    // Takes a node built elsewhere, under the same rules as AddNode; a refused
    // node is destroyed and null returned.
    CNodeInfo* AddNodeObject(std::unique_ptr<CNodeInfo> node);
    // Parses a share link and adds the node; null when the link is refused.
    CNodeInfo* AddNodeFromLink(std::string link);
    // Changes the node whose id is the first field, keeping its id and origin,
    // and clears its statistics. An empty host keeps the old one; a host that
    // differs other than in letter case forgets the resolved address and the
    // location texts. Null, changing nothing, when no node has the id, the
    // port is 0 or a Shadowsocks node would name no known cipher.
    CNodeInfo* EditNode(NodeParams params);
    // Retires the node; the current id is left as it is. 0 when no node has the id.
    int RemoveNode(int32_t id);
    // Retires every node (flag 0) or only those delivered from outside (flag
    // 1); an emptied list leaves no current node.
    void RemoveServiceNodes(int keepUserNodes);

    size_t GetNodeCount();
    // The live nodes in list order, as they are now.
    std::vector<CNodeInfo*> GetNodes();

    // The node's texts and endpoint as they are now, copied under the list's
    // lock, which EditNode holds while it rewrites them. The node need not be
    // in the list.
    NodeFields CopyNodeFields(const CNodeInfo& node);
    // Trims spaces from the node's host in place, under the same lock, so
    // that connections copying the node never see it half rewritten.
    void TrimNodeHost(CNodeInfo& node);

    // The resolved address, written under the same lock for the same reason.
    void SetResolvedAddress(CNodeInfo* node, const std::string& address);

    // Clears latency, byte totals and attempt counters of the node.
    CNodeInfo* ResetNodeStatistics(CNodeInfo* node);
    void ResetAllStatistics();
    // When no live node has the current id, there is no current node.
    void ValidateCurrentId();

    // Bytes sent plus received over the live nodes.
    int64_t GetTotalBytes();
    // One and a half times the total, as FormatByteSize text.
    void GetTrafficText(std::wstring& out);

private:
    friend class CSingleton<CNodeMgr>;
    CNodeMgr() = default;
    ~CNodeMgr() override;

    CNodeInfo* AppendNode(std::unique_ptr<CNodeInfo> node);
    CNodeInfo* FindLiveNode(int32_t id) const;

    CNamedLock lock_{L"Unspecific", 0};
    std::vector<std::unique_ptr<CNodeInfo>> nodes_;
    std::vector<std::unique_ptr<CNodeInfo>> retired_;
    int32_t nextId_ = 0;
    int32_t currentId_ = -1;
};
