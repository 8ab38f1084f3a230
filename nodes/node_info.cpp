#include "nodes/node_info.h"

#include "ciphers/name_tables.h"
#include "foundation/program_log.h"

namespace {

struct ProxyTypeName {
    int type;
    const char* longName;
    const char* shortName;
    const wchar_t* longNameW;
};

// SSH2 nodes have no row: they show "N/A" and "Unkown Type".
constexpr ProxyTypeName kProxyTypeNames[] = {
    {NodeTypeHttp, "HTTP", "HTTP", L"HTTP"},
    {NodeTypeSocks4, "SOCKS 4/4a", "S4", L"SOCKS 4/4a"},
    {NodeTypeSocks5, "SOCKS 5", "S5", L"SOCKS 5"},
    {NodeTypeSSR, "SR", "SR", L"SHADOWSOCKS"},
};

const ProxyTypeName* FindTypeName(int type) {
    for (const auto& row : kProxyTypeNames) {
        if (row.type == type) return &row;
    }
    return nullptr;
}

}  // namespace

bool IsAcceptedNodeCipher(int32_t type, const std::string& method) {
    if (type != NodeTypeSSR || IsCipherName(method)) return true;
    AppendToProgramLogOrStderr("Shadowsocks node refused: unknown cipher \"" + LogSafeText(method) + "\"");
    return false;
}

void CNodeInfo::GetTypeLabel(std::string& out) const {
    if (type == NodeTypeSSH2) {
        out = "SSH2";
    } else if (const ProxyTypeName* row = FindTypeName(type)) {
        out = row->shortName;
    } else {
        out = "N/A";
    }
}

void CNodeInfo::AddSentBytes(uint32_t count) {
    if (count != 0) bytesSent.fetch_add(static_cast<double>(count), std::memory_order_relaxed);
}

void CNodeInfo::AddReceivedBytes(uint32_t count) {
    if (count != 0) bytesReceived.fetch_add(static_cast<double>(count), std::memory_order_relaxed);
}

void CopyNodeParams(const NodeParams& params, CNodeInfo& node) {
    node.type = params.type;
    node.port = params.port;
    node.user = params.user;
    node.password = params.password;
    node.method = params.method;
    node.remarks = params.remarks;
    node.serviceState = params.serviceState;
    node.countryIndex = params.countryIndex;
    node.additionalRoute = params.additionalRoute;
    node.spareFlag = params.spareFlag;
    node.protocol = params.protocol;
    node.obfs = params.obfs;
    node.obfsParam = params.obfsParam;
    node.protocolParam = params.protocolParam;
    node.group = params.group;
    node.udpPort = params.udpPort;
    node.udpOverTcp = params.udpOverTcp;
}

std::unique_ptr<CNodeInfo> BuildNodeFromParams(const NodeParams& params) {
    auto node = std::make_unique<CNodeInfo>();
    node->host = params.host;
    CopyNodeParams(params, *node);
    node->lastTestResult = 0;
    return node;
}

const wchar_t* GetProxyTypeNameW(int type) {
    const ProxyTypeName* row = FindTypeName(type);
    return row ? row->longNameW : L"Unkown Type";
}

const char* GetProxyTypeName(int type, int shortName) {
    const ProxyTypeName* row = FindTypeName(type);
    if (!row) return "N/A";
    return shortName ? row->shortName : row->longName;
}
