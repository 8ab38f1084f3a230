// Parsing a large proxy-list reply into an empty node list, beside JsonCpp's
// bare parse of the same document in the same run.

#include <benchmark/benchmark.h>
#include <json/json.h>

#include <memory>
#include <string>

#include "nodes/account/account_replies.h"
#include "nodes/account/json_read.h"
#include "nodes/node_mgr.h"

namespace {

constexpr int kNodes = 10000;
constexpr int kNodesPerEntry = 100;

// Entries of 100 nodes each, members as the service sends them.
const std::string& Document() {
    static const std::string doc = [] {
        std::string s = R"({"errcode":0,"errmsg":"","proxylist":[)";
        for (int e = 0; e < kNodes / kNodesPerEntry; ++e) {
            if (e) s += ',';
            s += R"({"paymentmethod":"alipay","paymentmethodname":"Alipay","billingcycle":"Monthly",)"
                 R"("nextduedate":"2030-01-31","traffic_remaining":"107.37 GB","nodelist":[)";
            for (int n = 0; n < kNodesPerEntry; ++n) {
                int i = e * kNodesPerEntry + n;
                if (n) s += ',';
                s +=
                    R"({"type":6,"name":"Node )" + std::to_string(i) + R"(","hostname":"node)" +
                    std::to_string(i) + R"(.example.net","port":)" + std::to_string(10000 + i % 50000) +
                    R"(,"password":"p4ssw0rd-)" + std::to_string(i) +
                    R"(","method":"chacha20-ietf","protocol":"auth_aes128_md5_compatible","protocolparam":"",)"
                    R"("obfs":"tls1.2_ticket_auth_compatible","obfsparam":"cdn.example.com",)"
                    R"("traffic_remaining":115292150460,"product_name":"Gold","group_name":"Asia"})";
            }
            s += "]}";
        }
        return s + "]}";
    }();
    return doc;
}

void BM_JsonCppBareParse(benchmark::State& state) {
    const std::string& doc = Document();
    Json::CharReaderBuilder builder;
    for (auto _ : state) {
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value root;
        bool ok = reader->parse(doc.data(), doc.data() + doc.size(), &root, nullptr);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(root);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void BM_ParseProxyList(benchmark::State& state) {
    const std::string& doc = Document();
    for (auto _ : state) {
        CNodeMgr* mgr = CNodeMgr::GetInstance();
        PackageRecord package;
        std::string error;
        Json::Value root;
        size_t added = 0;
        if (!ParseReplyEnvelope(doc, root, error) || !ReadProxyList(root, package, *mgr, &added) ||
            added != kNodes) {
            state.SkipWithError("the document did not parse");
            break;
        }
        state.PauseTiming();
        CNodeMgr::ReleaseInstance();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

BENCHMARK(BM_JsonCppBareParse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseProxyList)->Unit(benchmark::kMillisecond);

}  // namespace
