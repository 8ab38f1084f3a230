// The namespace fixtures that every end-to-end test stands on: two namespaces
// joined by a veth pair reach each other and nothing else, and everything is
// gone afterwards.
#include <gtest/gtest.h>

#include "tests/support/net.h"

using testsupport::NetNamespace;

TEST(TestTopology, VethPairJoinsTwoNamespacesAndIsRemoved) {
    if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs root and iproute2";
    std::string a_name;
    {
        NetNamespace a("czt-a");
        NetNamespace b("czt-b");
        a_name = a.name();
        testsupport::LinkNamespaces(a, "veth-a", "10.77.0.1/24", b, "veth-b", "10.77.0.2/24");
        EXPECT_EQ(a.Exec({"ping", "-c", "1", "-W", "2", "10.77.0.2"}), 0);
        // No default route: the namespace cannot reach anything beyond its link.
        EXPECT_NE(a.Exec({"ping", "-c", "1", "-W", "1", "10.78.0.1"}), 0);
    }
    std::string list;
    testsupport::RunCommand({"ip", "netns", "list"}, &list);
    EXPECT_EQ(list.find(a_name), std::string::npos);
}

TEST(TestTopology, ThreadScopeEntersNamespace) {
    if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs root and iproute2";
    NetNamespace ns("czt-s");
    ns.MustExec({"ip", "tuntap", "add", "dev", "ztun7", "mode", "tun"});
    {
        NetNamespace::Scope scope(ns);
        std::string out;
        testsupport::RunCommand({"ip", "link", "show", "ztun7"}, &out);
        EXPECT_NE(out.find("ztun7"), std::string::npos);
    }
    EXPECT_NE(testsupport::RunCommand({"ip", "link", "show", "ztun7"}), 0);
}
