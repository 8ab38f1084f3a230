#include "engine/base/baddr.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

BAddr V4(const char* ip, int port) {
    BAddr a;
    BAddr_InitIPv4(&a, inet_addr(ip), htons(static_cast<uint16_t>(port)));
    return a;
}

BAddr V6(const char* ip, int port) {
    uint8_t b[16];
    EXPECT_EQ(inet_pton(AF_INET6, ip, b), 1);
    BAddr a;
    BAddr_InitIPv6(&a, b, htons(static_cast<uint16_t>(port)));
    return a;
}

std::string Text(const BAddr& a) {
    char buf[BADDR_MAX_PRINT_LEN];
    std::memset(buf, 0x55, sizeof buf);
    buf[0] = '\0';
    BAddr_ToText(&a, buf);
    return buf;
}

}  // namespace

TEST(BAddr, Parse2AcceptsEndpoints) {
    BAddr a;
    ASSERT_EQ(BAddr_Parse2("127.0.0.1:7300", &a, 1), 1);
    BAddr want = V4("127.0.0.1", 7300);
    EXPECT_EQ(BAddr_Compare(&a, &want), 0);
    ASSERT_EQ(BAddr_Parse2("[::1]:80", &a, 1), 1);
    EXPECT_EQ(a.type, BADDR_TYPE_IPV6);
    EXPECT_EQ(ntohs(a.ipv6.port), 80);
    EXPECT_EQ(a.ipv6.ip[15], 1);
    ASSERT_EQ(BAddr_Parse2("10.0.0.1:65535", &a, 1), 1);
    EXPECT_EQ(ntohs(a.ipv4.port), 65535);
}

TEST(BAddr, Parse2RejectsMalformedText) {
    const std::string long_addr(128, '1');
    const char* cases[] = {
        "",
        "127.0.0.1",
        "[::1]",
        "[::1]80",
        "127.0.0.1:65536",
        "127.0.0.1:",
        "127.0.0.1:80a",
        "127.0.0.1:000080",
        "1.2.3.4.5:80",
        "[1.2.3.4]:80",
        "::1:80",
        "[::1:80",
    };
    for (const char* c : cases) {
        BAddr a;
        EXPECT_EQ(BAddr_Parse2(c, &a, 1), 0) << c;
    }
    BAddr a;
    EXPECT_EQ(BAddr_Parse2((long_addr + ":80").c_str(), &a, 1), 0);
    EXPECT_EQ(BAddr_Parse2((std::string(1001, '1')).c_str(), &a, 1), 0);
}

TEST(BIPAddr, ResolveLiteralsAndNameLimit) {
    BIPAddr ip;
    ASSERT_EQ(BIPAddr_Resolve("10.198.75.61", &ip, 1), 1);
    EXPECT_EQ(ip.type, BADDR_TYPE_IPV4);
    EXPECT_EQ(ip.ipv4, inet_addr("10.198.75.61"));
    ASSERT_EQ(BIPAddr_Resolve("[fe80::1]", &ip, 1), 1);
    EXPECT_EQ(ip.type, BADDR_TYPE_IPV6);
    EXPECT_EQ(BIPAddr_Resolve("fe80::1", &ip, 1), 0) << "IPv6 text without brackets is looked up as IPv4";
    EXPECT_EQ(BIPAddr_Resolve("not-an-address", &ip, 1), 0);
    // Leading zeros keep a literal valid while making it as long as needed:
    // 128 characters are looked up, 129 are refused before any lookup.
    std::string name128 = std::string(128 - 7, '0') + "1.2.3.4";
    ASSERT_EQ(BIPAddr_Resolve(name128.c_str(), &ip, 1), 1);
    EXPECT_EQ(ip.ipv4, inet_addr("1.2.3.4"));
    EXPECT_EQ(BIPAddr_Resolve(("0" + name128).c_str(), &ip, 1), 0);
    EXPECT_EQ(BIPAddr_Resolve("localhost", &ip, 0), 1) << "names are resolved unless told otherwise";
}

