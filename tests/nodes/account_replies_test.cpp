#include "nodes/account/account_replies.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nodes/account/json_read.h"
#include "nodes/node_mgr.h"

namespace {

TEST(AccountReplies, Envelope) {
    struct Case {
        std::string body;
        int result;
        std::string error;  // the last error afterwards; it starts as "before"
    };
    const Case cases[] = {
        {R"({"errcode":0})", 1, "before"},
        {R"({"errcode":"0","errmsg":"fine"})", 1, "before"},
        {R"({"errcode":0.7})", 1, "before"},
        {R"({"errcode":false})", 1, "before"},
        {R"({"errcode":null})", 1, "before"},
        {R"({"errcode":[]})", 1, "before"},
        {R"({"errcode":{}})", 1, "before"},
        {R"({"errcode":"abc"})", 1, "before"},
        {R"({"errcode":5})", 0, "Error Code: 5"},
        {R"({"errcode":-1,"errmsg":""})", 0, "Error Code: -1"},
        {R"({"errcode":"7","errmsg":"Wrong password"})", 0, "Wrong password"},
        {R"({"errcode":true,"errmsg":5})", 0, "Error Code: 1"},
        {R"({"errcode":1e300})", 0, "Error Code: 2147483647"},
        {R"({"errcode":"2","errmsg":"\u5bc6\u7801\u9519\u8bef"})", 0,
         "\xe5\xaf\x86\xe7\xa0\x81\xe9\x94\x99\xe8\xaf\xaf"},
        {"", 0, "Empty resp."},
        {"[1,2]", 0, "Resp data error."},
        {"7", 0, "Resp data error."},
        {"\"errcode\"", 0, "Resp data error."},
        {R"({"errmsg":"no code"})", 0, "Resp data error."},
        {R"({"errcode":0)", 0, R"(Can not parse resp: {"errcode":0)"},
        {"<html>\r\n<b>502</b>\x01</html>", 0, "Can not parse resp: <html>  <b>502</b> </html>"},
        {std::string(100000, '['), 0, "Can not parse resp: " + std::string(200, '[')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 60));
        std::string error = "before";
        Json::Value root;
        EXPECT_EQ(ParseReplyEnvelope(c.body, root, error), c.result);
        EXPECT_EQ(error, c.error);
        if (c.result) {
            EXPECT_TRUE(root.isObject());
        }
    }
}

TEST(AccountReplies, ErrorTextKeepsAtMost200BytesWholeCharacters) {
    // 199 ASCII bytes and then a three-byte character that straddles the cut.
    std::string body = std::string(199, 'a') + "\xe4\xb8\xad" + "tail";
    EXPECT_EQ(ShortenBodyForError(body), std::string(199, 'a'));
    body = std::string(198, 'a') + "\xe4\xb8\xad" + "tail";
    EXPECT_EQ(ShortenBodyForError(body), std::string(198, 'a'));
    body = std::string(197, 'a') + "\xe4\xb8\xad" + "tail";
    EXPECT_EQ(ShortenBodyForError(body), std::string(197, 'a') + "\xe4\xb8\xad");
    body = std::string(196, 'a') + "\xe4\xb8\xad" + "tail";
    EXPECT_EQ(ShortenBodyForError(body), std::string(196, 'a') + "\xe4\xb8\xad" + "t");
    EXPECT_EQ(ShortenBodyForError(std::string(50 << 20, 'x')).size(), 200u);
    EXPECT_EQ(ShortenBodyForError(std::string("a\0b\x7f\n", 5)), "a b  ");
}

class ProxyListTest : public ::testing::Test {
protected:
    void SetUp() override { mgr = CNodeMgr::GetInstance(); }
    void TearDown() override { CNodeMgr::ReleaseInstance(); }

