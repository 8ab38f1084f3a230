// Additional routes: refused addresses, duplicates, the numbered file read up
// to the first gap, saving in text order, an empty list leaving no file, and
// a failed save keeping the old file.
#include "netconfig/additional_route.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/app_paths.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

class AdditionalRoutes : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir_ / "config");
        InitAppPaths(dir_ / "cendrow");
        CAdditionalRouteMgr::ReleaseInstance();
    }
    void TearDown() override { CAdditionalRouteMgr::ReleaseInstance(); }
    CAdditionalRouteMgr* Mgr() { return CAdditionalRouteMgr::GetInstance(); }
    std::filesystem::path File() { return dir_ / "config/additionalroute.ini"; }

    TempDir dir_;
};

TEST_F(AdditionalRoutes, RefusesLoopbackDuplicatesAndAnythingButAStrictAddress) {
    const wchar_t* refused[] = {L"127.0.0.1", L"127.255.1.1", L"0.1.2.3",   L"1.2.3",    L"example.com", L"",
                                L"010.0.0.1", L"1.2.3.4.5",   L"256.1.1.1", L" 8.8.8.8", L"0x8.8.8.8"};
    for (const wchar_t* a : refused) {
        Mgr()->Add(a, 0);
        EXPECT_EQ(Mgr()->Exists(a), 0) << a;
    }
    EXPECT_TRUE(Mgr()->GetRoutes().empty());
    Mgr()->Add(L"8.8.8.8", 1);
    Mgr()->Add(L"8.8.8.8", 0);
    ASSERT_EQ(Mgr()->GetRoutes().size(), 1u);
    EXPECT_EQ(Mgr()->GetRoutes().at(L"8.8.8.8"), 1);
    Mgr()->Add(L"10.0.0.1", 7);  // kept, routes nothing
    EXPECT_EQ(Mgr()->Exists(L"10.0.0.1"), 1);
    Mgr()->RemoveRoute(L"8.8.8.8");
    EXPECT_EQ(Mgr()->Exists(L"8.8.8.8"), 0);
}

TEST_F(AdditionalRoutes, SavesInTextOrderAndReadsBack) {
    Mgr()->Add(L"9.9.9.9", 0);
    Mgr()->Add(L"10.0.0.1", 1);
    ASSERT_EQ(Mgr()->Save(), 1);
    EXPECT_NE(ReadFile(File()).find("[basic]\nip1=10.0.0.1\naction1=1\nip2=9.9.9.9\naction2=0\n"),
              std::string::npos)
        << ReadFile(File());
    CAdditionalRouteMgr::ReleaseInstance();
    EXPECT_EQ(Mgr()->Load(), 2);
    EXPECT_EQ(Mgr()->GetRoutes().at(L"10.0.0.1"), 1);
    EXPECT_EQ(Mgr()->GetRoutes().at(L"9.9.9.9"), 0);
}

TEST_F(AdditionalRoutes, LoadStopsAtTheFirstGapAndDropsBadEntries) {
    WriteFile(File(),
              "[basic]\nip1=1.1.1.1\naction1=1\nip2=127.0.0.1\naction2=0\nip3=010.0.0.1\naction3=0\n"
              "ip4=2.2.2.2\naction4=x\nip6=6.6.6.6\naction6=0\n");
    EXPECT_EQ(Mgr()->Load(), 2);
    EXPECT_EQ(Mgr()->GetRoutes().at(L"1.1.1.1"), 1);
    EXPECT_EQ(Mgr()->GetRoutes().at(L"2.2.2.2"), 0);
    EXPECT_EQ(Mgr()->Exists(L"6.6.6.6"), 0);

    CAdditionalRouteMgr::ReleaseInstance();
    WriteFile(File(), "[basic]\nip1=1.1.1.1\naction1=1\nip3=3.3.3.3\naction3=1\n");
    EXPECT_EQ(Mgr()->Load(), 1);
}

TEST_F(AdditionalRoutes, EmptyListLeavesNoFileAndAFailedSaveKeepsTheOldOne) {
    Mgr()->Add(L"8.8.8.8", 0);
    ASSERT_EQ(Mgr()->Save(), 1);
    std::string saved = ReadFile(File());
    // A full disk: the save fails and the old file stays whole.
    for (int i = 1; i <= 20; ++i) Mgr()->Add(L"9.9.9." + std::to_wstring(i), 0);
    {
        testsupport::FileSizeLimit full(32);
        ASSERT_TRUE(full.active());
        EXPECT_EQ(Mgr()->Save(), 0);
    }
    EXPECT_EQ(ReadFile(File()), saved);

    Mgr()->RemoveRoute(L"8.8.8.8");
    for (int i = 1; i <= 20; ++i) Mgr()->RemoveRoute(L"9.9.9." + std::to_wstring(i));
    // An emptied list is a successful save, twice over.
    EXPECT_EQ(Mgr()->Save(), 1);
    EXPECT_FALSE(std::filesystem::exists(File()));
    EXPECT_EQ(Mgr()->Save(), 1);
    CAdditionalRouteMgr::ReleaseInstance();
    EXPECT_EQ(Mgr()->Load(), 0);
}

}  // namespace
