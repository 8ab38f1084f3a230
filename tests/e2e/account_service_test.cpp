// The account-service client against the service's stand-in on loopback
// HTTPS, trusted through the configured CA file.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/app_paths.h"
#include "foundation/http_client.h"
#include "nodes/account/agent_download_proxy.h"
#include "nodes/account/service_config.h"
#include "nodes/node_info.h"
#include "nodes/node_mgr.h"
#include "tests/support/account_service.h"
#include "tests/support/http_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_ca.h"

using testsupport::AccountServiceStandIn;
using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::HttpTestServer;

namespace {

class AccountClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitAppPaths(dir / "cendrow");
        ca.WriteCertificate(caFile);
        CNodeMgr::ReleaseInstance();
        CAgentDownloadProxy::ReleaseInstance();
        client = CAgentDownloadProxy::GetInstance();
    }
    void TearDown() override {
        CAgentDownloadProxy::ReleaseInstance();
        CNodeMgr::ReleaseInstance();
        SetServiceConfig(ServiceConfig());
    }

    void Configure(const std::string& main, const std::string& fallback, long timeout = 30) {
        ServiceConfig config;
        config.accountBaseUrl = main;
        config.accountFallbackUrl = fallback;
        config.caFile = caFile.string();
        config.accountTimeout = timeout;
        SetServiceConfig(config);
    }
    testsupport::IssuedCertificate Cert() { return ca.Issue({"127.0.0.1"}); }
    // The account the stand-in knows by default.
    void UseServiceAccount() { client->SetAccount("user+tag@example.com", "p&ss+w rd=\xC3\xBC"); }

    testsupport::TempDir dir{"cendrow-account"};
    std::filesystem::path caFile = dir / "account-ca.pem";
    testsupport::TestCertificateAuthority ca;
    CAgentDownloadProxy* client = nullptr;
};

std::string ExpectedBody(const std::string& command, const std::string& email, const std::string& password,
                         const char* token) {
    std::string body = "command=" + command + "&acctoken=wokz&email=" + AccountServiceStandIn::Encode(email) +
                       "&password=" + AccountServiceStandIn::Encode(password);
    if (token) body += std::string("&token=") + token;
    return body;
}

