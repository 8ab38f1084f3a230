// The plug-in interface: the factory's names, the server record, the shared
// client and connection ids, the checksums, and the IV the plug-ins are keyed
// with.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>
#include <typeinfo>
#include <vector>

#include "ciphers/aead_cryptors.h"
#include "ciphers/crypto_env.h"
#include "ciphers/cryptor_factory.h"
#include "ciphers/plugins/auth_data.h"
#include "ciphers/plugins/checksums.h"
#include "ciphers/plugins/obfs_factory.h"
#include "foundation/private_heap.h"
#include "tests/ciphers/test_util.h"
#include "tests/support/cipher_streams.h"

using ciphertest::Hex;
using ciphertest::U;

namespace {

const bool kLibraryReady = (InitCipherLibrary(), true);

// Reaches the ids of a private instance, as a long-running session would
// leave them.
class TestAuthData : public CAuthData {
public:
    void Set(const unsigned char clientId[4], uint32_t connectionId) {
        std::copy(clientId, clientId + 4, clientId_);
        connectionId_ = connectionId;
    }
};

unsigned char g_fixedBytes[4];
void FixedRandom(unsigned char* buf, size_t len) {
    for (size_t i = 0; i < len; ++i) buf[i] = g_fixedBytes[i % 4];
}

}  // namespace

TEST(PluginFactory, UnknownAndEmptyNamesGiveNothing) {
    for (const char* name : {"", "none", "auth_sha1", "tls1.2", "plain ", "http"})
        EXPECT_EQ(CreateObfs(name, ""), nullptr) << name;
}

TEST(PluginFactory, PlainAndOriginChangeNothingAndIgnoreTheirParameter) {
    for (const char* name : {"plain", "PLAIN", "origin", "Origin"}) {
        auto p = CreateObfs(name, "ignored");
        ASSERT_NE(p, nullptr) << name;
        EXPECT_EQ(p->GetParam(), "");
        EXPECT_EQ(p->GetOwnOverhead(), 0);
        unsigned char* buf = static_cast<unsigned char*>(PrivateHeapAlloc(5));
        unsigned char* const original = buf;
        int out = -1;
        int sendBack = -1;
        EXPECT_EQ(p->ClientPreEncrypt(&buf, 5, &out), 1);
        EXPECT_EQ(out, 5);
        EXPECT_EQ(p->ClientEncode(&buf, 5, 5, &out), 1);
        EXPECT_EQ(p->ClientDecode(&buf, 5, 100, &out, &sendBack), 1);
        EXPECT_EQ(sendBack, 0);
        EXPECT_EQ(p->ClientPostDecrypt(&buf, 5, &out), 1);
        EXPECT_EQ(p->ClientUdpPreEncrypt(&buf, 5, &out), 1);
        EXPECT_EQ(p->ClientUdpPostDecrypt(&buf, 5, &out), 1);
        EXPECT_EQ(out, 5);
        EXPECT_EQ(buf, original);
        PrivateHeapFree(buf);
    }
    EXPECT_STREQ(CreateObfs("PLAIN", "")->GetName(), "plain");
    EXPECT_STREQ(CreateObfs("ORIGIN", "")->GetName(), "origin");
}

TEST(PluginServerInfo, CopiesTheRecordAndKeepsTheReceiveIvWhenNoneIsGiven) {
    auto p = CreateObfs("plain", "");
    SSRServerInfo info;
    info.host = "example.org";
    info.port = 8443;
    info.param = "cdn.example.org";
    info.ivLength = 16;
    std::fill(info.iv, info.iv + 16, 0xAA);
    info.keyLength = 32;
    std::fill(info.key, info.key + 32, 0xBB);
    info.receiveIvLength = 8;
    std::fill(info.receiveIv, info.receiveIv + 8, 0xCC);
    info.tcpMss = 1400;
    info.headLength = 7;
    info.overhead = 9;
    info.bufferSize = 65507;
    p->SetServerInfo(info);

    SSRServerInfo second = info;
    second.receiveIvLength = 0;
    std::fill(second.receiveIv, second.receiveIv + 32, 0);
    second.ivLength = 12;
    std::fill(second.iv, second.iv + 12, 0x11);
    p->SetServerInfo(second);

    const SSRServerInfo& got = p->GetServerInfo();
    EXPECT_EQ(got.host, "example.org");
    EXPECT_EQ(got.port, 8443);
    EXPECT_EQ(got.param, "cdn.example.org");
    EXPECT_EQ(got.ivLength, 12u);
    EXPECT_EQ(Hex(got.iv, 12), "111111111111111111111111");
    EXPECT_EQ(got.keyLength, 32u);
    EXPECT_EQ(got.receiveIvLength, 8u);
    EXPECT_EQ(Hex(got.receiveIv, 8), "cccccccccccccccc");
    EXPECT_EQ(got.tcpMss, 1400);
    EXPECT_EQ(got.headLength, 7u);
    EXPECT_EQ(got.overhead, 9);
    EXPECT_EQ(got.bufferSize, 65507u);

    // IVs and keys beyond 32 bytes are cut rather than copied past the field.
    SSRServerInfo longer;
    longer.ivLength = 64;
    longer.keyLength = 1000;
    p->SetServerInfo(longer);
    EXPECT_EQ(p->GetServerInfo().ivLength, 32u);
    EXPECT_EQ(p->GetServerInfo().keyLength, 32u);
}