    // Reads `json` as a proxy-list reply; returns the parser's result.
    int Read(const std::string& json, size_t* added = nullptr) {
        Json::Value root;
        EXPECT_TRUE(ParseJsonText(json, root)) << json;
        return ReadProxyList(root, package, *mgr, added);
    }
    // One entry holding one node with `members` after a valid base.
    CNodeInfo* ReadOne(const std::string& members) {
        std::string json = R"({"errcode":0,"proxylist":[{"nodelist":[{"hostname":"h.example","port":8388,)"
                           R"("password":"pw","method":"aes-256-cfb")" +
                           (members.empty() ? "" : "," + members) + "}]}]}";
        size_t before = mgr->GetNodeCount();
        EXPECT_EQ(Read(json), 1);
        auto nodes = mgr->GetNodes();
        return nodes.size() > before ? nodes.back() : nullptr;
    }

    CNodeMgr* mgr = nullptr;
    PackageRecord package;
};

TEST_F(ProxyListTest, TwoEntriesOfThreeNodesEach) {
    const std::string reply = R"({"errcode":0,"proxylist":[
      {"paymentmethod":"alipay","paymentmethodname":"Alipay","billingcycle":"Monthly","nextduedate":"2030-01-31",
       "traffic_remaining":"10 GB","nodelist":[
        {"type":6,"name":"Tokyo 1","hostname":"jp1.example","port":443,"password":"p1","method":"aes-256-cfb",
         "protocol":"auth_sha1_v4_compatible","protocolparam":"","obfs":"http_simple_compatible",
         "obfsparam":"cdn.example","traffic_remaining":1.5e9,"product_name":"Gold","group_name":"Asia"},
        {"name":"Tokyo 2","hostname":" jp2.example ","port":"8388","password":" p2 ","method":" chacha20-ietf ",
         "protocol":"origin","obfs":"plain","traffic_remaining":"123abc","product_name":"","group_name":"Asia"},
        {"type":5,"name":"Socks","hostname":"s.example","port":1080,"password":"x","method":"whatever"}]},
      {"nextduedate":"2031-12-31","traffic_remaining":"20 GB","nodelist":[
        {"hostname":"a.example","port":1,"password":"a","method":"rc4-md5","protocol":"auth_chain_a","obfs":"tls1.2_ticket_auth"},
        {"hostname":"b.example","port":65535,"password":"b","method":"xchacha20-ietf-poly1305"},
        {"type":3,"hostname":"c.example","port":3128,"password":"c","method":"none","protocol":"fancy","obfs":"fancy"}]}]})";
    size_t added = 0;
    ASSERT_EQ(Read(reply, &added), 1);
    EXPECT_EQ(added, 6u);
    auto nodes = mgr->GetNodes();
    ASSERT_EQ(nodes.size(), 6u);
    for (size_t i = 0; i < nodes.size(); ++i) {
        EXPECT_EQ(nodes[i]->id, static_cast<int32_t>(i));
        EXPECT_EQ(nodes[i]->origin, NodeOriginService);
        EXPECT_EQ(nodes[i]->countryIndex, -1);
    }
    const CNodeInfo& a = *nodes[0];
    EXPECT_EQ(a.type, NodeTypeSSR);
    EXPECT_EQ(a.remarks, "Tokyo 1");
    EXPECT_EQ(a.host, "jp1.example");
    EXPECT_EQ(a.port, 443);
    EXPECT_EQ(a.password, "p1");
    EXPECT_EQ(a.method, "aes-256-cfb");
    EXPECT_EQ(a.protocol, "auth_sha1_v4");
    EXPECT_EQ(a.obfs, "http_simple");
    EXPECT_EQ(a.obfsParam, "cdn.example");
    EXPECT_EQ(a.trafficRemaining, 1500000000);
    EXPECT_EQ(a.group, "Gold");
    EXPECT_EQ(a.paymentMethod, "alipay");
    EXPECT_EQ(a.paymentMethodName, "Alipay");
    EXPECT_EQ(a.billingCycle, "Monthly");
    EXPECT_EQ(a.nextDueDate, "2030-01-31");
    const CNodeInfo& b = *nodes[1];
    EXPECT_EQ(b.type, NodeTypeSSR);  // no "type"
    EXPECT_EQ(b.host, "jp2.example");
    EXPECT_EQ(b.port, 8388);
    EXPECT_EQ(b.password, "p2");
    EXPECT_EQ(b.method, "chacha20-ietf");
    EXPECT_EQ(b.trafficRemaining, 123);
    EXPECT_EQ(b.group, "Asia");  // empty product name
    const CNodeInfo& c = *nodes[2];
    EXPECT_EQ(c.type, NodeTypeSocks5);
    EXPECT_EQ(c.method, "none");  // not a Shadowsocks node: an unknown cipher is harmless
    EXPECT_EQ(c.group, "");
    // The package texts are the second entry's own, not carried over.
    EXPECT_EQ(nodes[3]->paymentMethod, "");
    EXPECT_EQ(nodes[3]->nextDueDate, "2031-12-31");
    EXPECT_EQ(nodes[3]->protocol, "auth_chain_a");
    EXPECT_EQ(nodes[3]->obfs, "tls1.2_ticket_auth");
    EXPECT_EQ(nodes[4]->port, 65535);
    EXPECT_EQ(nodes[5]->protocol, "origin");
    EXPECT_EQ(nodes[5]->obfs, "plain");
    EXPECT_EQ(package.TrafficRemaining(), "20 GB");
    for (size_t i = 0; i < PackageRecord::kCount; ++i) {
        if (i != PackageRecord::kTrafficRemaining) {
            EXPECT_EQ(package.texts[i], "");
        }
    }
}

