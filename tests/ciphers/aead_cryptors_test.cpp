// The AEAD cryptors: the exact wire form against an independent construction,
// chunking, partial input, tampering and the UDP form.
#include "ciphers/aead_cryptors.h"

#include <cryptopp/aes.h>
#include <cryptopp/gcm.h>
#include <gtest/gtest.h>
#include <sodium.h>

#include <functional>
#include <random>

#include "ciphers/crypto_env.h"
#include "ciphers/crypto_helpers.h"
#include "ciphers/cryptor_factory.h"
#include "tests/ciphers/test_util.h"
#include "tests/support/cipher_streams.h"

using ciphertest::Hex;
using ciphertest::U;
using testsupport::DecryptPiece;
using testsupport::MustEncrypt;
using testsupport::RandomText;

namespace {

const bool kLibraryReady = (InitCipherLibrary(), true);

const char* const kAeadNames[] = {"aes-128-gcm", "aes-192-gcm", "aes-256-gcm", "chacha20-ietf-poly1305",
                                  "xchacha20-ietf-poly1305"};

// Seals one message the way a Shadowsocks peer does, written straight on the
// libraries rather than through the cryptor classes.
std::string PeerSeal(const std::string& method, const std::string& subkey, const std::string& nonce,
                     const std::string& plain) {
    std::string out(plain.size() + 16, '\0');
    auto* o = reinterpret_cast<unsigned char*>(&out[0]);
    unsigned long long n = 0;
    if (method.rfind("aes-", 0) == 0) {
        CryptoPP::GCM<CryptoPP::AES>::Encryption gcm;
        gcm.SetKeyWithIV(U(subkey), subkey.size(), U(nonce), nonce.size());
        gcm.EncryptAndAuthenticate(o, o + plain.size(), 16, U(nonce), static_cast<int>(nonce.size()), nullptr,
                                   0, U(plain), plain.size());
    } else if (method == "chacha20-ietf-poly1305") {
        crypto_aead_chacha20poly1305_ietf_encrypt(o, &n, U(plain), plain.size(), nullptr, 0, nullptr,
                                                  U(nonce), U(subkey));
    } else {
        crypto_aead_xchacha20poly1305_ietf_encrypt(o, &n, U(plain), plain.size(), nullptr, 0, nullptr,
                                                   U(nonce), U(subkey));
    }
    return out;
}

// One side of a Shadowsocks AEAD TCP stream built by hand.
struct PeerStream {
    std::string method, subkey, nonce;

    PeerStream(const std::string& m, const std::string& password, const std::string& salt) : method(m) {
        auto probe = CreateCryptor(m, "probe");
        const size_t keyLength = static_cast<size_t>(probe->GetKeyLength());
        nonce.assign(static_cast<size_t>(probe->GetIvLength()), '\0');
        unsigned char block[32];
        PasswordToKeyUncached(password, block);
        subkey.assign(keyLength, '\0');
        HkdfSha1(block, keyLength, U(salt), salt.size(), U(std::string("ss-subkey")), 9,
                 reinterpret_cast<unsigned char*>(&subkey[0]), keyLength);
    }
    std::string Seal(const std::string& plain) {
        std::string out = PeerSeal(method, subkey, nonce, plain);
        sodium_increment(reinterpret_cast<unsigned char*>(&nonce[0]), nonce.size());
        return out;
    }
    std::string Chunk(const std::string& payload, size_t declared) {
        const std::string length{static_cast<char>(declared >> 8), static_cast<char>(declared & 0xFF)};
        std::string out = Seal(length);
        return out + Seal(payload);
    }
};

::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
    if (got == want) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    return ::testing::AssertionFailure()
           << "sizes " << got.size() << " and " << want.size() << ", first difference at byte " << at;
}

std::string Salt(const CCryptor& c) {
    const auto& a = dynamic_cast<const AEADCryptor&>(c);
    return std::string(reinterpret_cast<const char*>(a.GetSendSalt()),
                       static_cast<size_t>(a.GetSaltLength()));
}

}  // namespace

TEST(AeadCryptors, WireFormMatchesAnIndependentPeer) {
    // A 1000-byte password as well: the master key comes from the key block
    // whatever the password's length.
    for (const std::string& password : {std::string("wire"), std::string(1000, 'p')}) {
        for (const char* name : kAeadNames) {
            auto c = CreateCryptor(name, password);
            const std::string salt = Salt(*c);
            PeerStream peer(name, password, salt);
            const std::string first = RandomText(100, 1), second = RandomText(20000, 2);
            EXPECT_TRUE(SameBytes(MustEncrypt(*c, first), salt + peer.Chunk(first, 100))) << name;
            std::string expected = peer.Chunk(second.substr(0, 16383), 16383);
            expected += peer.Chunk(second.substr(16383), second.size() - 16383);
            EXPECT_TRUE(SameBytes(MustEncrypt(*c, second), expected)) << name;

            // And the other way: what the peer sends opens here.
            auto receiver = CreateCryptor(name, password);
            const std::string peerSalt(salt.size(), '\x42');
            PeerStream sender(name, password, peerSalt);
            std::string plain;
            ASSERT_TRUE(DecryptPiece(*receiver, peerSalt + sender.Chunk(first, 100), &plain)) << name;
            EXPECT_EQ(plain, first) << name;
        }
    }
}

