// The rtnetlink layer and the routing-table functions in the route lab:
// dumps, acknowledged changes matched to their requests (one at a time and in
// batches), deletes that match the whole row, the namespace a socket acts
// in, the host guard, the best default route, the interface-metric table
// and the start-up clean-up of tagged routes.
#include "platform/rtnetlink.h"

#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "netconfig/route_table.h"
#include "platform/host_guard.h"
#include "tests/e2e/route_lab.h"

using routelab::RouteLab;
using testsupport::NetNamespace;

namespace {

uint32_t Addr(const char* text) {
    return inet_addr(text);
}

RtnlRoute TaggedRoute(const char* destination, uint8_t prefix, const char* gateway, uint32_t ifindex,
                      uint32_t metric) {
    RtnlRoute r;
    r.destination = Addr(destination);
    r.prefixLength = prefix;
    r.gateway = Addr(gateway);
    r.ifindex = ifindex;
    r.priority = metric;
    r.protocol = kOwnRouteProtocol;
    return r;
}

class RtnetlinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs root and iproute2";
        HostGuard_Enable();
        lab_ = std::make_unique<RouteLab>();
        NetNamespace::Scope scope(lab_->ns());
        ASSERT_EQ(socket_.Open(), 0);
    }

    std::unique_ptr<RouteLab> lab_;
    RtnlSocket socket_;
};

TEST_F(RtnetlinkTest, DumpsLinksAddressesAndRoutes) {
    std::vector<RtnlLink> links;
    ASSERT_EQ(socket_.DumpLinks(&links), 0);
    auto link = [&links](const std::string& name) {
        auto it = std::find_if(links.begin(), links.end(), [&](const RtnlLink& l) { return l.name == name; });
        return it == links.end() ? RtnlLink{} : *it;
    };
    EXPECT_EQ(link("ztun0").kind, "tun");
    EXPECT_EQ(link("ztun0").index, lab_->tun());
    EXPECT_EQ(link("up0").index, lab_->up0());
    EXPECT_FALSE(link("up0").kind.empty());
    EXPECT_NE(link("lo").index, 0u);

    std::vector<RtnlAddress> addresses;
    ASSERT_EQ(socket_.DumpAddresses(&addresses), 0);
    bool found = false;
    for (const auto& a : addresses) {
        found = found || (a.address == Addr("192.0.2.2") && a.prefixLength == 24 && a.ifindex == lab_->up0());
    }
    EXPECT_TRUE(found);

    std::vector<RtnlRoute> routes;
    ASSERT_EQ(socket_.DumpRoutes(&routes), 0);
    found = false;
    for (const auto& r : routes) {
        found = found || (r.destination == 0 && r.prefixLength == 0 && r.gateway == Addr("192.0.2.1") &&
                          r.priority == 100 && r.ifindex == lab_->up0() && r.table == kRtnlMainTable);
    }
    EXPECT_TRUE(found);
}

TEST_F(RtnetlinkTest, ChangesAreAcknowledgedWithTheKernelsAnswer) {
    RtnlRoute route = TaggedRoute("198.51.100.0", 24, "192.0.2.1", lab_->up0(), 7);
    EXPECT_EQ(socket_.AddRoute(route).error, 0);
    EXPECT_EQ(lab_->Routes({"proto", "157"}),
              std::vector<std::string>{"198.51.100.0/24 via 192.0.2.1 dev up0 metric 7"});
    EXPECT_EQ(socket_.AddRoute(route).error, EEXIST);
    EXPECT_EQ(socket_.DeleteRoute(route).error, 0);
    EXPECT_EQ(socket_.DeleteRoute(route).error, ESRCH);

    // A gateway no link reaches: refused, with the kernel's own words.
    RtnlResult refused = socket_.AddRoute(TaggedRoute("198.51.100.0", 24, "203.0.113.1", lab_->up0(), 7));
    EXPECT_EQ(refused.error, ENETUNREACH);
    EXPECT_FALSE(refused.message.empty());
    EXPECT_TRUE(lab_->Routes({"proto", "157"}).empty());
}

