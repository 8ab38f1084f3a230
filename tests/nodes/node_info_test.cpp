#include "nodes/node_info.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(NodeInfo, NewNodeDefaults) {
    CNodeInfo node(7);
    EXPECT_EQ(node.id, 7);
    EXPECT_EQ(node.type, NodeTypeSocks5);
    EXPECT_EQ(node.port, 0);
    EXPECT_EQ(node.serviceState, -1);
    EXPECT_EQ(node.countryIndex, -1);
    EXPECT_EQ(node.lastTestResult, -1);
    EXPECT_EQ(node.origin, NodeOriginUser);
    EXPECT_EQ(node.spareFlag, 1);
    EXPECT_EQ(node.latency, 0u);
    EXPECT_EQ(node.bytesSent, 0.0);
    EXPECT_EQ(node.connectAttempts, 0);
    EXPECT_EQ(node.IsTesting(), 0);
    EXPECT_EQ(node.GetRateAt(1000), 0u);
}

TEST(NodeInfo, BuiltFromParamsTakesEveryFieldButTheFirst) {
    NodeParams p;
    p.originOrId = 2;
    p.type = NodeTypeSSR;
    p.host = "h.example";
    p.port = 8388;
    p.user = "u";
    p.password = "pw";
    p.method = "aes-256-cfb";
    p.remarks = "r";
    p.serviceState = 1;
    p.countryIndex = 12;
    p.additionalRoute = "10.0.0.1";
    p.spareFlag = 0;
    p.protocol = "auth_chain_a";
    p.obfs = "http_simple";
    p.obfsParam = "op";
    p.protocolParam = "pp";
    p.group = "g";
    p.udpPort = 53;
    p.udpOverTcp = 1;
    auto node = BuildNodeFromParams(p);
    EXPECT_EQ(node->origin, NodeOriginUser);
    EXPECT_EQ(node->lastTestResult, 0);
    EXPECT_EQ(node->type, NodeTypeSSR);
    EXPECT_EQ(node->host, "h.example");
    EXPECT_EQ(node->port, 8388);
    EXPECT_EQ(node->user, "u");
    EXPECT_EQ(node->password, "pw");
    EXPECT_EQ(node->method, "aes-256-cfb");
    EXPECT_EQ(node->remarks, "r");
    EXPECT_EQ(node->serviceState, 1);
    EXPECT_EQ(node->countryIndex, 12);
    EXPECT_EQ(node->additionalRoute, "10.0.0.1");
    EXPECT_EQ(node->spareFlag, 0);
    EXPECT_EQ(node->protocol, "auth_chain_a");
    EXPECT_EQ(node->obfs, "http_simple");
    EXPECT_EQ(node->obfsParam, "op");
    EXPECT_EQ(node->protocolParam, "pp");
    EXPECT_EQ(node->group, "g");
    EXPECT_EQ(node->udpPort, 53);
    EXPECT_EQ(node->udpOverTcp, 1);
}

TEST(NodeInfo, TypeNamesAndLabels) {
    struct Row {
        int type;
        const char* label;
        const char* shortName;
        const char* longName;
        const wchar_t* wideName;
    };
    const Row rows[] = {
        {3, "HTTP", "HTTP", "HTTP", L"HTTP"},       {4, "S4", "S4", "SOCKS 4/4a", L"SOCKS 4/4a"},
        {5, "S5", "S5", "SOCKS 5", L"SOCKS 5"},     {6, "SR", "SR", "SR", L"SHADOWSOCKS"},
        {13, "SSH2", "N/A", "N/A", L"Unkown Type"}, {7, "N/A", "N/A", "N/A", L"Unkown Type"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.type);
        CNodeInfo node;
        node.type = r.type;
        std::string label;
        node.GetTypeLabel(label);
        EXPECT_EQ(label, r.label);
        EXPECT_STREQ(GetProxyTypeName(r.type, 1), r.shortName);
        EXPECT_STREQ(GetProxyTypeName(r.type, 0), r.longName);
        EXPECT_STREQ(GetProxyTypeNameW(r.type), r.wideName);
    }
}