TEST(AeadCryptors, ChunkSizesAndNonces) {
    auto c = CreateCryptor("aes-256-gcm", "sizes");
    const auto& a = dynamic_cast<const AEADCryptor&>(*c);
    EXPECT_EQ(MustEncrypt(*c, std::string(100, 'x')).size(), 32u + 18 + 116);
    EXPECT_EQ(MustEncrypt(*c, std::string(100, 'x')).size(), 18u + 116);
    EXPECT_EQ(MustEncrypt(*c, "").size(), 0u);
    EXPECT_EQ(a.GetSendNonce()[0], 4);

    auto one = CreateCryptor("chacha20-ietf-poly1305", "sizes");
    EXPECT_EQ(MustEncrypt(*one, std::string(16383, 'x')).size(), 32u + 18 + 16383 + 16);
    auto two = CreateCryptor("chacha20-ietf-poly1305", "sizes");
    EXPECT_EQ(MustEncrypt(*two, std::string(16384, 'x')).size(), 32u + 2 * 34 + 16384);
    const auto& b = dynamic_cast<const AEADCryptor&>(*two);
    EXPECT_EQ(Hex(b.GetSendNonce(), 12), "040000000000000000000000");

    // A first Encrypt of nothing sends the salt alone.
    auto empty = CreateCryptor("aes-128-gcm", "sizes");
    EXPECT_EQ(MustEncrypt(*empty, ""), Salt(*empty));
}

TEST(AeadCryptors, EveryMethodRoundTripsInRandomPiecesWithTheSaltSplit) {
    const std::string message = RandomText(100000, 3);
    for (const char* name : kAeadNames) {
        auto sender = CreateCryptor(name, "pieces");
        auto receiver = CreateCryptor(name, "pieces");
        const std::string wire = testsupport::EncryptInPieces(*sender, message, 4, 40000);
        testsupport::SplitFeeder feeder(*receiver, 5, 7, 20000);
        ASSERT_TRUE(feeder.Feed(wire)) << name;
        ASSERT_TRUE(feeder.Finish()) << name;
        EXPECT_EQ(feeder.plain(), message) << name;
        EXPECT_FALSE(feeder.lastNeedMore()) << name;
    }
}

TEST(AeadCryptors, OneByteAtATimeAsksForMoreUntilEachChunkCompletes) {
    auto sender = CreateCryptor("xchacha20-ietf-poly1305", "bytes");
    auto receiver = CreateCryptor("xchacha20-ietf-poly1305", "bytes");
    std::string wire = MustEncrypt(*sender, "first chunk");
    const size_t firstEnd = wire.size();
    wire += MustEncrypt(*sender, "second");
    std::string plain;
    for (size_t i = 0; i < wire.size(); ++i) {
        bool more = false;
        ASSERT_TRUE(DecryptPiece(*receiver, wire.substr(i, 1), &plain, &more)) << i;
        const bool chunkDone = i + 1 == firstEnd || i + 1 == wire.size();
        EXPECT_EQ(more, !chunkDone) << i;
        if (i + 1 < firstEnd) {
            EXPECT_TRUE(plain.empty()) << i;
        }
    }
    EXPECT_EQ(plain, "first chunksecond");
}

TEST(AeadCryptors, RejectsTamperedAndOversizedChunks) {
    const std::string password = "tamper";
    const std::string salt(16, '\x07');
    struct Case {
        const char* what;
        std::function<std::string(PeerStream&)> body;
    } cases[] = {
        {"length byte changed",
         [](PeerStream& p) {
             auto s = p.Chunk("payload", 7);
             s[0] ^= 1;
             return s;
         }},
        {"length tag changed",
         [](PeerStream& p) {
             auto s = p.Chunk("payload", 7);
             s[17] ^= 1;
             return s;
         }},
        {"payload byte changed",
         [](PeerStream& p) {
             auto s = p.Chunk("payload", 7);
             s[20] ^= 1;
             return s;
         }},
        {"payload tag changed",
         [](PeerStream& p) {
             auto s = p.Chunk("payload", 7);
             s.back() ^= 1;
             return s;
         }},
        {"length above 0x3FFF", [](PeerStream& p) { return p.Chunk(std::string(0x4000, 'x'), 0x4000); }},
        {"chunks out of order",
         [](PeerStream& p) {
             auto first = p.Chunk("one", 3);
             return p.Chunk("two", 3) + first;
         }},
    };
    for (const Case& c : cases) {
        PeerStream peer("aes-128-gcm", password, salt);
        auto receiver = CreateCryptor("aes-128-gcm", password);
        std::string plain;
        EXPECT_FALSE(DecryptPiece(*receiver, salt + c.body(peer), &plain)) << c.what;
        EXPECT_TRUE(plain.empty()) << c.what;
    }
}

