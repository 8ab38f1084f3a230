// auth_chain_a and auth_chain_b: padding rules from known answers, the cut
// of uploads at the server's MSS, and the checks on downloads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ciphers/crypto_env.h"
#include "ciphers/cryptor.h"
#include "ciphers/plugins/obfs_factory.h"
#include "ciphers/plugins/protocol_auth_chain.h"
#include "foundation/private_heap.h"
#include "tests/ciphers/ssr_client_pipe.h"
#include "tests/ciphers/ssr_server_double.h"

namespace {

const bool kLibraryReady = (InitCipherLibrary(), true);

SSRServerInfo KeyedInfo(uint16_t overhead) {
    SSRServerInfo info;
    info.keyLength = 32;
    for (int i = 0; i < 32; ++i) info.key[i] = static_cast<unsigned char>(i);
    info.overhead = overhead;
    info.bufferSize = 65507;
    return info;
}

std::string Filler(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>(i * 7 + 1);
    return s;
}

// A client and the server double over a plain obfuscation.
struct Link {
    ssrtest::ClientConfig clientConfig;
    ssrtest::ServerConfig serverConfig;
    std::unique_ptr<ssrtest::ClientPipe> client;
    std::unique_ptr<ssrtest::ServerDouble> server;

    Link(const std::string& protocol, uint16_t serverMss) {
        clientConfig.protocol = serverConfig.protocol = protocol;
        serverConfig.overhead = 4;
        serverConfig.tcpMss = serverMss;
        client = std::make_unique<ssrtest::ClientPipe>(clientConfig);
        server = std::make_unique<ssrtest::ServerDouble>(serverConfig);
    }
    bool Up(const std::string& data) {
        std::string wire;
        return client->Upload(data, &wire) && server->Receive(wire);
    }
    bool Down(const std::string& wire, std::string* got) {
        std::string back;
        return client->Download(wire, got, &back);
    }
};

}  // namespace

TEST(AuthChain, SizeListsOfAuthChainBComeFromTheKey) {
    // Worked out independently with a few lines of Python from the list rule.
    for (int round = 0; round < 2; ++round) {
        CProtocolAuthChainB b("auth_chain_b", "");
        b.SetServerInfo(KeyedInfo(4));
        EXPECT_EQ(b.SizeList1(), (std::vector<uint32_t>{91, 119, 273, 360, 435, 1214, 1303}));
        EXPECT_EQ(b.SizeList2(), (std::vector<uint32_t>{71, 85, 142, 223, 263, 268, 284, 285, 486, 521, 572, 599,
                                                        630, 679, 682, 752, 781, 800, 1254, 1287, 1350}));
    }
}

TEST(AuthChain, PaddingLengthsAtTheThresholds) {
    // Expected values computed independently in Python for the last hash
    // 10 11 .. 1f and the lists above, overhead 4.
    unsigned char hash[16];
    for (int i = 0; i < 16; ++i) hash[i] = static_cast<unsigned char>(0x10 + i);
    CProtocolAuthChainA a("auth_chain_a", "");
    struct Case {
        size_t n, padding;
    };
    for (const Case& c : {Case{0, 764}, Case{400, 434}, Case{401, 308}, Case{900, 4}, Case{901, 95},
                          Case{1300, 14}, Case{1301, 2}, Case{1440, 18}, Case{1441, 0}}) {
        XorShift128PlusState g;
        EXPECT_EQ(a.NextPaddingLength(c.n, g, hash), c.padding) << "auth_chain_a n=" << c.n;
    }
    CProtocolAuthChainB b("auth_chain_b", "");
    b.SetServerInfo(KeyedInfo(4));
    // 1434 + 4 lies above every item of both lists and falls through to the
    // generic rule; 1300 lands on "no padding".
    for (const Case& c : {Case{0, 431}, Case{100, 331}, Case{700, 646}, Case{1000, 250}, Case{1300, 0},
                          Case{1434, 13}, Case{1435, 0}, Case{1440, 0}}) {
        XorShift128PlusState g;
        EXPECT_EQ(b.NextPaddingLength(c.n, g, hash), c.padding) << "auth_chain_b n=" << c.n;
    }
}

