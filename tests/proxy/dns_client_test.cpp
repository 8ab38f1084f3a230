// The DNS client through a SOCKS 5 UDP relay and a Shadowsocks server, both
// scripted on 127.0.0.1, with the replies a careless or hostile server sends.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ciphers/cryptor.h"
#include "ciphers/cryptor_factory.h"
#include "foundation/private_heap.h"
#include "proxy/dns_client.h"
#include "tests/proxy/dns_script.h"

namespace {

using dnstest::A;
using dnstest::B;
using dnstest::kQuestionName;
using dnstest::Reply;
using dnstest::Rr;
using dnstest::UdpResponder;

const std::string kSocksHeader = B({0, 0, 0, 1, 192, 0, 2, 53, 0, 53});

struct Case {
    const char* what;
    // The DNS reply for the query (a DNS message); the relay header is added.
    std::function<std::string(const std::string&)> reply;
    std::string relayHeader = kSocksHeader;
    int result;
    std::vector<std::wstring> addresses;
};

TEST(ProxyDnsClient, RepliesThroughASocks5Relay) {
    const uint16_t kOk = 0x8180;
    Case cases[] = {
        {"one A record", [&](const std::string& q) { return Reply(q, kOk, 1, A(10, 1, 2, 3)); }, kSocksHeader, 1,
         {L"10.1.2.3"}},
        {"CNAME then A: only the A's address",
         [&](const std::string& q) {
             return Reply(q, kOk, 2, Rr(kQuestionName, 5, B({3, 'c', 'd', 'n', 0xC0, 12})) + A(10, 9, 9, 9, B({0xC0, 0x2D})));
         },
         kSocksHeader, 1, {L"10.9.9.9"}},
        {"AD and CD set are fine", [&](const std::string& q) { return Reply(q, kOk | 0x0030, 1, A(10, 1, 2, 4)); },
         kSocksHeader, 1, {L"10.1.2.4"}},
        {"reserved bit set", [&](const std::string& q) { return Reply(q, kOk | 0x0040, 1, A(10, 1, 2, 4)); },
         kSocksHeader, 0, {}},
        {"wrong id", [&](const std::string& q) { return Reply(q, kOk, 1, A(10, 1, 2, 3), 1); }, kSocksHeader, 0, {}},
        {"QR clear", [&](const std::string& q) { return Reply(q, 0x0180, 1, A(10, 1, 2, 3)); }, kSocksHeader, 0, {}},
        {"second record cut short: only the first",
         [&](const std::string& q) { return Reply(q, kOk, 2, A(10, 1, 1, 1) + A(10, 2, 2, 2).substr(0, 13)); },
         kSocksHeader, 1, {L"10.1.1.1"}},
        {"answer name in a pointer loop: no record",
         [&](const std::string& q) {
             std::string r = Reply(q, kOk, 1, "");
             int at = static_cast<int>(r.size());
             return r + Rr(B({0xC0, at}), 1, B({10, 0, 0, 1}));
         },
         kSocksHeader, 1, {}},
        {"relay header with a name (ATYP 3)", [&](const std::string& q) { return Reply(q, kOk, 1, A(10, 3, 3, 3)); },
         B({0, 0, 0, 3, 7, 'r', 'e', 'l', 'a', 'y', '.', 'x', 0, 53}), 1, {L"10.3.3.3"}},
        {"relay header with IPv6 (ATYP 4)", [&](const std::string& q) { return Reply(q, kOk, 1, A(10, 4, 4, 4)); },
         B({0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 53}), 1, {L"10.4.4.4"}},
        {"unknown relay address type", [&](const std::string& q) { return Reply(q, kOk, 1, A(10, 1, 2, 3)); },
         B({0, 0, 0, 9, 1, 2, 3, 4, 0, 53}), 0, {}},
        {"nothing after the relay header", [&](const std::string&) { return std::string(); }, kSocksHeader, 0, {}},
    };
    for (const auto& c : cases) {
        UdpResponder relay([&](const std::string& d) {
            if (d.size() <= 10) return std::string();
            return c.relayHeader + c.reply(d.substr(10));
        });
        CProxyDNSClient client;
        client.SetProxy("127.0.0.1", static_cast<uint16_t>(relay.port()));
        std::wstring text;
        std::vector<std::wstring> addresses;
        int tries = 2;
        client.ResolveA(&text, L"192.0.2.53", L"www.example.com", &addresses, &tries);
        EXPECT_EQ(addresses, c.addresses) << c.what;
        EXPECT_EQ(tries, 1) << c.what;  // one query, whatever came back
        EXPECT_EQ(relay.received().size(), 1u) << c.what;
        if (!c.addresses.empty()) {
            EXPECT_NE(text.find(L"A=" + c.addresses.back()), std::wstring::npos) << c.what;
        }
    }
}

TEST(ProxyDnsClient, QueryGoesOutAsOneDatagramWithRecursionDesired) {
    UdpResponder relay([](const std::string& d) {
        return d.size() > 10 ? kSocksHeader + Reply(d.substr(10), 0x8180, 1, A(10, 1, 2, 3)) : std::string();
    });
    CProxyDNSClient client;
    client.SetProxy("127.0.0.1", static_cast<uint16_t>(relay.port()));
    std::wstring text;
    std::vector<std::wstring> addresses;
    int tries = 2;
    client.ResolveA(&text, L"192.0.2.53", L"www.example.com", &addresses, &tries);
    auto got = relay.received();
    ASSERT_EQ(got.size(), 1u);
    const std::string& d = got[0];
    ASSERT_EQ(d.size(), 10u + 12 + 17 + 4);
    EXPECT_EQ(d.substr(0, 10), kSocksHeader);
    EXPECT_EQ(static_cast<uint8_t>(d[12]) << 8 | static_cast<uint8_t>(d[13]), 0x0100);  // RD only
    EXPECT_EQ(text, L"A Record:\nName=www.example.com\nTTL=300\nTYPE=1\nA=10.1.2.3\n\n");
}

TEST(ProxyDnsClient, EachQueryStartsFromTheClientsOwnHeader) {
    // The first reply carries odd flags and counts; the second query must not echo them.
    UdpResponder relay([](const std::string& d) {
        return kSocksHeader + Reply(d.substr(10), 0x8580 | 0x0030, 1, A(10, 1, 2, 3));
    });
    CProxyDNSClient client;
    client.SetProxy("127.0.0.1", static_cast<uint16_t>(relay.port()));
    for (int i = 0; i < 2; ++i) {
        std::wstring text;
        std::vector<std::wstring> addresses;
        int tries = 1;
        client.ResolveA(&text, L"192.0.2.53", L"www.example.com", &addresses, &tries);
        EXPECT_EQ(addresses.size(), 1u);  // not two: the lists were emptied
    }
    auto got = relay.received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].substr(10, 12), got[1].substr(10, 12));
}

