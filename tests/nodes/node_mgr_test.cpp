#include "nodes/node_mgr.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "nodes/account/account_replies.h"
#include "nodes/account/json_read.h"

namespace {

NodeParams Params(const std::string& host, uint16_t port, int origin = NodeOriginUser) {
    NodeParams p;
    p.originOrId = origin;
    p.type = NodeTypeSSR;
    p.host = host;
    p.port = port;
    p.method = "aes-256-cfb";
    p.protocol = "origin";
    p.obfs = "plain";
    return p;
}

// Each test starts with a fresh list, as a run of the program does.
class NodeMgrTest : public ::testing::Test {
protected:
    void SetUp() override { mgr = CNodeMgr::GetInstance(); }
    void TearDown() override { CNodeMgr::ReleaseInstance(); }
    CNodeMgr* mgr = nullptr;
};

TEST_F(NodeMgrTest, IdsCountUpAndAreNeverReused) {
    CNodeInfo* a = mgr->AddNode(Params("a.example", 1));
    CNodeInfo* b = mgr->AddNode(Params("b.example", 2));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->id, 0);
    EXPECT_EQ(b->id, 1);
    EXPECT_EQ(mgr->RemoveNode(0), 1);
    // Refused nodes and links take no id; an accepted link takes the next.
    EXPECT_EQ(mgr->AddNode(Params("", 1)), nullptr);
    EXPECT_EQ(mgr->AddNodeFromLink("ss://rot13:pw@h.example:1"), nullptr);
    CNodeInfo* c = mgr->AddNodeFromLink("ss://rc4-md5:pw@h.example:1");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->id, 2);
    EXPECT_EQ(mgr->NextNodeId(0), 3);
    EXPECT_EQ(mgr->NextNodeId(0), 3);
}

TEST_F(NodeMgrTest, AddRefusesMissingHostOrPort) {
    struct Case {
        const char* host;
        uint16_t port;
        bool accepted;
    };
    const Case cases[] = {
        {"h.example", 1, true}, {"h.example", 65535, true}, {"  h.example  ", 80, true},
        {"", 80, false},        {"    ", 80, false},        {"h.example", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        CNodeInfo* node = mgr->AddNode(Params(c.host, c.port));
        EXPECT_EQ(node != nullptr, c.accepted);
        if (node) {
            EXPECT_EQ(node->host, "h.example");
        }
    }
    EXPECT_EQ(mgr->GetNodeCount(), 3u);
    // A node built elsewhere is held to the same rule.
    auto empty = std::make_unique<CNodeInfo>();
    empty->host = "  ";
    empty->port = 80;
    EXPECT_EQ(mgr->AddNodeObject(std::move(empty)), nullptr);
    EXPECT_EQ(mgr->AddNodeObject(nullptr), nullptr);
    EXPECT_EQ(mgr->GetNodeCount(), 3u);
}

TEST_F(NodeMgrTest, AddNormalisesUnknownNames) {
    NodeParams p = Params("h.example", 1, NodeOriginService);
    p.method = "AES-256-CFB";
    p.obfs = "";
    p.protocol = "auth_sha1_v4";
    CNodeInfo* kept = mgr->AddNode(p);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->method, "AES-256-CFB");
    EXPECT_EQ(kept->obfs, "plain");
    EXPECT_EQ(kept->protocol, "auth_sha1_v4");
    EXPECT_EQ(kept->origin, NodeOriginService);
    EXPECT_EQ(kept->lastTestResult, -1);

    p.obfs = "Tls1.2_Ticket_Auth";
    p.protocol = "nonsense";
    CNodeInfo* fixed = mgr->AddNode(p);
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->obfs, "Tls1.2_Ticket_Auth");
    EXPECT_EQ(fixed->protocol, "origin");

    // Only Shadowsocks nodes need a cipher; other types' unknown names read "none".
    p.type = NodeTypeSocks5;
    p.method = "rot13";
    CNodeInfo* socks = mgr->AddNode(p);
    ASSERT_NE(socks, nullptr);
    EXPECT_EQ(socks->method, "none");

    // A link of the program's own scheme leaves plug-in names empty: the list fills them in.
    CNodeInfo* linked = mgr->AddNodeFromLink("xvantor://u:chacha20:pw@6:h.example:8388");
    ASSERT_NE(linked, nullptr);
    EXPECT_EQ(linked->protocol, "origin");
    EXPECT_EQ(linked->obfs, "plain");
}

