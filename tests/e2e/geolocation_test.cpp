// The four geolocation lookups against test servers on loopback: the JSON
// services over plain HTTP, the plain-text service over HTTPS with a
// certificate nothing trusts (this lookup does not check it).

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "nodes/account/service_config.h"
#include "nodes/geo/country_table.h"
#include "nodes/geo/geo_lookup.h"
#include "tests/support/http_server.h"
#include "tests/support/test_ca.h"

using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::HttpTestServer;

namespace {

enum Service { kText, kJsonA, kJsonB, kJsonC };

struct Outcome {
    int result;
    std::string code, name, region;
};

// The lookup of `service`, its out texts filled beforehand with markers
// that must stay on failure.
Outcome Lookup(Service service, const std::string& address) {
    Outcome o{0, "old code", "old name", "old region"};
    switch (service) {
        case kText:
            o.result = LookupCountryPlainText(address, o.code);
            break;
        case kJsonA:
            o.result = LookupCountryJsonA(address, o.code, o.name, o.region);
            break;
        case kJsonB:
            o.result = LookupCountryJsonB(address, o.code, o.name, o.region);
            break;
        case kJsonC:
            o.result = LookupCountryJsonC(address, o.code, o.name, o.region);
            break;
    }
    return o;
}

class GeolocationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ServiceConfig config;
        config.geoPlainTextBase = textServer.Url("");
        config.geoJsonABase = json.Url("/a");
        config.geoJsonBBase = json.Url("/b");
        config.geoJsonCBase = json.Url("/c");
        config.geoTimeout = 2;
        SetServiceConfig(config);
    }
    void TearDown() override { SetServiceConfig(ServiceConfig()); }

    // The reply that `service` gives for the address 203.0.113.7.
    void Answer(Service service, std::function<void(HttpResponse&)> reply) {
        static const char* const kPaths[] = {"/203.0.113.7/country", "/a/json/203.0.113.7", "/b/json/203.0.113.7",
                                             "/c/service/getIpInfo.php"};
        HttpTestServer& server = service == kText ? textServer : json;
        server.Handle("GET", kPaths[service], [reply](const HttpRequest&, HttpResponse& r) { reply(r); });
    }

    static testsupport::IssuedCertificate Cert() {
        testsupport::TestCertificateAuthority nobodyTrustsThis("Geolocation Test CA");
        return nobodyTrustsThis.Issue({"127.0.0.1"});
    }

    testsupport::IssuedCertificate cert = Cert();
    HttpTestServer textServer{cert.certPem, cert.keyPem};
    HttpTestServer json;
};

std::function<void(HttpResponse&)> Body(const std::string& text) {
    return [text](HttpResponse& r) { r.body = text; };
}