TEST_F(AccountClientTest, LoginThenTheAccountsNodesPackagesAndProducts) {
    AccountServiceStandIn service(Cert());
    AccountServiceStandIn fallback(Cert());
    Configure(service.BaseUrl(), fallback.BaseUrl());
    // A node of the user's own stays and keeps its id.
    NodeParams own;
    own.originOrId = NodeOriginUser;
    own.type = NodeTypeSocks5;
    own.host = "own.example.net";
    own.port = 1080;
    ASSERT_NE(CNodeMgr::GetInstance()->AddNode(own), nullptr);

    const std::string email = "user+tag@example.com";
    const std::string password = "p&ss+w rd=\xC3\xBC";
    client->SetAccountW(L"user+tag@example.com", L"p&ss+w rd=\u00FC");
    ASSERT_EQ(client->Login(), 1) << client->GetLastErrorText();
    EXPECT_EQ(client->IsLoggedIn(), 1);
    EXPECT_EQ(client->GetToken(), 4242u);
    ASSERT_EQ(client->GetAllProxyList(), 1) << client->GetLastErrorText();

    std::vector<CNodeInfo*> nodes = CNodeMgr::GetInstance()->GetNodes();
    ASSERT_EQ(nodes.size(), 7u);
    struct Want {
        int type;
        const char* host;
        uint16_t port;
        const char* password;
        const char* method;
        const char* remarks;
        const char* protocol;
        const char* protocolParam;
        const char* obfs;
        const char* obfsParam;
        int64_t traffic;
        const char* group;
        const char* nextDueDate;
        const char* paymentMethod;
        const char* paymentMethodName;
        const char* billingCycle;
    };
    const Want want[] = {
        {6, "jp1.example.net", 8388, "pw1", "aes-256-cfb", "Tokyo 1", "auth_sha1_v4", "", "http_simple", "cdn.example",
         1500000000, "Gold", "2027-01-31", "alipay", "Alipay", "Monthly"},
        {6, "jp2.example.net", 8389, "pw2", "chacha20-ietf-poly1305", "Tokyo 2", "origin", "", "plain", "", 123,
         "Silver", "2027-01-31", "alipay", "Alipay", "Monthly"},
        {5, "socks.example.net", 1080, "true", "none", "", "origin", "", "plain", "", 0, "Socks", "2027-01-31",
         "alipay", "Alipay", "Monthly"},
        {6, "de.example.net", 9000, "pw3", "aes-128-gcm", "Frankfurt", "auth_chain_a", "12:ab", "tls1.2_ticket_auth",
         "de.example", 0, "", "2027-06-30", "paypal", "PayPal", "Annually"},
        {3, "http.example.net", 3128, "pw4", "none", "HTTP", "origin", "", "plain", "", 0, "", "2027-06-30", "paypal",
         "PayPal", "Annually"},
        {5, "s5.example.net", 1081, "pw5", "none", "SOCKS", "origin", "", "plain", "", 0, "", "2027-06-30", "paypal",
         "PayPal", "Annually"},
    };
    EXPECT_EQ(nodes[0]->host, "own.example.net");
    for (size_t i = 0; i < std::size(want); ++i) {
        SCOPED_TRACE(i);
        const CNodeInfo& n = *nodes[i + 1];
        const Want& w = want[i];
        EXPECT_EQ(n.id, nodes[0]->id + static_cast<int>(i) + 1);  // consecutive, in reply order
        EXPECT_EQ(n.type, w.type);
        EXPECT_EQ(n.host, w.host);
        EXPECT_EQ(n.port, w.port);
        EXPECT_EQ(n.password, w.password);
        EXPECT_EQ(n.method, w.method);
        EXPECT_EQ(n.remarks, w.remarks);
        EXPECT_EQ(n.protocol, w.protocol);
        EXPECT_EQ(n.protocolParam, w.protocolParam);
        EXPECT_EQ(n.obfs, w.obfs);
        EXPECT_EQ(n.obfsParam, w.obfsParam);
        EXPECT_EQ(n.trafficRemaining, w.traffic);
        EXPECT_EQ(n.group, w.group);
        EXPECT_EQ(n.nextDueDate, w.nextDueDate);
        EXPECT_EQ(n.paymentMethod, w.paymentMethod);
        EXPECT_EQ(n.paymentMethodName, w.paymentMethodName);
        EXPECT_EQ(n.billingCycle, w.billingCycle);
        EXPECT_EQ(n.origin, NodeOriginService);
        EXPECT_EQ(n.countryIndex, -1);
    }
    // The last entry that carries the remaining traffic wins, also one
    // whose node list is no array; an entry without a node list does not count.
    EXPECT_EQ(client->GetPackageInfo().texts[21], "5 GB left");
    for (size_t i = 0; i < PackageRecord::kCount; ++i) {
        if (i != 21) {
            EXPECT_EQ(client->GetPackageInfo().texts[i], "") << i;
        }
    }

    ASSERT_EQ(client->GetProduct(), 1) << client->GetLastErrorText();
    ASSERT_EQ(client->GetProducts().size(), 1u);
    const ProductRecord& p = client->GetProducts()[0];
    EXPECT_EQ(p.id, "11");
    EXPECT_EQ(p.domain, 443);
    EXPECT_EQ(p.serverhostname, "jp1.example.net");
    EXPECT_EQ(p.encryptMethod, "aes-256-cfb");
    EXPECT_EQ(p.protocol, "auth_sha1_v4");
    EXPECT_EQ(p.obfs, "http_simple");
    EXPECT_EQ(p.onlineDevices, "3");

    // The refreshed token comes back as text this time, and replaces the old one.
    service.SetToken(4242, true);
    ASSERT_EQ(client->GetClientInfo(), 1) << client->GetLastErrorText();
    EXPECT_EQ(client->GetToken(), 4243u);
    ASSERT_EQ(client->GetAllProxyList(), 1) << client->GetLastErrorText();

    EXPECT_EQ(service.Problems(), std::vector<std::string>{});
    EXPECT_EQ(service.Commands(),
              (std::vector<std::string>{"login", "allproxylist", "getproduct", "getclientinfo", "allproxylist"}));
    std::vector<HttpRequest> posts = service.Posts();
    ASSERT_EQ(posts.size(), 5u);
    // Every value percent-encoded, the password of "getproduct" too.
    EXPECT_EQ(posts[0].body, ExpectedBody("login", email, password, nullptr));
    EXPECT_EQ(posts[1].body, ExpectedBody("allproxylist", email, password, "4242"));
    EXPECT_EQ(posts[2].body, ExpectedBody("getproduct", email, password, "4242"));
    EXPECT_EQ(posts[3].body, ExpectedBody("getclientinfo", email, password, "4242"));
    EXPECT_EQ(posts[4].body, ExpectedBody("allproxylist", email, password, "4243"));
    for (const HttpRequest& req : posts) {
        EXPECT_TRUE(req.tls);
        EXPECT_FALSE(req.HasHeader("Expect")) << req.rawHead;
        EXPECT_EQ(req.Header("User-Agent"), CHttpClient::kUserAgent);
        EXPECT_EQ(req.Header("Content-Type"), "application/x-www-form-urlencoded");
    }
    EXPECT_EQ(fallback.server().RequestCount(), 0u);
}

