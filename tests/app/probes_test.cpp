// The node list fill starts at most 100 probes per fill, each node at most
// once at a time, and exit waits for every probe.
#include <gtest/gtest.h>

#include <condition_variable>
#include <set>

#include "nodes/account/service_config.h"
#include "nodes/geo/country_table.h"
#include "tests/app/app_fixture.h"
#include "tests/support/http_server.h"

namespace apptest {
namespace {

TEST_F(AppCoreTest, ProbesAtMostAHundredPerFillAndNeverTwiceAtOnce) {
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    std::multiset<int> probed;
    core_->SetNodeProber([&](CNodeInfo* node, const std::atomic<int>&) {
        std::unique_lock<std::mutex> lock(m);
        probed.insert(node->id);
        cv.wait(lock, [&] { return release; });
        node->latency = 5;
        node->countryIndex = 1;
    });
    for (int i = 0; i < 150; ++i) AddNode(NodeTypeSocks5, "node" + std::to_string(i) + ".test");
    core_->FillNodeList(-1);
    EXPECT_EQ(core_->GetRunningProbeCount(), 100u);
    // A second fill while those run takes the other 50 only.
    core_->FillNodeList(-1);
    EXPECT_EQ(core_->GetRunningProbeCount(), 150u);
    {
        std::lock_guard<std::mutex> lock(m);
        release = true;
    }
    cv.notify_all();
    core_->WaitForProbeThreads();
    EXPECT_EQ(core_->GetRunningProbeCount(), 0u);
    EXPECT_EQ(probed.size(), 150u);
    EXPECT_EQ(std::set<int>(probed.begin(), probed.end()).size(), 150u);
    // Nodes with a latency and a country are not probed again.
    core_->FillNodeList(-1);
    EXPECT_EQ(core_->GetRunningProbeCount(), 0u);
    // The first node became current, and the chooser was filled.
    EXPECT_NE(CNodeMgr::GetInstance()->GetCurrentNodeId(), -1);
    EXPECT_EQ(view_.fills.size(), 3u);
}

TEST_F(AppCoreTest, ExitWaitsForRunningProbesWhichSeeTheFlag) {
    std::atomic<int> sawExit{0};
    core_->SetNodeProber([&](CNodeInfo*, const std::atomic<int>& exiting) {
        while (!exiting) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ++sawExit;
    });
    for (int i = 0; i < 5; ++i) AddNode();
    core_->FillNodeList(-1);
    core_->Exit(1);
    EXPECT_EQ(sawExit, 5);
    EXPECT_EQ(core_->GetRunningProbeCount(), 0u);
}

// The country comes from the first geolocation service that names one, in
// the order A, B, plain text, C; a node whose latency and country are known
// is left alone, and one without an address asks no service.
TEST_F(AppCoreTest, ProbeAsksTheGeolocationServicesInTurnUntilOneAnswers) {
    testsupport::HttpTestServer geo;
    geo.Handle("GET", "/a/json/127.0.0.1", [](const testsupport::HttpRequest&, testsupport::HttpResponse& r) {
        r.status = 500;
    });
    geo.Handle("GET", "/b/json/127.0.0.1", [](const testsupport::HttpRequest&, testsupport::HttpResponse& r) {
        r.body = R"({"status":"success","countryCode":"DE","country":"Germany","regionName":"Berlin"})";
    });
    geo.Handle("GET", "/127.0.0.1/country", [](const testsupport::HttpRequest&, testsupport::HttpResponse& r) {
        r.body = "FR";
    });
    ServiceConfig config;
    config.geoJsonABase = geo.Url("/a");
    config.geoJsonBBase = geo.Url("/b");
    config.geoPlainTextBase = geo.Url("");
    config.geoJsonCBase = geo.Url("/c");
    config.geoTimeout = 5;
    SetServiceConfig(config);

    std::atomic<int> exiting{0};
    CNodeInfo* node = AddNode(NodeTypeSocks5, "127.0.0.1");
    node->latency = 7;  // known: no ping
    CNodeMgr::GetInstance()->SetResolvedAddress(node, "127.0.0.1");
    DialogOstrelBase::DefaultProbeNode(node, exiting);
    EXPECT_EQ(node->countryIndex.load(), GetCountryIndexByCode("DE"));
    EXPECT_EQ(node->latency.load(), 7u);
    std::vector<std::string> asked;
    for (const auto& r : geo.Requests()) asked.push_back(r.path);
    EXPECT_EQ(asked, (std::vector<std::string>{"/a/json/127.0.0.1", "/b/json/127.0.0.1"}));

    // An exit request stops the lookups before the first service.
    CNodeInfo* other = AddNode(NodeTypeSocks5, "127.0.0.1");
    other->latency = 7;
    CNodeMgr::GetInstance()->SetResolvedAddress(other, "127.0.0.1");
    exiting = 1;
    DialogOstrelBase::DefaultProbeNode(other, exiting);
    EXPECT_EQ(other->countryIndex.load(), -1);
    EXPECT_EQ(geo.RequestCount(), 2u);
    SetServiceConfig(ServiceConfig());
}

}  // namespace
}  // namespace apptest
