// The node tests' report lines that need no network: the header for each
// node kind, with and without location texts, and a test without a
// callback, which reports nothing and still stores its result.
#include "proxy/node_testing.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "foundation/text_convert.h"

namespace {

using Lines = std::vector<std::pair<int, std::string>>;

void Collect(void* user, const wchar_t* text, int level) {
    static_cast<Lines*>(user)->emplace_back(level, WideToUtf8String(text));
}

TEST(NodeTestingHeader, LinesForEachKind) {
    struct Case {
        int type;
        const char* location;
        Lines expected;
    } cases[] = {
        {NodeTypeSSR, "",
         {{1, "Server IP: ***"}, {1, "Server Port: 0"}, {1, "Password: ***"}, {1, "Encryption: *** / *** / ***"}}},
        {NodeTypeHttp, "Berlin",
         {{1, "Server IP: *** Berlin Europe"},
          {1, "Server Port: 0"},
          {1, "Type: HTTP"},
          {1, "Username: ***"},
          {1, "Password: ***"}}},
        {NodeTypeSocks4, "",
         {{1, "Server IP: ***"}, {1, "Server Port: 0"}, {1, "Type: SOCKS 4/4a"}, {1, "Username: ***"},
          {1, "Password: ***"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        CNodeInfo node;
        node.type = c.type;
        node.host = "192.0.2.1";
        node.port = 443;
        node.locationText = c.location;
        node.regionText = "Europe";
        Lines lines;
        CTestingBase base(&Collect, &lines, 0);
        base.WriteHeader(&node);
        EXPECT_EQ(lines, c.expected);
    }
}

// Invalid nodes are refused before any network activity; without a
// callback nothing is reported.
TEST(NodeTestingHeader, InvalidNodesAndSilentTests) {
    CNodeInfo ss;
    ss.type = NodeTypeSSR;
    ss.host = "192.0.2.1";
    ss.port = 8388;
    ss.method = "aes-256-gcm";  // no password
    Lines lines;
    CSSRClientTesting test(&Collect, &lines, 1);
    EXPECT_FALSE(test.RunTest(&ss, 0));
    EXPECT_EQ(lines, (Lines{{1, "Testing started."}, {3, "Shadowsocks server node invalid."}}));
    EXPECT_EQ(ss.connectAttempts.load(), 0);

    CSSRClientTesting silent(nullptr, nullptr, 0);
    EXPECT_FALSE(silent.RunTest(nullptr, 0));
    CS45ClientTesting silentS45(nullptr, nullptr, 0);
    EXPECT_FALSE(silentS45.RunTest(nullptr, 1));
}

}  // namespace
