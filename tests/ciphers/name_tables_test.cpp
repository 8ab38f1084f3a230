// The cipher, protocol and obfuscation vocabularies and their lookups.
#include "ciphers/name_tables.h"

#include <gtest/gtest.h>

TEST(NameTables, LookupsIgnoreAsciiCaseOnlyAndNeverMatchTheEndMark) {
    struct Case {
        std::string name;
        int cipher, protocol, obfs;
    } cases[] = {
        {"aes-256-cfb", 2, -1, -1},
        {"AES-256-CFB", 2, -1, -1},
        {"rc4", 19, -1, -1},
        {"rc4-md5", 18, -1, -1},
        {" rc4", -1, -1, -1},  // no trimming
        {"rc4 ", -1, -1, -1},
        {"", -1, -1, -1},
        {"none", 20, -1, -1},
        {"auth_chain_b", -1, 5, -1},
        {"Auth_AES128_SHA1", -1, 3, -1},
        {"tls1.2_ticket_fastauth", -1, -1, 5},
        {"tls1.2_ticket", -1, -1, -1},  // a prefix is not the name
        {"PLAIN", -1, -1, 0},
        {std::string("rc4\0x", 5), -1, -1, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetCipherIndex(c.name), c.cipher) << c.name;
        EXPECT_EQ(GetProtocolIndex(c.name), c.protocol) << c.name;
        EXPECT_EQ(GetObfsIndex(c.name), c.obfs) << c.name;
        EXPECT_EQ(IsCipherName(c.name), c.cipher >= 0 ? 1 : 0) << c.name;
        EXPECT_EQ(IsProtocolName(c.name), c.protocol >= 0 ? 1 : 0) << c.name;
        EXPECT_EQ(IsObfsName(c.name), c.obfs >= 0 ? 1 : 0) << c.name;
    }
}

TEST(NameTables, ListsAppendEveryRowInTableOrder) {
    std::vector<std::string> ciphers{"kept"};
    GetCipherNames(ciphers);
    const std::vector<std::string> expected = {"kept",
                                               "aes-128-cfb",
                                               "aes-192-cfb",
                                               "aes-256-cfb",
                                               "aes-128-ctr",
                                               "aes-192-ctr",
                                               "aes-256-ctr",
                                               "salsa20",
                                               "chacha20",
                                               "chacha20-ietf",
                                               "camellia-128-cfb",
                                               "camellia-192-cfb",
                                               "camellia-256-cfb",
                                               "aes-256-gcm",
                                               "aes-192-gcm",
                                               "aes-128-gcm",
                                               "chacha20-ietf-poly1305",
                                               "xchacha20-ietf-poly1305",
                                               "rc4-md5-6",
                                               "rc4-md5",
                                               "rc4",
                                               "none"};
    EXPECT_EQ(ciphers, expected);
    for (size_t i = 1; i < ciphers.size(); ++i) EXPECT_EQ(GetCipherIndex(ciphers[i]), int(i - 1));

    std::vector<SSRNameEntry> obfs{{"a", 0}, {"b", 1}};
    GetObfsNames(obfs);
    ASSERT_EQ(obfs.size(), 8u);
    const char* obfsNames[] = {"plain",       "http_simple",        "http_post",
                               "random_head", "tls1.2_ticket_auth", "tls1.2_ticket_fastauth"};
    const int obfsFlags[] = {0, 1, 1, 0, 1, 1};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(obfs[2 + i].name, obfsNames[i]);
        EXPECT_EQ(obfs[2 + i].hasParam, obfsFlags[i]);
    }

    std::vector<SSRNameEntry> protocols;
    GetProtocolNames(protocols);
    ASSERT_EQ(protocols.size(), 6u);
    const char* protocolNames[] = {"origin",           "auth_sha1_v4", "auth_aes128_md5",
                                   "auth_aes128_sha1", "auth_chain_a", "auth_chain_b"};
    const int protocolFlags[] = {0, 0, 1, 1, 1, 1};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(protocols[i].name, protocolNames[i]);
        EXPECT_EQ(protocols[i].hasParam, protocolFlags[i]);
        EXPECT_EQ(GetProtocolIndex(protocolNames[i]), i);
    }
}