TEST_F(AccountClientTest, LongCredentialsArriveWhole) {
    AccountServiceStandIn service(Cert());
    Configure(service.BaseUrl(), "");
    std::string email = std::string(600, 'e') + "+@example.com";
    std::string password;
    for (int i = 0; i < 700; ++i) password += "&=+ %\xE2\x82\xAC"[i % 7];
    service.SetAccount(email, password);
    client->SetAccount(email, password);
    ASSERT_EQ(client->Login(), 1) << client->GetLastErrorText();
    ASSERT_EQ(service.Posts().size(), 1u);
    EXPECT_EQ(service.Posts()[0].body, ExpectedBody("login", email, password, nullptr));
    EXPECT_EQ(service.Problems(), std::vector<std::string>{});
}

TEST_F(AccountClientTest, NoRequestWithoutAccountOrLogin) {
    AccountServiceStandIn service(Cert());
    Configure(service.BaseUrl(), service.BaseUrl());
    client->SetAccount("user@example.com", "");
    EXPECT_EQ(client->Login(), 0);
    client->SetAccount("", "secret");
    EXPECT_EQ(client->Login(), 0);
    EXPECT_EQ(client->GetAllProxyList(), 0);
    EXPECT_EQ(client->GetProduct(), 0);
    EXPECT_EQ(client->GetClientInfo(), 0);
    EXPECT_EQ(service.server().ConnectionCount(), 0);
    EXPECT_EQ(client->GetLastErrorText(), "");

    // A wrong password: the service's own message.
    client->SetAccount("user+tag@example.com", "wrong");
    EXPECT_EQ(client->Login(), 0);
    EXPECT_EQ(client->GetLastErrorText(), "Wrong e-mail or password.");
    // The text stays while no request goes out.
    client->SetAccount("user+tag@example.com", "");
    EXPECT_EQ(client->Login(), 0);
    EXPECT_EQ(client->GetLastErrorText(), "Wrong e-mail or password.");

    // A new account forgets the old one's token and logged-in state.
    UseServiceAccount();
    ASSERT_EQ(client->Login(), 1) << client->GetLastErrorText();
    client->SetAccount("other@example.com", "pw");
    EXPECT_EQ(client->IsLoggedIn(), 0);
    EXPECT_EQ(client->GetToken(), 0u);
    size_t before = service.Posts().size();
    EXPECT_EQ(client->GetAllProxyList(), 0);
    EXPECT_EQ(service.Posts().size(), before);

    // No address configured: no request at all, and a text that says so.
    Configure("", "");
    UseServiceAccount();
    EXPECT_EQ(client->Login(), 0);
    EXPECT_NE(client->GetLastErrorText().find("No address"), std::string::npos);
    EXPECT_EQ(service.Posts().size(), before);
}

