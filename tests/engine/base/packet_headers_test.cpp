#include "engine/base/packet_headers.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A valid IPv4 header (with `opts` option bytes) followed by `payload` bytes.
std::vector<uint8_t> Ipv4Packet(int opts, int payload, int trailing = 0) {
    int hl = 20 + opts;
    std::vector<uint8_t> p(static_cast<size_t>(hl + payload + trailing), 0xAA);
    IPv4Header h{};
    h.version4_ihl4 = static_cast<uint8_t>(0x40 | (hl / 4));
    h.total_length = htons(static_cast<uint16_t>(hl + payload));
    h.ttl = 64;
    h.protocol = IPV4_PROTOCOL_UDP;
    h.source_address = inet_addr("10.0.0.1");
    h.destination_address = inet_addr("10.0.0.2");
    std::memcpy(p.data(), &h, 20);
    for (int i = 0; i < opts; ++i) p[static_cast<size_t>(20 + i)] = 1;  // NOPs
    h.checksum = IPv4Header_Checksum(&h, p.data() + 20, opts);
    std::memcpy(p.data(), &h, 20);
    return p;
}

void Refresh(std::vector<uint8_t>& p) {
    IPv4Header h;
    std::memcpy(&h, p.data(), 20);
    h.checksum = 0;
    int hl = (h.version4_ihl4 & 15) * 4;
    if (hl > static_cast<int>(p.size())) hl = 20;  // the check refuses it before the checksum anyway
    h.checksum = IPv4Header_Checksum(&h, p.data() + 20, hl > 20 ? hl - 20 : 0);
    std::memcpy(p.data(), &h, 20);
}

// Reference RFC 1071 sum over a whole buffer (odd byte padded).
uint16_t Reference(const std::vector<uint8_t>& bytes) {
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t w = static_cast<uint32_t>(bytes[i]) << 8;
        if (i + 1 < bytes.size()) w |= bytes[i + 1];
        sum += w;
    }
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

}  // namespace

TEST(IPv4Header, CheckAcceptsSoundPackets) {
    for (int opts : {0, 4, 40}) {
        auto p = Ipv4Packet(opts, 30, 5);  // trailing bytes beyond the total length are ignored
        IPv4Header h;
        const uint8_t* payload;
        int payload_len;
        ASSERT_EQ(IPv4Header_Check(p.data(), static_cast<int>(p.size()), &h, &payload, &payload_len), 1)
            << opts;
        EXPECT_EQ(payload, p.data() + 20 + opts);
        EXPECT_EQ(payload_len, 30);
        EXPECT_EQ(h.destination_address, inet_addr("10.0.0.2"));
    }
}

TEST(IPv4Header, CheckRejectsBrokenHeaders) {
    struct Case {
        const char* what;
        void (*spoil)(std::vector<uint8_t>&);
        bool refresh;
    } cases[] = {
        {"ihl 4", [](std::vector<uint8_t>& p) { p[0] = 0x44; }, true},
        {"ihl beyond buffer", [](std::vector<uint8_t>& p) { p[0] = 0x4F; }, true},
        {"version 6", [](std::vector<uint8_t>& p) { p[0] = 0x65; }, true},
        {"total below header",
         [](std::vector<uint8_t>& p) {
             p[2] = 0;
             p[3] = 19;
         },
         true},
        {"total above buffer",
         [](std::vector<uint8_t>& p) {
             p[2] = 0;
             p[3] = 51;
         },
         true},
        {"wrong checksum", [](std::vector<uint8_t>& p) { p[8] ^= 1; }, false},
        {"short buffer", [](std::vector<uint8_t>& p) { p.resize(19); }, false},
    };
    for (const auto& c : cases) {
        auto p = Ipv4Packet(0, 30);
        c.spoil(p);
        if (c.refresh && p.size() >= 20) Refresh(p);
        IPv4Header h;
        const uint8_t* payload;
        int payload_len;
        EXPECT_EQ(IPv4Header_Check(p.data(), static_cast<int>(p.size()), &h, &payload, &payload_len), 0)
            << c.what;
    }
}

TEST(IPv6Header, Check) {
    std::vector<uint8_t> p(40 + 12, 0);
    p[0] = 0x60;
    p[5] = 12;
    IPv6Header h;
    const uint8_t* payload;
    int payload_len;
    ASSERT_EQ(IPv6Header_Check(p.data(), static_cast<int>(p.size()), &h, &payload, &payload_len), 1);
    EXPECT_EQ(payload, p.data() + 40);
    EXPECT_EQ(payload_len, 12);
    p[5] = 13;  // claims more than the buffer holds
    EXPECT_EQ(IPv6Header_Check(p.data(), static_cast<int>(p.size()), &h, &payload, &payload_len), 0);
    p[5] = 12;
    p[0] = 0x40;
    EXPECT_EQ(IPv6Header_Check(p.data(), static_cast<int>(p.size()), &h, &payload, &payload_len), 0);
    EXPECT_EQ(IPv6Header_Check(p.data(), 39, &h, &payload, &payload_len), 0);
}

