// tls1.2_ticket_auth: the ClientHello's layout, the order of the handshake
// records, the ServerHello checks and the application records.
#include <gtest/gtest.h>

#include <string>

#include "ciphers/crypto_env.h"
#include "ciphers/plugins/obfs_factory.h"
#include "ciphers/plugins/obfs_tls12_ticket_auth.h"
#include "foundation/private_heap.h"
#include "tests/ciphers/ssr_client_pipe.h"
#include "tests/ciphers/test_util.h"

using ciphertest::Hex;
using ssrtest::DecodeOnce;
using ssrtest::EncodeOnce;

namespace {

std::unique_ptr<CObfsTls12TickAuth> MakeTls(const std::string& name, const std::string& host,
                                            const std::string& param = "") {
    auto p = CreateObfs(name, param);
    auto* raw = dynamic_cast<CObfsTls12TickAuth*>(p.get());
    if (!raw) return nullptr;
    p.release();
    std::unique_ptr<CObfsTls12TickAuth> tls(raw);
    SSRServerInfo info;
    info.host = host;
    info.port = 443;
    info.param = param;
    info.keyLength = 16;
    for (int i = 0; i < 16; ++i) info.key[i] = static_cast<unsigned char>(0xA0 + i);
    tls->SetServerInfo(info);
    return tls;
}



uint32_t Be16(const std::string& s, size_t i) {
    return (static_cast<unsigned char>(s[i]) << 8) | static_cast<unsigned char>(s[i + 1]);
}

std::string Record(char type, const std::string& payload) {
    std::string r{type, '\x03', '\x03', static_cast<char>(payload.size() >> 8), static_cast<char>(payload.size())};
    return r + payload;
}

// What a server answers: ServerHello whose random ends in the HMAC of its
// first 22 bytes, ChangeCipherSpec, and Finished signing all before it.
std::string ServerHandshake(const CObfsTls12TickAuth& tls) {
    std::string random(22, 'r');
    std::string hello = "\x03\x03" + random + tls.Hmac10(random) + '\x20' + tls.ClientId() + std::string("\xc0\x2f\x00", 3);
    std::string out = Record('\x16', std::string("\x02\x00", 2) + char(0) + char(hello.size()) + hello);
    out += Record('\x14', "\x01");
    out += std::string("\x16\x03\x03\x00\x20", 5) + std::string(22, 'f');
    return out + tls.Hmac10(out);
}

int64_t FixedClock() {
    return 0x12345678;
}

}  // namespace

TEST(ObfsTls, ClientHelloLengthsFollowTheHostAndTicket) {
    ScopedCipherClock clock(&FixedClock);
    auto tls = MakeTls("tls1.2_ticket_auth", "example.org");
    // Worked out by hand: body = 99 + (11 + 64 + 187) = 361; record = body + 11.
    const std::string hello = tls->MakeClientHello("www.abc.com", 64);
    ASSERT_EQ(hello.size(), 372u);
    EXPECT_EQ(Hex(hello.substr(0, 3)), "160301");
    EXPECT_EQ(Be16(hello, 3), 367u);
    EXPECT_EQ(Hex(hello.substr(5, 2)), "0100");
    EXPECT_EQ(Be16(hello, 7), 363u);
    EXPECT_EQ(Hex(hello.substr(9, 2)), "0303");
    EXPECT_EQ(Hex(hello.substr(11, 4)), "12345678");  // the time, big-endian
    EXPECT_EQ(hello.substr(33, 10), tls->Hmac10(hello.substr(11, 22)));
    EXPECT_EQ(hello.substr(44, 32), tls->ClientId());
    EXPECT_EQ(Be16(hello, 108), 262u);
    EXPECT_EQ(Hex(hello.substr(110, 5)), "ff01000100");
    EXPECT_EQ(Hex(hello.substr(115, 9)), "00000010000e00000b");
    EXPECT_EQ(hello.substr(124, 11), "www.abc.com");
    EXPECT_EQ(Hex(hello.substr(135, 8)), "0017000000230040");
    EXPECT_EQ(hello.substr(hello.size() - 102), std::string(102, '\0'));

    EXPECT_EQ(tls->MakeClientHello("", 259).size(), 99u + 259 + 187 + 11);
}