// A Shadowsocks node whose method names no cipher would carry the user's
// traffic in clear: refused on every way into the list, with a log line.
TEST_F(NodeMgrTest, ShadowsocksNodesNeedAKnownCipherOnEveryWayIn) {
    struct Way {
        const char* name;
        std::function<CNodeInfo*(CNodeMgr*, const std::string& method)> add;
    };
    const Way ways[] = {
        {"AddNode", [](CNodeMgr* m, const std::string& method) {
             NodeParams p = Params("h.example", 8388);
             p.method = method;
             return m->AddNode(p);
         }},
        {"EditNode", [](CNodeMgr* m, const std::string& method) -> CNodeInfo* {
             CNodeInfo* node = m->AddNode(Params("h.example", 8388));
             NodeParams p = Params("h.example", 8389);
             p.originOrId = node->id;
             p.method = method;
             CNodeInfo* edited = m->EditNode(p);
             // A refused edit changes nothing.
             if (!edited) {
                 EXPECT_TRUE(node->method == "aes-256-cfb" && node->port == 8388);
             }
             return edited;
         }},
        {"ss link", [](CNodeMgr* m, const std::string& method) {
             return m->AddNodeFromLink("ss://" + method + ":pw@h.example:8388");
         }},
        {"ssr link", [](CNodeMgr* m, const std::string& method) {
             return m->AddNodeFromLink("ssr://h.example:8388:origin:" + method + ":plain:cHc");
         }},
        {"own link", [](CNodeMgr* m, const std::string& method) {
             return m->AddNodeFromLink("xvantor://u:" + method + ":pw@6:h.example:8388");
         }},
        {"account list", [](CNodeMgr* m, const std::string& method) -> CNodeInfo* {
             Json::Value root;
             EXPECT_TRUE(ParseJsonText(R"({"proxylist":[{"nodelist":[{"type":6,"hostname":"h.example",)"
                                       R"("port":8388,"password":"pw","method":")" +
                                           method + R"("}]}]})",
                                       root));
             PackageRecord package;
             size_t before = m->GetNodeCount();
             ReadProxyList(root, package, *m, nullptr);
             return m->GetNodeCount() > before ? m->GetNodes().back() : nullptr;
         }},
    };
    struct Method {
        std::string method;
        bool accepted;
    };
    const Method methods[] = {
        {"aes-256-gmc", false}, {"", false}, {"none", true}, {"AES-256-GCM", true}, {"chacha20-ietf-poly1305", true},
    };
    for (const Way& way : ways) {
        for (const Method& m : methods) {
            SCOPED_TRACE(std::string(way.name) + " \"" + m.method + "\"");
            testing::internal::CaptureStderr();
            CNodeInfo* node = way.add(mgr, m.method);
            std::string log = testing::internal::GetCapturedStderr();
            if (m.accepted) {
                ASSERT_NE(node, nullptr);
                EXPECT_EQ(node->method, m.method);  // kept as written
            } else {
                EXPECT_EQ(node, nullptr);
                // Some forms refuse an empty method as a malformed record first.
                if (!m.method.empty()) {
                    EXPECT_NE(log.find("unknown cipher \"" + m.method + "\""), std::string::npos) << log;
                }
            }
        }
    }
    // SOCKS and HTTP nodes carry no cipher: an empty method is fine.
    for (int type : {NodeTypeSocks5, NodeTypeHttp}) {
        NodeParams p = Params("s.example", 1080);
        p.type = type;
        p.method = "";
        EXPECT_NE(mgr->AddNode(p), nullptr) << type;
    }
}