TEST(UdpHeader, CheckLengthField) {
    struct {
        int field, buffer, expect;
    } cases[] = {{8, 8, 1}, {20, 20, 1}, {20, 30, 1}, {7, 20, 0}, {21, 20, 0}, {8, 7, 0}};
    for (const auto& c : cases) {
        std::vector<uint8_t> d(static_cast<size_t>(c.buffer), 0);
        if (c.buffer >= 6) {
            d[4] = static_cast<uint8_t>(c.field >> 8);
            d[5] = static_cast<uint8_t>(c.field);
        }
        UdpHeader h;
        const uint8_t* payload = nullptr;
        int payload_len = -1;
        EXPECT_EQ(UdpHeader_Check(d.data(), c.buffer, &h, &payload, &payload_len), c.expect)
            << c.field << "/" << c.buffer;
        if (c.expect) {
            EXPECT_EQ(payload_len, c.field - 8);
            EXPECT_EQ(payload, d.data() + 8);
        }
    }
}

TEST(Checksum, UdpIPv4MatchesReferenceAndPadsOddBytes) {
    uint32_t src = inet_addr("10.198.75.60"), dst = inet_addr("8.8.8.8");
    for (int len : {0, 1, 5, 512, 1473}) {
        std::vector<uint8_t> payload(static_cast<size_t>(len));
        for (int i = 0; i < len; ++i) payload[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + 3);
        UdpHeader h{htons(5353), htons(53), htons(static_cast<uint16_t>(8 + len)), 0};
        std::vector<uint8_t> pseudo;
        auto put = [&](const void* p, size_t n) {
            auto* b = static_cast<const uint8_t*>(p);
            pseudo.insert(pseudo.end(), b, b + n);
        };
        put(&src, 4);
        put(&dst, 4);
        uint8_t zp[2] = {0, 17};
        put(zp, 2);
        uint16_t ulen = htons(static_cast<uint16_t>(8 + len));
        put(&ulen, 2);
        put(&h, 8);
        put(payload.data(), payload.size());
        uint16_t want = Reference(pseudo);
        if (want == 0) want = 0xFFFF;
        EXPECT_EQ(ntohs(UdpChecksum_IPv4(&h, payload.data(), len, src, dst)), want) << len;
    }
}

TEST(Checksum, UdpComputedZeroIsSentAsAllOnes) {
    // Choose the payload word so that the one's-complement sum is 0xFFFF.
    uint32_t src = 0, dst = 0;
    UdpHeader h{0, 0, htons(10), 0};
    uint32_t sum = 17 + 10 + 10;  // protocol, pseudo length, header length field
    uint16_t word = static_cast<uint16_t>(0xFFFF - sum);
    uint8_t payload[2] = {static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
    EXPECT_EQ(UdpChecksum_IPv4(&h, payload, 2, src, dst), 0xFFFF);
    uint8_t zero16[16] = {};
    EXPECT_EQ(UdpChecksum_IPv6(&h, payload, 2, zero16, zero16), 0xFFFF);
}

TEST(Checksum, UdpIPv6MatchesReference) {
    uint8_t src[16], dst[16];
    inet_pton(AF_INET6, "fd00::1", src);
    inet_pton(AF_INET6, "2001:db8::35", dst);
    std::vector<uint8_t> payload = {1, 2, 3, 4, 5};
    UdpHeader h{htons(1000), htons(53), htons(13), 0};
    std::vector<uint8_t> pseudo(src, src + 16);
    pseudo.insert(pseudo.end(), dst, dst + 16);
    uint8_t tail[8] = {0, 0, 0, 13, 0, 0, 0, 17};
    pseudo.insert(pseudo.end(), tail, tail + 8);
    auto* hb = reinterpret_cast<const uint8_t*>(&h);
    pseudo.insert(pseudo.end(), hb, hb + 8);
    pseudo.insert(pseudo.end(), payload.begin(), payload.end());
    EXPECT_EQ(ntohs(UdpChecksum_IPv6(&h, payload.data(), 5, src, dst)), Reference(pseudo));
}

TEST(Checksum, SumWordsIgnoresOddByte) {
    uint8_t d[5] = {0x12, 0x34, 0xFF, 0xFF, 0x99};
    EXPECT_EQ(Checksum_SumWords(5, d), 0x1234u + 0xFFFFu);
    EXPECT_EQ(Checksum_SumWords(0, d), 0u);
}
