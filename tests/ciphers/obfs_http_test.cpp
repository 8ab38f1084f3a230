// The HTTP look-alike obfuscations and random_head, byte by byte.
#include <gtest/gtest.h>
#include <zlib.h>

#include <set>
#include <string>

#include "ciphers/plugins/obfs_factory.h"
#include "ciphers/plugins/obfs_http.h"
#include "foundation/private_heap.h"
#include "tests/ciphers/ssr_client_pipe.h"
#include "tests/ciphers/test_util.h"

using ciphertest::U;
using ssrtest::DecodeOnce;
using ssrtest::EncodeOnce;

namespace {

std::unique_ptr<CObfs> MakeObfs(const std::string& name, const std::string& host, uint16_t port,
                                const std::string& param, uint32_t ivLength = 16, uint32_t headLength = 7) {
    auto p = CreateObfs(name, param);
    SSRServerInfo info;
    info.host = host;
    info.port = port;
    info.param = param;
    info.ivLength = ivLength;
    info.headLength = headLength;
    info.bufferSize = 65507;
    p->SetServerInfo(info);
    return p;
}



std::string Bytes(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>(i * 37 + 11);
    return s;
}

std::string Percent(const std::string& s) {
    static const char d[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) out += std::string("%") + d[c >> 4] + d[c & 15];
    return out;
}

}  // namespace