TEST_F(RtnetlinkTest, DeleteMatchesTheWholeRowTagIncluded) {
    // Someone else's route with the same destination, prefix, gateway and metric.
    lab_->Ip({"route", "add", "198.51.100.0/24", "via", "192.0.2.1", "metric", "7"});
    std::vector<std::string> before = lab_->Snapshot();
    EXPECT_EQ(socket_.DeleteRoute(TaggedRoute("198.51.100.0", 24, "192.0.2.1", lab_->up0(), 7)).error, ESRCH);
    EXPECT_EQ(socket_.AddRoute(TaggedRoute("198.51.100.0", 24, "192.0.2.1", lab_->up0(), 7)).error, EEXIST);
    EXPECT_EQ(lab_->Snapshot(), before);
}

TEST_F(RtnetlinkTest, BatchesMapEveryAcknowledgementToItsRoute) {
    ASSERT_GT(socket_.GetBatchLimit(), 100u);
    std::vector<RtnlRoute> routes;
    for (uint32_t i = 0; i < 5000; ++i) {
        RtnlRoute r = TaggedRoute("0.0.0.0", 32, "192.0.2.1", lab_->up0(), 5);
        r.destination = htonl(0x0a000000u + i);  // 10.0.x.y host routes
        routes.push_back(r);
    }
    routes[4321] = routes[17];  // the second copy must be answered "exists"
    RtnlFailRouteRequestForTest(2500);
    std::vector<RtnlResult> results = socket_.AddRoutes(routes);
    ASSERT_EQ(results.size(), routes.size());
    for (size_t i = 0; i < results.size(); ++i) {
        if (i == 2499) continue;
        ASSERT_EQ(results[i].error, i == 4321 ? EEXIST : 0) << "route " << i;
    }
    EXPECT_NE(results[2499].error, 0);
    EXPECT_NE(results[2499].error, EEXIST);
    EXPECT_EQ(lab_->Routes({"proto", "157"}).size(), 4998u);

    results = socket_.DeleteRoutes(routes);
    for (size_t i = 0; i < results.size(); ++i) {
        int want = i == 4321 || i == 2499 ? ESRCH : 0;
        ASSERT_EQ(results[i].error, want) << "route " << i;
    }
    EXPECT_TRUE(lab_->Routes({"proto", "157"}).empty());
}

TEST_F(RtnetlinkTest, SocketActsInTheNamespaceItWasOpenedIn) {
    // This thread and a new one are in the first namespace; the socket was opened in the lab.
    RtnlResult result;
    std::thread other(
        [&] { result = socket_.AddRoute(TaggedRoute("198.51.100.7", 32, "192.0.2.1", lab_->up0(), 3)); });
    other.join();
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(lab_->Routes({"proto", "157"}).size(), 1u);
    EXPECT_EQ(socket_.GetNamespace(), [this] {
        NetNamespace::Scope scope(lab_->ns());
        return HostGuard_CurrentNamespace();
    }());
}

TEST_F(RtnetlinkTest, HostGuardRefusesChangesInTheFirstNamespace) {
    ASSERT_TRUE(HostGuard_IsEnabled());
    RtnlSocket host;
    ASSERT_EQ(host.Open(), 0);
    ASSERT_EQ(host.GetNamespace(), HostGuard_FirstNamespace());
    // Even without the guard the kernel would refuse this route (no such interface).
    RtnlResult r = host.AddRoute(TaggedRoute("198.51.100.0", 24, "0.0.0.0", 0x7ffffff0, 9));
    EXPECT_EQ(r.error, EPERM);
    std::vector<RtnlResult> many =
        host.DeleteRoutes({TaggedRoute("198.51.100.0", 24, "0.0.0.0", 0x7ffffff0, 9)});
    EXPECT_EQ(many.front().error, EPERM);
    std::vector<RtnlRoute> routes;
    EXPECT_EQ(host.DumpRoutes(&routes), 0) << "reading stays allowed";
}

class RouteTableTest : public RtnetlinkTest {};

TEST_F(RouteTableTest, BestDefaultRouteIsTheLowestMetricNeverATunnelOrTaggedOne) {
    lab_->Ip({"route", "del", "default"});
    lab_->Ip({"route", "add", "default", "via", "192.0.2.1", "metric", "25"});
    lab_->Ip({"route", "add", "default", "via", "192.0.2.254", "metric", "10"});
    lab_->Ip({"route", "add", "default", "dev", "ztun0", "metric", "1"});
    lab_->Ip({"route", "add", "0.0.0.0/1", "via", "192.0.2.77", "metric", "0"});
    lab_->Ip({"route", "add", "default", "via", "192.0.2.9", "metric", "2", "proto", "157"});
    NetNamespace::Scope scope(lab_->ns());
    std::optional<RouteRow> best = FindBestRoute(0);
    ASSERT_TRUE(best.has_value());
    EXPECT_EQ(best->nextHop, Addr("192.0.2.254"));
    EXPECT_EQ(best->ifIndex, lab_->up0());
    EXPECT_EQ(best->metric, 10u);
    EXPECT_EQ(best->direct, 0);
    EXPECT_EQ(best->mask, 0u);
}