TEST(ObfsTls, ServerNameComesFromTheParameterAndIsLeftOutForAddresses) {
    struct Case {
        const char* host;
        const char* param;
        const char* name;
    } cases[] = {
        {"proxy.example.org", "", "proxy.example.org"},
        {"10.1.2.3", "", ""},
        {"10.1.2.3", " cdn.example.com ", "cdn.example.com"},
        {"h.example", "host2", ""},  // ends in a digit
    };
    for (const Case& c : cases) {
        auto tls = MakeTls("tls1.2_ticket_auth", c.host, c.param);
        EXPECT_EQ(tls->SniHost(), c.name) << c.host << " " << c.param;
    }
    auto tls = MakeTls("tls1.2_ticket_auth", "10.1.2.3");
    const std::string hello = EncodeOnce(*tls, "data");
    EXPECT_EQ(Hex(hello.substr(115, 9)), "000000050003000000");

    // A host longer than a server name can be sends none rather than overflowing.
    auto longHost = MakeTls("tls1.2_ticket_auth", std::string(300, 'a') + ".example");
    EXPECT_EQ(longHost->SniHost(), "");
    EXPECT_EQ(Hex(EncodeOnce(*longHost, "data").substr(115, 9)), "000000050003000000");
    auto atLimit = MakeTls("tls1.2_ticket_auth", std::string(CObfsTls12TickAuth::kMaxServerName, 'a'));
    EXPECT_EQ(atLimit->SniHost().size(), CObfsTls12TickAuth::kMaxServerName);
}

TEST(ObfsTls, FinishedAndDataGoOutAtTheSendBackOrAtOnceWithFastauth) {
    for (const char* name : {"tls1.2_ticket_auth", "tls1.2_ticket_fastauth"}) {
        const bool fast = std::string(name) == "tls1.2_ticket_fastauth";
        auto tls = MakeTls(name, "h.example");
        const std::string hello = EncodeOnce(*tls, "first");
        EXPECT_EQ(hello[0], '\x16');
        const std::string second = EncodeOnce(*tls, "second");
        const std::string finished = second.substr(0, 43);
        if (fast) {
            ASSERT_EQ(second.size(), 43u + 10 + 11);
            EXPECT_EQ(Hex(finished.substr(0, 11)), "1403030001011603030020");
            EXPECT_EQ(finished.substr(33), tls->Hmac10(finished.substr(0, 33)));
            EXPECT_EQ(second.substr(43), Record('\x17', "first") + Record('\x17', "second"));
        } else {
            EXPECT_EQ(second, "");
        }
        std::string got;
        int sendBack = 0;
        const std::string answer = ServerHandshake(*tls);
        EXPECT_EQ(DecodeOnce(*tls, answer.substr(0, 40), &got, &sendBack), 1);
        EXPECT_EQ(sendBack, 0);
        EXPECT_EQ(DecodeOnce(*tls, answer.substr(40) + Record('\x17', "hi"), &got, &sendBack), 1);
        EXPECT_EQ(sendBack, 1);
        EXPECT_EQ(got, "hi");  // data behind the handshake are not held back
        const std::string flush = EncodeOnce(*tls, "");
        if (fast) {
            EXPECT_EQ(flush, "");
        } else {
            ASSERT_EQ(flush.size(), 43u + 10 + 11);
            EXPECT_EQ(flush.substr(43), Record('\x17', "first") + Record('\x17', "second"));
        }
        EXPECT_EQ(tls->State() & CObfsTls12TickAuth::kSendEstablished, CObfsTls12TickAuth::kSendEstablished);
    }
}

