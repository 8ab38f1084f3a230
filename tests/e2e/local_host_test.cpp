// The local host information read inside a namespace the test builds with
// known interface addresses: localhost.ini's keys, the own-subnet test, and
// a name that does not resolve leaving the cache alone.
#include "netconfig/local_host.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "foundation/ini.h"
#include "netconfig/host_cache.h"
#include "tests/support/net.h"
#include "tests/support/temp_dir.h"

using testsupport::NetNamespace;
using testsupport::TempDir;

namespace {

struct IniValues {
    std::wstring dummyip, hostname, iplist;
};

IniValues ReadLocalHostIni(const std::filesystem::path& folder) {
    CIniNembril ini(folder, "localhost.ini");
    return {ini.GetString(L"basic", L"dummyip", kIniSentinel),
            ini.GetString(L"basic", L"hostname", kIniSentinel),
            ini.GetString(L"basic", L"iplist", kIniSentinel)};
}

std::string MachineHostName() {
    char host[257] = {};
    gethostname(host, 256);
    return host;
}

// Interfaces in the namespace: lo, then one dummy per address, in order.
void AddDummies(const NetNamespace& ns, const std::vector<std::string>& cidrs) {
    int n = 0;
    for (const std::string& cidr : cidrs) {
        std::string dev = "zdum" + std::to_string(n++);
        testsupport::AddDummyLink(ns, dev);
        ns.MustExec({"ip", "addr", "add", cidr, "dev", dev});
        ns.MustExec({"ip", "link", "set", dev, "up"});
    }
}

// Writes localhost.ini inside a namespace whose interfaces carry `cidrs`
// (and lo a second loopback address, which must never be listed) and reads it back.
IniValues RecordIn(const std::vector<std::string>& cidrs) {
    NetNamespace ns("czt-lh");
    AddDummies(ns, cidrs);
    ns.MustExec({"ip", "addr", "add", "127.0.0.2/8", "dev", "lo"});
    TempDir folder;
    std::filesystem::create_directory(folder / "config");
    {
        NetNamespace::Scope scope(ns);
        EXPECT_EQ(WriteLocalHostIni(folder.path()), 1);
    }
    return ReadLocalHostIni(folder.path());
}

TEST(LocalHostInfo, RecordsInterfaceAddressesAndAnswersTheLocalTest) {
    if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs root and iproute2";
    IniValues v = RecordIn({"10.0.0.5/24", "192.168.1.9/24"});
    EXPECT_EQ(v.dummyip, L"240");
    EXPECT_EQ(v.iplist, L"10.0.0.5,192.168.1.9");
    std::string host = MachineHostName();
    EXPECT_EQ(v.hostname, std::wstring(host.begin(), host.end()));
    EXPECT_EQ(GetLocalHostName(), host);

    std::string upperHost = host;
    for (char& ch : upperHost) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    struct Case {
        std::string host;
        int local;
    } cases[] = {
        {"192.168.1.200", 1}, {"192.168.1.9", 1}, {"192.168.2.1", 0}, {"10.0.0.254", 1},    {"10.0.1.5", 0},
        {"LOCALHOST", 1},     {"127.8.9.10", 1},  {upperHost, 1},     {"other.example", 0}, {"", 0}};
    for (const Case& c : cases) EXPECT_EQ(IsLocalAddress(c.host.c_str()), c.local) << c.host;
    EXPECT_EQ(IsInOwnSubnet(inet_addr("10.0.0.1")), 1);
    EXPECT_EQ(IsInOwnSubnet(inet_addr("11.0.0.1")), 0);
}

TEST(LocalHostInfo, NoTenNetworkKeepsDummyTenAndLoopbackIsNeverListed) {
    if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs root and iproute2";
    IniValues v = RecordIn({"192.168.1.9/24", "172.16.5.5/16"});
    EXPECT_EQ(v.dummyip, L"10");
    EXPECT_EQ(v.iplist, L"192.168.1.9,172.16.5.5");
    // A later start-up replaces the set: the first test's 10.0.0.x is no longer ours.
    EXPECT_EQ(IsLocalAddress("10.0.0.254"), 0);
    EXPECT_EQ(IsLocalAddress("172.16.5.77"), 1);
}

TEST(HostCacheResolve, UnresolvableNameFailsAndLeavesTheCacheAlone) {
    if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs root and iproute2";
    // In a namespace with only lo no resolver is reachable, so nothing leaves the machine.
    NetNamespace ns("czt-hc");
    NetNamespace::Scope scope(ns);
    std::string address = "untouched";
    EXPECT_EQ(ResolveHostCached("no-such-host.invalid", &address), 0);
    EXPECT_EQ(address, "untouched");
    EXPECT_EQ(HostCacheContains("no-such-host.invalid"), 0);
}

}  // namespace
