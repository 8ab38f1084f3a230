#include "foundation/http_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/app_paths.h"
#include "tests/support/http_server.h"
#include "tests/support/net.h"
#include "tests/support/program_dir.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_ca.h"

using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::HttpTestServer;
using testsupport::TempDir;

namespace {

// Answers with the request as the server saw it: method, target and body.
void Echo(const HttpRequest& req, HttpResponse& resp) {
    resp.body = req.method + " " + req.target + "\n" + req.body;
    resp.SetHeader("Content-Type", "text/plain");
}

// A temporary program folder whose CA bundle trusts the test's own CA.
struct TrustedProgramFolder {
    TempDir dir{"cendrow-http"};
    testsupport::TestCertificateAuthority ca;
    TrustedProgramFolder() {
        InitAppPaths(dir / "cendrow");
        ca.WriteCertificate(dir / "curl-ca-bundle.crt");
    }
};

}  // namespace

TEST(HttpClient, GetAndPostEcho) {
    HttpTestServer server;
    server.Handle("*", "/echo", Echo);
    CHttpClient client;

    ASSERT_TRUE(client.Get(server.Url("/echo?a=1&b=%20")));
    EXPECT_EQ(client.GetResponseCode(), 200);
    EXPECT_EQ(client.GetResponseBody(), "GET /echo?a=1&b=%20\n");
    EXPECT_EQ(client.GetErrorText(), "");

    // The URL stays for a POST; the body goes out as it stands.
    std::string body = "user=a%2Bb&pass=x%26y&";
    ASSERT_TRUE(client.Post(body));
    EXPECT_EQ(client.GetResponseBody(), "POST /echo?a=1&b=%20\n" + body);
    // Binary bodies arrive whole.
    std::string binary("a\0b\xff", 4);
    ASSERT_TRUE(client.Post(binary));
    EXPECT_EQ(client.GetResponseBody(), "POST /echo?a=1&b=%20\n" + binary);
    ASSERT_TRUE(client.Post(""));
    EXPECT_EQ(client.GetResponseBody(), "POST /echo?a=1&b=%20\n");

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].Header("User-Agent"), CHttpClient::kUserAgent);
    EXPECT_NE(requests[0].Header("Accept-Encoding").find("gzip"), std::string::npos);
    EXPECT_EQ(requests[1].Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[1].FormField("user"), "a+b");
    EXPECT_EQ(requests[1].FormField("pass"), "x&y");
    EXPECT_EQ(requests[3].Header("Content-Length"), "0");
}

TEST(HttpClient, LargePostGoesOutWithoutExpect) {
    HttpTestServer server;
    server.Handle("POST", "/upload", [](const HttpRequest& req, HttpResponse& resp) {
        resp.body = std::to_string(req.body.size());
    });
    CHttpClient client;
    client.SetUrl(server.Url("/upload"));
    std::string big(3 << 20, 'z');
    ASSERT_TRUE(client.Post(big));
    EXPECT_EQ(client.GetResponseBody(), std::to_string(big.size()));
    ASSERT_TRUE(client.Post(big));
    for (const auto& req : server.Requests()) {
        EXPECT_FALSE(req.HasHeader("Expect")) << req.rawHead;
    }
}

TEST(HttpClient, HeadersAreForOneRequestOnly) {
    HttpTestServer server;
    server.Handle("GET", "/h", Echo);
    CHttpClient client;
    client.AddHeader("X-One", "1");
    client.AddHeader("X-Blank", "\n");  // sent with an empty value
    ASSERT_TRUE(client.Get(server.Url("/h")));
    ASSERT_TRUE(client.Get());  // the same URL again, no headers of the first request
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("X-One"), "1");
    EXPECT_TRUE(requests[0].HasHeader("X-Blank"));
    EXPECT_EQ(requests[0].Header("X-Blank"), "");
    EXPECT_FALSE(requests[1].HasHeader("X-One"));
    EXPECT_FALSE(requests[1].HasHeader("X-Blank"));
    EXPECT_EQ(requests[1].target, "/h");
}

