#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/tuntap/btap.h"
#include "tests/support/blog_capture.h"

TEST(BTapSpec, SplitSpecKeepsRestInLastField) {
    char* f[5];
    ASSERT_EQ(split_spec(5, "tap0901:name:1.2.3.4:5.6.7.0:255.0.0.0", f), 1);
    std::vector<std::string> got(f, f + 5);
    for (char* p : f) std::free(p);
    EXPECT_EQ(got, (std::vector<std::string>{"tap0901", "name", "1.2.3.4", "5.6.7.0", "255.0.0.0"}));

    ASSERT_EQ(split_spec(3, "a::b:c:d", f), 1);
    got.assign(f, f + 3);
    for (int i = 0; i < 3; ++i) std::free(f[i]);
    EXPECT_EQ(got, (std::vector<std::string>{"a", "", "b:c:d"}));

    EXPECT_EQ(split_spec(5, "tap0901:name:1.2.3.4:5.6.7.0", f), 0);  // three separators only
}

TEST(BTapSpec, DottedQuad) {
    struct {
        const char* text;
        int ok;
        uint8_t bytes[4];
    } cases[] = {
        {"10.198.75.60", 1, {10, 198, 75, 60}},
        {"060.0.00.255", 1, {60, 0, 0, 255}},  // leading zeros are skipped, not octal
        {"0.0.0.0", 1, {0, 0, 0, 0}},
        {"1.2.3", 0, {}},
        {"1.2.3.4.5", 0, {}},
        {"1.2.3.256", 0, {}},
        {"1.2..4", 0, {}},
        {"1.2.3.0004", 0, {}},
        {"1.2.3.4 ", 0, {}},
        {"a.2.3.4", 0, {}},
        {"", 0, {}},
    };
    for (const auto& c : cases) {
        uint8_t out[4] = {9, 9, 9, 9};
        ASSERT_EQ(tap_parse_ipv4(c.text, std::strlen(c.text), out), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(std::memcmp(out, c.bytes, 4), 0) << c.text;
        }
    }
}

TEST(BTapSpec, InitRefusesBadSpecificationsBeforeLookingForADevice) {
    BTime_Start();
    const char* bad[] = {
        nullptr,
        "tap0901:name:10.198.75.60:10.198.75.0",                   // fewer than four separators
        "tap0901:my:name:10.198.75.60:10.198.75.0:255.255.255.0",  // ':' in the name shifts the fields
        "tap0901:name:10.198.75.600:10.198.75.0:255.255.255.0",
    };
    for (const char* spec : bad) {
        testsupport::BLogCapture log;
        BReactor reactor;
        ASSERT_EQ(BReactor_Init(&reactor), 1);
        BTap tap;
        EXPECT_EQ(BTap_Init(
                      &tap, &reactor, spec, [](void*) {}, nullptr),
                  0)
            << (spec ? spec : "(null)");
        EXPECT_TRUE(log.Contains(
            spec ? "failed to parse TUN device specification" : "no device specification provided",
            BLOG_CHANNEL_BTap))
            << (spec ? spec : "(null)");
        EXPECT_FALSE(log.Contains("Looking for TUN device"));
        BReactor_Free(&reactor);
    }
}
