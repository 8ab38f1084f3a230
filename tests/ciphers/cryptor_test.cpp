// The cryptor factory, the key derivation and its cache, and what every
// cryptor shares: IVs, instance numbers and Reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <typeinfo>

#include "ciphers/aead_cryptors.h"
#include "ciphers/crypto_env.h"
#include "ciphers/cryptor_factory.h"
#include "ciphers/stream_cryptors.h"
#include "foundation/private_heap.h"
#include "tests/ciphers/test_util.h"
#include "tests/support/cipher_streams.h"

using ciphertest::Hex;

namespace {

const bool kLibraryReady = (InitCipherLibrary(), true);

struct FactoryCase {
    const char* name;
    const std::type_info& type;
    int keyLength;
    int ivLength;
};

const FactoryCase kFactoryCases[] = {
    {"none", typeid(CNoneCryptor), 16, 0},
    {"aes-128-cfb", typeid(CAESCfbCryptor), 16, 16},
    {"aes-192-cfb", typeid(CAESCfbCryptor), 24, 16},
    {"AES-256-CFB", typeid(CAESCfbCryptor), 32, 16},
    {"aes-128-ctr", typeid(CAESCtrCryptor), 16, 16},
    {"aes-192-ctr", typeid(CAESCtrCryptor), 24, 16},
    {"aes-256-ctr", typeid(CAESCtrCryptor), 32, 16},
    {"camellia-128-cfb", typeid(CCamelliaCfbCryptor), 16, 16},
    {"camellia-192-cfb", typeid(CCamelliaCfbCryptor), 24, 16},
    {"camellia-256-cfb", typeid(CCamelliaCfbCryptor), 32, 16},
    {"rc4-md5", typeid(CRC4Cryptor), 16, 16},
    {"rc4-md5-6", typeid(CRC4Cryptor), 16, 6},
    {"Rc4", typeid(CRC4Cryptor), 16, 0},
    {"salsa20", typeid(CSalsa20Criptor), 32, 8},
    {"chacha20", typeid(CChaCha20Cryptor), 32, 8},
    {"chacha20-ietf", typeid(CChaCha20IetfCryptor), 32, 12},
    {"aes-128-gcm", typeid(CAEADAesGcmCryptor), 16, 12},
    {"aes-192-gcm", typeid(CAEADAesGcmCryptor), 24, 12},
    {"aes-256-gcm", typeid(CAEADAesGcmCryptor), 32, 12},
    {"chacha20-ietf-poly1305", typeid(CAEADChaCha20IetfPoly1305), 32, 12},
    {"XChaCha20-IETF-Poly1305", typeid(CAEADXChaCha20IetfPoly1305), 32, 24},
};

}  // namespace

TEST(CryptorFactory, BuildsTheClassOfEveryNameWithItsLengths) {
    for (const FactoryCase& c : kFactoryCases) {
        auto cryptor = CreateCryptor(c.name, "pw");
        ASSERT_NE(cryptor, nullptr) << c.name;
        EXPECT_EQ(typeid(*cryptor), c.type) << c.name;
        EXPECT_EQ(cryptor->GetKeyLength(), c.keyLength) << c.name;
        EXPECT_EQ(cryptor->GetIvLength(), c.ivLength) << c.name;
        EXPECT_EQ(cryptor->GetMethod(), c.name);
    }
    for (const char* bad : {"", "aes-256", "aes-256-cfb ", "table", "rc4-md5-7"})
        EXPECT_EQ(CreateCryptor(bad, "pw"), nullptr) << bad;
    EXPECT_EQ(CreateCryptor(std::string("rc4\0", 4), "pw"), nullptr);
}

