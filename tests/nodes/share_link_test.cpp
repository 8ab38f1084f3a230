#include "nodes/share_link.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

struct Expect {
    int type = NodeTypeSSR;
    std::string host{};
    uint16_t port = 0;
    std::string user{};
    std::string method{};
    std::string password{};
    std::string remarks{};
    std::string protocol = "origin";
    std::string obfs = "plain";
    std::string obfsParam{};
    std::string protocolParam{};
    std::string group{};
    uint16_t udpPort = 0;
    uint8_t udpOverTcp = 0;
};

struct LinkCase {
    const char* what;
    std::string link;
    std::optional<Expect> want;  // nullopt: the link is refused
};

const std::vector<LinkCase>& Cases() {
    static const std::vector<LinkCase> cases = {
        // ss, the whole body in Base64.
        {"ss Base64 body with remarks", "ss://YWVzLTI1Ni1jZmI6c2VjcmV0QDEuMi4zLjQ6ODM4OA==#My%20Node",
         Expect{.host = "1.2.3.4",
                .port = 8388,
                .method = "aes-256-cfb",
                .password = "secret",
                .remarks = "My Node"}},
        {"ss Base64 body, scheme in capitals", "SS://YWVzLTI1Ni1jZmI6c2VjcmV0QDEuMi4zLjQ6ODM4OA",
         Expect{.host = "1.2.3.4", .port = 8388, .method = "aes-256-cfb", .password = "secret"}},
        {"ss URL-safe Base64 body is decoded whole",
         "ss://Y2hhY2hhMjAtaWV0Zi1wb2x5MTMwNTprMH5-P0AxMC4xLjIuMzo0NDM",
         Expect{.host = "10.1.2.3", .port = 443, .method = "chacha20-ietf-poly1305", .password = "k0~~?"}},
        {"ss Base64 body holding //", "ss://YWVzLTI1Ni1jZmI6////QGguZXhhbXBsZTo4Mzg4",
         Expect{.host = "h.example", .port = 8388, .method = "aes-256-cfb", .password = "\xff\xff\xff"}},
        {"ss remarks holding // and @",
         "ss://YWVzLTEyOC1nY206cHdAaC5leGFtcGxlOjg0NDM=#see%20https://x.example/@me",
         Expect{.host = "h.example",
                .port = 8443,
                .method = "aes-128-gcm",
                .password = "pw",
                .remarks = "see https://x.example/@me"}},
        {"ss Base64 body of obfs:protocol:method:password",
         "ss://dGxzMS4yX3RpY2tldF9hdXRoOmF1dGhfY2hhaW5fYTpjaGFjaGEyMDpwdw==@h.example:443",
         Expect{.host = "h.example",
                .port = 443,
                .method = "chacha20",
                .password = "pw",
                .protocol = "auth_chain_a",
                .obfs = "tls1.2_ticket_auth"}},

        // ss with the host part in clear.
        {"ss Base64 userinfo", "ss://cmM0LW1kNTpodW50ZXIy@proxy.example:443",
         Expect{.host = "proxy.example", .port = 443, .method = "rc4-md5", .password = "hunter2"}},
        {"ss URL-safe userinfo, plug-in query and remarks",
         "ss://YWVzLTI1Ni1nY206cGE_PnNzfn4@192.0.2.7:8443/?plugin=obfs-local%3Bobfs%3Dhttp#Tokyo%20%231",
         Expect{.host = "192.0.2.7",
                .port = 8443,
                .method = "aes-256-gcm",
                .password = "pa?>ss~~",
                .remarks = "Tokyo #1"}},
        {"ss userinfo in clear, trailing slash", "ss://rc4-md5:hunter2@proxy.example:65535/",
         Expect{.host = "proxy.example", .port = 65535, .method = "rc4-md5", .password = "hunter2"}},
        {"ss password with colons after a known cipher", "ss://aes-128-gcm:pa:ss:word@h.example:1",
         Expect{.host = "h.example", .port = 1, .method = "aes-128-gcm", .password = "pa:ss:word"}},
        {"ss Base64 userinfo whose password has colons",
         "ss://Y2hhY2hhMjAtaWV0Zi1wb2x5MTMwNTphOmI6Yw==@h.example:9",
         Expect{.host = "h.example", .port = 9, .method = "chacha20-ietf-poly1305", .password = "a:b:c"}},
        {"ss four pieces, password with a colon", "ss://http_simple:auth_sha1_v4:rc4:p:w@h.example:80",
         Expect{.host = "h.example",
                .port = 80,
                .method = "rc4",
                .password = "p:w",
                .protocol = "auth_sha1_v4",
                .obfs = "http_simple"}},
        {"ss three pieces ignore the first", "ss://extra:chacha20:pw@h.example:80",
         Expect{.host = "h.example", .port = 80, .method = "chacha20", .password = "pw"}},
        {"ss host is trimmed", "ss://rc4-md5:pw@  h.example :80",
         Expect{.host = "h.example", .port = 80, .method = "rc4-md5", .password = "pw"}},
        {"ss unknown cipher", "ss://rot13:pw@h.example:80", std::nullopt},
        {"ss empty method", "ss://:pw@h.example:80", std::nullopt},
        {"ss Base64 userinfo of an unknown cipher", "ss://cm90MTM6cHc=@h.example:80", std::nullopt},
        {"ss host of spaces", "ss://rc4-md5:pw@   :80", std::nullopt},
        {"ss port 0", "ss://rc4-md5:pw@h.example:0", std::nullopt},
        {"ss port 65536", "ss://rc4-md5:pw@h.example:65536", std::nullopt},
        {"ss port without digits", "ss://rc4-md5:pw@h.example:http", std::nullopt},
        {"ss port with trailing letters", "ss://rc4-md5:pw@h.example:80x", std::nullopt},
        {"ss negative port", "ss://rc4-md5:pw@h.example:-1", std::nullopt},
        {"ss empty port", "ss://rc4-md5:pw@h.example:", std::nullopt},
        {"ss huge port", "ss://rc4-md5:pw@h.example:99999999999999999999", std::nullopt},
        {"ss IPv6 host", "ss://rc4-md5:pw@::1:443", std::nullopt},
        {"ss without @ anywhere", "ss://bm9hdA==", std::nullopt},
        {"ss userinfo that decodes to no pair", "ss://cmM0LW1kNQ@h.example:80", std::nullopt},
        {"ss empty body", "ss://", std::nullopt},
        {"ss only remarks", "ss://#name", std::nullopt},
        // A Base64 text is read whole or not at all: cut short, it still
        // looks valid but names another port or password.
        {"ss Base64 body with a trailing line break", "ss://YWVzLTI1Ni1jZmI6c2VjcmV0QDEuMi4zLjQ6ODM4OA==\r\n",
         Expect{.host = "1.2.3.4", .port = 8388, .method = "aes-256-cfb", .password = "secret"}},
        {"ss userinfo padding written %3D", "ss://cmM0LW1kNTpwdw%3D%3D@h.example:80",
         Expect{.host = "h.example", .port = 80, .method = "rc4-md5", .password = "pw"}},
        {"ss Base64 body with a stray character",
         "ss://YWVzLTI1Ni1jZmI6c2VjcmV0QDEuMi4zLjQ6ODM4%OA==", std::nullopt},
        {"ss Base64 body with a space inside", "ss://YWVzLTI1Ni1jZmI6c2VjcmV0QDEuMi4zLjQ6ODM4 OA",
         std::nullopt},
        {"ss Base64 body with one character left over", "ss://YWVzLTI1Ni1jZmI6c2VjcmV0QDEuMi4zLjQ6ODM4O",
         std::nullopt},
        {"ss Base64 userinfo with a stray character", "ss://cmM0LW1kNTpodW50%ZXIy@h.example:80",
         std::nullopt},

        // ssr, with every query key.
        {"ssr Base64 body with every key",
         "ssr://"
         "c3NyLmV4YW1wbGUuY29tOjg0NDM6YXV0aF9hZXMxMjhfbWQ1OmFlcy0xMjgtY3RyOnRsczEuMl90aWNrZXRfYXV0aDpjM055TFh"
         "CaGMzTS8_"
         "b2Jmc3BhcmFtPVkyUnVMbVY0WVcxd2JHVXVZMjl0JnByb3RvcGFyYW09TkRJNmMyVmpjbVYwJnJlbWFya3M9NUxpYzVMcXNJREU"
         "mZ3JvdXA9NVlpRz"
         "U3dUVJRUUmdWRwcG9ydD01MyZ1b3Q9MQ",
         Expect{.host = "ssr.example.com",
                .port = 8443,
                .method = "aes-128-ctr",
                .password = "ssr-pass",
                .remarks = "\u4e1c\u4eac 1",
                .protocol = "auth_aes128_md5",
                .obfs = "tls1.2_ticket_auth",
                .obfsParam = "cdn.example.com",
                .protocolParam = "42:secret",
                .group = "\u5206\u7ec4 A",
                .udpPort = 53,
                .udpOverTcp = 1}},
        {"ssr body in clear, _compatible names, keys in any case",
         "Ssr://1.2.3.4:443:auth_sha1_v4_compatible:chacha20:http_simple_compatible:eA/"
         "?OBFSPARAM=&obfsparam=Y2RuLmV4YW1wbGUuY29t&Remarks=YQ&udpport=70000&uot=2",
         Expect{.host = "1.2.3.4",
                .port = 443,
                .method = "chacha20",
                .password = "x",
                .remarks = "a",
                .protocol = "auth_sha1_v4",
                .obfs = "http_simple",
                .obfsParam = "cdn.example.com",
                .udpOverTcp = 2}},
        {"ssr query ignored after a second /?", "ssr://h.example:443:origin:rc4-md5:plain:eA/?remarks=YQ/?x",
         Expect{.host = "h.example", .port = 443, .method = "rc4-md5", .password = "x"}},
        {"ssr host is trimmed", "ssr:// h.example :443:origin:rc4-md5:plain:eA",
         Expect{.host = "h.example", .port = 443, .method = "rc4-md5", .password = "x"}},
        {"ssr port 0", "ssr://h.example:0:origin:rc4-md5:plain:eA", std::nullopt},
        {"ssr port 65536", "ssr://h.example:65536:origin:rc4-md5:plain:eA", std::nullopt},
        {"ssr port without digits", "ssr://h.example:x:origin:rc4-md5:plain:eA", std::nullopt},
        {"ssr host of spaces", "ssr://   :443:origin:rc4-md5:plain:eA", std::nullopt},
        {"ssr five fields", "ssr://h.example:443:origin:rc4-md5:eA", std::nullopt},
        {"ssr seven fields", "ssr://h.example:443:origin:rc4-md5:plain:eA:x", std::nullopt},
        {"ssr unknown cipher", "ssr://h.example:443:origin:rot13:plain:eA", std::nullopt},
        {"ssr body decoding to nothing", "ssr://!!!!", std::nullopt},
        {"ssr Base64 body with a stray character",
         "ssr://aC5leGFtcGxlOjQ0MzpvcmlnaW46cmM0LW1kNTpwbGFpbjpjR0Z6YzNk.dmNtUQ", std::nullopt},
        {"ssr password with a stray character", "ssr://h.example:443:origin:rc4-md5:plain:cGFz!cw",
         std::nullopt},
        {"ssr empty body", "ssr://", std::nullopt},

        // The program's own scheme.
        {"xvantor in clear", "xvantor://alice:aes-128-cfb:secret@5:proxy.example:1080",
         Expect{.type = NodeTypeSocks5,
                .host = "proxy.example",
                .port = 1080,
                .user = "alice",
                .method = "aes-128-cfb",
                .password = "secret",
                .protocol = "",
                .obfs = ""}},
        {"xvantor in Base64", "XVANTOR://Ym9iOm5vbmU6cHdAMzoxMC4wLjAuMTo4MDgw",
         Expect{.type = NodeTypeHttp,
                .host = "10.0.0.1",
                .port = 8080,
                .user = "bob",
                .method = "none",
                .password = "pw",
                .protocol = "",
                .obfs = ""}},
        {"xvantor Shadowsocks node", "xvantor://:chacha20:pw@6:h.example:8388",
         Expect{.host = "h.example",
                .port = 8388,
                .method = "chacha20",
                .password = "pw",
                .protocol = "",
                .obfs = ""}},
        {"xvantor SOCKS 4 node with any method", "xvantor://u:whatever:pw@4:h.example:1080",
         Expect{.type = NodeTypeSocks4,
                .host = "h.example",
                .port = 1080,
                .user = "u",
                .method = "whatever",
                .password = "pw",
                .protocol = "",
                .obfs = ""}},
        {"xvantor type 13", "xvantor://u:none:pw@13:h.example:22", std::nullopt},
        {"xvantor type 2", "xvantor://u:none:pw@2:h.example:22", std::nullopt},
        {"xvantor type without digits", "xvantor://u:none:pw@x:h.example:22", std::nullopt},
        {"xvantor Shadowsocks node with unknown cipher", "xvantor://u:rot13:pw@6:h.example:8388",
         std::nullopt},
        {"xvantor four pieces before @", "xvantor://a:b:c:d@5:h.example:1080", std::nullopt},
        {"xvantor four pieces after @", "xvantor://a:none:c@5:h.example:1080:1", std::nullopt},
        {"xvantor host of spaces", "xvantor://u:none:pw@5:  :1080", std::nullopt},
        {"xvantor port 0", "xvantor://u:none:pw@5:h.example:0", std::nullopt},
        {"xvantor port 65536", "xvantor://u:none:pw@5:h.example:65536", std::nullopt},
        {"xvantor empty body", "xvantor://", std::nullopt},
        {"xvantor Base64 body with a stray character", "xvantor://Ym9iOm5vbmU6cHdAMzoxMC4wLjAuMTo4%2BMDgw",
         std::nullopt},

        // Schemes.
        {"empty link", "", std::nullopt},
        {"no slashes", "ss:rc4-md5:pw@h.example:80", std::nullopt},
        {"one slash", "ss:/rc4-md5:pw@h.example:80", std::nullopt},
        {"space before the scheme", " ss://rc4-md5:pw@h.example:80", std::nullopt},
        {"unknown scheme", "vmess://rc4-md5:pw@h.example:80", std::nullopt},
        {"scheme without colon", "ss//rc4-md5:pw@h.example:80", std::nullopt},
    };
    return cases;
}

