#include "platform/resolv_conf.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

const std::string kOriginal =
    "# managed by hand\n"
    "search example.net\n"
    "nameserver 192.0.2.53\n"
    "options edns0 trust-ad\n"
    "nameserver 192.0.2.54\n";

class ResolvConfTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_target_ = ResolvConf_GetTarget();
        saved_backup_ = ResolvConf_GetBackupFile();
        ResolvConf_SetTarget(target());
        ResolvConf_SetBackupFile(backup());
    }
    void TearDown() override {
        ResolvConf_SetTarget(saved_target_);
        ResolvConf_SetBackupFile(saved_backup_);
    }
    fs::path target() const { return dir_ / "resolv.conf"; }
    fs::path backup() const { return dir_ / "resolv.conf.saved"; }

    TempDir dir_;
    fs::path saved_target_, saved_backup_;
};

TEST(ResolvConfText, ReplaceAndParse) {
    struct Case {
        std::string in;
        std::vector<std::string> servers;
        std::vector<std::string> parsed;  // of the result
        std::string keep;                 // a line that must stay
    } cases[] = {
        {"", {"10.0.0.1"}, {"10.0.0.1"}, ""},
        {kOriginal, {"10.0.0.1", "10.0.0.2"}, {"10.0.0.1", "10.0.0.2"}, "options edns0 trust-ad\n"},
        {"search a b\n  nameserver\t1.1.1.1  # old\nnameserverx 9.9.9.9\n",
         {"8.8.8.8"},
         {"8.8.8.8"},
         "nameserverx 9.9.9.9\n"},
        {"domain x\nno final newline", {"8.8.8.8"}, {"8.8.8.8"}, "no final newline\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        std::string out = ResolvConf_ReplaceServers(c.in, c.servers);
        EXPECT_EQ(ResolvConf_ParseServers(out), c.parsed);
        EXPECT_NE(out.find(c.keep), std::string::npos);
        // Our lines are replaced again, never piled up.
        std::string again = ResolvConf_ReplaceServers(out, {"9.9.9.9"});
        EXPECT_EQ(ResolvConf_ParseServers(again), std::vector<std::string>{"9.9.9.9"});
        EXPECT_EQ(ResolvConf_ReplaceServers(again, c.servers), out);
    }
    // The new lines stand where the first old nameserver stood.
    std::string out = ResolvConf_ReplaceServers(kOriginal, {"10.0.0.1"});
    EXPECT_LT(out.find("search example.net"), out.find("nameserver 10.0.0.1"));
    EXPECT_LT(out.find("nameserver 10.0.0.1"), out.find("options edns0"));
    EXPECT_EQ(ResolvConf_ParseServers(kOriginal), (std::vector<std::string>{"192.0.2.53", "192.0.2.54"}));
}

TEST_F(ResolvConfTest, BadAddressesChangeNothing) {
    WriteFile(target(), kOriginal);
    const std::vector<std::vector<std::string>> bad = {
        {},
        {""},
        {"1.2.3"},
        {"01.2.3.4"},
        {"1.2.3.4 "},
        {"1.2.3.4\nnameserver 6.6.6.6"},
        {"::1"},
        {"8.8.8.8", "example.com"},
        {"1.1.1.1", "1.1.1.2", "1.1.1.3", "1.1.1.4"},
    };
    for (const auto& servers : bad) {
        EXPECT_EQ(ResolvConf_SetServers(servers), ResolvConfResult::kBadAddress);
        EXPECT_EQ(ReadFile(target()), kOriginal);
        EXPECT_FALSE(ResolvConf_HasBackup());
    }
    ResolvConf_SetBackupFile("");
    EXPECT_EQ(ResolvConf_SetServers({"8.8.8.8"}), ResolvConfResult::kRefused);
    EXPECT_EQ(ReadFile(target()), kOriginal);
}

TEST_F(ResolvConfTest, ChangeAndRestoreTable) {
    enum Kind { kPresent, kAbsent, kSymlink, kDanglingSymlink };
    for (Kind kind : {kPresent, kAbsent, kSymlink, kDanglingSymlink}) {
        SCOPED_TRACE(kind);
        fs::remove_all(target());
        fs::path real = dir_ / "real.conf";
        fs::remove(real);
        if (kind == kPresent) WriteFile(target(), kOriginal);
        if (kind == kSymlink) WriteFile(real, kOriginal);
        if (kind == kSymlink || kind == kDanglingSymlink) fs::create_symlink(real, target());

        ASSERT_EQ(ResolvConf_SetServers({"10.0.0.1", "10.0.0.2"}), ResolvConfResult::kOk);
        EXPECT_EQ(ResolvConf_CurrentServers(), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
        EXPECT_TRUE(ResolvConf_HasBackup());
        bool hadOriginal = kind == kPresent || kind == kSymlink;
        EXPECT_EQ(ResolvConf_OriginalServers(), hadOriginal
                                                    ? (std::vector<std::string>{"192.0.2.53", "192.0.2.54"})
                                                    : std::vector<std::string>{});
        if (kind == kSymlink || kind == kDanglingSymlink) {
            EXPECT_TRUE(fs::is_symlink(target()));  // written through the link, never replaced
            EXPECT_EQ(ResolvConf_ParseServers(ReadFile(real)).size(), 2u);
        }

        EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kOk);
        EXPECT_FALSE(ResolvConf_HasBackup());
        EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kNothingToDo);
        switch (kind) {
            case kPresent:
                EXPECT_EQ(ReadFile(target()), kOriginal);
                break;
            case kAbsent:
                EXPECT_FALSE(fs::exists(fs::symlink_status(target())));
                break;
            case kSymlink:
                EXPECT_TRUE(fs::is_symlink(target()));
                EXPECT_EQ(ReadFile(real), kOriginal);
                break;
            case kDanglingSymlink:
                EXPECT_TRUE(fs::is_symlink(target()));
                EXPECT_FALSE(fs::exists(real));
                break;
        }
    }
}