TEST(CryptorFactory, RefusesTheSodiumStreamCiphersWhenTheLibraryFailed) {
    SodiumInitFailed = true;
    EXPECT_EQ(CreateCryptor("chacha20", "pw"), nullptr);
    EXPECT_EQ(CreateCryptor("chacha20-ietf", "pw"), nullptr);
    EXPECT_NE(CreateCryptor("chacha20-ietf-poly1305", "pw"), nullptr);
    EXPECT_NE(CreateCryptor("xchacha20-ietf-poly1305", "pw"), nullptr);
    EXPECT_NE(CreateCryptor("salsa20", "pw"), nullptr);
    SodiumInitFailed = false;
    EXPECT_NE(CreateCryptor("chacha20", "pw"), nullptr);
}

TEST(KeyDerivation, KnownKeyBlocks) {
    // MD5 chains worked out independently: MD5("") then MD5 of those 16 bytes,
    // and the same for "foobar".
    struct Case {
        std::string password, block;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e59adb24ef3cdbe0297f05b395827453f"},
        {"foobar", "3858f62230ac3c915f300c664312c63f568378529614d22ddb49237d2f60bfdf"},
    };
    for (const Case& c : cases) {
        unsigned char key[32];
        PasswordToKey("aes-256-cfb", c.password, key);
        EXPECT_EQ(Hex(key, 32), c.block);
        PasswordToKeyUncached(c.password, key);
        EXPECT_EQ(Hex(key, 32), c.block);
        EXPECT_EQ(Hex(CreateCryptor("rc4-md5", c.password)->GetKey(), 32), c.block);
    }
}

TEST(KeyDerivation, CacheIsKeyedByMethodAndPasswordAndBounded) {
    const size_t before = KeyCacheSize();
    auto a = CreateCryptor("aes-128-gcm", "shared-password");
    auto b = CreateCryptor("rc4-md5", "shared-password");
    EXPECT_EQ(Hex(a->GetKey(), 32), Hex(b->GetKey(), 32));
    EXPECT_EQ(KeyCacheSize(), before + 2);

    unsigned char key[32];
    PasswordToKeyUncached("never-cached", key);
    EXPECT_EQ(KeyCacheSize(), before + 2);

    // Random passwords cannot grow the cache past its bound, and entries
    // still come back right after it has been trimmed.
    for (size_t i = 0; i < kKeyCacheCapacity + 50; ++i) {
        PasswordToKey("rc4", "random-" + std::to_string(i), key);
        ASSERT_LE(KeyCacheSize(), kKeyCacheCapacity);
    }
    unsigned char again[32];
    PasswordToKey("rc4", "random-3", again);
    PasswordToKeyUncached("random-3", key);
    EXPECT_EQ(Hex(again, 32), Hex(key, 32));
}

TEST(Cryptor, IvsInstanceNumbersAndReset) {
    auto first = CreateCryptor("aes-256-cfb", "pw");
    auto second = CreateCryptor("aes-256-cfb", "pw");
    EXPECT_GT(second->GetInstanceNumber(), first->GetInstanceNumber());
    EXPECT_NE(Hex(first->GetIv(), 16), Hex(second->GetIv(), 16));

    const std::string key = Hex(first->GetKey(), 32);
    const std::string iv = Hex(first->GetIv(), 16);
    unsigned char* out = nullptr;
    size_t len = 0;
    bool more = false;
    const unsigned char wire[20] = {};
    ASSERT_EQ(first->Encrypt(wire, 4, &out, &len, false), 1);
    PrivateHeapFree(out);
    ASSERT_EQ(first->Decrypt(wire, 20, &out, &len, &more, false), 1);
    PrivateHeapFree(out);
    EXPECT_TRUE(first->IsIvSent());
    EXPECT_TRUE(first->IsIvReceived());

    first->Reset();
    EXPECT_FALSE(first->IsIvSent());
    EXPECT_FALSE(first->IsIvReceived());
    EXPECT_NE(Hex(first->GetIv(), 16), iv);
    EXPECT_EQ(Hex(first->GetKey(), 32), key);
}