TEST(HttpClient, ErrorStatusIsNoTransferFailure) {
    HttpTestServer server;
    server.Handle("GET", "/fail", [](const HttpRequest&, HttpResponse& resp) {
        resp.status = 500;
        resp.body = "broken";
    });
    CHttpClient client;
    EXPECT_TRUE(client.Get(server.Url("/missing")));
    EXPECT_EQ(client.GetResponseCode(), 404);
    EXPECT_EQ(client.GetResponseBody(), "not found");
    EXPECT_TRUE(client.Get(server.Url("/fail")));
    EXPECT_EQ(client.GetResponseCode(), 500);
    EXPECT_EQ(client.GetResponseBody(), "broken");
}

TEST(HttpClient, ResponseHeadersOfARedirectChain) {
    HttpTestServer server;
    server.Handle("GET", "/a", [&](const HttpRequest&, HttpResponse& resp) { resp.Redirect(302, "/b"); });
    server.Handle("GET", "/b", [&](const HttpRequest&, HttpResponse& resp) {
        resp.Redirect(301, server.Url("/c"));
        resp.SetHeader("X-Hop", "b");
    });
    server.Handle("GET", "/c", [](const HttpRequest& req, HttpResponse& resp) {
        resp.body = "end, referred by " + req.Header("Referer");
        resp.SetHeader("X-Url", "http://example.test:8080/p?q=1");
        resp.SetHeader("X-Empty", "");
    });
    CHttpClient client;
    ASSERT_TRUE(client.Get(server.Url("/a")));
    EXPECT_EQ(client.GetResponseCode(), 200);
    EXPECT_EQ(client.GetResponseBody(), "end, referred by " + server.Url("/b"));
    EXPECT_EQ(server.RequestCount(), 3u);

    const auto& pairs = client.GetResponseHeaders();
    auto all = [&](const std::string& name) {
        std::vector<std::string> values;
        for (const auto& [n, v] : pairs)
            if (n == name) values.push_back(v);
        return values;
    };
    EXPECT_EQ(all("Location"), (std::vector<std::string>{"/b", server.Url("/c")}));
    EXPECT_EQ(all("X-Hop"), std::vector<std::string>{"b"});
    EXPECT_EQ(all("X-Url"), std::vector<std::string>{"http://example.test:8080/p?q=1"});
    EXPECT_EQ(all("X-Empty"), std::vector<std::string>{""});
    EXPECT_NE(client.GetResponseHeaderText().find("HTTP/1.1 302 Found\r\n"), std::string::npos);
    EXPECT_NE(client.GetResponseHeaderText().find("HTTP/1.1 200 OK\r\n"), std::string::npos);

    // The next request replaces everything of this one.
    ASSERT_TRUE(client.Get(server.Url("/missing")));
    EXPECT_TRUE(all("Location").empty());
    EXPECT_EQ(client.GetResponseHeaderText().find("302"), std::string::npos);
}