TEST(ObfsTls, HandshakeChecksAndLimits) {
    // A handshake that ends exactly at a record boundary waits for the rest.
    auto tls = MakeTls("tls1.2_ticket_auth", "h.example");
    EncodeOnce(*tls, "x");
    const std::string answer = ServerHandshake(*tls);
    std::string got;
    int sendBack = 0;
    const size_t finishedAt = answer.size() - 37;
    EXPECT_EQ(DecodeOnce(*tls, answer.substr(0, finishedAt), &got, &sendBack), 1);
    EXPECT_EQ(sendBack, 0);
    EXPECT_EQ(DecodeOnce(*tls, answer.substr(finishedAt), &got, &sendBack), 1);
    EXPECT_EQ(sendBack, 1);

    // Any changed byte of the answer fails.
    for (size_t at : {size_t{12}, size_t{40}, finishedAt + 10, answer.size() - 1}) {
        auto t = MakeTls("tls1.2_ticket_auth", "h.example");
        EncodeOnce(*t, "x");
        std::string changed = ServerHandshake(*t) + Record('\x17', "d");
        changed[at] ^= 1;
        EXPECT_EQ(DecodeOnce(*t, changed, &got, &sendBack), 0) << at;
    }

    // A record that claims more than any handshake has fails, not buffers on.
    auto greedy = MakeTls("tls1.2_ticket_auth", "h.example");
    EncodeOnce(*greedy, "x");
    std::string start = ServerHandshake(*greedy).substr(0, 79);  // the ServerHello record
    start += std::string("\x16\x03\x03\xff\xff", 5);
    int result = DecodeOnce(*greedy, start, &got, &sendBack);
    size_t fed = start.size();
    while (result && fed < 100000) {
        result = DecodeOnce(*greedy, std::string(1000, 'z'), &got, &sendBack);
        fed += 1000;
    }
    EXPECT_EQ(result, 0);
    EXPECT_LE(fed, CObfsTls12TickAuth::kMaxHandshake + 1000);
}

TEST(ObfsTls, ApplicationRecordsBothWays) {
    auto tls = MakeTls("tls1.2_ticket_auth", "h.example");
    EncodeOnce(*tls, "x");
    std::string got;
    int sendBack = 0;
    ASSERT_EQ(DecodeOnce(*tls, ServerHandshake(*tls), &got, &sendBack), 1);
    EncodeOnce(*tls, "");

    const std::string data(3000, 'd');
    const std::string wire = EncodeOnce(*tls, data);
    std::string joined;
    std::vector<size_t> sizes;
    for (size_t at = 0; at < wire.size();) {
        ASSERT_EQ(Hex(wire.substr(at, 3)), "170303");
        const size_t n = Be16(wire, at + 3);
        sizes.push_back(n);
        joined += wire.substr(at + 5, n);
        at += 5 + n;
    }
    EXPECT_EQ(joined, data);
    ASSERT_GE(sizes.size(), 2u);
    EXPECT_GE(sizes[0], 64u);
    EXPECT_LE(sizes[0], 575u);

    // A record split over reads arrives when complete; a handshake record now fails.
    const std::string record = Record('\x17', "split record");
    EXPECT_EQ(DecodeOnce(*tls, record.substr(0, 3), &got, &sendBack), 1);
    EXPECT_EQ(DecodeOnce(*tls, record.substr(3, 6), &got, &sendBack), 1);
    EXPECT_EQ(got, "");
    EXPECT_EQ(DecodeOnce(*tls, record.substr(9) + Record('\x17', "two"), &got, &sendBack), 1);
    EXPECT_EQ(got, "split recordtwo");
    EXPECT_EQ(DecodeOnce(*tls, Record('\x16', "hello"), &got, &sendBack), 0);

    // Blocks longer than a record can hold are queued as several records.
    auto fresh = MakeTls("tls1.2_ticket_fastauth", "h.example");
    EncodeOnce(*fresh, "");
    const std::string big(40000, 'b');
    const std::string out = EncodeOnce(*fresh, big);
    std::string body;
    for (size_t at = 43; at < out.size();) {
        const size_t n = Be16(out, at + 3);
        EXPECT_LE(n, CObfsTls12TickAuth::kMaxRecordPayload);
        body += out.substr(at + 5, n);
        at += 5 + n;
    }
    EXPECT_EQ(body, big);
}