TEST(AuthChain, UploadsAreCutAtTheServersMss) {
    for (const char* protocol : {"auth_chain_a", "auth_chain_b"}) {
        Link link(protocol, 1000);
        ASSERT_TRUE(link.Up(Filler(3000))) << link.server->Error();
        EXPECT_EQ(link.server->PacketSizes(), (std::vector<size_t>{1200, 1448, 352})) << protocol;
        EXPECT_EQ(link.server->Received(), Filler(3000));

        // The first answer carries the MSS; later uploads follow it.
        link.server->Send("reply");
        std::string got;
        ASSERT_TRUE(link.Down(link.server->TakeOutput(), &got));
        EXPECT_EQ(got, "reply");
        EXPECT_EQ(link.client->protocol->GetServerInfo().tcpMss, 1000);
        ASSERT_TRUE(link.Up(Filler(3000))) << link.server->Error();
        EXPECT_EQ(link.server->PacketSizes(), (std::vector<size_t>{1200, 1448, 352, 996, 996, 996, 12})) << protocol;
    }

    // One first upload of 1000 bytes is a single packet after the 36-byte head.
    ssrtest::ClientConfig config;
    config.protocol = "auth_chain_a";
    ssrtest::ClientPipe client(config);
    unsigned char* buf = ssrtest::ClientPipe::Copy(Filler(1000));
    int out = 0;
    ASSERT_EQ(client.protocol->ClientPreEncrypt(&buf, 1000, &out), 1);
    PrivateHeapFree(buf);
    EXPECT_GE(out, 36 + 1000 + 4);
    EXPECT_LT(out, 36 + 1000 + 4 + 127);
}

TEST(AuthChain, AnnouncedMssIsCappedOrRefused) {
    Link large("auth_chain_a", 65535);
    ASSERT_TRUE(large.Up("x"));
    large.server->Send("r");
    std::string got;
    ASSERT_TRUE(large.Down(large.server->TakeOutput(), &got));
    ASSERT_TRUE(large.Up(Filler(10000))) << large.server->Error();
    EXPECT_EQ(large.server->PacketSizes(), (std::vector<size_t>{1, 4095, 4095, 1810}));
    EXPECT_EQ(large.server->Received(), "x" + Filler(10000));

    for (uint16_t mss : {0, 3, 4}) {
        Link tiny("auth_chain_b", mss);
        ASSERT_TRUE(tiny.Up("x"));
        tiny.server->Send("r");
        EXPECT_FALSE(tiny.Down(tiny.server->TakeOutput(), &got)) << mss;
    }
}

TEST(AuthChain, EveryChangedByteOfADownloadFails) {
    for (const char* protocol : {"auth_chain_a", "auth_chain_b"}) {
        Link probe(protocol, 1452);
        ASSERT_TRUE(probe.Up("x"));
        probe.server->Send("0123456789");
        const size_t firstSize = probe.server->TakeOutput().size() - 16;  // less the cipher's IV
        for (size_t at = 0; at < firstSize; at += firstSize > 80 ? 7 : 1) {
            Link link(protocol, 1452);
            ASSERT_TRUE(link.Up("x"));
            link.server->Send("0123456789");
            std::string wire = link.server->TakeOutput();
            link.server->Send(Filler(6000));
            wire += link.server->TakeOutput();
            if (16 + at >= wire.size()) break;
            wire[16 + at] ^= 0x04;
            std::string got;
            EXPECT_FALSE(link.Down(wire, &got)) << protocol << " byte " << at;
            EXPECT_EQ(got.find("0123456789"), std::string::npos);
        }
    }
}

TEST(AuthChain, UdpChecksAndKeysStayOutOfTheCache) {
    const size_t cached = KeyCacheSize();
    for (const char* protocol : {"auth_chain_a", "auth_chain_b"}) {
        ssrtest::ClientConfig config;
        config.protocol = protocol;
        for (int i = 0; i < 30; ++i) {
            ssrtest::ClientPipe client(config);
            std::string wire;
            ASSERT_TRUE(client.Upload(Filler(100), &wire));
            unsigned char* buf = ssrtest::ClientPipe::Copy(Filler(50));
            int out = 0;
            ASSERT_EQ(client.protocol->ClientUdpPreEncrypt(&buf, 50, &out), 1);
            PrivateHeapFree(buf);
        }
        auto p = CreateObfs(protocol, "");
        for (int n : {0, 1, 8}) {
            unsigned char* buf = ssrtest::ClientPipe::Copy(std::string(static_cast<size_t>(n), 'u'));
            int out = 0;
            EXPECT_EQ(p->ClientUdpPostDecrypt(&buf, n, &out), 0) << n;
            PrivateHeapFree(buf);
        }
    }
    // The connection's own keys and the cipher's one password: no growth per connection.
    EXPECT_LE(KeyCacheSize(), cached + 1);
}