// Main server behaviour, fallback behaviour, and what the client makes of them.
TEST_F(AccountClientTest, MainServerThenFallback) {
    enum Behaviour { kServe, kDrop, kStatus503, kStatus404, kAbsent };
    struct Case {
        const char* name;
        Behaviour main;
        Behaviour fallback;
        int result;
        size_t mainPosts;
        size_t fallbackPosts;
        const char* error;  // start of the error text; null: libcurl's own text
    };
    const Case cases[] = {
        {"main answers", kServe, kServe, 1, 1, 0, ""},
        {"three failed transfers, then the fallback", kDrop, kServe, 1, 3, 1, ""},
        // The status text stays, but the login dialog shows it only on failure.
        {"503 moves on at once", kStatus503, kServe, 1, 1, 1, "Login retrun: 503"},
        {"503, then a failed transfer keeps the status text", kStatus503, kDrop, 0, 1, 1, "Login retrun: 503"},
        {"503, then 404", kStatus503, kStatus404, 0, 1, 1, "Login retrun: 404"},
        {"every transfer fails", kDrop, kDrop, 0, 3, 1, nullptr},
        {"no main address", kAbsent, kServe, 1, 0, 1, ""},
        {"no fallback address", kDrop, kAbsent, 0, 3, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AccountServiceStandIn main(Cert());
        AccountServiceStandIn fallback(Cert());
        auto play = [](AccountServiceStandIn& s, Behaviour b) {
            if (b == kDrop) {
                s.Override("*", [](const HttpRequest&, HttpResponse& r) { r.mode = HttpResponse::Mode::kCloseAtOnce; });
            } else if (b == kStatus503 || b == kStatus404) {
                s.Override("*", [b](const HttpRequest&, HttpResponse& r) {
                    r.status = b == kStatus503 ? 503 : 404;
                    r.body = R"({"errcode":0,"token":1})";
                });
            }
        };
        play(main, c.main);
        play(fallback, c.fallback);
        Configure(c.main == kAbsent ? "" : main.BaseUrl(), c.fallback == kAbsent ? "" : fallback.BaseUrl());
        CAgentDownloadProxy::ReleaseInstance();
        client = CAgentDownloadProxy::GetInstance();
        UseServiceAccount();
        EXPECT_EQ(client->Login(), c.result);
        EXPECT_EQ(main.Posts().size(), c.mainPosts);
        EXPECT_EQ(fallback.Posts().size(), c.fallbackPosts);
        std::string error = client->GetLastErrorText();
        if (c.error) {
            EXPECT_EQ(error, c.error);
        } else {
            EXPECT_FALSE(error.empty());
            EXPECT_EQ(error.find("Login retrun"), std::string::npos) << error;
        }
        // The proxy list takes the same road.
        if (c.result == 1) {
            EXPECT_EQ(client->GetAllProxyList(), 1) << client->GetLastErrorText();
            EXPECT_EQ(main.Posts().size() + fallback.Posts().size(), 2 * (c.mainPosts + c.fallbackPosts));
        }
        EXPECT_EQ(main.Problems(), std::vector<std::string>{});
        EXPECT_EQ(fallback.Problems(), std::vector<std::string>{});
        CNodeMgr::ReleaseInstance();
    }
}

// Replies that fail: each row, what every request returns and the text the
// login dialog would show; the client's state stays as the good replies left it.
TEST_F(AccountClientTest, BadRepliesChangeNothing) {
    HttpTestServer plain;  // a 307 must never lead here
    plain.Handle("*", AccountServiceStandIn::kEndpoint,
                 [](const HttpRequest&, HttpResponse& r) { r.body = R"({"errcode":0,"token":9})"; });
    std::string deep = std::string(100000, '[') + std::string(100000, ']');
    std::string fiftyMegabytes(1 << 20, ' ');
    auto body = [](std::string text) {
        return [text](const HttpRequest&, HttpResponse& r) { r.body = text; };
    };
    auto status = [](int code) {
        return [code](const HttpRequest&, HttpResponse& r) {
            r.status = code;
            r.body = R"({"errcode":0,"token":9})";
        };
    };
    struct Case {
        const char* name;
        testsupport::HttpHandler reply;
        std::string error;  // the exact text, or with `contains` a part of it
        bool contains = false;
        long timeout = 30;
    };
    const Case cases[] = {
        {"empty body", body(""), "Empty resp."},
        {"HTML", body("<html><body>Service\r\nunavailable</body></html>"),
         "Can not parse resp: <html><body>Service  unavailable</body></html>"},
        {"truncated JSON", body(R"({"errcode":0,"token":12,"proxylist":[{"nodelist":[)"),
         R"(Can not parse resp: {"errcode":0,"token":12,"proxylist":[{"nodelist":[)"},
        {"trailing garbage", body(R"({"errcode":0,"token":12} x)"), R"(Can not parse resp: {"errcode":0,"token":12} x)"},
        {"array", body(R"([{"errcode":0,"token":12}])"), "Resp data error."},
        {"no errcode", body(R"({"token":12,"proxylist":[]})"), "Resp data error."},
        {"errcode 5", body(R"({"errcode":5,"token":12,"proxylist":[],"product":[]})"), "Error Code: 5"},
        {"errcode as text with a message", body(R"({"errcode":"7","errmsg":"Account suspended."})"),
         "Account suspended."},
        {"errcode true", body(R"({"errcode":true,"token":12,"proxylist":[]})"), "Error Code: 1"},
        {"errcode real", body(R"({"errcode":-2.9,"errmsg":""})"), "Error Code: -2"},
        {"errcode huge", body(R"({"errcode":1e300})"), "Error Code: 2147483647"},
        // Kinds that read as 0 pass the envelope; the reply then lacks what each request needs.
        {"errcode null", body(R"({"errcode":null,"proxylist":{},"product":"x"})"), ""},
        {"errcode array", body(R"({"errcode":[],"proxylist":null})"), ""},
        {"errcode object", body(R"({"errcode":{"a":1},"proxylist":"[]"})"), ""},
        {"errcode text without digits", body(R"({"errcode":"ok"})"), ""},
        {"100 000 levels of nesting", body(deep), "Can not parse resp: " + deep.substr(0, 200)},
        {"50 MB with a length",
         [&](const HttpRequest&, HttpResponse& r) {
             r.body = fiftyMegabytes;
             r.repeat = 50;
         },
         "too large", true},
        {"50 MB chunked",
         [&](const HttpRequest&, HttpResponse& r) {
             r.body = fiftyMegabytes;
             r.repeat = 50;
             r.chunked = true;
         },
         "too large", true},
        {"a byte a second",
         [](const HttpRequest&, HttpResponse& r) {
             r.body = R"({"errcode":0,"token":12})";
             r.mode = HttpResponse::Mode::kTrickle;
         },
         "timed out", true, 2},
        {"accept, then close", [](const HttpRequest&, HttpResponse& r) { r.mode = HttpResponse::Mode::kCloseAtOnce; },
         "Empty reply", true},
        {"404", status(404), "Login retrun: 404"},
        {"500", status(500), "Login retrun: 500"},
        {"503", status(503), "Login retrun: 503"},
        {"307 to plain HTTP",
         [&](const HttpRequest&, HttpResponse& r) { r.Redirect(307, plain.Url(AccountServiceStandIn::kEndpoint)); },
         "http", true},
    };

    AccountServiceStandIn service(Cert());
    Configure(service.BaseUrl(), "");
    UseServiceAccount();
    ASSERT_EQ(client->Login(), 1) << client->GetLastErrorText();
    ASSERT_EQ(client->GetAllProxyList(), 1) << client->GetLastErrorText();
    ASSERT_EQ(client->GetProduct(), 1) << client->GetLastErrorText();
    const size_t nodeCount = CNodeMgr::GetInstance()->GetNodeCount();
    const std::string traffic = client->GetPackageInfo().texts[21];
    ASSERT_EQ(nodeCount, 6u);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Configure(service.BaseUrl(), "", c.timeout);
        service.Override("*", c.reply);
        EXPECT_EQ(client->Login(), 0);
        EXPECT_EQ(client->GetAllProxyList(), 0);
        std::string error = client->GetLastErrorText();
        if (c.contains) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        } else {
            EXPECT_EQ(error, c.error);
        }
        EXPECT_LE(error.size(), 220u);
        EXPECT_EQ(client->GetProduct(), 0);
        EXPECT_EQ(client->GetClientInfo(), 0);
        // Nothing of what the good replies gave is lost or changed.
        EXPECT_EQ(client->IsLoggedIn(), 1);
        EXPECT_EQ(client->GetToken(), 4242u);
        EXPECT_EQ(CNodeMgr::GetInstance()->GetNodeCount(), nodeCount);
        EXPECT_EQ(client->GetPackageInfo().texts[21], traffic);
        EXPECT_EQ(client->GetProducts().size(), 1u);
    }
    EXPECT_EQ(plain.RequestCount(), 0u);
    EXPECT_EQ(service.Problems(), std::vector<std::string>{});
}

TEST_F(AccountClientTest, CertificatesAreChecked) {
    testsupport::TestCertificateAuthority stranger("Someone Else");
    struct Case {
        const char* name;
        testsupport::IssuedCertificate cert;
        bool trustOwnCa;
    };
    const Case cases[] = {
        {"issued by an unknown CA", stranger.Issue({"127.0.0.1"}), true},
        {"issued for another name", ca.Issue({"accounts.example.net"}), true},
        {"the CA file not configured", ca.Issue({"127.0.0.1"}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AccountServiceStandIn service(c.cert);
        Configure(service.BaseUrl(), "");
        if (!c.trustOwnCa) {
            ServiceConfig config = GetServiceConfig();
            config.caFile.clear();  // the program folder's bundle, which knows nothing of the test's CA
            SetServiceConfig(config);
        }
        UseServiceAccount();
        EXPECT_EQ(client->Login(), 0);
        EXPECT_FALSE(client->GetLastErrorText().empty());
        EXPECT_EQ(service.server().RequestCount(), 0u) << client->GetLastErrorText();  // nothing of the password went out
    }
}

}  // namespace