TEST(DnsClient, ResolveEdges) {
    // No tries left: the line and nothing sent.
    UdpResponder relay([](const std::string& d) { return kSocksHeader + Reply(d.substr(10), 0x8180, 0, ""); });
    CProxyDNSClient client;
    client.SetProxy("127.0.0.1", static_cast<uint16_t>(relay.port()));
    std::wstring text;
    int tries = 0;
    EXPECT_EQ(client.Resolve(L"192.0.2.53", L"www.example.com", L"A", &text, &tries), 0);
    EXPECT_EQ(text, L"www.example.com Domain Does not exist Probably\n");
    EXPECT_TRUE(relay.received().empty());
    // No answers, AA clear: one query, then 0 (nothing to chase through a relay).
    text.clear();
    tries = 5;
    EXPECT_EQ(client.Resolve(L"192.0.2.53", L"www.example.com", L"A", &text, &tries), 0);
    EXPECT_EQ(tries, 4);
    EXPECT_EQ(relay.received().size(), 1u);
    // A name that cannot be sent fails without a datagram.
    tries = 5;
    EXPECT_EQ(client.Resolve(L"192.0.2.53", L"bad..name", L"A", &text, &tries), 0);
    EXPECT_EQ(relay.received().size(), 1u);
}

TEST(DnsClient, AdditionalAddressesByName) {
    CDnsClient client;
    std::vector<std::wstring> list;
    client.AddAdditionalAddresses(L"mail.example.com", &list);
    EXPECT_EQ(list, std::vector<std::wstring>{L"mail.example.com"});
}

// A Shadowsocks server on loopback that decrypts each datagram with its own
// cryptor and answers through the same cipher.
TEST(SsrDnsClient, RepliesThroughAShadowsocksServer) {
    InitCipherLibrary();
    const std::string method = "aes-256-cfb", password = "dns-pw";
    auto crypt = [&](const std::string& in, bool encrypt) {
        auto c = CreateCryptor(method, password);
        unsigned char* out = nullptr;
        size_t outLength = 0;
        bool more = false;
        int ok = encrypt ? c->Encrypt(reinterpret_cast<const unsigned char*>(in.data()), in.size(), &out, &outLength, true)
                         : c->Decrypt(reinterpret_cast<const unsigned char*>(in.data()), in.size(), &out, &outLength,
                                      &more, true);
        std::string r = ok ? std::string(reinterpret_cast<char*>(out), outLength) : std::string();
        PrivateHeapFree(out);
        return r;
    };
    struct SsCase {
        const char* what;
        int idDelta;
        uint16_t flags;
        std::string header;
        size_t addresses;
    } cases[] = {
        {"answer", 0, 0x8180, B({1, 192, 0, 2, 53, 0, 53}), 1},
        {"wrong id", 1, 0x8180, B({1, 192, 0, 2, 53, 0, 53}), 0},
        {"QR clear", 0, 0x0180, B({1, 192, 0, 2, 53, 0, 53}), 0},
        {"name in the header", 0, 0x8180, B({3, 3, 'd', 'n', 's', 0, 53}), 1},
    };
    for (const auto& c : cases) {
        UdpResponder server([&](const std::string& d) {
            std::string plain = crypt(d, false);
            if (plain.size() <= 7) return std::string();
            return crypt(c.header + Reply(plain.substr(7), c.flags, 1, A(10, 5, 5, 5), c.idDelta), true);
        });
        auto cryptor = CreateCryptor(method, password);
        CSSRDnsClient client;
        client.SetProxy("127.0.0.1", static_cast<uint16_t>(server.port()));
        client.SetCipher(cryptor.get(), nullptr, nullptr);
        std::wstring text;
        std::vector<std::wstring> addresses;
        int tries = 2;
        client.ResolveA(&text, L"192.0.2.53", L"www.example.com", &addresses, &tries);
        EXPECT_EQ(addresses.size(), c.addresses) << c.what;
        auto got = server.received();
        ASSERT_EQ(got.size(), 1u) << c.what;
        EXPECT_EQ(crypt(got[0], false).substr(0, 7), B({1, 192, 0, 2, 53, 0, 53})) << c.what;
    }
}

}  // namespace
