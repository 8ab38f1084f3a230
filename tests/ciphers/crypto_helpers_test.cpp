// Randomness, digests, HMACs, HKDF and one-block AES against published vectors.
#include "ciphers/crypto_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <thread>
#include <vector>

#include "ciphers/crypto_env.h"
#include "tests/ciphers/test_util.h"

using ciphertest::Hex;
using ciphertest::U;
using ciphertest::Unhex;

TEST(CryptoHelpers, RandomBytesUsesTheInstalledSourceAndLengthZeroWritesNothing) {
    static int calls = 0;
    calls = 0;
    ScopedRandomSource source([](unsigned char* buf, size_t len) {
        ++calls;
        for (size_t i = 0; i < len; ++i) buf[i] = 0x5A;
    });
    unsigned char buf[4] = {1, 2, 3, 4};
    RandomBytes(buf, 0);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(Hex(buf, 4), "01020304");
    RandomBytes(buf, 3);
    EXPECT_EQ(Hex(buf, 4), "5a5a5a04");
}

TEST(CryptoHelpers, SystemRandomBytesCoverEveryValueEvenly) {
    std::vector<unsigned char> buf(256 * 1000);
    RandomBytes(buf.data(), buf.size());
    std::array<int, 256> counts{};
    for (unsigned char b : buf) ++counts[b];
    // Each count is binomial with mean 1000 and deviation about 31.
    for (int v = 0; v < 256; ++v) {
        EXPECT_GT(counts[v], 800) << v;
        EXPECT_LT(counts[v], 1200) << v;
    }
}

TEST(CryptoHelpers, HeadSizeOfAddressHeaders) {
    struct Case {
        std::string data;
        int size;
    } cases[] = {
        {"", 30},
        {std::string("\x01", 1), 30},
        {std::string("\x01\x00", 2), 7},
        {std::string("\x04\x00", 2), 19},
        {std::string("\x03\x0b", 2), 15},
        {std::string("\x03\xc8", 2), 204},
        {std::string("\x02\x05", 2), 9},
        {std::string("\x13\x0b", 2), 15},  // flag bits above the type are ignored
        {std::string("\x05\x00", 2), 30},
        {std::string("\x00\x00", 2), 30},
    };
    for (const Case& c : cases) EXPECT_EQ(GetHeadSize(U(c.data), c.data.size()), c.size) << Hex(c.data);
    EXPECT_EQ(GetHeadSize(nullptr, 10), 30);
}

TEST(CryptoHelpers, XorShiftStartsFromTheFixedStateAndStepsAtomically) {
    // The first values from the fixed start state, worked out independently;
    // nothing else in this suite steps the generator.
    const uint64_t first[] = {0x80005effff7bfULL, 0x7fffc9027f80fbULL, 0x28000c911ff913bULL};
    EXPECT_EQ(XorShift128Plus(), first[0]);
    EXPECT_EQ(XorShift128Plus(), first[1]);
    EXPECT_EQ(XorShift128Plus(), first[2]);

    // Concurrent steps never hand two threads the same value.
    std::vector<std::vector<uint64_t>> seen(4);
    std::vector<std::thread> threads;
    for (auto& s : seen)
        threads.emplace_back([&s] {
            for (int i = 0; i < 2000; ++i) s.push_back(XorShift128Plus());
        });
    for (auto& t : threads) t.join();
    std::vector<uint64_t> all;
    for (auto& s : seen) all.insert(all.end(), s.begin(), s.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
}

TEST(CryptoHelpers, DigestsAndHmacsMatchPublishedVectors) {
    unsigned char out[20];
    Md5Digest(nullptr, 0, out);
    EXPECT_EQ(Hex(out, 16), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Func(out, U(std::string("abc")), 3), 0);
    EXPECT_EQ(Hex(out, 16), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Sha1Func(out, U(std::string("abc")), 3), 0);
    EXPECT_EQ(Hex(out, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");

    struct Case {
        std::string key, data, md5, sha1;
    } cases[] = {
        {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d", ""},
        {std::string(20, '\x0b'), "Hi There", "", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738",
         "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        // A key longer than the hash block is hashed first.
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd", "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
    };
    for (const Case& c : cases) {
        if (!c.md5.empty()) {
            HmacMd5(U(c.key), c.key.size(), U(c.data), c.data.size(), out);
            EXPECT_EQ(Hex(out, 16), c.md5);
            EXPECT_EQ(HmacMd5Func(out, U(c.data), c.data.size(), U(c.key), c.key.size()), 0);
            EXPECT_EQ(Hex(out, 16), c.md5);
        }
        if (!c.sha1.empty()) {
            HmacSha1(U(c.key), c.key.size(), U(c.data), c.data.size(), out);
            EXPECT_EQ(Hex(out, 20), c.sha1);
            EXPECT_EQ(HmacSha1Func(out, U(c.data), c.data.size(), U(c.key), c.key.size()), 0);
            EXPECT_EQ(Hex(out, 20), c.sha1);
            // Any split of the key gives the same MAC, an empty part included.
            for (size_t cut : {size_t{0}, c.key.size() / 2, c.key.size()}) {
                EXPECT_EQ(HmacSha1SplitKey(U(c.key), cut, U(c.key) + cut, c.key.size() - cut, U(c.data),
                                           c.data.size(), out),
                          0);
                EXPECT_EQ(Hex(out, 20), c.sha1) << "cut " << cut;
            }
        }
    }
}

TEST(CryptoHelpers, HkdfSha1MatchesRfc5869) {
    struct Case {
        std::string ikm, salt, info;
        bool noSalt;
        std::string okm;
    } cases[] = {
        {std::string(11, '\x0b'), Unhex("000102030405060708090a0b0c"), Unhex("f0f1f2f3f4f5f6f7f8f9"), false,
         "085a01ea1b10f36933068b56efa5ad81a4f14b822f5b091568a9cdd4f155fda2c22e422478d305f3f896"},
        {std::string(22, '\x0b'), "", "", false,
         "0ac1af7002b3d761d1e55298da9d0506b9ae52057220a306e07b6b87e8df21d0ea00033de03984d34918"},
        {std::string(22, '\x0c'), "", "", true,
         "2c91117204d745f3500d636a62f64f0ab3bae548aa53d423b0d1f27ebba6f5e5673a081d70cce7acfc48"},
    };
    for (const Case& c : cases) {
        unsigned char okm[42];
        HkdfSha1(U(c.ikm), c.ikm.size(), c.noSalt ? nullptr : U(c.salt), c.salt.size(), U(c.info),
                 c.info.size(), okm, sizeof(okm));
        EXPECT_EQ(Hex(okm, sizeof(okm)), c.okm);
    }
}

TEST(CryptoHelpers, AesOneBlockMatchesFips197) {
    const std::string key = Unhex("000102030405060708090a0b0c0d0e0f");
    const std::string in = Unhex("00112233445566778899aabbccddeeff");
    unsigned char out[16];
    Aes128CbcEncryptBlock(out, U(key), U(in));
    EXPECT_EQ(Hex(out, 16), "69c4e0d86a7b0430d8cdb78070b4c55a");
}

TEST(CryptoHelpers, ClockIsInjectable) {
    {
        ScopedCipherClock clock([]() -> int64_t { return 1234567890; });
        EXPECT_EQ(CipherClockNow(), 1234567890);
    }
    EXPECT_GT(CipherClockNow(), 1600000000);
}