TEST_F(ProxyListTest, NodesThatAreSkipped) {
    // Each node alone in an otherwise valid reply; none of them may be added.
    const char* refused[] = {
        R"({"port":8388,"password":"pw","method":"aes-256-cfb"})",
        R"({"hostname":"","port":8388,"password":"pw","method":"aes-256-cfb"})",
        R"({"hostname":" ","port":8388,"password":"pw","method":"aes-256-cfb"})",
        R"({"hostname":"h.example","password":"pw","method":"aes-256-cfb"})",
        R"({"hostname":"h.example","port":0,"password":"pw","method":"aes-256-cfb"})",
        R"({"hostname":"h.example","port":70000,"password":"pw","method":"aes-256-cfb"})",
        R"({"hostname":"h.example","port":65536,"password":"pw","method":"aes-256-cfb"})",
        R"({"hostname":"h.example","port":-1,"password":"pw","method":"aes-256-cfb"})",
        R"({"hostname":"h.example","port":"http","password":"pw","method":"aes-256-cfb"})",
        R"({"hostname":"h.example","port":8388,"method":"aes-256-cfb"})",
        R"({"hostname":"h.example","port":8388,"password":"","method":"aes-256-cfb"})",
        R"({"hostname":"h.example","port":8388,"password":"pw"})",
        R"({"hostname":"h.example","port":8388,"password":"pw","method":"rot13"})",
        R"({"type":6,"hostname":"h.example","port":8388,"password":"pw","method":"aes-256-cfb-x"})",
        R"({"hostname":"h.example\r\nX-Injected: 1","port":8388,"password":"pw","method":"aes-256-cfb"})",
        R"({"hostname":"h.example\nevil","port":8388,"password":"pw","method":"aes-256-cfb"})",
        R"({"hostname":"h.exa\u0000mple","port":8388,"password":"pw","method":"aes-256-cfb"})",
        R"({"hostname":"h example","port":8388,"password":"pw","method":"aes-256-cfb"})",
        R"({"hostname":"h\texample","port":8388,"password":"pw","method":"aes-256-cfb"})",
        // Members of the wrong kind read by the lenient rules.
        R"({"hostname":5,"port":8388,"password":"pw","method":"aes-256-cfb"})",
        R"({"hostname":"h.example","port":[8388],"password":"pw","method":"aes-256-cfb"})",
        R"({"hostname":"h.example","port":8388,"password":{"a":1},"method":"aes-256-cfb"})",
        R"({"hostname":"h.example","port":8388,"password":"pw","method":null})",
        "[]",
        "\"node\"",
        "7",
        "null",
    };
    for (const char* node : refused) {
        SCOPED_TRACE(node);
        size_t added = 9;
        EXPECT_EQ(Read(std::string(R"({"errcode":0,"proxylist":[{"nodelist":[)") + node + "]}]}", &added), 1);
        EXPECT_EQ(added, 0u);
        EXPECT_EQ(mgr->GetNodeCount(), 0u);
    }
}