TEST(PluginServerInfo, SetIvKeyReplacesOnlyWhatIsGiven) {
    auto p = CreateObfs("origin", "");
    const unsigned char iv[4] = {1, 2, 3, 4};
    const unsigned char key[2] = {9, 8};
    p->SetIvKey(iv, 4, key, 2);
    p->SetIvKey(nullptr, 0, nullptr, 0);
    EXPECT_EQ(Hex(p->GetServerInfo().iv, p->GetServerInfo().ivLength), "01020304");
    EXPECT_EQ(Hex(p->GetServerInfo().key, p->GetServerInfo().keyLength), "0908");
}

TEST(AuthData, RenewalDerivesTheConnectionIdFromTheClientId) {
    struct Case {
        unsigned char bytes[4];
        uint32_t connectionId;
    } cases[] = {
        {{0xFF, 0xFF, 0xFF, 0xFF}, 0x00FFFFFD},  // bit 1 and the top byte cleared
        {{0x02, 0x00, 0x00, 0x01}, 0x00000000},
        {{0x78, 0x56, 0x34, 0x12}, 0x00345678},
        {{0x03, 0x00, 0x00, 0x00}, 0x00000001},
    };
    for (const Case& c : cases) {
        std::copy(c.bytes, c.bytes + 4, g_fixedBytes);
        ScopedRandomSource source(&FixedRandom);
        TestAuthData data;
        data.Renew();
        unsigned char id[4];
        data.GetClientId(id);
        EXPECT_EQ(Hex(id, 4), Hex(c.bytes, 4));
        EXPECT_EQ(data.GetConnectionId(), c.connectionId) << Hex(c.bytes, 4);
    }
}

TEST(AuthData, RenewsOnlyAfterTheConnectionIdPassesTheLimit) {
    const unsigned char oldId[4] = {1, 1, 1, 1};
    const unsigned char fresh[4] = {0x10, 0x20, 0x30, 0x40};
    std::copy(fresh, fresh + 4, g_fixedBytes);
    ScopedRandomSource source(&FixedRandom);

    TestAuthData atLimit;
    atLimit.Set(oldId, 0xFF000000u);
    unsigned char id[4];
    EXPECT_EQ(atLimit.NextConnection(id), 0xFF000001u);
    EXPECT_EQ(Hex(id, 4), "01010101");

    // Now past the limit: the next connection belongs to a fresh client id.
    EXPECT_EQ(atLimit.NextConnection(id), 0x00302010u + 1);
    EXPECT_EQ(Hex(id, 4), "10203040");

    TestAuthData past;
    past.Set(oldId, 0xFF000001u);
    past.RenewIfExhausted();
    EXPECT_EQ(past.GetConnectionId(), 0x00302010u);
}

TEST(AuthData, ConnectionsOnManyThreadsNeverShareAnId) {
    TestAuthData data;
    const unsigned char start[4] = {7, 7, 7, 7};
    data.Set(start, 0xFEFFF000u);  // renewals happen during the run
    std::vector<std::vector<std::pair<std::string, uint32_t>>> seen(4);
    std::vector<std::thread> threads;
    for (auto& s : seen)
        threads.emplace_back([&data, &s] {
            for (int i = 0; i < 3000; ++i) {
                unsigned char id[4];
                const uint32_t c = data.NextConnection(id);
                s.emplace_back(Hex(id, 4), c);
            }
        });
    for (auto& t : threads) t.join();
    std::set<std::pair<std::string, uint32_t>> all;
    for (const auto& s : seen) all.insert(s.begin(), s.end());
    EXPECT_EQ(all.size(), 12000u);
}

TEST(AuthData, TheProcessInstanceIsRenewedOnEveryGet) {
    CAuthData* first = CAuthData::GetInstance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CAuthData::Current(), first);
    unsigned char before[4];
    first->GetClientId(before);
    const uint32_t connectionBefore = first->GetConnectionId();
    g_fixedBytes[0] = static_cast<unsigned char>(before[0] ^ 0xFF);
    std::fill(g_fixedBytes + 1, g_fixedBytes + 4, 0x42);
    ScopedRandomSource source(&FixedRandom);
    EXPECT_EQ(CAuthData::GetInstance(), first);
    unsigned char after[4];
    first->GetClientId(after);
    EXPECT_NE(Hex(after, 4), Hex(before, 4));
    EXPECT_NE(first->GetConnectionId(), connectionBefore);
    EXPECT_EQ(CreateObfs("origin", "")->GetSharedData(), first);
}

