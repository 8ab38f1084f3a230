// The resolv.conf helper's verbs on a file of the test's own: every refused
// input leaves the file byte for byte, and only nameserver lines change.
#include "platform/resolv_helper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/resolv_conf.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const std::string kOriginal =
    "# by hand\n"
    "search example.net\n"
    "nameserver 192.0.2.53\n"
    "options edns0\n"
    "nameserver fe80::1%eth0\n";

struct Refusal {
    const char* name;
    std::vector<std::string> args;
    int status;
};

class ResolvHelperTest : public ::testing::Test {
protected:
    void SetUp() override { WriteFile(target(), kOriginal); }
    std::filesystem::path target() const { return dir_ / "resolv.conf"; }
    int Run(const std::vector<std::string>& args) {
        out_.clear();
        err_.clear();
        return ResolvHelper_Run(args, target(), &out_, &err_);
    }
    TempDir dir_{"cendrow-resolv-helper"};
    std::string out_, err_;
};

TEST_F(ResolvHelperTest, RefusedInputChangesNothing) {
    const Refusal cases[] = {
        {"no verb", {}, 2},
        {"unknown verb", {"flush"}, 2},
        {"verb in capitals", {"SET", "10.0.0.1"}, 2},
        {"set without servers", {"set"}, 2},
        {"four servers", {"set", "10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}, 2},
        {"line break in an address", {"set", "10.0.0.1\nnameserver 6.6.6.6"}, 2},
        {"\"nameserver\" in an address", {"set", "nameserver 10.0.0.1"}, 2},
        {"trailing space", {"set", "10.0.0.1 "}, 2},
        {"leading zero", {"set", "10.0.0.01"}, 2},
        {"a name", {"set", "dns.example"}, 2},
        {"IPv6 to set", {"set", "2001:db8::1"}, 2},
        {"restore without --old", {"restore", "--ours", "10.0.0.1"}, 2},
        {"restore without --ours", {"restore", "--old", "192.0.2.53"}, 2},
        {"restore with nothing ours", {"restore", "--old", "192.0.2.53", "--ours"}, 2},
        {"old address with a line break", {"restore", "--old", "192.0.2.53\n", "--ours", "10.0.0.1"}, 2},
        {"old scope with a slash", {"restore", "--old", "fe80::1%../x", "--ours", "10.0.0.1"}, 2},
        {"old scope empty", {"restore", "--old", "fe80::1%", "--ours", "10.0.0.1"}, 2},
        {"ours not the file's", {"restore", "--old", "192.0.2.53", "--ours", "10.0.0.1"}, 3},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Run(c.args), c.status);
        EXPECT_EQ(ReadFile(target()), kOriginal);
        EXPECT_EQ(out_, "");
        // One line, saying why.
        ASSERT_FALSE(err_.empty());
        EXPECT_EQ(err_.find('\n'), err_.size() - 1) << err_;
    }
}

TEST_F(ResolvHelperTest, SetThenRestorePutsTheOldServersBack) {
    ASSERT_EQ(Run({"set", "10.0.0.1", "10.0.0.2"}), 0) << err_;
    EXPECT_EQ(out_, "192.0.2.53\nfe80::1%eth0\n");
    std::string set = ReadFile(target());
    EXPECT_EQ(set, ResolvConf_ReplaceServers(kOriginal, {"10.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(ResolvConf_ParseServers(set), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
    EXPECT_NE(set.find("search example.net\n"), std::string::npos);
    EXPECT_NE(set.find("options edns0\n"), std::string::npos);

    // Ours must match exactly, order included.
    EXPECT_EQ(Run({"restore", "--old", "192.0.2.53", "--ours", "10.0.0.2", "10.0.0.1"}), 3);
    EXPECT_EQ(ReadFile(target()), set);
    ASSERT_EQ(Run({"restore", "--old", "192.0.2.53", "fe80::1%eth0", "--ours", "10.0.0.1", "10.0.0.2"}), 0)
        << err_;
    // The old servers stand together where ours stood; the marker is gone.
    EXPECT_EQ(ReadFile(target()),
              "# by hand\nsearch example.net\nnameserver 192.0.2.53\nnameserver fe80::1%eth0\noptions edns0\n");
}

TEST_F(ResolvHelperTest, RestoreWithoutOldServersLeavesNone) {
    WriteFile(target(), "search example.net\n");
    ASSERT_EQ(Run({"set", "10.0.0.1"}), 0) << err_;
    EXPECT_EQ(out_, "");
    ASSERT_EQ(Run({"restore", "--old", "--ours", "10.0.0.1"}), 0) << err_;
    EXPECT_EQ(ReadFile(target()), "search example.net\n");
}

}  // namespace
