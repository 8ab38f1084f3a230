#pragma once
// The proxy node record, the by-value record through which callers describe
// a node, and the names of the proxy types.
//
// Texts are UTF-8. The figures that relay, probe and test threads update
// while others read them (latency, byte totals, attempt counters, country,
// test flags) are relaxed atomics: they feed displays only.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "nodes/speed_analytics.h"

enum NodeType : int32_t {
    NodeTypeHttp = 3,
    NodeTypeSocks4 = 4,
    NodeTypeSocks5 = 5,
    NodeTypeSSR = 6,  // Shadowsocks or ShadowsocksR
    NodeTypeSSH2 = 13,
};

enum NodeOrigin : int32_t {
    NodeOriginUser = 0,     // dialogs and share links
    NodeOriginService = 2,  // the account service; 1 and 3 are reserved and count as outside too
};

// Whether a node of `type` may carry the cipher `method`. A Shadowsocks node
// whose method names no cipher we know ("none" included, since ShadowsocksR
// protocols such as auth_chain encrypt by themselves) would send the user's
// traffic in clear, so it is refused, with a log line naming the method.
// Other types carry whatever method text they have.
bool IsAcceptedNodeCipher(int32_t type, const std::string& method);

// How a caller describes a node to add (first field: origin) or to edit
// (first field: the node's id).
struct NodeParams {
    int32_t originOrId = 0;
    int32_t type = NodeTypeSocks5;
    std::string host;
    uint16_t port = 0;
    std::string user;
    std::string password;
    std::string method;
    std::string remarks;
    int32_t serviceState = -1;
    int32_t countryIndex = -1;
    std::string additionalRoute;
    uint8_t spareFlag = 1;
    std::string protocol;
    std::string obfs;
    std::string obfsParam;
    std::string protocolParam;
    std::string group;
    uint16_t udpPort = 0;
    uint8_t udpOverTcp = 0;
};

class CNodeInfo : public CSpeedAnalytics {
public:
    CNodeInfo() = default;
    explicit CNodeInfo(int32_t nodeId) : id(nodeId) {}
    ~CNodeInfo() override = default;

    bool IsHttpNode() const { return type == NodeTypeHttp; }
    bool IsSocks4Node() const { return type == NodeTypeSocks4; }
    bool IsSocks5Node() const { return type == NodeTypeSocks5; }
    bool IsSSRNode() const { return type == NodeTypeSSR; }
    bool IsUnderMaintenance() const { return serviceState == 0; }
    // Delivered from outside the user's own hands (origins 1, 2 and 3).
    bool HasListOrigin() const { return origin >= 1 && origin <= 3; }

    // "HTTP", "S4", "S5", "SR", "SSH2", or "N/A" for any other type.
    void GetTypeLabel(std::string& out) const;
    // The resolved address once known, else the host.
    const std::string& GetConnectAddress() const { return resolvedAddress.empty() ? host : resolvedAddress; }

    int IsTesting() const { return testing.load(std::memory_order_relaxed); }
    void SetTesting(int value) { testing.store(value, std::memory_order_relaxed); }

    // Counts payload bytes; a count of 0 changes nothing.
    void AddSentBytes(uint32_t count);
    void AddReceivedBytes(uint32_t count);
    // One more connection attempt to the server, or one more failed one.
    void CountConnectAttempt() { connectAttempts.fetch_add(1, std::memory_order_relaxed); }
    void CountFailedAttempt() { failedAttempts.fetch_add(1, std::memory_order_relaxed); }

    std::atomic<int32_t> testing{0};  // 1 while a latency probe runs
    int32_t id = 0;                   // unique within one run
    int32_t type = NodeTypeSocks5;
    std::string host;
    std::string resolvedAddress;  // dotted IPv4 text found by the probe; empty while unknown
    uint16_t port = 0;
    std::string user;
    std::string password;
    std::string method;  // Shadowsocks cipher name
    std::string remarks;
    uint8_t spareFlag = 1;
    std::atomic<uint32_t> latency{0};  // milliseconds; 0 = unknown
    std::atomic<double> bytesSent{0.0};
    std::atomic<double> bytesReceived{0.0};
    std::atomic<int32_t> connectAttempts{0};
    std::atomic<int32_t> failedAttempts{0};
    int32_t serviceState = -1;  // -1 unknown, 1 in service, 0 under maintenance
    std::string locationText;   // shown after the address in node-test reports
    std::string regionText;
    int32_t origin = NodeOriginUser;
    std::atomic<int32_t> lastTestResult{-1};
    std::atomic<int32_t> countryIndex{-1};  // row of the country table; -1 unknown
    std::string additionalRoute;            // typed into the add/edit dialogs
    int64_t trafficRemaining = 0;
    std::string protocol;
    std::string obfs;
    std::string obfsParam;
    std::string protocolParam;
    std::string group;  // empty: the default group
    uint16_t udpPort = 0;
    uint8_t udpOverTcp = 0;
    // Package texts of account-service nodes.
    std::string nextDueDate;
    std::string paymentMethod;
    std::string paymentMethodName;
    std::string billingCycle;
};

// The fields a connection needs of its node, copied once when it starts so
// that an edit of the node meanwhile cannot change texts under it.
struct NodeFields {
    int32_t id = 0;
    int32_t type = NodeTypeSocks5;
    std::string host;
    std::string resolvedAddress;
    uint16_t port = 0;
    std::string user;
    std::string password;
    std::string method;
    std::string protocol;
    std::string protocolParam;
    std::string obfs;
    std::string obfsParam;
    uint16_t udpPort = 0;
    uint8_t udpOverTcp = 0;
    // The texts the choosers show.
    std::string remarks;
    std::string group;

    // The resolved address once known, else the host.
    const std::string& GetConnectAddress() const { return resolvedAddress.empty() ? host : resolvedAddress; }
};

// A new record from every field of `params` but the first: origin 0, all
// figures 0 (the last test result too), the id left for the node list.
std::unique_ptr<CNodeInfo> BuildNodeFromParams(const NodeParams& params);
// Copies every field of `params` but the first and the host into the node.
void CopyNodeParams(const NodeParams& params, CNodeInfo& node);

// The wide long name of the type ("SHADOWSOCKS" for 6); "Unkown Type" when
// the type has no row.
const wchar_t* GetProxyTypeNameW(int type);
// The narrow short name when `shortName` is nonzero, else the long one;
// "N/A" when the type has no row.
const char* GetProxyTypeName(int type, int shortName);
