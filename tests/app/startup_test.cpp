#include <gtest/gtest.h>

#include <string>

#include "foundation/ini.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;

// The program started from a program folder of its own: it lays out its
// folders there, writes its settings and ends cleanly.
TEST(Startup, RunsFromItsProgramFolderAndSavesSettings) {
    TempDir prog, data;
    std::filesystem::copy_file(CENDROW_EXE, prog / "cendrow");
    std::string out;
    int rc = RunCommand({"env", "XDG_DATA_HOME=" + data.path().string(), (prog / "cendrow").string(),
                         "--unknown-option", "-x", "plain"},
                        &out);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, "Cendrow: program folder " + prog.path().string() + ", settings " +
                       (prog / "config" / "config.ini").string() + "\n");
    for (const char* name : {"log", "config", "temp", "update"}) {
        EXPECT_TRUE(std::filesystem::is_directory(prog / name)) << name;
    }
    EXPECT_TRUE(std::filesystem::is_directory(data / "ZentravData" / "log"));
    CIni ini(prog / "config" / "config.ini");
    EXPECT_EQ(ini.GetInt(L"basic", L"dns_type", 0), 2);
    EXPECT_EQ(ini.GetString(L"basic", L"strUserExtendPacFile", nullptr),
              (prog / "config" / "userpac.txt").wstring());

    // A second start reads what the first saved.
    ini.WriteInt(L"basic", L"DelayedConnect", 42);
    ASSERT_EQ(RunCommand({"env", "XDG_DATA_HOME=" + data.path().string(), (prog / "cendrow").string()}), 0);
    EXPECT_EQ(ini.GetInt(L"basic", L"DelayedConnect", 0), 42);
    EXPECT_EQ(ini.GetInt(L"basic", L"bIsFirstRunApp", 0), 1);
}