TEST(NodeInfo, ConnectAddressPrefersTheResolvedOne) {
    CNodeInfo node;
    node.host = "h.example";
    EXPECT_EQ(node.GetConnectAddress(), "h.example");
    node.resolvedAddress = "192.0.2.1";
    EXPECT_EQ(node.GetConnectAddress(), "192.0.2.1");
}

TEST(NodeInfo, ByteTotalsTakeFullUnsignedCounts) {
    CNodeInfo node;
    node.AddSentBytes(0);
    node.AddSentBytes(0xFFFFFFFFu);
    node.AddReceivedBytes(10);
    EXPECT_EQ(node.bytesSent, 4294967295.0);
    EXPECT_EQ(node.bytesReceived, 10.0);
}

// Each step counts bytes or reads the rate at a given second.
struct SpeedStep {
    uint32_t second;
    uint32_t bytes;     // counted when not 0
    int64_t rate = -1;  // expected reading when not -1
};

TEST(SpeedAnalytics, RateOverTheLastTwoSeconds) {
    struct Scenario {
        const char* what;
        std::vector<SpeedStep> steps;
    };
    const Scenario scenarios[] = {
        {"average of two seconds with traffic", {{100, 1000}, {101, 3000}, {101, 0, 2000}}},
        {"cached within the second", {{100, 1000}, {101, 3000}, {101, 0, 2000}, {101, 5000}, {101, 0, 2000}}},
        {"one quiet second counts only the busy one", {{100, 1000}, {101, 3000}, {102, 0, 3000}}},
        {"a stale bucket reads as 0", {{100, 1000}, {101, 3000}, {101, 0, 2000}, {103, 0, 0}, {200, 0, 0}}},
        {"a pause of more than 2 s starts over", {{100, 1000}, {104, 500}, {104, 0, 500}}},
        {"two quiet seconds empty both buckets", {{100, 1000}, {101, 3000}, {103, 600}, {103, 0, 600}}},
        {"one quiet second empties only its bucket", {{100, 1000}, {101, 3000}, {102, 400}, {102, 0, 1700}}},
        {"a clock that went back starts over", {{100, 1000}, {90, 300}, {90, 0, 300}}},
        {"the same second adds up", {{100, 1000}, {100, 1000}, {100, 0, 2000}}},
    };
    for (const auto& s : scenarios) {
        SCOPED_TRACE(s.what);
        CSpeedAnalytics speed;
        for (const auto& step : s.steps) {
            if (step.bytes) speed.AddBytesAt(step.bytes, step.second);
            if (step.rate >= 0) {
                EXPECT_EQ(speed.GetRateAt(step.second), step.rate) << "second " << step.second;
            }
        }
    }
}

TEST(SpeedAnalytics, SpeedTextFollowsTheRate) {
    CSpeedAnalytics idle;
    std::wstring text;
    idle.GetSpeedText(text);
    EXPECT_EQ(text, L"0 B/s");

    CSpeedAnalytics busy;
    uint32_t now = CSpeedAnalytics::CurrentSecond();
    busy.AddBytesAt(1536, now);
    if (CSpeedAnalytics::CurrentSecond() == now) {  // the clock may just have turned
        busy.GetSpeedText(text);
        EXPECT_EQ(text, L"1.50 K/s");
    }
}

TEST(SpeedAnalytics, CountingFromManyThreadsLosesNothingWithinOneSecond) {
    CNodeInfo node;
    const uint32_t second = 5000;
    node.AddBytesAt(1, second);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                node.AddBytesAt(1, second);
                node.AddSentBytes(2);
                node.CountConnectAttempt();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(node.GetRateAt(second), 40001u);
    EXPECT_EQ(node.bytesSent, 80000.0);
    EXPECT_EQ(node.connectAttempts, 40000);
}

}  // namespace