TEST(ObfsHttp, PostOnPort80SendsTheHeadInThePathAndTheRestAsBody) {
    auto obfs = MakeObfs("http_post", "proxy.example.org", 80, "");
    const std::string in = Bytes(100);
    const std::string out = EncodeOnce(*obfs, in);
    // Head size = IV length 16 + address header 7.
    const std::string line = "POST /" + Percent(in.substr(0, 23)) + " HTTP/1.1\r\nHost: proxy.example.org\r\n";
    ASSERT_EQ(out.substr(0, line.size()), line);
    const size_t end = out.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(out.substr(end + 4), in.substr(23));
    const std::string head = out.substr(0, end + 4);
    const size_t type = head.find("Content-Type: multipart/form-data; boundary=");
    ASSERT_NE(type, std::string::npos);
    EXPECT_EQ(head.substr(type + 44 + 32), "\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_NE(head.find("\r\nUser-Agent: Mozilla/"), std::string::npos);
    EXPECT_NE(head.find("\r\nDNT: 1\r\n"), std::string::npos);

    // The second upload goes out as it is, even before any response.
    EXPECT_EQ(EncodeOnce(*obfs, "later bytes"), "later bytes");
}

TEST(ObfsHttp, HostAndHeaderComeFromTheParameter) {
    struct Case {
        const char* param;
        const char* host;
        uint16_t port;
        std::set<std::string> hosts;
        const char* custom;  // expected header lines, or null for the standard ones
    } cases[] = {
        {"", "proxy.example.org", 8388, {"proxy.example.org:8388"}, nullptr},
        {"cdn.example.com", "1.2.3.4", 443, {"cdn.example.com:443"}, nullptr},
        {" a.example , b.example ", "1.2.3.4", 80, {"a.example", "b.example"}, nullptr},
        {"cdn.example.com#X-Token: abc\\r\\nX-Other: d ", "1.2.3.4", 80, {"cdn.example.com"},
         "X-Token: abc\r\nX-Other: d\r\n\r\n"},
        {"", "", 80, {"www.bing.com"}, nullptr},
    };
    for (const Case& c : cases) {
        std::set<std::string> seen;
        for (int i = 0; i < 40; ++i) {
            auto obfs = MakeObfs("http_simple", c.host, c.port, c.param);
            const std::string out = EncodeOnce(*obfs, Bytes(30));
            ASSERT_EQ(out.rfind("GET /", 0), 0u) << c.param;
            const size_t at = out.find("\r\nHost: ") + 8;
            seen.insert(out.substr(at, out.find("\r\n", at) - at));
            const size_t end = out.find("\r\n\r\n");
            if (c.custom) {
                EXPECT_EQ(out.find("User-Agent"), std::string::npos) << c.param;
                const size_t hostEnd = out.find("\r\n", at) + 2;
                EXPECT_EQ(out.substr(hostEnd, end + 4 - hostEnd), c.custom) << c.param;
            } else {
                EXPECT_NE(out.find("\r\nUser-Agent: "), std::string::npos) << c.param;
            }
            EXPECT_EQ(out.substr(end + 4), Bytes(30).substr(23)) << c.param;
        }
        EXPECT_EQ(seen, c.hosts) << c.param;
    }
}

TEST(ObfsHttp, ShortInputGoesWhollyIntoThePathAndLongHeadersFit) {
    auto obfs = MakeObfs("http_simple", "h.example", 80, "");
    const std::string out = EncodeOnce(*obfs, Bytes(10));
    EXPECT_EQ(out.substr(0, 6 + 30), "GET /" + Percent(Bytes(10)) + " ");
    EXPECT_EQ(out.substr(out.size() - 4), "\r\n\r\n");  // no body bytes

    // A custom header far longer than any fixed buffer, as a subscription may carry.
    const std::string longHeader = "X-Long: " + std::string(20000, 'v');
    auto big = MakeObfs("http_post", "h.example", 80, "h.example#" + longHeader);
    const std::string bigOut = EncodeOnce(*big, Bytes(5));
    EXPECT_NE(bigOut.find(longHeader + "\r\n\r\n"), std::string::npos);
    EXPECT_NE(bigOut.find("Content-Type: multipart/form-data; boundary="), std::string::npos);
}

TEST(ObfsHttp, ResponseHeadMayArriveInPiecesUpToALimit) {
    auto obfs = MakeObfs("http_simple", "h.example", 80, "");
    std::string got;
    int sendBack = -1;
    EXPECT_EQ(DecodeOnce(*obfs, "HTTP/1.1 200 OK\r\nServer: x\r", &got, &sendBack), 1);
    EXPECT_EQ(got, "");
    EXPECT_EQ(DecodeOnce(*obfs, "\n\r\nfirst", &got, &sendBack), 1);
    EXPECT_EQ(sendBack, 0);
    EXPECT_EQ(got, "first");
    EXPECT_EQ(DecodeOnce(*obfs, "\r\n\r\nsecond", &got, &sendBack), 1);  // passed through once seen
    EXPECT_EQ(got, "first\r\n\r\nsecond");

    // A head that never ends fails once it passes 16 KiB, instead of growing.
    auto endless = MakeObfs("http_simple", "h.example", 80, "");
    int result = 1;
    size_t fed = 0;
    for (int i = 0; i < 40 && result; ++i, fed += 1000) result = DecodeOnce(*endless, std::string(1000, 'x'), &got, &sendBack);
    EXPECT_EQ(result, 0);
    EXPECT_GT(fed, CObfsHttpSimple::kMaxResponseHead);
    EXPECT_LE(fed, CObfsHttpSimple::kMaxResponseHead + 1000);

    // A reset connection sends its request head again.
    obfs->SetIvKey(nullptr, 0, nullptr, 0);
    EXPECT_EQ(EncodeOnce(*obfs, Bytes(30)).rfind("GET /", 0), 0u);
}

TEST(ObfsRandomHead, SendsASelfCheckingHeadAndHoldsDataUntilTheAnswer) {
    std::set<size_t> lengths;
    for (int i = 0; i < 30; ++i) {
        auto obfs = MakeObfs("random_head", "h.example", 80, "");
        const std::string head = EncodeOnce(*obfs, "ten bytes!");
        ASSERT_GE(head.size(), 8u);
        ASSERT_LE(head.size(), 103u);
        lengths.insert(head.size());
        // zlib's CRC-32 over the whole head: the complemented CRC makes it all ones.
        EXPECT_EQ(crc32(0, U(head), static_cast<uInt>(head.size())), 0xFFFFFFFFu);

        int result = 0;
        EXPECT_EQ(EncodeOnce(*obfs, "+more", &result), "");  // held
        EXPECT_EQ(result, 1);
        std::string got;
        int sendBack = 0;
        EXPECT_EQ(DecodeOnce(*obfs, "server answer", &got, &sendBack), 1);
        EXPECT_EQ(got, "");
        EXPECT_EQ(sendBack, 1);
        EXPECT_EQ(EncodeOnce(*obfs, ""), "ten bytes!+more");
        EXPECT_EQ(EncodeOnce(*obfs, "after"), "after");
        EXPECT_EQ(DecodeOnce(*obfs, "data", &got, &sendBack), 1);
        EXPECT_EQ(got, "data");
        EXPECT_EQ(sendBack, 0);
    }
    EXPECT_GT(lengths.size(), 5u);  // the random part varies
    EXPECT_EQ(CObfsRandomHead::MakeHead(0).size(), 8u);
}