TEST(HttpClient, ParseResponseHeaders) {
    struct Case {
        std::string text;
        HttpHeaderPairs pairs;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nA: 1\r\n\r\n", {{"A", "1"}}},
        {"Location: http://h:8080/x\r\n", {{"Location", "http://h:8080/x"}}},
        {"X-Empty:\r\n", {{"X-Empty", ""}}},  // only the line end follows the colon
        {"X-Bare:", {}},                      // nothing at all after it
        {"no colon here\r\n", {}},
        {"\t Name \t:\t value \t\r\n", {{"Name", "value"}}},
        {"A::b\r\n", {{"A", "b"}}},  // a run of colons is one delimiter
        {"::x\r\n", {}},
        {"A: 1\n\nB: 2", {{"A", "1"}, {"B", "2"}}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(CHttpClient::ParseResponseHeaders(c.text), c.pairs) << c.text;
}

TEST(HttpClient, CookiesComeBack) {
    HttpTestServer server;
    server.Handle("GET", "/login", [](const HttpRequest&, HttpResponse& resp) {
        resp.SetHeader("Set-Cookie", "sid=abc123; Path=/");
        resp.Redirect(302, "/home");
    });
    server.Handle("GET", "/home", [](const HttpRequest& req, HttpResponse& resp) {
        resp.status = req.Cookie("sid") == "abc123" ? 200 : 403;
    });
    CHttpClient client;
    ASSERT_TRUE(client.Get(server.Url("/login")));
    EXPECT_EQ(client.GetResponseCode(), 200);  // sent along the redirect
    ASSERT_TRUE(client.Get(server.Url("/home")));
    EXPECT_EQ(client.GetResponseCode(), 200);  // and with the next request

    CHttpClient other;  // every client keeps its own
    ASSERT_TRUE(other.Get(server.Url("/home")));
    EXPECT_EQ(other.GetResponseCode(), 403);
}

TEST(HttpClient, CompressedAndChunkedBodies) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
    HttpTestServer server;
    server.Handle("GET", "/gzip", [&](const HttpRequest&, HttpResponse& resp) {
        resp.body = text;
        resp.gzip = true;
    });
    server.Handle("GET", "/chunked", [&](const HttpRequest&, HttpResponse& resp) {
        resp.body = text;
        resp.chunked = true;
        resp.gzip = true;
    });
    CHttpClient client;
    ASSERT_TRUE(client.Get(server.Url("/gzip")));
    EXPECT_EQ(client.GetResponseBody(), text);
    ASSERT_TRUE(client.Get(server.Url("/chunked")));
    EXPECT_EQ(client.GetResponseBody(), text);
}

TEST(HttpClient, FailuresAreReportedAndTheClientStaysUsable) {
    HttpTestServer server;
    server.Handle("GET", "/silent",
                  [](const HttpRequest&, HttpResponse& resp) { resp.mode = HttpResponse::Mode::kSilent; });
    server.Handle("GET", "/cut", [](const HttpRequest&, HttpResponse& resp) {
        resp.body = std::string(100000, 'x');
        resp.mode = HttpResponse::Mode::kCloseMidBody;
    });
    server.Handle("GET", "/drop", [](const HttpRequest&, HttpResponse& resp) {
        resp.mode = HttpResponse::Mode::kCloseAtOnce;
    });
    server.Handle("GET", "/ok", Echo);
    int closedPort = testsupport::FreeLoopbackPort();

    struct Case {
        std::string url;
        CURLcode result;
        long status;
    };
    const Case cases[] = {
        {server.Url("/silent"), CURLE_OPERATION_TIMEDOUT, 0},
        {server.Url("/cut"), CURLE_PARTIAL_FILE, 200},
        {server.Url("/drop"), CURLE_GOT_NOTHING, 0},
        {"http://127.0.0.1:" + std::to_string(closedPort) + "/", CURLE_COULDNT_CONNECT, 0},
        {"nonsense://x/", CURLE_UNSUPPORTED_PROTOCOL, 0},
    };
    CHttpClient client;
    client.SetOption(CURLOPT_TIMEOUT, 1);
    for (const auto& c : cases) {
        EXPECT_FALSE(client.Get(c.url)) << c.url;
        EXPECT_EQ(client.GetLastResult(), c.result) << c.url << ": " << client.GetErrorText();
        EXPECT_FALSE(client.GetErrorText().empty()) << c.url;
        EXPECT_EQ(client.GetResponseCode(), c.status) << c.url;
        // Reusable at once.
        ASSERT_TRUE(client.Get(server.Url("/ok"))) << client.GetErrorText();
        EXPECT_EQ(client.GetResponseBody(), "GET /ok\n");
        EXPECT_EQ(client.GetErrorText(), "");
    }
}

TEST(HttpClient, HttpsVerifiedAgainstTheProgramFoldersBundle) {
    TrustedProgramFolder folder;
    auto good = folder.ca.Issue({"localhost", "127.0.0.1"});
    testsupport::TestCertificateAuthority stranger("Someone Else");
    auto untrusted = stranger.Issue({"localhost", "127.0.0.1"});
    auto otherName = folder.ca.Issue({"other.example"});

    HttpTestServer trustedServer(good.certPem, good.keyPem);
    HttpTestServer untrustedServer(untrusted.certPem, untrusted.keyPem);
    HttpTestServer wrongNameServer(otherName.certPem, otherName.keyPem);
    for (auto* s : {&trustedServer, &untrustedServer, &wrongNameServer}) s->Handle("*", "/echo", Echo);

    CHttpClient client;
    ASSERT_TRUE(client.Get(trustedServer.Url("/echo"))) << client.GetErrorText();
    EXPECT_EQ(client.GetResponseBody(), "GET /echo\n");
    client.SetUrl(trustedServer.Url("/echo", "localhost"));
    ASSERT_TRUE(client.Post("secret=1")) << client.GetErrorText();
    EXPECT_EQ(client.GetResponseBody(), "POST /echo\nsecret=1");

    struct Case {
        HttpTestServer* server;
        CURLcode result;
    };
    for (const Case& c : {Case{&untrustedServer, CURLE_PEER_FAILED_VERIFICATION},
                          Case{&wrongNameServer, CURLE_PEER_FAILED_VERIFICATION}}) {
        client.SetUrl(c.server->Url("/echo"));
        EXPECT_FALSE(client.Post("secret=1"));
        EXPECT_EQ(client.GetLastResult(), c.result) << client.GetErrorText();
        EXPECT_EQ(c.server->ConnectionCount(), 1);
        EXPECT_EQ(c.server->RequestCount(), 0u);  // nothing of the request arrived
    }

    // A caller that switches verification off reaches the untrusted server.
    client.SetOption(CURLOPT_SSL_VERIFYPEER, 0);
    client.SetOption(CURLOPT_SSL_VERIFYHOST, 0);
    EXPECT_TRUE(client.Get(untrustedServer.Url("/echo")));
}

TEST(HttpClient, MissingBundleFailsVerifiedRequests) {
    TempDir dir;
    InitAppPaths(dir / "cendrow");
    testsupport::TestCertificateAuthority ca;
    auto cert = ca.Issue({"127.0.0.1"});
    HttpTestServer server(cert.certPem, cert.keyPem);
    CHttpClient client;
    EXPECT_FALSE(client.Get(server.Url("/")));
    EXPECT_NE(client.GetLastResult(), CURLE_OK);
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST(HttpClient, TheBuildLaysTheSystemBundleIntoTheProgramFolder) {
    std::string bundle = testsupport::ReadFile(testsupport::BuiltProgramDir() / CHttpClient::kCaBundleName);
    EXPECT_NE(bundle.find("-----BEGIN CERTIFICATE-----"), std::string::npos);
}

TEST(HttpClient, ClientsOnManyThreads) {
    HttpTestServer server;
    server.Handle("GET", "/n", [](const HttpRequest& req, HttpResponse& resp) { resp.body = req.query; });
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            CHttpClient client;  // constructed at the same time on every thread
            for (int i = 0; i < 20; ++i) {
                std::string q = std::to_string(t) + "-" + std::to_string(i);
                if (client.Get(server.Url("/n?" + q)) && client.GetResponseBody() == q) ++good;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(good.load(), 160);
}

TEST(HttpClient, PercentEncode) {
    CHttpClient client;
    EXPECT_EQ(client.PercentEncode("a b&c=d/\xC3\xA9+~_.-"), "a%20b%26c%3Dd%2F%C3%A9%2B~_.-");
    EXPECT_EQ(client.PercentEncode(std::string("\0x", 2)), "%00x");
    EXPECT_EQ(client.PercentEncode(""), "");
}

TEST(HttpClient, BodyCapEndsRepliesThatGrowPastIt) {
    const size_t cap = 64 * 1024;
    std::string block(4096, 'b');
    std::string text;
    for (int i = 0; i < 4000; ++i) text += "row " + std::to_string(i) + "\n";  // ~30 KB, compresses well
    HttpTestServer server;
    server.Handle("GET", "/exact", [&](const HttpRequest&, HttpResponse& resp) { resp.body = std::string(cap, 'e'); });
    server.Handle("GET", "/announced", [&](const HttpRequest&, HttpResponse& resp) {
        resp.body = block;
        resp.repeat = 1000;  // 4 MB with a Content-Length
    });
    server.Handle("GET", "/chunked", [&](const HttpRequest&, HttpResponse& resp) {
        resp.body = block;
        resp.repeat = 1000;
        resp.chunked = true;  // no length announced
    });
    server.Handle("GET", "/inflates", [&](const HttpRequest&, HttpResponse& resp) {
        resp.body = text + text + text;  // small on the wire, past the cap once decoded
        resp.gzip = true;
    });
    server.Handle("GET", "/headers", [&](const HttpRequest&, HttpResponse& resp) {
        for (int i = 0; i < 40; ++i) resp.SetHeader("X-Filler-" + std::to_string(i), std::string(4000, 'h'));
    });
    server.Handle("GET", "/ok", Echo);

    CHttpClient client;
    client.SetMaxBodySize(cap);
    ASSERT_TRUE(client.Get(server.Url("/exact"))) << client.GetErrorText();
    EXPECT_EQ(client.GetResponseBody().size(), cap);
    EXPECT_FALSE(client.WasBodyTooLarge());

    for (const char* path : {"/announced", "/chunked", "/inflates", "/headers"}) {
        EXPECT_FALSE(client.Get(server.Url(path))) << path;
        EXPECT_TRUE(client.WasBodyTooLarge()) << path;
        EXPECT_NE(client.GetErrorText().find("too large"), std::string::npos) << path << ": " << client.GetErrorText();
        EXPECT_TRUE(client.GetResponseBody().empty()) << path;
        // The limit stays, and the client is usable at once.
        ASSERT_TRUE(client.Get(server.Url("/ok"))) << client.GetErrorText();
        EXPECT_FALSE(client.WasBodyTooLarge());
        EXPECT_EQ(client.GetErrorText(), "");
    }

    // Without a cap the same replies arrive whole.
    CHttpClient unlimited;
    ASSERT_TRUE(unlimited.Get(server.Url("/chunked"))) << unlimited.GetErrorText();
    EXPECT_EQ(unlimited.GetResponseBody().size(), block.size() * 1000);
}

TEST(HttpClient, AbortFlagEndsAStalledReplyAndStopsLaterRequests) {
    HttpTestServer server;
    // A reply that would take 30 s: the head, then a body byte every 10 s.
    server.Handle("GET", "/slow", [](const HttpRequest&, HttpResponse& r) {
        r.body = "abc";
        r.mode = HttpResponse::Mode::kTrickle;
        r.trickleInterval = std::chrono::seconds(10);
    });
    server.Handle("GET", "/fast", Echo);
    std::atomic<bool> stop{false};
    CHttpClient client;
    client.SetAbortFlag(&stop);
    ASSERT_TRUE(client.Get(server.Url("/fast")));
    EXPECT_FALSE(client.WasAborted());

    std::thread raiser([&] {
        while (server.RequestCount() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stop = true;
    });
    EXPECT_FALSE(client.Get(server.Url("/slow")));
    raiser.join();
    EXPECT_TRUE(client.WasAborted());
    EXPECT_EQ(client.GetLastResult(), CURLE_ABORTED_BY_CALLBACK);
    EXPECT_EQ(client.GetErrorText(), "The request was cancelled.");

    // While raised, nothing goes out at all.
    EXPECT_FALSE(client.Get(server.Url("/fast")));
    EXPECT_EQ(server.RequestCount(), 2u);
    // Lowered, or forgotten, requests work again.
    stop = false;
    EXPECT_TRUE(client.Get(server.Url("/fast")));
    stop = true;
    client.SetAbortFlag(nullptr);
    EXPECT_TRUE(client.Get(server.Url("/fast")));
}