TEST(BAddr, ToText) {
    EXPECT_EQ(Text(V4("1.2.3.4", 80)), "1.2.3.4:80");
    EXPECT_EQ(Text(V6("::1", 53)), "0:0:0:0:0:0:0:1:53");
    EXPECT_EQ(Text(V6("fe80::abcd:1", 65535)), "fe80:0:0:0:0:0:abcd:1:65535");
    BAddr none;
    BAddr_InitNone(&none);
    EXPECT_EQ(Text(none), "(none)");
    BAddr odd = none;
    odd.type = 9;
    EXPECT_EQ(Text(odd), "") << "unknown types write nothing";
    BAddr longest = V6("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 65535);
    EXPECT_EQ(Text(longest).size(), 45u);
}

TEST(BAddr, CompareIsATotalOrder) {
    BAddr none1, none2;
    BAddr_InitNone(&none1);
    BAddr_InitNone(&none2);
    none2.ipv4.ip = 12345;  // garbage behind type 0 is ignored
    struct {
        BAddr a, b;
        int expected;
    } cases[] = {
        {V4("10.0.0.1", 9), V4("10.0.0.2", 1), -1},
        {V4("10.0.0.2", 1), V4("10.0.0.1", 9), 1},
        {V4("10.0.0.1", 1), V4("10.0.0.1", 2), -1},
        {V4("10.0.0.1", 80), V4("10.0.0.1", 80), 0},
        {V4("1.0.0.0", 1), V4("0.255.255.255", 1), 1},  // numeric, not byte order of the host
        {V4("255.255.255.255", 65535), V6("::", 0), -1},
        {V6("::1", 5), V4("0.0.0.0", 0), 1},
        {V6("::1", 5), V6("::2", 1), -1},
        {V6("ff00::", 5), V6("::ff", 1), 1},
        {V6("::1", 2), V6("::1", 1), 1},
        {none1, none2, 0},
        {none1, V4("0.0.0.0", 0), -1},
    };
    for (auto& c : cases) {
        EXPECT_EQ(BAddr_Compare(&c.a, &c.b), c.expected) << Text(c.a) << " vs " << Text(c.b);
    }
}

TEST(IPv6Text, ParseAcceptsRfcForms) {
    const char* ok[] = {"::",
                        "::1",
                        "1::",
                        "fe80::1:2",
                        "::ffff:1.2.3.4",
                        "1:2:3:4:5:6:7:8",
                        "ABCD:ef01::",
                        "1:2:3:4:5:6:1.2.3.4",
                        "1::8"};
    for (const char* t : ok) {
        uint8_t got[16], want[16];
        ASSERT_EQ(IPv6Text_Parse(t, std::strlen(t), got), 1) << t;
        ASSERT_EQ(inet_pton(AF_INET6, t, want), 1) << t;
        EXPECT_EQ(std::memcmp(got, want, 16), 0) << t;
    }
}

TEST(IPv6Text, ParseRejectsViolations) {
    const char* bad[] = {"",
                         "1:::2",
                         "1::2::3",
                         "1:2:3:4:5:6:7:8:9",
                         "::1.2.3",
                         "::01.2.3.4",
                         "::256.1.1.1",
                         "1:2:3:4:5:6:7",
                         ":1::",
                         "1::2:",
                         "12345::",
                         "::g",
                         "1:2:3:4:5:6:7::8",
                         "::1.2.3.4.5",
                         "::1..2.3",
                         "1.2.3.4",
                         "::1.2.3.4:1"};
    for (const char* t : bad) {
        uint8_t got[16];
        EXPECT_EQ(IPv6Text_Parse(t, std::strlen(t), got), 0) << t;
    }
}

TEST(DigitValues, DecimalAndHex) {
    EXPECT_EQ(DecimalDigitValue('0'), 0);
    EXPECT_EQ(DecimalDigitValue('9'), 9);
    EXPECT_EQ(DecimalDigitValue('a'), -1);
    EXPECT_EQ(HexDigitValue('a'), 10);
    EXPECT_EQ(HexDigitValue('F'), 15);
    EXPECT_EQ(HexDigitValue('g'), -1);
    EXPECT_EQ(HexDigitValue('/'), -1);
}