TEST(Cryptor, CiphersWithoutIvDrawNoRandomBytes) {
    static size_t drawn = 0;
    drawn = 0;
    ScopedRandomSource source([](unsigned char* buf, size_t len) {
        drawn += len;
        std::fill(buf, buf + len, 0);
    });
    for (const char* name : {"none", "rc4"}) {
        auto c = CreateCryptor(name, "pw");
        c->Reset();
        EXPECT_EQ(drawn, 0u) << name;
    }
    auto c = CreateCryptor("rc4-md5-6", "pw");
    c->Reset();
    EXPECT_EQ(drawn, 12u);
}

TEST(Cryptor, PasswordDigestIsMd5OfThePassword) {
    auto c = CreateCryptor("none", "abc");
    unsigned char digest[16];
    c->PasswordDigest(digest);
    EXPECT_EQ(Hex(digest, 16), "900150983cd24fb0d6963f7d28e17f72");
}

// The kept-block calls give the bytes of the fresh-block ones whatever the
// block held before, grow a block that is too small, and leave one that is
// large enough where it is: a relayed chunk costs no allocation.
TEST(Cryptor, KeptBlockCallsMatchFreshOnesAndKeepTheirBlock) {
    ScopedRandomSource source([](unsigned char* buf, size_t len) { std::fill(buf, buf + len, 0x5c); });
    const std::string message = testsupport::RandomText(150000, 9);
    // Empty, tiny, around one AEAD chunk, several chunks at once.
    const size_t sendPieces[] = {0, 1, 16383, 16384, 40000, 3, 70000, 7229};
    const size_t receivePieces[] = {7, 30000, 1, 65535, 0};
    constexpr size_t kLarge = 200000;
    for (size_t initial : {size_t{1}, kLarge}) {
        for (const FactoryCase& c : kFactoryCases) {
            SCOPED_TRACE(std::string(c.name) + " from a block of " + std::to_string(initial));
            auto kept = CreateCryptor(c.name, "pw");
            auto fresh = CreateCryptor(c.name, "pw");
            auto* block = static_cast<unsigned char*>(PrivateHeapAlloc(initial));
            std::memset(block, 0xEE, initial);
            unsigned char* const first = block;
            const auto* text = reinterpret_cast<const unsigned char*>(message.data());

            std::string keptWire, freshWire;
            size_t at = 0;
            for (size_t n : sendPieces) {
                size_t len = 1;
                ASSERT_EQ(kept->EncryptInto(text + at, n, &block, &len, false), 1);
                keptWire.append(reinterpret_cast<const char*>(block), len);
                freshWire += testsupport::MustEncrypt(*fresh, message.substr(at, n));
                at += n;
            }
            ASSERT_EQ(at, message.size());
            EXPECT_TRUE(keptWire == freshWire);

            auto receiver = CreateCryptor(c.name, "pw");
            std::string plain;
            at = 0;
            for (size_t n : receivePieces) {
                if (n == 0) n = keptWire.size() - at;
                size_t len = 1;
                bool more = false;
                ASSERT_EQ(receiver->DecryptInto(reinterpret_cast<const unsigned char*>(keptWire.data()) + at,
                                                n, &block, &len, &more, false),
                          1);
                plain.append(reinterpret_cast<const char*>(block), len);
                at += n;
            }
            EXPECT_TRUE(plain == message);

            // A datagram, and back.
            kept->Reset();
            fresh->Reset();
            receiver->Reset();
            size_t len = 0;
            ASSERT_EQ(kept->EncryptInto(text, 1200, &block, &len, true), 1);
            const std::string datagram(reinterpret_cast<const char*>(block), len);
            EXPECT_TRUE(datagram == testsupport::MustEncrypt(*fresh, message.substr(0, 1200), true));
            bool more = false;
            ASSERT_EQ(receiver->DecryptInto(reinterpret_cast<const unsigned char*>(datagram.data()),
                                            datagram.size(), &block, &len, &more, true),
                      1);
            EXPECT_TRUE(std::string(reinterpret_cast<const char*>(block), len) == message.substr(0, 1200));

            if (initial == kLarge) {
                EXPECT_EQ(block, first);
            }
            PrivateHeapFree(block);
        }
    }
}