TEST(Checksums, MatchZlib) {
    // Expected values from Python's zlib.crc32 and zlib.adler32.
    const std::string check = "123456789";
    EXPECT_EQ(Crc32(U(check), check.size()), 0xCBF43926u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
    unsigned char stored[4];
    Crc32Store(stored, U(check), check.size());
    EXPECT_EQ(Hex(stored, 4), "2639f4cb");
    EXPECT_EQ(Adler32(U(std::string("Wikipedia")), 9), 0x11E60398u);
    EXPECT_EQ(Adler32(nullptr, 0), 1u);

    // Longer than one Adler-32 block, and the worst case for the sums.
    std::string ramp(20000, '\0');
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<char>((i * 7 + 3) & 255);
    EXPECT_EQ(Crc32(U(ramp), ramp.size()), 0xDEBDA163u);
    EXPECT_EQ(Adler32(U(ramp), ramp.size()), 0x2800E92Bu);
    const std::string ones(6000, '\xff');
    EXPECT_EQ(Adler32(U(ones), ones.size()), 0xA49759EAu);
}

TEST(PluginSendIv, IsTheStreamIvOrTheAeadSaltThatOpensTheWire) {
    for (const char* method : {"aes-256-cfb", "chacha20-ietf", "rc4-md5", "aes-128-gcm",
                               "chacha20-ietf-poly1305", "xchacha20-ietf-poly1305", "none"}) {
        auto c = CreateCryptor(method, "secret");
        ASSERT_NE(c, nullptr);
        for (int round = 0; round < 2; ++round) {
            const unsigned char* iv = nullptr;
            int length = -1;
            GetCryptorSendIv(*c, &iv, &length);
            const std::string wire = testsupport::MustEncrypt(*c, "hello");
            ASSERT_GE(wire.size(), static_cast<size_t>(length)) << method;
            EXPECT_EQ(Hex(iv, static_cast<size_t>(length)), Hex(wire.substr(0, static_cast<size_t>(length))))
                << method << " round " << round;
            if (auto* aead = dynamic_cast<AEADCryptor*>(c.get())) {
                EXPECT_EQ(length, aead->GetSaltLength());
            }

            SSRServerInfo info = MakeServerInfo(*c, "h", 1, "p", nullptr);
            EXPECT_EQ(Hex(info.iv, info.ivLength), Hex(iv, static_cast<size_t>(length)));
            EXPECT_EQ(Hex(info.key, info.keyLength),
                      Hex(c->GetKey(), static_cast<size_t>(c->GetKeyLength())));
            EXPECT_EQ(info.tcpMss, 1452);
            EXPECT_EQ(info.headLength, 30u);
            EXPECT_EQ(info.overhead, 0);
            EXPECT_EQ(info.bufferSize, 65507u);
            c->Reset();  // a new salt or IV each time, as for every UDP datagram
        }
    }
}

TEST(PluginFactory, EveryNameBuildsItsPluginWithItsOwnOverhead) {
    struct Row {
        const char* asGiven;
        const char* stored;
        int overhead;
    } rows[] = {
        {"origin", "origin", 0},
        {"AUTH_SHA1_V4", "auth_sha1_v4", 9},
        {"auth_aes128_md5", "auth_aes128_md5", 0},
        {"Auth_AES128_SHA1", "auth_aes128_sha1", 0},
        {"auth_chain_a", "auth_chain_a", 4},
        {"auth_chain_B", "auth_chain_b", 4},
        {"plain", "plain", 0},
        {"HTTP_SIMPLE", "http_simple", 0},
        {"http_post", "http_post", 0},
        {"random_head", "random_head", 0},
        {"TLS1.2_TICKET_AUTH", "tls1.2_ticket_auth", 5},
        {"tls1.2_ticket_fastauth", "tls1.2_ticket_fastauth", 5},
    };
    for (const Row& r : rows) {
        auto p = CreateObfs(r.asGiven, "param");
        ASSERT_NE(p, nullptr) << r.asGiven;
        EXPECT_STREQ(p->GetName(), r.stored);
        EXPECT_EQ(p->GetOwnOverhead(), r.overhead) << r.asGiven;
        // A reset keeps the overheads that the protocols set again.
        p->SetIvKey(nullptr, 0, nullptr, 0);
        const int afterReset = std::string(r.stored) == "auth_sha1_v4" ? 0 : r.overhead;
        EXPECT_EQ(p->GetOwnOverhead(), afterReset) << r.asGiven;
    }
    // What the protocol sees is the sum of both plug-ins' own overheads.
    EXPECT_EQ(CreateObfs("tls1.2_ticket_auth", "")->GetOwnOverhead() + CreateObfs("auth_chain_a", "")->GetOwnOverhead(),
              9);
    EXPECT_EQ(CreateObfs("plain", "")->GetOwnOverhead() + CreateObfs("auth_sha1_v4", "")->GetOwnOverhead(), 9);
    EXPECT_EQ(CreateObfs("http_simple", "")->GetOwnOverhead() + CreateObfs("origin", "")->GetOwnOverhead(), 0);
}