TEST_F(ResolvConfTest, SecondChangeKeepsTheFirstOriginal) {
    WriteFile(target(), kOriginal);
    ASSERT_EQ(ResolvConf_SetServers({"10.0.0.1"}), ResolvConfResult::kOk);
    ASSERT_EQ(ResolvConf_SetServers({"10.0.0.2", "10.0.0.3"}), ResolvConfResult::kOk);
    EXPECT_EQ(ResolvConf_CurrentServers(), (std::vector<std::string>{"10.0.0.2", "10.0.0.3"}));
    EXPECT_EQ(ResolvConf_OriginalServers(), (std::vector<std::string>{"192.0.2.53", "192.0.2.54"}));
    EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kOk);
    EXPECT_EQ(ReadFile(target()), kOriginal);
}

TEST_F(ResolvConfTest, RewrittenBySomeoneElse) {
    WriteFile(target(), kOriginal);
    ASSERT_EQ(ResolvConf_SetServers({"10.0.0.1"}), ResolvConfResult::kOk);
    const std::string theirs = "nameserver 203.0.113.7\n";
    WriteFile(target(), theirs);
    // A change now takes their file as the one to come back.
    ASSERT_EQ(ResolvConf_SetServers({"10.0.0.9"}), ResolvConfResult::kOk);
    EXPECT_EQ(ResolvConf_OriginalServers(), std::vector<std::string>{"203.0.113.7"});
    EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kOk);
    EXPECT_EQ(ReadFile(target()), theirs);

    // Rewritten after our last change: restore leaves it and forgets the backup.
    ASSERT_EQ(ResolvConf_SetServers({"10.0.0.1"}), ResolvConfResult::kOk);
    WriteFile(target(), kOriginal + "nameserver 203.0.113.8\n");
    EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kLeftAlone);
    EXPECT_EQ(ReadFile(target()), kOriginal + "nameserver 203.0.113.8\n");
    EXPECT_FALSE(ResolvConf_HasBackup());

    // Deleted by someone else: it stays deleted.
    ASSERT_EQ(ResolvConf_SetServers({"10.0.0.1"}), ResolvConfResult::kOk);
    fs::remove(target());
    EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kLeftAlone);
    EXPECT_FALSE(fs::exists(target()));
}

// A process that changed the servers and died without restoring: the next
// start finds the backup and puts the original back.
TEST_F(ResolvConfTest, RestoredAtTheNextStartAfterACrash) {
    WriteFile(target(), kOriginal);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        bool ok = ResolvConf_SetServers({"10.0.0.1"}) == ResolvConfResult::kOk;
        _exit(ok ? 0 : 1);  // no restore, no destructors
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(ResolvConf_CurrentServers(), std::vector<std::string>{"10.0.0.1"});

    // The next start may point the target elsewhere; the backup knows the file.
    ResolvConf_SetTarget(dir_ / "elsewhere.conf");
    EXPECT_TRUE(ResolvConf_HasBackup());
    EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kOk);
    EXPECT_EQ(ReadFile(target()), kOriginal);
    EXPECT_FALSE(fs::exists(dir_ / "elsewhere.conf"));
}

TEST_F(ResolvConfTest, NewTargetRestoresTheOldOneFirst) {
    WriteFile(target(), kOriginal);
    ASSERT_EQ(ResolvConf_SetServers({"10.0.0.1"}), ResolvConfResult::kOk);
    fs::path other = dir_ / "other.conf";
    WriteFile(other, "nameserver 198.51.100.1\n");
    ResolvConf_SetTarget(other);
    ASSERT_EQ(ResolvConf_SetServers({"10.0.0.2"}), ResolvConfResult::kOk);
    EXPECT_EQ(ReadFile(target()), kOriginal);
    EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kOk);
    EXPECT_EQ(ReadFile(other), "nameserver 198.51.100.1\n");
}

TEST_F(ResolvConfTest, FailuresLeaveEverythingAsItWas) {
    // A target that cannot be created: no change, no backup left behind.
    ResolvConf_SetTarget(dir_ / "missing-folder/resolv.conf");
    EXPECT_EQ(ResolvConf_SetServers({"10.0.0.1"}), ResolvConfResult::kIoError);
    EXPECT_FALSE(ResolvConf_HasBackup());

    // A target that cannot be read.
    fs::create_directory(dir_ / "a-folder");
    ResolvConf_SetTarget(dir_ / "a-folder");
    EXPECT_EQ(ResolvConf_SetServers({"10.0.0.1"}), ResolvConfResult::kIoError);
    EXPECT_FALSE(ResolvConf_HasBackup());

    // A backup that cannot be written.
    ResolvConf_SetTarget(target());
    WriteFile(target(), kOriginal);
    ResolvConf_SetBackupFile(dir_ / "no-such-folder/backup");
    EXPECT_EQ(ResolvConf_SetServers({"10.0.0.1"}), ResolvConfResult::kIoError);
    EXPECT_EQ(ReadFile(target()), kOriginal);

    // A damaged backup is set aside and reported, the target untouched.
    ResolvConf_SetBackupFile(backup());
    WriteFile(backup(), "resolv-backup 1\ntarget=" + target().string() + "\noriginal=5\nwritten=1\n\nabc");
    EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kIoError);
    EXPECT_FALSE(ResolvConf_HasBackup());
    EXPECT_EQ(ReadFile(target()), kOriginal);
}

}  // namespace