TEST_F(ProxyListTest, MembersOfOtherKindsAreReadLeniently) {
    struct Case {
        const char* members;
        int32_t type;
        int64_t traffic;
        const char* remarks;
        const char* group;
    };
    const Case cases[] = {
        {R"("type":"5","traffic_remaining":"77")", 5, 77, "", ""},
        {R"("type":99,"traffic_remaining":-2.9)", 99, -2, "", ""},
        {R"("type":null,"traffic_remaining":null)", 0, 0, "", ""},
        {R"("type":true,"traffic_remaining":true)", 1, 1, "", ""},
        {R"("port":true)", 6, 0, "", ""},
        {R"("traffic_remaining":1e30)", 6, INT64_MAX, "", ""},
        {R"("traffic_remaining":"-1e30")", 6, -1, "", ""},
        {R"("name":12,"product_name":7,"group_name":"G")", 6, 0, "", "G"},
        {R"("name":true,"product_name":["x"],"group_name":{"a":1})", 6, 0, "true", ""},
        {R"("name":"  spaced  ","product_name":"P","group_name":"G")", 6, 0, "spaced", "P"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.members);
        CNodeInfo* node = ReadOne(c.members);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->type, c.type);
        EXPECT_EQ(node->trafficRemaining, c.traffic);
        EXPECT_EQ(node->remarks, c.remarks);
        EXPECT_EQ(node->group, c.group);
    }
}

TEST_F(ProxyListTest, NamesAreStrippedAndNormalised) {
    CNodeInfo* n =
        ReadOne(R"("method":" AES-256-CFB ","protocol":" auth_aes128_md5_compatible ",)"
                R"("obfs":"tls1.2_ticket_auth_compatible","protocolparam":" 1:x ","obfsparam":" o ")");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->method, "AES-256-CFB");
    EXPECT_EQ(n->protocol, "auth_aes128_md5");
    EXPECT_EQ(n->obfs, "tls1.2_ticket_auth");
    EXPECT_EQ(n->protocolParam, "1:x");
    EXPECT_EQ(n->obfsParam, "o");
    n = ReadOne(R"("protocol":"auth_sha1_v9","obfs":"http_weird")");
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->protocol, "origin");
    EXPECT_EQ(n->obfs, "plain");
}

