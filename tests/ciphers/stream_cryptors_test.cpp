// The stream cryptors: published vectors, the IV-first framing, any split of
// the stream, and the per-cipher details of RC4 and ChaCha20.
#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include "ciphers/stream_cryptors.h"

#include <cryptopp/arc4.h>
#include <cryptopp/md5.h>
#include <gtest/gtest.h>
#include <sodium.h>

#include <cstring>
#include <random>

#include "ciphers/crypto_env.h"
#include "ciphers/cryptor_factory.h"
#include "tests/ciphers/test_util.h"
#include "tests/support/cipher_streams.h"

using ciphertest::Hex;
using ciphertest::U;
using ciphertest::Unhex;
using testsupport::DecryptPiece;
using testsupport::MustEncrypt;
using testsupport::RandomText;

namespace {

const bool kLibraryReady = (InitCipherLibrary(), true);

const char* const kStreamNames[] = {
    "none",        "aes-128-cfb",      "aes-192-cfb",      "aes-256-cfb",      "aes-128-ctr", "aes-192-ctr",
    "aes-256-ctr", "camellia-128-cfb", "camellia-192-cfb", "camellia-256-cfb", "rc4-md5",     "rc4-md5-6",
    "rc4",         "salsa20",          "chacha20",         "chacha20-ietf",
};

// A cryptor whose key and encrypt IV are set by the test.
template <class Base>
class Pinned : public Base {
public:
    template <class... Args>
    Pinned(const std::string& key, const std::string& iv, Args&&... args)
        : Base(std::forward<Args>(args)...) {
        std::memcpy(this->key_, key.data(), key.size());
        std::memcpy(this->encryptIv_, iv.data(), iv.size());
    }
};

// Builds cryptors whose random draws restart from 0, so that two of them
// send the same IV.
std::unique_ptr<CCryptor> SameIvCryptor(const std::string& name, const std::string& pw) {
    testsupport::g_sequenceNext = 0;
    ScopedRandomSource source(&testsupport::SequenceRandom);
    return CreateCryptor(name, pw);
}

const std::string kNistPlain = Unhex(
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");

}  // namespace

TEST(StreamCryptors, AesCfbAndCtrMatchSp800_38A) {
    const std::string key128 = Unhex("2b7e151628aed2a6abf7158809cf4f3c");
    const std::string key256 = Unhex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    const std::string cfbIv = Unhex("000102030405060708090a0b0c0d0e0f");
    const std::string ctrIv = Unhex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    struct Case {
        const char* name;
        bool ctr;
        std::string key, iv, cipher;
    } cases[] = {
        {"aes-128-cfb", false, key128, cfbIv,
         "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
         "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6"},
        {"aes-256-cfb", false, key256, cfbIv,
         "dc7e84bfda79164b7ecd8486985d386039ffed143b28b1c832113c6331e5407b"
         "df10132415e54b92a13ed0a8267ae2f975a385741ab9cef82031623d55b1e471"},
        {"aes-128-ctr", true, key128, ctrIv,
         "874d6191b620e3261bef6864990db6ce9806f66b7970fdff8617187bb9fffdff"
         "5ae4df3edbd5d35e5b4f09020db03eab1e031dda2fbe03d1792170a0f3009cee"},
        {"aes-256-ctr", true, key256, ctrIv,
         "601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c5"
         "2b0930daa23de94ce87017ba2d84988ddfc9c58db67aada613c2dd08457941a6"},
    };
    for (const Case& c : cases) {
        const int bits = static_cast<int>(c.key.size() * 8);
        std::unique_ptr<CCryptor> sender, receiver;
        if (c.ctr) {
            sender = std::make_unique<Pinned<CAESCtrCryptor>>(c.key, c.iv, c.name, "", bits);
            receiver = std::make_unique<Pinned<CAESCtrCryptor>>(c.key, "", c.name, "", bits);
        } else {
            sender = std::make_unique<Pinned<CAESCfbCryptor>>(c.key, c.iv, c.name, "", bits);
            receiver = std::make_unique<Pinned<CAESCfbCryptor>>(c.key, "", c.name, "", bits);
        }
        // Pieces that cut blocks in odd places must not change the stream.
        std::string wire = MustEncrypt(*sender, kNistPlain.substr(0, 5));
        wire += MustEncrypt(*sender, kNistPlain.substr(5, 30));
        wire += MustEncrypt(*sender, kNistPlain.substr(35));
        EXPECT_EQ(Hex(wire), Hex(c.iv) + c.cipher) << c.name;
        std::string plain;
        ASSERT_TRUE(DecryptPiece(*receiver, wire.substr(0, 7), &plain));
        ASSERT_TRUE(DecryptPiece(*receiver, wire.substr(7, 20), &plain));
        ASSERT_TRUE(DecryptPiece(*receiver, wire.substr(27), &plain));
        EXPECT_EQ(plain, kNistPlain) << c.name;
    }
}

TEST(StreamCryptors, EveryMethodRoundTripsInRandomPiecesWithTheIvSplit) {
    const std::string message = RandomText(100000, 7);
    for (const char* name : kStreamNames) {
        auto sender = CreateCryptor(name, "round-trip");
        auto receiver = CreateCryptor(name, "round-trip");
        const size_t iv = static_cast<size_t>(sender->GetIvLength());
        const std::string wire = testsupport::EncryptInPieces(*sender, message, 11, 3000);
        EXPECT_EQ(wire.size(), iv + message.size()) << name;
        // The first piece stops inside the IV: its bytes must be kept.
        testsupport::SplitFeeder feeder(*receiver, 3, iv > 1 ? iv / 2 : 1);
        ASSERT_TRUE(feeder.Feed(wire)) << name;
        ASSERT_TRUE(feeder.Finish()) << name;
        EXPECT_EQ(feeder.plain(), message) << name;

        if (std::string(name) != "none") {
            auto stranger = CreateCryptor(name, "other password");
            std::string garbage;
            ASSERT_TRUE(DecryptPiece(*stranger, wire, &garbage));
            EXPECT_NE(garbage, message) << name;
        }
    }
}

TEST(StreamCryptors, AnySplitOfTheInputGivesTheSameStream) {
    const std::string text = RandomText(300, 5);
    const std::vector<std::vector<size_t>> splits = {{3, 3}, {63, 2}, {1, 64, 7}, {0, 130, 0, 170}};
    for (const char* name : kStreamNames) {
        for (const auto& split : splits) {
            size_t total = 0;
            for (size_t n : split) total += n;
            auto whole = SameIvCryptor(name, "split");
            auto pieces = SameIvCryptor(name, "split");
            const std::string expected = MustEncrypt(*whole, text.substr(0, total));
            std::string got;
            size_t at = 0;
            for (size_t n : split) {
                got += MustEncrypt(*pieces, text.substr(at, n));
                at += n;
            }
            EXPECT_EQ(Hex(got), Hex(expected)) << name << " split of " << total;
        }
    }
}

TEST(StreamCryptors, IvFramingAtTheEdges) {
    auto sender = CreateCryptor("aes-256-cfb", "edges");
    const std::string iv(reinterpret_cast<const char*>(sender->GetIv()), 16);
    EXPECT_EQ(MustEncrypt(*sender, ""), iv);
    const std::string body = MustEncrypt(*sender, "hello");
    EXPECT_EQ(body.size(), 5u);

    auto receiver = CreateCryptor("aes-256-cfb", "edges");
    std::string plain;
    bool more = false;
    ASSERT_TRUE(DecryptPiece(*receiver, iv.substr(0, 10), &plain, &more));
    EXPECT_TRUE(more);
    EXPECT_TRUE(plain.empty());
    EXPECT_FALSE(receiver->IsIvReceived());
    ASSERT_TRUE(DecryptPiece(*receiver, iv.substr(10), &plain, &more));
    EXPECT_FALSE(more);
    EXPECT_TRUE(plain.empty());
    EXPECT_TRUE(receiver->IsIvReceived());
    ASSERT_TRUE(DecryptPiece(*receiver, body, &plain, &more));
    EXPECT_EQ(plain, "hello");

    // A UDP datagram after Reset is a fresh IV and a fresh stream.
    sender->Reset();
    receiver->Reset();
    const std::string datagram = MustEncrypt(*sender, "ping", true);
    EXPECT_EQ(datagram.substr(0, 16), std::string(reinterpret_cast<const char*>(sender->GetIv()), 16));
    EXPECT_NE(datagram.substr(0, 16), iv);
    plain.clear();
    ASSERT_TRUE(DecryptPiece(*receiver, datagram, &plain, &more, true));
    EXPECT_EQ(plain, "ping");
}

TEST(StreamCryptors, NoneCopiesAndNeverAsksForMore) {
    auto c = CreateCryptor("none", "x");
    EXPECT_EQ(MustEncrypt(*c, "abc"), "abc");
    std::string plain;
    bool more = true;
    ASSERT_TRUE(DecryptPiece(*c, "d", &plain, &more));
    EXPECT_FALSE(more);
    EXPECT_EQ(plain, "d");
}

TEST(StreamCryptors, Rc4Md5KeysEachSessionWithMd5OfKeyAndIvAndKeepsTheKeyBlock) {
    const std::string text = RandomText(200, 9);
    for (const char* name : {"rc4-md5", "rc4-md5-6"}) {
        auto c = CreateCryptor(name, "rc4 password");
        const size_t iv = static_cast<size_t>(c->GetIvLength());
        const std::string keyBlock = Hex(c->GetKey(), 32);
        for (int session = 0; session < 2; ++session) {
            const std::string wire = MustEncrypt(*c, text);
            const std::string sentIv(reinterpret_cast<const char*>(c->GetIv()), iv);
            ASSERT_EQ(wire.substr(0, iv), sentIv);
            unsigned char sessionKey[16];
            CryptoPP::Weak::MD5 md5;
            md5.Update(c->GetKey(), 16);
            md5.Update(U(sentIv), iv);
            md5.Final(sessionKey);
            CryptoPP::Weak::ARC4 rc4(sessionKey, 16);
            std::string expected(text.size(), '\0');
            rc4.ProcessData(reinterpret_cast<unsigned char*>(&expected[0]), U(text), text.size());
            EXPECT_EQ(Hex(wire.substr(iv)), Hex(expected)) << name << " session " << session;
            // The readable key stays the password's key block.
            EXPECT_EQ(Hex(c->GetKey(), 32), keyBlock) << name;
            c->Reset();
        }
    }
}

TEST(StreamCryptors, PlainRc4RepeatsItsKeystreamWithoutIv) {
    auto a = CreateCryptor("rc4", "same");
    auto b = CreateCryptor("rc4", "same");
    const std::string wire = MustEncrypt(*a, "identical input");
    EXPECT_EQ(wire.size(), 15u);
    EXPECT_EQ(MustEncrypt(*b, "identical input"), wire);
    a->Reset();
    EXPECT_EQ(MustEncrypt(*a, "identical input"), wire);
}

namespace {

// ChaCha20 cryptors whose byte counters the test can move.
template <class Base>
class MovableCounter : public Base {
public:
    using Base::Base;
    void SetSendCounter(uint64_t c) { this->sendCounter_ = c; }
    void SetReceiveCounter(uint64_t c) { this->receiveCounter_ = c; }
};

std::string Keystream(bool ietf, const unsigned char* iv, const unsigned char* key, uint64_t position,
                      size_t n) {
    const uint64_t block = position / 64;
    const size_t offset = static_cast<size_t>(position % 64);
    std::string zeros(offset + n, '\0'), out(offset + n, '\0');
    auto* o = reinterpret_cast<unsigned char*>(&out[0]);
    if (ietf)
        crypto_stream_chacha20_ietf_xor_ic(o, U(zeros), zeros.size(), iv, static_cast<uint32_t>(block), key);
    else
        crypto_stream_chacha20_xor_ic(o, U(zeros), zeros.size(), iv, block, key);
    return out.substr(offset);
}

template <class Cryptor>
void CheckPastFourGiB(bool ietf) {
    MovableCounter<Cryptor> sender("chacha", "counter");
    MovableCounter<Cryptor> receiver("chacha", "counter");
    const size_t iv = static_cast<size_t>(sender.GetIvLength());
    const std::string head = MustEncrypt(sender, "");
    ASSERT_EQ(head.size(), iv);
    // A 32-bit byte counter wraps here and restarts the keystream at block 0.
    const uint64_t position = (uint64_t{1} << 32) - 10;
    sender.SetSendCounter(position);
    const std::string text(40, 'z');
    const std::string wire = MustEncrypt(sender, text);
    const std::string ks = Keystream(ietf, sender.GetIv(), sender.GetKey(), position, text.size());
    std::string expected(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i) expected[i] = static_cast<char>(text[i] ^ ks[i]);
    EXPECT_EQ(Hex(wire), Hex(expected));
    EXPECT_EQ(sender.GetSendCounter(), position + text.size());

    std::string plain;
    ASSERT_TRUE(DecryptPiece(receiver, head, &plain));
    receiver.SetReceiveCounter(position);
    ASSERT_TRUE(DecryptPiece(receiver, wire.substr(0, 3), &plain));
    ASSERT_TRUE(DecryptPiece(receiver, wire.substr(3), &plain));
    EXPECT_EQ(plain, text);
}

}  // namespace

TEST(StreamCryptors, ChaChaCountersCarryPastFourGiB) {
    CheckPastFourGiB<CChaCha20Cryptor>(false);
    CheckPastFourGiB<CChaCha20IetfCryptor>(true);
}

TEST(StreamCryptors, ChaChaResetRestartsAtBlockZeroWithTheNewIv) {
    for (const char* name : {"chacha20", "chacha20-ietf"}) {
        const bool ietf = std::string(name) == "chacha20-ietf";
        auto c = CreateCryptor(name, "restart");
        const size_t iv = static_cast<size_t>(c->GetIvLength());
        MustEncrypt(*c, std::string(100, 'a'));
        c->Reset();
        const std::string wire = MustEncrypt(*c, std::string(10, '\0'));
        ASSERT_EQ(wire.size(), iv + 10);
        EXPECT_EQ(Hex(wire.substr(0, iv)), Hex(c->GetIv(), iv));
        EXPECT_EQ(Hex(wire.substr(iv)), Hex(Keystream(ietf, c->GetIv(), c->GetKey(), 0, 10))) << name;
    }
}
