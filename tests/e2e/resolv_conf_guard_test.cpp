// Under the tests' host guard the DNS backend never touches the machine's
// own /etc/resolv.conf. Checked in a child with a mount namespace of its own
// in which a scratch file is bound over /etc/resolv.conf, so that even a
// guard that failed would change only the scratch file.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/host_guard.h"
#include "platform/resolv_conf.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

TEST(ResolvConfHostGuard, RefusesTheMachinesOwnFile) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a mount namespace";
    const std::string machineBefore = ReadFile("/etc/resolv.conf");
    TempDir dir;
    const std::string scratch = "nameserver 192.0.2.99\n";
    WriteFile(dir / "scratch.conf", scratch);
    fs::create_symlink("/etc/resolv.conf", dir / "link.conf");

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount((dir / "scratch.conf").c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
            _exit(2);
        HostGuard_Enable();
        ResolvConf_SetBackupFile(dir / "backup");
        int failures = 0;
        for (const fs::path& target :
             {fs::path("/etc/resolv.conf"), dir / "link.conf", fs::path("/etc/../etc/resolv.conf")}) {
            ResolvConf_SetTarget(target);
            failures += ResolvConf_SetServers({"10.0.0.1"}) != ResolvConfResult::kRefused;
        }
        // A backup naming the machine's file is not acted on either.
        std::string text = "resolv-backup 1\ntarget=/etc/resolv.conf\noriginal=absent\nwritten=" +
                           std::to_string(scratch.size()) + "\n\n" + scratch;
        WriteFile(dir / "backup", text);
        failures += ResolvConf_Restore() != ResolvConfResult::kRefused;
        // Any other file is fine.
        ResolvConf_SetTarget(dir / "other.conf");
        fs::remove(dir / "backup");
        failures += ResolvConf_SetServers({"10.0.0.1"}) != ResolvConfResult::kOk;
        failures += ResolvConf_Restore() != ResolvConfResult::kOk;
        failures += ReadFile("/etc/resolv.conf") != scratch;
        _exit(failures == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(dir / "scratch.conf"), scratch);
    EXPECT_EQ(ReadFile("/etc/resolv.conf"), machineBefore);
}

}  // namespace