TEST_F(GeolocationTest, RepliesOfEveryService) {
    auto notFound = [](HttpResponse& r) {
        r.status = 404;
        r.body = R"({"country_code":"US","status":"success","countryCode":"US","code":0,"data":{"country_id":"US"}})";
    };
    auto silent = [](HttpResponse& r) { r.mode = HttpResponse::Mode::kSilent; };
    auto overCap = [](HttpResponse& r) {
        r.body = R"({"country_code":"US","pad":")" + std::string(70000, 'x') + "\"}";
    };
    struct Case {
        const char* name;
        Service service;
        std::function<void(HttpResponse&)> reply;
        Outcome want;
    };
    const Outcome untouched{0, "old code", "old name", "old region"};
    const Case cases[] = {
        {"text: code with its line feed", kText, Body("JP\n"), {1, "JP\n", "old name", "old region"}},
        {"text: 404", kText, notFound, untouched},
        {"text: empty body", kText, Body(""), untouched},
        {"text: silent peer", kText, silent, untouched},
        {"text: over the cap", kText, Body(std::string(70000, 'J')), untouched},

        {"A: everything", kJsonA, Body(R"({"country_code":"DE","country_name":"Germany","region_name":"Hesse"})"),
         {1, "DE", "Germany", "Hesse"}},
        {"A: no name", kJsonA, Body(R"({"country_code":"FR","region_name":"Normandy"})"),
         {1, "FR", "old name", "Normandy"}},
        {"A: no code", kJsonA, Body(R"({"country_name":"Germany"})"), untouched},
        {"A: array", kJsonA, Body(R"([{"country_code":"DE"}])"), untouched},
        {"A: not JSON", kJsonA, Body("<html>DE</html>"), untouched},
        {"A: 404", kJsonA, notFound, untouched},
        {"A: over the cap", kJsonA, overCap, untouched},

        {"B: success", kJsonB, Body(R"({"status":"success","countryCode":"SG","country":"Singapore","regionName":"C"})"),
         {1, "SG", "Singapore", "C"}},
        {"B: fail", kJsonB, Body(R"({"status":"fail","countryCode":"SG","country":"Singapore"})"), untouched},
        {"B: no code", kJsonB, Body(R"({"status":"success","country":"Singapore"})"), untouched},
        {"B: status of another kind", kJsonB, Body(R"({"status":1,"countryCode":"SG"})"), untouched},
        {"B: empty body", kJsonB, Body(""), untouched},
        {"B: silent peer", kJsonB, silent, untouched},

        {"C: code 0", kJsonC, Body(R"({"code":0,"data":{"country_id":"HK","country":"Hong Kong","region":"HK"}})"),
         {1, "HK", "Hong Kong", "HK"}},
        {"C: code as text", kJsonC, Body(R"({"code":"0","data":{"country_id":"MO"}})"),
         {1, "MO", "old name", "old region"}},
        {"C: code 1", kJsonC, Body(R"({"code":1,"data":{"country_id":"HK"}})"), untouched},
        {"C: data a text", kJsonC, Body(R"({"code":0,"data":"HK"})"), untouched},
        {"C: no country_id", kJsonC, Body(R"({"code":0,"data":{"country":"Hong Kong"}})"), untouched},
        {"C: no code", kJsonC, Body(R"({"data":{"country_id":"HK"}})"), untouched},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Answer(c.service, c.reply);
        Outcome got = Lookup(c.service, "203.0.113.7");
        EXPECT_EQ(got.result, c.want.result);
        EXPECT_EQ(got.code, c.want.code);
        EXPECT_EQ(got.name, c.want.name);
        EXPECT_EQ(got.region, c.want.region);
    }
    // The address goes where each service expects it.
    auto requests = json.Requests();
    ASSERT_FALSE(requests.empty());
    bool sawC = false;
    for (const HttpRequest& r : requests) {
        if (r.path == "/c/service/getIpInfo.php") {
            EXPECT_EQ(r.query, "ip=203.0.113.7");
            sawC = true;
        }
    }
    EXPECT_TRUE(sawC);
    Answer(kText, Body("JP\n"));
    EXPECT_EQ(GetCountryIndexByCode(Lookup(kText, "203.0.113.7").code), 14);
}

TEST_F(GeolocationTest, NoRequestWithoutABaseOrForAnythingButAnAddress) {
    Answer(kJsonA, Body(R"({"country_code":"DE"})"));
    for (const char* address : {"203.0.113.7/../x", "host.example", "", "203.0.113.7 ", "203.0.113.7?ip=1"}) {
        SCOPED_TRACE(address);
        for (Service s : {kText, kJsonA, kJsonB, kJsonC}) EXPECT_EQ(Lookup(s, address).result, 0);
    }
    SetServiceConfig(ServiceConfig());  // the built-in record names no service
    for (Service s : {kText, kJsonA, kJsonB, kJsonC}) EXPECT_EQ(Lookup(s, "203.0.113.7").code, "old code");
    EXPECT_EQ(json.RequestCount(), 0u);
    EXPECT_EQ(textServer.ConnectionCount(), 0);
}

}  // namespace
