// The node dialogs' additional route typed as a name, resolved inside a
// namespace with no route out whose hosts file names route.test and
// loop.test: the first is saved as its address, the second refused as a
// loopback address, and an unknown name fails at once. The lookups run in a
// child of this test binary started by `ip netns exec`, which gives the
// child the namespace's hosts and resolver files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "dialogs/base/socks_proxy_core.h"
#include "foundation/app_paths.h"
#include "netconfig/additional_route.h"
#include "netconfig/host_cache.h"
#include "nodes/node_mgr.h"
#include "tests/support/net.h"
#include "tests/support/temp_dir.h"

using testsupport::NetNamespace;

namespace {

constexpr const char* kChildFlag = "CENDROW_ROUTE_LOOKUP_CHILD";

// Runs only as the child, inside the namespace.
TEST(RouteLookupChild, NamesThroughTheNamespacesHostsFile) {
    if (!std::getenv(kChildFlag)) GTEST_SKIP() << "runs inside the namespace only";
    testsupport::TempDir dir{"cendrow-route-lookup"};
    InitAppPaths(dir.path() / "cendrow");
    CreateAppFolders();
    CSocksProxyCore core;
    SocksProxyForm form;
    form.server = L"10.0.0.7";
    form.port = L"1080";
    form.route = L"route.test";
    NodeSaveResult saved = core.Save(form, ResolveRouteAddress);
    ASSERT_TRUE(saved.Saved()) << saved.message.Text();
    EXPECT_EQ(CNodeMgr::GetInstance()->FindNode(saved.nodeId)->additionalRoute, "10.77.0.9");
    EXPECT_EQ(CAdditionalRouteMgr::GetInstance()->Exists(L"10.77.0.9"), 1);

    form.route = L"loop.test";
    NodeSaveResult loop = core.Save(form, ResolveRouteAddress);
    EXPECT_STREQ(loop.message.id, "You can not add a loopback IP address.");

    form.route = L"unknown.test";
    const auto start = std::chrono::steady_clock::now();
    NodeSaveResult unknown = core.Save(form, ResolveRouteAddress);
    EXPECT_STREQ(unknown.message.id, "Unable to resolve the additional route domain name you entered");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(CNodeMgr::GetInstance()->GetNodeCount(), 1u);
    EXPECT_EQ(CAdditionalRouteMgr::GetInstance()->GetRoutes().size(), 1u);
}

TEST(RouteLookup, NamesResolveInsideANamespaceWithNoRouteOut) {
    if (std::getenv(kChildFlag)) GTEST_SKIP();
    if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs network namespaces";
    NetNamespace ns("czt-route");
    const std::filesystem::path etc = "/etc/netns/" + ns.name();
    std::filesystem::create_directories(etc);
    struct RemoveEtc {
        std::filesystem::path path;
        ~RemoveEtc() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    } removeEtc{etc};
    std::ofstream(etc / "hosts") << "127.0.0.1 localhost\n10.77.0.9 route.test\n127.0.0.5 loop.test\n";
    // A server the namespace cannot reach: a name not in the hosts file fails at once.
    std::ofstream(etc / "resolv.conf") << "nameserver 192.0.2.53\noptions timeout:1 attempts:1\n";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string out;
    const int rc = ns.Exec({"env", std::string(kChildFlag) + "=1", self,
                            "--gtest_filter=RouteLookupChild.NamesThroughTheNamespacesHostsFile"},
                           &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

}  // namespace