TEST_F(ProxyListTest, EntriesAndTheirPackageText) {
    struct Case {
        const char* list;
        int result;
        const char* traffic;  // position 22 afterwards; starts as "old"
    };
    const Case cases[] = {
        {R"("proxylist":[])", 1, "old"},
        {R"("proxylist":[{"traffic_remaining":"5 GB"}])", 1, "old"},  // no nodelist: skipped whole
        {R"("proxylist":[{"traffic_remaining":"5 GB","nodelist":{}}])", 1, "5 GB"},
        {R"("proxylist":[{"traffic_remaining":"5 GB","nodelist":null}])", 1, "5 GB"},
        {R"("proxylist":[{"traffic_remaining":"1","nodelist":[]},{"traffic_remaining":"2","nodelist":[]}])",
         1, "2"},
        {R"("proxylist":[{"traffic_remaining":"1","nodelist":[]},{"nodelist":[]}])", 1, "1"},
        {R"("proxylist":[{"traffic_remaining":3.5,"nodelist":[]}])", 1, ""},
        {R"("proxylist":[1,"x",null,[],{"traffic_remaining":"9","nodelist":[]}])", 1, "9"},
        {R"("proxylist":{})", 0, "old"},
        {R"("proxylist":"x")", 0, "old"},
        {R"("proxylist":null)", 0, "old"},
        {R"("other":[])", 0, "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        package.texts[PackageRecord::kTrafficRemaining] = "old";
        EXPECT_EQ(Read(std::string(R"({"errcode":0,)") + c.list + "}"), c.result);
        EXPECT_EQ(package.TrafficRemaining(), c.traffic);
    }
    EXPECT_EQ(mgr->GetNodeCount(), 0u);
}

TEST_F(ProxyListTest, CurrentNodeIsValidatedAfterAdding) {
    NodeParams p;
    p.host = "user.example";
    p.port = 1;
    CNodeInfo* own = mgr->AddNode(p);
    ASSERT_NE(own, nullptr);
    mgr->SelectNode(own);
    mgr->RemoveNode(own->id);
    ASSERT_EQ(mgr->GetCurrentNodeId(), own->id);
    ASSERT_NE(ReadOne(""), nullptr);
    EXPECT_EQ(mgr->GetCurrentNodeId(), -1);
}

class ProductTest : public ::testing::Test {
protected:
    int Read(const std::string& products) {
        Json::Value root;
        EXPECT_TRUE(ParseJsonText(R"({"errcode":0,)" + products + "}", root)) << products;
        return ReadProducts(root, list);
    }
    std::vector<ProductRecord> list;
};

std::string Product(const std::string& domain, const std::string& options) {
    return R"({"id":"1","name":"Gold","domain":)" + domain + R"(,"configoptions":{"configoption":[)" +
           options + "]}}";
}

TEST_F(ProductTest, EveryMemberAndTheChineseOptions) {
    const std::string reply =
        R"("product":[{"id":"11","clientid":"12","orderid":"13","pid":"14","regdate":"2020-01-01",
      "name":"Gold","translated_name":"TGold","groupname":"Grp","translated_groupname":"TGrp","domain":"443",
      "dedicatedip":"1.2.3.4","serverid":"7","servername":"srv","serverip":"5.6.7.8","serverhostname":"srv.example",
      "suspensionreason":"none","firstpaymentamount":"1.00","recurringamount":"2.00","paymentmethod":"alipay",
      "paymentmethodname":"Alipay","billingcycle":"Monthly","nextduedate":"2030-01-31","status":"Active",
      "username":"u","password":"p&+","subscriptionid":"s","promoid":"0",
      "configoptions":{"configoption":[
        {"option":"\u52a0\u5bc6\u65b9\u5f0f","value":"aes-256-cfb"},
        {"option":"\u534f\u8bae\u63d2\u4ef6","value":"auth_sha1_v4_compatible"},
        {"option":"\u6df7\u6dc6\u63d2\u4ef6","value":"http_simple_compatible"},
        {"option":"\u540c\u65f6\u5728\u7ebf\u8bbe\u5907\u6570:","value":"3"},
        {"option":"Bandwidth","value":"100M"}]}}])";
    ASSERT_EQ(Read(reply), 1);
    ASSERT_EQ(list.size(), 1u);
    const ProductRecord& r = list[0];
    EXPECT_EQ(r.id, "11");
    EXPECT_EQ(r.clientid, "12");
    EXPECT_EQ(r.orderid, "13");
    EXPECT_EQ(r.pid, "14");
    EXPECT_EQ(r.regdate, "2020-01-01");
    EXPECT_EQ(r.name, "Gold");
    EXPECT_EQ(r.translated_name, "TGold");
    EXPECT_EQ(r.groupname, "Grp");
    EXPECT_EQ(r.translated_groupname, "TGrp");
    EXPECT_EQ(r.domain, 443);
    EXPECT_EQ(r.dedicatedip, "1.2.3.4");
    EXPECT_EQ(r.serverid, "7");
    EXPECT_EQ(r.servername, "srv");
    EXPECT_EQ(r.serverip, "5.6.7.8");
    EXPECT_EQ(r.serverhostname, "srv.example");
    EXPECT_EQ(r.suspensionreason, "none");
    EXPECT_EQ(r.firstpaymentamount, "1.00");
    EXPECT_EQ(r.recurringamount, "2.00");
    EXPECT_EQ(r.paymentmethod, "alipay");
    EXPECT_EQ(r.paymentmethodname, "Alipay");
    EXPECT_EQ(r.billingcycle, "Monthly");
    EXPECT_EQ(r.nextduedate, "2030-01-31");
    EXPECT_EQ(r.status, "Active");
    EXPECT_EQ(r.username, "u");
    EXPECT_EQ(r.password, "p&+");
    EXPECT_EQ(r.subscriptionid, "s");
    EXPECT_EQ(r.promoid, "0");
    EXPECT_EQ(r.encryptMethod, "aes-256-cfb");
    EXPECT_EQ(r.protocol, "auth_sha1_v4");
    EXPECT_EQ(r.obfs, "http_simple");
    EXPECT_EQ(r.onlineDevices, "3");
    // The list only grows: a second reply appends.
    ASSERT_EQ(Read(reply), 1);
    EXPECT_EQ(list.size(), 2u);
}