TEST_F(NodeMgrTest, EditChangesTheNodeInPlace) {
    CNodeInfo* node = mgr->AddNode(Params("h.example", 1, NodeOriginService));
    ASSERT_NE(node, nullptr);
    auto measured = [&] {
        node->resolvedAddress = "192.0.2.1";
        node->locationText = "Tokyo";
        node->regionText = "JP";
        node->latency = 40;
        node->AddSentBytes(100);
        node->AddReceivedBytes(100);
        node->CountConnectAttempt();
        node->CountFailedAttempt();
    };

    struct Case {
        const char* what;
        const char* host;
        const char* hostAfter;
        bool keepsResolved;
    };
    const Case cases[] = {
        {"same host in other letters", "H.EXAMPLE", "H.EXAMPLE", true},
        {"another host", " other.example ", "other.example", false},
        {"empty host keeps the old one", "   ", "other.example", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        measured();
        NodeParams p = Params(c.host, 2);
        p.originOrId = node->id;
        p.method = "Chacha20";
        p.group = "g";
        EXPECT_EQ(mgr->EditNode(p), node);
        EXPECT_EQ(node->host, c.hostAfter);
        EXPECT_EQ(node->resolvedAddress.empty(), !c.keepsResolved);
        EXPECT_EQ(node->locationText.empty(), !c.keepsResolved);
        EXPECT_EQ(node->regionText.empty(), !c.keepsResolved);
        EXPECT_EQ(node->port, 2);
        EXPECT_EQ(node->method, "Chacha20");  // kept as written
        EXPECT_EQ(node->group, "g");
        EXPECT_EQ(node->latency.load(), 0u);
        EXPECT_EQ(node->bytesSent.load(), 0.0);
        EXPECT_EQ(node->bytesReceived.load(), 0.0);
        EXPECT_EQ(node->connectAttempts.load(), 0);
        EXPECT_EQ(node->failedAttempts.load(), 0);
        EXPECT_EQ(node->id, 0);
        EXPECT_EQ(node->origin, NodeOriginService);
    }

    NodeParams unknown = Params("h.example", 1);
    unknown.originOrId = 99;
    EXPECT_EQ(mgr->EditNode(unknown), nullptr);
    NodeParams noPort = Params("h.example", 0);
    EXPECT_EQ(mgr->EditNode(noPort), nullptr);
    EXPECT_EQ(node->port, 2);
}

TEST_F(NodeMgrTest, SelectionFollowsLiveNodes) {
    mgr->SelectFirstNode();  // an empty list changes nothing
    EXPECT_EQ(mgr->GetCurrentNodeId(), -1);
    EXPECT_EQ(mgr->GetCurrentNode(), nullptr);

    CNodeInfo* a = mgr->AddNode(Params("a.example", 1));
    CNodeInfo* b = mgr->AddNode(Params("b.example", 1));
    mgr->SelectFirstNode();
    EXPECT_EQ(mgr->GetCurrentNode(), a);
    mgr->SelectNode(b);
    EXPECT_EQ(mgr->GetCurrentNodeId(), b->id);
    mgr->SelectNode(nullptr);
    mgr->SetCurrentNodeId(-1);
    mgr->SetCurrentNodeId(42);
    EXPECT_EQ(mgr->GetCurrentNode(), b);

    // The removed current node stays current by id, readable by pointer.
    EXPECT_EQ(mgr->RemoveNode(b->id), 1);
    EXPECT_EQ(mgr->RemoveNode(b->id), 0);
    EXPECT_EQ(mgr->GetCurrentNodeId(), 1);
    EXPECT_EQ(mgr->GetCurrentNode(), nullptr);
    EXPECT_EQ(mgr->HasNode(1), 0);
    EXPECT_EQ(mgr->FindNode(1), nullptr);
    EXPECT_EQ(b->host, "b.example");
    mgr->ValidateCurrentId();
    EXPECT_EQ(mgr->GetCurrentNodeId(), -1);
    EXPECT_EQ(mgr->HasNode(a->id), 1);
}

TEST_F(NodeMgrTest, RemoveServiceNodesKeepsTheUsersOwn) {
    const int origins[] = {0, 2, 1, 0, 3, 2, 0};
    std::vector<CNodeInfo*> added;
    for (int origin : origins) added.push_back(mgr->AddNode(Params("h.example", 1, origin)));
    mgr->SelectNode(added[1]);

    mgr->RemoveServiceNodes(1);
    std::vector<CNodeInfo*> left = mgr->GetNodes();
    EXPECT_EQ(left, (std::vector<CNodeInfo*>{added[0], added[3], added[6]}));
    EXPECT_EQ(mgr->GetCurrentNodeId(), 1);  // left for ValidateCurrentId
    EXPECT_EQ(added[4]->origin, 3);         // retired, still readable

    mgr->SelectNode(added[3]);
    mgr->RemoveServiceNodes(0);
    EXPECT_EQ(mgr->GetNodeCount(), 0u);
    EXPECT_EQ(mgr->GetCurrentNodeId(), -1);
    mgr->RemoveServiceNodes(0);
}

TEST_F(NodeMgrTest, TrafficIsOneAndAHalfTimesTheByteTotals) {
    std::wstring text;
    mgr->GetTrafficText(text);
    EXPECT_EQ(text, L"0 B");

    CNodeInfo* node = mgr->AddNode(Params("h.example", 1));
    node->AddSentBytes(1000);
    node->AddReceivedBytes(1048);
    EXPECT_EQ(mgr->GetTotalBytes(), 2048);
    mgr->GetTrafficText(text);
    EXPECT_EQ(text, L"3.00 K");

    // Retired nodes no longer count; huge totals are clamped, not undefined.
    CNodeInfo* huge = mgr->AddNode(Params("h.example", 1));
    huge->bytesSent = 1e30;
    EXPECT_EQ(mgr->GetTotalBytes(), INT64_MAX);
    mgr->GetTrafficText(text);
    EXPECT_FALSE(text.empty());
    mgr->RemoveNode(huge->id);
    EXPECT_EQ(mgr->GetTotalBytes(), 2048);

    node->latency = 9;
    mgr->ResetAllStatistics();
    EXPECT_EQ(mgr->GetTotalBytes(), 0);
    EXPECT_EQ(node->latency.load(), 0u);
}

// The login worker appends, edits and removes while the user interface walks
// the list, selects nodes and reads the traffic; relay threads count into
// nodes they hold. Every pointer handed out must stay readable.
TEST_F(NodeMgrTest, TwoThreadsChangeAndReadTheList) {
    constexpr int kRounds = 2000;
    std::atomic<bool> started{false};
    std::atomic<bool> done{false};

    std::thread writer([&] {
        while (!started) std::this_thread::yield();
        for (int i = 0; i < kRounds; ++i) {
            CNodeInfo* node = mgr->AddNode(Params("w" + std::to_string(i) + ".example", 1, i % 2 ? 2 : 0));
            EXPECT_NE(node, nullptr);
            if (!node) break;
            NodeParams edit = Params("e" + std::to_string(i) + ".example", 2);
            edit.originOrId = node->id;
            mgr->EditNode(edit);
            if (i % 3 == 0) mgr->RemoveNode(node->id);
            if (i % 500 == 499) mgr->RemoveServiceNodes(1);
            mgr->AddNodeFromLink("ss://rc4-md5:pw@l" + std::to_string(i) + ".example:80");
        }
        done = true;
    });

    // The reader touches only what relays and panels touch without the lock:
    // ids and counters of nodes it holds.
    std::wstring traffic;
    do {
        std::vector<CNodeInfo*> nodes = mgr->GetNodes();
        for (CNodeInfo* node : nodes) {
            node->AddSentBytes(1);
            node->AddBytes(1);
        }
        if (!nodes.empty()) mgr->SelectNode(nodes[nodes.size() / 2]);
        if (CNodeInfo* current = mgr->GetCurrentNode()) current->AddReceivedBytes(1);
        mgr->SelectFirstNode();
        mgr->GetTrafficText(traffic);
        mgr->HasNode(mgr->GetCurrentNodeId());
        mgr->ValidateCurrentId();
        started = true;
    } while (!done);
    writer.join();

    // Of the nodes added, the account service's (odd rounds) are all swept
    // and every third is removed: 666 remain, besides the 2000 links.
    std::vector<CNodeInfo*> nodes = mgr->GetNodes();
    EXPECT_EQ(nodes.size(), 666u + kRounds);
    EXPECT_EQ(mgr->GetNodeCount(), nodes.size());
    EXPECT_EQ(mgr->NextNodeId(0), 2 * kRounds);
    std::vector<int32_t> ids;
    for (CNodeInfo* node : nodes) ids.push_back(node->id);
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
}

}  // namespace