TEST_F(RouteTableTest, EqualMetricsGiveTheFirstListedAndNoDefaultGivesNothing) {
    lab_->Ip({"route", "del", "default"});
    {
        NetNamespace::Scope scope(lab_->ns());
        EXPECT_FALSE(FindBestRoute(0).has_value());
    }
    lab_->Ip({"route", "add", "default", "via", "192.0.2.1", "metric", "5"});
    lab_->Ip({"route", "append", "default", "via", "192.0.2.254", "metric", "5"});
    NetNamespace::Scope scope(lab_->ns());
    std::optional<RouteRow> best = FindBestRoute(0);
    ASSERT_TRUE(best.has_value());
    EXPECT_EQ(best->nextHop, Addr("192.0.2.1"));
}

TEST_F(RouteTableTest, GatewaylessDefaultIsDirectThroughTheLinksAddress) {
    lab_->Ip({"route", "del", "default"});
    lab_->Ip({"route", "add", "default", "dev", "up0", "metric", "50"});
    NetNamespace::Scope scope(lab_->ns());
    std::optional<RouteRow> best = FindBestRoute(0);
    ASSERT_TRUE(best.has_value());
    EXPECT_EQ(best->direct, 1);
    EXPECT_EQ(best->nextHop, Addr("192.0.2.2"));
    EXPECT_EQ(best->ifIndex, lab_->up0());
}

TEST_F(RouteTableTest, InterfaceMetricsAndIndexes) {
    NetNamespace::Scope scope(lab_->ns());
    uint32_t metric = 77;
    ASSERT_TRUE(GetInterfaceMetric(lab_->up0(), &metric));
    EXPECT_EQ(metric, 100u);
    ASSERT_TRUE(GetInterfaceMetric(1, &metric));  // lo: no entry
    EXPECT_EQ(metric, 0u);
    EXPECT_FALSE(GetInterfaceMetric(0x7ffffff0, &metric));
    EXPECT_FALSE(GetInterfaceMetric(0, &metric));

    uint32_t index = 0;
    ASSERT_TRUE(GetInterfaceIndexByAddress("192.0.2.2", &index));
    EXPECT_EQ(index, lab_->up0());
    ASSERT_TRUE(GetInterfaceIndexByAddress("10.198.75.60", &index));
    EXPECT_EQ(index, lab_->tun());
    EXPECT_FALSE(GetInterfaceIndexByAddress("192.0.2.1", &index));
    EXPECT_FALSE(GetInterfaceIndexByAddress("192.0.2", &index));

    std::vector<RouteRow> table;
    ASSERT_TRUE(ReadRouteTable(&table));
    EXPECT_TRUE(std::any_of(table.begin(), table.end(), [](const RouteRow& r) {
        return r.destination == Addr("192.0.2.0") && r.mask == Addr("255.255.255.0") && r.direct == 1;
    }));
}

TEST_F(RouteTableTest, StartUpCleanUpRemovesOnlyTaggedRoutes) {
    lab_->Ip({"route", "add", "198.51.100.0/24", "via", "192.0.2.1", "metric", "7"});
    std::vector<std::string> before = lab_->Snapshot();
    lab_->Ip({"route", "add", "198.51.100.0/24", "via", "192.0.2.1", "metric", "8", "proto", "157"});
    lab_->Ip({"route", "add", "0.0.0.0/1", "via", "10.198.75.61", "metric", "2", "proto", "157"});
    lab_->Ip({"route", "add", "203.0.113.5", "dev", "up0", "table", "100", "proto", "157"});
    NetNamespace::Scope scope(lab_->ns());
    EXPECT_EQ(RemoveLeftoverRoutes(), 3);
    EXPECT_EQ(lab_->Snapshot(), before) << routelab::Difference(before, lab_->Snapshot());
    EXPECT_EQ(RemoveLeftoverRoutes(), 0);
}

}  // namespace
