#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <gtest/gtest.h>

#include <random>

#include "foundation/base64.h"
#include "foundation/hex_digest.h"
#include "foundation/key_values.h"
#include "foundation/url_encode.h"

TEST(Base64, KnownTexts) {
    EXPECT_EQ(Base64Encode("abc", 3), "YWJj");
    EXPECT_EQ(Base64Encode("ab", 2), "YWI=");
    EXPECT_EQ(Base64Encode("a", 1), "YQ==");
    EXPECT_EQ(Base64Encode("", 0), "");
    EXPECT_EQ(Base64Encode(nullptr, 5), "");
    EXPECT_EQ(Base64Encode("\xFB\xFF\xBF", 3), "+/+/");

    struct Case {
        std::string text, bytes;
    };
    const Case cases[] = {
        {"YWJj", "abc"},   {"YWI=", "ab"},        {"YWI", "ab"},
        {"YW Jj", "a"},    {"=YWJj", ""},         {"Y", ""},
        {"YWJjY", "abc"},  {"YWJj\nYWJj", "abc"}, {"+/+/", "\xFB\xFF\xBF"},
        {"YQ==YWJj", "a"}, {"YW\xC3\xA9", "a"},
    };
    for (const auto& c : cases) EXPECT_EQ(Base64Decode(c.text), c.bytes) << c.text;
}

TEST(Base64, AgreesWithCryptoppAndRoundTrips) {
    std::mt19937 rng(7);
    for (size_t len = 0; len < 100; ++len) {
        std::string bytes(len, '\0');
        for (auto& b : bytes) b = static_cast<char>(rng());
        std::string reference;
        CryptoPP::StringSource(bytes, true,
                               new CryptoPP::Base64Encoder(new CryptoPP::StringSink(reference), false));
        std::string encoded = Base64Encode(bytes.data(), bytes.size());
        ASSERT_EQ(encoded, reference) << len;
        ASSERT_EQ(Base64Decode(encoded), bytes) << len;
    }
}

TEST(Base64, UrlSafeForm) {
    const std::string bytes = "\xFB\xFF\xBF\x01";  // encodes to +/+/AQ==
    EXPECT_EQ(Base64UrlDecode("-_-_AQ"), bytes);
    EXPECT_EQ(Base64UrlDecode("-_-_AQ=="), bytes);
    EXPECT_EQ(Base64UrlDecode("YWI"), "ab");
    EXPECT_EQ(Base64UrlDecode(""), "");
}

TEST(HexDigest, Md5TestVectors) {
    struct Case {
        std::string text, hex;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Md5Hex(c.text.data(), c.text.size()), c.hex) << c.text;
        EXPECT_EQ(Md5Hex(c.text.c_str(), 0), c.hex) << "length 0 reads up to the terminator";
    }
    EXPECT_EQ(Md5Hex(nullptr, 0), "d41d8cd98f00b204e9800998ecf8427e");
    // Bytes after a zero count when the length is given.
    EXPECT_EQ(Md5Hex("a\0b", 3), Md5Hex(std::string("a\0b", 3).c_str(), 3));
    EXPECT_NE(Md5Hex("a\0b", 3), Md5Hex("a", 1));
}

TEST(HexDigest, BytesToHex16) {
    unsigned char bytes[16];
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<unsigned char>(i * 17);
    EXPECT_EQ(BytesToHex16(bytes), "00112233445566778899aabbccddeeff");
}

TEST(UrlEncoding, Encode) {
    EXPECT_EQ(UrlEncode("a b&c"), "a%20b%26c");
    EXPECT_EQ(UrlEncode("-_.~AZaz09"), "%2D%5F%2E%7EAZaz09");
    EXPECT_EQ(UrlEncode(std::string("\0\xFF", 2)), "%00%FF");
}

TEST(UrlEncoding, Decode) {
    struct Case {
        std::string text, out;
    };
    const Case cases[] = {
        {"a+b%26c", "a b&c"},
        {"%4g", "\x04"},  // valid leading digit only
        {"%zz!", std::string("\0!", 2)},
        {"%e9%E9", "\xE9\xE9"},
        {"100%", "100%"},  // too short to be an escape: kept
        {"%4", "%4"},
        {"%", "%"},
        {"%%41", std::string("\0"
                             "1",
                             2)},  // a '%' takes the two characters after it
    };
    for (const auto& c : cases) EXPECT_EQ(UrlDecode(c.text), c.out) << c.text;
    // The decoder stops at the end of the view, not at a terminator beyond it.
    const char buffer[] = "ab%4A";
    EXPECT_EQ(UrlDecode(std::string_view(buffer, 4)), "ab%4");
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    EXPECT_EQ(UrlDecode(UrlEncode(bytes)), bytes);
}

TEST(KeyValues, Parse) {
    std::vector<CKeyValuesA> out;
    EXPECT_EQ(ParseKeyValues("a=1&b=2&c", "=", "&", out), 2u);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].key, "a");
    EXPECT_EQ(out[0].value, "1");
    EXPECT_EQ(out[1].key, "b");
    EXPECT_EQ(out[1].value, "2");

    // Appends; the value keeps later separators; empty keys and values stay.
    EXPECT_EQ(ParseKeyValues("k=v=w&&=x&y=", "=", "&", out), 5u);
    EXPECT_EQ(out[2].key, "k");
    EXPECT_EQ(out[2].value, "v=w");
    EXPECT_EQ(out[3].key, "");
    EXPECT_EQ(out[3].value, "x");
    EXPECT_EQ(out[4].key, "y");
    EXPECT_EQ(out[4].value, "");

    EXPECT_EQ(ParseKeyValues("", "=", "&", out), 0u);
    EXPECT_EQ(ParseKeyValues("a=1", "=", "", out), 0u);
    EXPECT_EQ(ParseKeyValues("a=1", "", "&", out), 0u);
    EXPECT_EQ(out.size(), 5u);

    std::vector<CKeyValuesA> multi;
    EXPECT_EQ(ParseKeyValues("a::1;;b::2", "::", ";;", multi), 2u);
    EXPECT_EQ(multi[1].value, "2");
}
