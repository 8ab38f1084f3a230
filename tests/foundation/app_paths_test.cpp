#include "foundation/app_paths.h"

#include <gtest/gtest.h>

#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

using testsupport::ScopedEnv;
using testsupport::TempDir;

namespace {

// Runs with the current directory somewhere else for the scope of a test.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::filesystem::path& dir) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~ScopedCwd() { std::filesystem::current_path(old_); }

private:
    std::filesystem::path old_;
};

}  // namespace

TEST(AppPaths, ProgramFolderIsTheExecutablesFolder) {
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(InitAppPaths(), 1);
    EXPECT_EQ(GetExePath(), self);
    EXPECT_EQ(GetAppDir(), self.parent_path());

    EXPECT_EQ(InitAppPaths("/opt/cendrow/cendrow"), 1);
    EXPECT_EQ(GetExePath(), "/opt/cendrow/cendrow");
    EXPECT_EQ(GetAppDir(), "/opt/cendrow");
}

TEST(AppPaths, FoldersAreCreatedUnderTheProgramFolderNotTheCurrentDirectory) {
    TempDir prog, data, elsewhere;
    ScopedEnv xdg("XDG_DATA_HOME", data.path().c_str());
    ScopedCwd cwd(elsewhere.path());
    std::filesystem::create_directory(prog / "log");  // an existing folder is no error
    InitAppPaths(prog / "cendrow");
    CreateAppFolders();
    for (const char* name : {"log", "config", "temp", "update"}) {
        EXPECT_TRUE(std::filesystem::is_directory(prog / name)) << name;
    }
    EXPECT_EQ(GetAppDataDir(), data.path());
    EXPECT_TRUE(std::filesystem::is_directory(data / "ZentravData" / "log"));
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
}

TEST(AppPaths, UserDataFolderFromTheEnvironment) {
    TempDir home, prog;
    ScopedEnv homeEnv("HOME", home.path().c_str());
    {
        // A relative XDG_DATA_HOME is ignored; HOME's default takes its place.
        ScopedEnv xdg("XDG_DATA_HOME", "relative/data");
        InitAppPaths(prog / "cendrow");
        EXPECT_EQ(GetAppDataDir(), home / ".local/share");
        CreateAppFolders();
        EXPECT_TRUE(std::filesystem::is_directory(home / ".local/share/ZentravData/log"));
    }
    {
        // Neither known: only the per-user folders are skipped.
        ScopedEnv xdg("XDG_DATA_HOME", nullptr);
        ScopedEnv noHome("HOME", nullptr);
        std::filesystem::remove_all(prog / "config");
        InitAppPaths(prog / "cendrow");
        EXPECT_TRUE(GetAppDataDir().empty());
        CreateAppFolders();
        EXPECT_TRUE(std::filesystem::is_directory(prog / "config"));
    }
}