TEST(ShareLink, TableOfLinks) {
    for (const auto& c : Cases()) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<CNodeInfo> node = ParseShareLink(c.link);
        if (!c.want) {
            EXPECT_EQ(node, nullptr);
            continue;
        }
        if (!node) {
            ADD_FAILURE() << "refused";
            continue;
        }
        const Expect& w = *c.want;
        EXPECT_EQ(node->type, w.type);
        EXPECT_EQ(node->host, w.host);
        EXPECT_EQ(node->port, w.port);
        EXPECT_EQ(node->user, w.user);
        EXPECT_EQ(node->method, w.method);
        EXPECT_EQ(node->password, w.password);
        EXPECT_EQ(node->remarks, w.remarks);
        EXPECT_EQ(node->protocol, w.protocol);
        EXPECT_EQ(node->obfs, w.obfs);
        EXPECT_EQ(node->obfsParam, w.obfsParam);
        EXPECT_EQ(node->protocolParam, w.protocolParam);
        EXPECT_EQ(node->group, w.group);
        EXPECT_EQ(node->udpPort, w.udpPort);
        EXPECT_EQ(node->udpOverTcp, w.udpOverTcp);
        // What every link gives.
        EXPECT_EQ(node->origin, NodeOriginUser);
        EXPECT_EQ(node->serviceState, 1);
        EXPECT_EQ(node->countryIndex, -1);
        EXPECT_EQ(node->spareFlag, 1);
        EXPECT_TRUE(node->additionalRoute.empty());
        EXPECT_TRUE(node->resolvedAddress.empty());
    }
}

TEST(ShareLink, SsrBodyReaderReportsFields) {
    SsrLinkFields f;
    ASSERT_EQ(ParseSsrLinkBody("h.example:8388:auth_chain_b:aes-256-cfb:plain:cHc/?protoparam=&udpport=", f),
              1);
    EXPECT_EQ(f.host, "h.example");
    EXPECT_EQ(f.port, 8388);
    EXPECT_EQ(f.protocol, "auth_chain_b");
    EXPECT_EQ(f.password, "pw");
    EXPECT_EQ(f.protocolParam, "");
    EXPECT_EQ(f.udpPort, 0);

    SsrLinkFields g;
    EXPECT_EQ(ParseSsrLinkBody("", g), 0);
    EXPECT_EQ(ParseSsrLinkBody("/?", g), 0);
}

}  // namespace