// A failed input is dropped with the chunks it held; the stream cannot go on
// after it, or the reader would see later chunks with a silent gap before them.
TEST(AeadCryptors, StaysFailedAfterAFailureUntilReset) {
    const std::string password = "sticky";
    const std::string salt(32, '\x09');
    for (const char* name : {"aes-256-gcm", "chacha20-ietf-poly1305"}) {
        PeerStream peer(name, password, salt);
        const std::string one = peer.Chunk("one", 3);
        const std::string two = peer.Chunk("two", 3);
        const std::string three = peer.Chunk("three", 5);
        std::string forged = two;
        forged[17] ^= 1;  // the length's tag
        auto receiver = CreateCryptor(name, password);
        std::string plain;
        ASSERT_FALSE(DecryptPiece(*receiver, salt + one + forged, &plain)) << name;
        EXPECT_FALSE(DecryptPiece(*receiver, two + three, &plain)) << name;
        EXPECT_FALSE(DecryptPiece(*receiver, three, &plain)) << name;
        EXPECT_TRUE(plain.empty()) << name << ": " << plain;

        // A new session after Reset works again.
        receiver->Reset();
        PeerStream fresh(name, password, salt);
        ASSERT_TRUE(DecryptPiece(*receiver, salt + fresh.Chunk("again", 5), &plain)) << name;
        EXPECT_EQ(plain, "again") << name;
    }
}

TEST(AeadCryptors, ResetStartsANewSessionAndDropsBufferedInput) {
    auto sender = CreateCryptor("aes-192-gcm", "reset");
    auto receiver = CreateCryptor("aes-192-gcm", "reset");
    const std::string wire = MustEncrypt(*sender, "before");
    std::string plain;
    ASSERT_TRUE(DecryptPiece(*receiver, wire.substr(0, wire.size() - 3), &plain));
    const std::string oldSalt = Salt(*sender);
    sender->Reset();
    receiver->Reset();
    EXPECT_NE(Salt(*sender), oldSalt);
    const std::string again = MustEncrypt(*sender, "after");
    EXPECT_EQ(again.substr(0, 24), Salt(*sender));
    ASSERT_TRUE(DecryptPiece(*receiver, again, &plain));
    EXPECT_EQ(plain, "after");
}

TEST(AeadCryptors, UdpDatagrams) {
    for (const char* name : kAeadNames) {
        auto sender = CreateCryptor(name, "udp");
        const size_t salt = static_cast<size_t>(dynamic_cast<AEADCryptor&>(*sender).GetSaltLength());
        sender->Reset();
        const std::string d1 = MustEncrypt(*sender, "datagram one", true);
        sender->Reset();
        const std::string d2 = MustEncrypt(*sender, "datagram one", true);
        EXPECT_EQ(d1.size(), salt + 12 + 16) << name;
        EXPECT_NE(d1.substr(0, salt), d2.substr(0, salt)) << name;

        auto receiver = CreateCryptor(name, "udp");
        for (const std::string& d : {d1, d2}) {
            receiver->Reset();
            unsigned char* out = nullptr;
            size_t len = 0;
            bool more = true;  // the UDP form leaves the flag alone
            ASSERT_EQ(receiver->Decrypt(U(d), d.size(), &out, &len, &more, true), 1) << name;
            EXPECT_EQ(testsupport::TakeOutput(out, len), "datagram one") << name;
            EXPECT_TRUE(more) << name;
        }

        sender->Reset();
        const std::string oneByte = MustEncrypt(*sender, "z", true);
        ASSERT_EQ(oneByte.size(), salt + 17);
        std::string plain;
        receiver->Reset();
        ASSERT_TRUE(DecryptPiece(*receiver, oneByte, &plain, nullptr, true)) << name;
        EXPECT_EQ(plain, "z");
        receiver->Reset();
        EXPECT_FALSE(DecryptPiece(*receiver, oneByte.substr(0, salt + 16), &plain, nullptr, true));
        std::string tampered = oneByte;
        tampered[salt] ^= 0x20;
        receiver->Reset();
        EXPECT_FALSE(DecryptPiece(*receiver, tampered, &plain, nullptr, true)) << name;
    }
}
