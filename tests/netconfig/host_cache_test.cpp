// The host-name cache on a clock the test moves: freshness at 47 and 48
// hours, replacement, refreshing a stale entry, and many threads at once.
#include "netconfig/host_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "netconfig/local_host.h"

namespace {

std::atomic<int64_t> g_now{1'700'000'000};
int64_t TestClock() {
    return g_now.load();
}

class HostCacheTest : public ::testing::Test {
protected:
    void SetUp() override { SetHostCacheClock(&TestClock); }
    void TearDown() override { SetHostCacheClock(nullptr); }
    // Names are never removed from the process-wide cache: each test uses its own.
    static std::string Name(const char* tag) {
        return std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "." + tag;
    }
};

TEST_F(HostCacheTest, EntryIsFreshForJustUnderFortyEightHours) {
    struct Case {
        int64_t age;
        int fresh;
    } cases[] = {
        {0, 1}, {47 * 3600, 1}, {kHostCacheLifetime - 1, 1}, {kHostCacheLifetime, 0}, {49 * 3600, 0}};
    for (const Case& c : cases) {
        std::string name = Name(std::to_string(c.age).c_str());
        HostCacheStore(name, "192.0.2.7");
        g_now += c.age;
        std::string address = "untouched";
        EXPECT_EQ(HostCacheLookup(name, &address), c.fresh) << "age " << c.age;
        EXPECT_EQ(address, c.fresh ? "192.0.2.7" : "untouched") << "age " << c.age;
        EXPECT_EQ(HostCacheContains(name), 1) << "stale entries stay";
    }
}

TEST_F(HostCacheTest, StoreReplacesAddressAndRestartsTheLifetime) {
    std::string name = Name("n");
    EXPECT_EQ(HostCacheContains(name), 0);
    HostCacheStore(name, "192.0.2.1");
    g_now += 47 * 3600;
    HostCacheStore(name, "192.0.2.2");
    g_now += 47 * 3600;
    std::string address;
    ASSERT_EQ(HostCacheLookup(name, &address), 1);
    EXPECT_EQ(address, "192.0.2.2");
}

TEST_F(HostCacheTest, NamesAreComparedExactly) {
    std::string name = Name("Case");
    HostCacheStore(name, "192.0.2.3");
    std::string upper = name;
    for (char& ch : upper) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    EXPECT_EQ(HostCacheContains(upper), 0);
    EXPECT_EQ(HostCacheLookup(upper, nullptr), 0);
}

TEST_F(HostCacheTest, FreshEntryAnswersWithoutResolving) {
    // "localhost" resolves to 127.0.0.1; a fresh entry must win over the resolver.
    std::string address;
    HostCacheStore("localhost", "192.0.2.44");
    ASSERT_EQ(ResolveHostCached("localhost", &address), 1);
    EXPECT_EQ(address, "192.0.2.44");
}

TEST_F(HostCacheTest, StaleEntryIsResolvedAgainAndRefreshed) {
    HostCacheStore("localhost", "192.0.2.45");
    g_now += kHostCacheLifetime + 5;
    std::string address;
    ASSERT_EQ(ResolveHostCached("localhost", &address), 1);
    EXPECT_EQ(address, "127.0.0.1");
    // The fresh answer was stored: the next look-up needs no resolution.
    address.clear();
    ASSERT_EQ(HostCacheLookup("localhost", &address), 1);
    EXPECT_EQ(address, "127.0.0.1");
}

TEST_F(HostCacheTest, DottedAddressResolvesToItselfAndIsCached) {
    std::string address;
    ASSERT_EQ(ResolveHostCached("198.51.100.9", &address), 1);
    EXPECT_EQ(address, "198.51.100.9");
    EXPECT_EQ(HostCacheLookup("198.51.100.9", nullptr), 1);
}

TEST_F(HostCacheTest, RouteAddressPassesAddressTextAndResolvesNames) {
    // Address text comes back as typed (its validity is the dialog's check)
    // and is not cached; names go through the cache.
    const std::string name = Name("route");
    HostCacheStore(name, "192.0.2.60");
    struct Case {
        std::string text;
        std::string address;
    } cases[] = {{"10.0.0.1", "10.0.0.1"}, {"10.1", "10.1"}, {"0.1.2.3", "0.1.2.3"},
                 {name, "192.0.2.60"},     {"", ""},         {std::string("a\0b", 3), ""}};
    for (const Case& c : cases) EXPECT_EQ(ResolveRouteAddress(c.text), c.address) << c.text;
    EXPECT_EQ(HostCacheContains("10.0.0.1"), 0);
    // A stale entry is resolved again: "localhost" from the hosts file.
    HostCacheStore("localhost", "192.0.2.61");
    g_now += kHostCacheLifetime;
    EXPECT_EQ(ResolveRouteAddress("localhost"), "127.0.0.1");
}

TEST_F(HostCacheTest, EmptyNameDoesNotResolve) {
    std::string address = "untouched";
    EXPECT_EQ(ResolveHostCached("", &address), 0);
    EXPECT_EQ(address, "untouched");
    EXPECT_EQ(HostCacheContains(""), 0);
}

TEST_F(HostCacheTest, ThreadsStoreAndLookUpAtOnce) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) {
                std::string name = "threads." + std::to_string(i % 50);
                std::string address = "192.0.2." + std::to_string(t);
                if (i % 3 == 0) {
                    HostCacheStore(name, address);
                } else {
                    std::string got;
                    if (HostCacheLookup(name, &got)) {
                        EXPECT_EQ(got.rfind("192.0.2.", 0), 0u);
                    }
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int i = 0; i < 50; ++i) EXPECT_EQ(HostCacheContains("threads." + std::to_string(i)), 1);
}

// Before the local host information is written only null, "localhost" and
// 127.x count as this machine.
TEST(LocalAddress, BeforeStartUpOnlyLoopbackFormsAreLocal) {
    ASSERT_TRUE(GetOwnAddresses().empty());
    struct Case {
        const char* host;
        int local;
    } cases[] = {{nullptr, 1},     {"localhost", 1},   {"LocalHost", 1},       {"127.8.9.10", 1},
                 {"127.0.0.1", 1}, {"192.168.1.9", 0}, {"other.example", 0},   {"", 0},
                 {"10.0.0.5", 0},  {"128.0.0.1", 0},   {"255.255.255.255", 0}, {"localhost.", 0}};
    for (const Case& c : cases) EXPECT_EQ(IsLocalAddress(c.host), c.local) << (c.host ? c.host : "(null)");
    EXPECT_EQ(IsLocalAddressW(nullptr), 1);
    EXPECT_EQ(IsLocalAddressW(L"LOCALHOST"), 1);
    EXPECT_EQ(IsLocalAddressW(L"127.1.1.1"), 1);
    EXPECT_EQ(IsLocalAddressW(L"\u00e9xample"), 0);
}

}  // namespace
