// The account service's stand-in (tests/support/account_service.h) as a
// process of its own, for the main-window latency benchmark: HTTPS on
// 127.0.0.1 with a certificate of a throwaway CA, one account, and a proxy
// list of NODES nodes in packages of 100, each package a group of its own.
//
// usage: account_service_runner CA_FILE EMAIL PASSWORD NODES
// Writes the CA certificate to CA_FILE, prints "running URL" once it serves
// and serves until it is killed.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/account_service.h"
#include "tests/support/test_ca.h"

namespace {

std::string ProxyList(int nodes) {
    constexpr int kPerPackage = 100;
    std::string out = R"({"errcode":0,"errmsg":"","proxylist":[)";
    for (int first = 0; first < nodes; first += kPerPackage) {
        const int package = first / kPerPackage + 1;
        if (first) out += ',';
        out += R"({"paymentmethod":"alipay","paymentmethodname":"Alipay","billingcycle":"Monthly",)"
               R"("nextduedate":"2027-01-31","traffic_remaining":"100 GB","nodelist":[)";
        for (int i = first; i < nodes && i < first + kPerPackage; ++i) {
            if (i != first) out += ',';
            char node[512];
            std::snprintf(node, sizeof node,
                          R"({"type":6,"port":%d,"name":"Node %04d","hostname":"n%04d.nodes.example",)"
                          R"("password":"pw%d","method":"aes-256-gcm","protocol":"origin","obfs":"plain",)"
                          R"("traffic_remaining":%d,"product_name":"Plan %02d"})",
                          8000 + i % 1000, i + 1, i + 1, i, 1000000 + i, package);
            out += node;
        }
        out += "]}";
    }
    out += "]}";
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 || std::atoi(argv[4]) <= 0) {
        std::fprintf(stderr, "usage: %s CA_FILE EMAIL PASSWORD NODES\n", argv[0]);
        return 2;
    }
    testsupport::TestCertificateAuthority ca;
    ca.WriteCertificate(argv[1]);
    testsupport::AccountServiceStandIn service(ca.Issue({"127.0.0.1"}));
    service.SetAccount(argv[2], argv[3]);
    const std::string list = ProxyList(std::atoi(argv[4]));
    service.Override("allproxylist", [&list](const testsupport::HttpRequest&, testsupport::HttpResponse& resp) {
        resp.body = list;
    });
    std::printf("running %s\n", service.BaseUrl().c_str());
    std::fflush(stdout);
    for (;;) pause();
}