TEST_F(ProductTest, WhichProductsAreKept) {
    const std::string method = R"({"option":"\u52a0\u5bc6\u65b9\u5f0f","value":"rc4-md5"})";
    struct Case {
        std::string products;
        int result;
        size_t kept;
    };
    const Case cases[] = {
        {"\"product\":[" + Product("\"443\"", method) + "]", 1, 1},
        {"\"product\":[" + Product("\"0\"", method) + "]", 0, 0},
        {"\"product\":[" + Product("443", method) + "]", 0, 0},  // a number read as text is empty
        {"\"product\":[" + Product("\"80abc\"", method) + "]", 1, 1},
        {"\"product\":[" + Product("\"443\"", "") + "]", 0, 0},
        {"\"product\":[" + Product("\"443\"", R"({"option":"\u52a0\u5bc6\u65b9\u5f0f","value":""})") + "]", 0,
         0},
        {"\"product\":[" + Product("\"443\"", R"({"option":"\u52a0\u5bc6\u65b9\u5f0f"})") + "]", 0, 0},
        {"\"product\":[" + Product("\"443\"", R"({"option":"\u52a0\u5bc6\u65b9\u5f0f ","value":"x"})") + "]",
         0, 0},
        {"\"product\":[" + Product("\"443\"", R"(["\u52a0\u5bc6\u65b9\u5f0f","x"],7,null)") + "]", 0, 0},
        {R"("product":[{"domain":"443","configoptions":{"configoption":{"option":"x"}}}])", 0, 0},
        {R"("product":[{"domain":"443","configoptions":[]}])", 0, 0},
        {"\"product\":[1,\"x\",null," + Product("\"1\"", method) + "]", 1, 1},
        {R"("product":{})", 0, 0},
        {R"("product":"")", 0, 0},
        {R"("nothing":1)", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.products);
        list.clear();
        EXPECT_EQ(Read(c.products), c.result);
        EXPECT_EQ(list.size(), c.kept);
    }
    // Earlier records count toward the result.
    list.clear();
    ASSERT_EQ(Read("\"product\":[" + Product("\"443\"", method) + "]"), 1);
    EXPECT_EQ(Read(R"("product":[])"), 1);
    EXPECT_EQ(Read(R"("product":{})"), 0);
}

TEST_F(ProductTest, OptionNamesMatchWholeAndLaterValuesReplace) {
    const std::string options =
        R"({"option":"\u52a0\u5bc6\u65b9\u5f0f","value":"first"},{"option":"\u52a0\u5bc6\u65b9\u5f0f","value":"second"},)"
        R"({"option":"\u540c\u65f6\u5728\u7ebf\u8bbe\u5907\u6570","value":"no colon"})";
    ASSERT_EQ(Read("\"product\":[" + Product("\"1\"", options) + "]"), 1);
    // Each option sets its field; a later option of the same name replaces the value.
    EXPECT_EQ(list[0].encryptMethod, "second");
    EXPECT_EQ(list[0].onlineDevices, "");
}

}  // namespace