namespace {

// A connection copies its node while the user edits it: every copy is one
// edit or the other, never a mix, and never a string caught mid-rewrite.
TEST_F(NodeMgrTest, FieldCopiesAreWholeWhileTheNodeIsEdited) {
    NodeParams a = Params("alpha.example", 1000);
    a.password = "alpha-password";
    a.user = "alpha-user";
    NodeParams b = Params("a-much-longer-host-name-for-the-second-edit.example", 2000);
    b.password = std::string(300, 'b');
    b.user = "beta-user";
    CNodeInfo* node = mgr->AddNode(a);
    ASSERT_NE(node, nullptr);
    a.originOrId = b.originOrId = node->id;

    std::atomic<bool> done{false};
    std::thread editor([&] {
        for (int i = 0; i < 20000; ++i) mgr->EditNode(i % 2 ? a : b);
        done = true;
    });
    int seen[2] = {0, 0};
    do {
        NodeFields f = mgr->CopyNodeFields(*node);
        bool isA = f.host == a.host;
        const NodeParams& want = isA ? a : b;
        ASSERT_EQ(f.host, want.host);
        ASSERT_EQ(f.port, want.port);
        ASSERT_EQ(f.user, want.user);
        ASSERT_EQ(f.password, want.password);
        EXPECT_EQ(f.id, node->id);
        ++seen[isA];
    } while (!done);
    editor.join();
    EXPECT_GT(seen[0] + seen[1], 0);
}

}  // namespace
