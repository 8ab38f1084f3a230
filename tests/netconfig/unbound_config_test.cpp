// The local resolver's configuration: what the controller accepts and the
// files it generates from the shipped templates.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "foundation/text_convert.h"
#include "netconfig/unbound_controller.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

fs::path SourceDir() {
    const char* s = std::getenv("CENDROW_SOURCE_DIR");
    return s ? fs::path(s) : fs::path(".");
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// A program folder holding the shipped unbound templates.
class UnboundConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        CUnboundController::ReleaseInstance();
        fs::copy(SourceDir() / "resources/unbound", dir_ / "unbound", fs::copy_options::recursive);
        ctl_ = CUnboundController::GetInstance();
        ASSERT_EQ(ctl_->SetBaseDirectory(PathToWide(dir_.path())), 1);
    }
    void TearDown() override { CUnboundController::ReleaseInstance(); }

    fs::path Unbound() const { return dir_ / "unbound"; }
    std::string Service() const { return ReadFile(Unbound() / "service.conf"); }
    std::string Zones() const { return ReadFile(Unbound() / "forward-zone/forward-zone.conf"); }

    TempDir dir_;
    CUnboundController* ctl_ = nullptr;
};

TEST_F(UnboundConfigTest, GeneratesBothFilesFromTheShippedTemplates) {
    EXPECT_EQ(ctl_->GetUnboundFolder(), Unbound());
    ASSERT_EQ(ctl_->GenerateConfigFiles(), 1);
    std::string service = Service();
    std::string zones = Zones();
    EXPECT_EQ(service.find("<@-"), std::string::npos);
    EXPECT_EQ(zones.find("<@-"), std::string::npos);
    EXPECT_NE(service.find("directory: \"" + Unbound().string() + "\""), std::string::npos);
    EXPECT_NE(service.find("include: \"" + (Unbound() / "forward-zone/forward-zone.conf").string() + "\""),
              std::string::npos);
    EXPECT_NE(service.find("forward-addr: 8.8.8.8\n    forward-addr: 8.8.4.4"), std::string::npos);
    EXPECT_EQ(Count(zones, "forward-addr: 119.29.29.29"), Count(zones, "forward-zone:"));
    EXPECT_EQ(Count(zones, "forward-addr: 119.28.28.28"), Count(zones, "forward-zone:"));
    // The resolver binary is not part of the templates: the files are there, the program is not.
    EXPECT_EQ(ctl_->FilesExist(), 0);
    WriteFile(Unbound() / "unbound", "");
    EXPECT_EQ(ctl_->FilesExist(), 1);
}

// unbound's own checker accepts what we generate (it needs no server to run).
TEST_F(UnboundConfigTest, UnboundCheckconfAcceptsTheGeneratedFiles) {
    if (!testsupport::HaveProgram("unbound-checkconf") && !fs::exists("/usr/sbin/unbound-checkconf"))
        GTEST_SKIP() << "unbound-checkconf is not installed";
    ASSERT_EQ(ctl_->SetForwardAddresses(L"9.9.9.9", L"", L"223.5.5.5", L""), 1);
    ASSERT_EQ(ctl_->GenerateConfigFiles(), 1);
    std::string out;
    int rc =
        testsupport::RunCommand({"/usr/sbin/unbound-checkconf", (Unbound() / "service.conf").string()}, &out);
    EXPECT_EQ(rc, 0) << out;
}

TEST_F(UnboundConfigTest, EmptySecondaryTakesThePrimary) {
    ASSERT_EQ(ctl_->SetForwardAddresses(L"9.9.9.9", L"", L"223.5.5.5", L""), 1);
    ASSERT_EQ(ctl_->GenerateConfigFiles(), 1);
    EXPECT_NE(Service().find("forward-addr: 9.9.9.9\n    forward-addr: 9.9.9.9"), std::string::npos);
    EXPECT_EQ(Count(Zones(), "forward-addr: 223.5.5.5"), 2 * Count(Zones(), "forward-zone:"));
}

TEST_F(UnboundConfigTest, RefusedInputChangesNothing) {
    ASSERT_EQ(ctl_->GenerateConfigFiles(), 1);
    const std::string service = Service();
    const wchar_t* bad[] = {
        L"1.2.3.4\ninclude: x",
        L"127.0.0.1",
        L"127.8.9.10",
        L"01.2.3.4",
        L"0.0.0.0",
        L"1.2.3",
        L"8.8.8.8 ",
        L"::1",
        L"dns.example",
        L"1.2.3.4\"",
    };
    for (const wchar_t* b : bad) {
        SCOPED_TRACE(WideToUtf8String(b));
        EXPECT_EQ(ctl_->SetForwardAddresses(b, L"", L"223.5.5.5", L""), 0);
        EXPECT_EQ(ctl_->SetForwardAddresses(L"9.9.9.9", L"", L"223.5.5.5", b), 0);
    }
    for (const wchar_t* name : {L"../template.x.conf", L"a/b.conf", L".", L"..", L"x\".conf", L"x\n.conf"}) {
        SCOPED_TRACE(WideToUtf8String(name));
        EXPECT_EQ(ctl_->SetForwardZoneTemplate(name), 0);
    }
    EXPECT_EQ(ctl_->SetForwardZoneTemplate(L""), 1);  // ignored
    for (const wchar_t* folder : {L"", L"/tmp/with\"quote", L"/tmp/with\nbreak"}) {
        SCOPED_TRACE(WideToUtf8String(folder));
        EXPECT_EQ(ctl_->SetBaseDirectory(folder), 0);
    }
    EXPECT_EQ(ctl_->GetUnboundFolder(), Unbound());
    // Nothing was deleted or regenerated.
    EXPECT_EQ(Service(), service);
    EXPECT_TRUE(fs::exists(Unbound() / "forward-zone/forward-zone.conf"));
}

TEST_F(UnboundConfigTest, ExistingFilesAreReusedUntilAChange) {
    ASSERT_EQ(ctl_->GenerateConfigFiles(), 1);
    // Edited by hand: kept while nothing changes.
    WriteFile(Unbound() / "service.conf", "# by hand\n");
    WriteFile(Unbound() / "forward-zone/forward-zone.conf", "# zones by hand\n");
    ASSERT_EQ(ctl_->SetForwardAddresses(L"8.8.8.8", L"8.8.4.4", L"119.29.29.29", L"119.28.28.28"), 1);
    ASSERT_EQ(ctl_->SetForwardZoneTemplate(L"template.china-list.conf"), 1);
    ASSERT_EQ(ctl_->GenerateConfigFiles(), 1);
    EXPECT_EQ(Service(), "# by hand\n");
    EXPECT_EQ(Zones(), "# zones by hand\n");

    // New addresses reach both files.
    ASSERT_EQ(ctl_->SetForwardAddresses(L"1.1.1.1", L"1.0.0.1", L"223.5.5.5", L"223.6.6.6"), 1);
    EXPECT_FALSE(fs::exists(Unbound() / "service.conf"));
    EXPECT_FALSE(fs::exists(Unbound() / "forward-zone/forward-zone.conf"));
    ASSERT_EQ(ctl_->GenerateConfigFiles(), 1);
    EXPECT_NE(Service().find("forward-addr: 1.1.1.1"), std::string::npos);
    EXPECT_NE(Zones().find("forward-addr: 223.6.6.6"), std::string::npos);

    // A new template reaches the forward-zone file; the service file stays.
    WriteFile(Unbound() / "forward-zone/template.lab.conf",
              "forward-zone:\n    name: \"lab.test.\"\n    forward-addr: <@-forward-addr1-@>\n");
    WriteFile(Unbound() / "service.conf", "# by hand again\n");
    ASSERT_EQ(ctl_->SetForwardZoneTemplate(L"template.lab.conf"), 1);
    ASSERT_EQ(ctl_->GenerateConfigFiles(), 1);
    EXPECT_EQ(Zones(), "forward-zone:\n    name: \"lab.test.\"\n    forward-addr: 223.5.5.5\n");
    EXPECT_EQ(Service(), "# by hand again\n");

    // A new program folder drops a left-over service file.
    ASSERT_EQ(ctl_->SetBaseDirectory(PathToWide(dir_.path())), 1);
    EXPECT_FALSE(fs::exists(Unbound() / "service.conf"));
}

// The zones are synced to disk behind the resolver's start; a file whose
// sync never finished (a system crash) may be cut, so it is written again
// instead of being reused, and a finished one is reused.
TEST_F(UnboundConfigTest, AZoneFileWhoseSyncNeverFinishedIsWrittenAgain) {
    const fs::path zones = Unbound() / "forward-zone/forward-zone.conf";
    const fs::path unsynced = Unbound() / "forward-zone/forward-zone.conf.unsynced";
    ASSERT_EQ(ctl_->GenerateConfigFiles(), 1);
    const std::string whole = Zones();
    // The next call waits for the sync, which leaves no marker behind.
    ASSERT_EQ(ctl_->GenerateForwardZoneConf(), 1);
    EXPECT_FALSE(fs::exists(unsynced));

    // What a crash before the end of the sync may leave.
    WriteFile(zones, whole.substr(0, whole.size() / 3));
    WriteFile(unsynced, "");
    ASSERT_EQ(ctl_->GenerateForwardZoneConf(), 1);
    EXPECT_TRUE(Zones() == whole);
    ASSERT_EQ(ctl_->GenerateForwardZoneConf(), 1);
    EXPECT_FALSE(fs::exists(unsynced));

    // Deleting the file takes a marker with it.
    WriteFile(unsynced, "");
    ctl_->DeleteForwardZoneConf();
    EXPECT_FALSE(fs::exists(zones));
    EXPECT_FALSE(fs::exists(unsynced));
}

TEST_F(UnboundConfigTest, MissingTemplatesOrAddresses) {
    ASSERT_EQ(ctl_->SetForwardZoneTemplate(L"template.none.conf"), 1);
    EXPECT_EQ(ctl_->GenerateForwardZoneConf(), 0);
    EXPECT_EQ(ctl_->GenerateConfigFiles(), 0);
    EXPECT_FALSE(fs::exists(Unbound() / "service.conf"));  // the second file is not tried
    // ... unless the forward-zone file is already there.
    WriteFile(Unbound() / "forward-zone/forward-zone.conf", "# left from before\n");
    EXPECT_EQ(ctl_->GenerateConfigFiles(), 1);

    // An empty template counts as missing.
    ctl_->DeleteForwardZoneConf();
    WriteFile(Unbound() / "forward-zone/template.none.conf", "");
    EXPECT_EQ(ctl_->GenerateForwardZoneConf(), 0);

    // No domestic primary, no remote primary.
    ASSERT_EQ(ctl_->SetForwardZoneTemplate(L"template.china-list.conf"), 1);
    ASSERT_EQ(ctl_->SetForwardAddresses(L"8.8.8.8", L"", L"", L""), 1);
    EXPECT_EQ(ctl_->GenerateForwardZoneConf(), 0);
    ASSERT_EQ(ctl_->SetForwardAddresses(L"", L"", L"119.29.29.29", L""), 1);
    EXPECT_EQ(ctl_->GenerateForwardZoneConf(), 1);
    EXPECT_EQ(ctl_->GenerateServiceConf(), 0);
    fs::remove(Unbound() / "template-service.conf");
    ASSERT_EQ(ctl_->SetForwardAddresses(L"8.8.8.8", L"", L"119.29.29.29", L""), 1);
    EXPECT_EQ(ctl_->GenerateServiceConf(), 0);

    // Without a folder nothing is generated.
    CUnboundController::ReleaseInstance();
    ctl_ = CUnboundController::GetInstance();
    EXPECT_EQ(ctl_->GenerateConfigFiles(), 0);
    EXPECT_EQ(ctl_->FilesExist(), 0);
    EXPECT_EQ(ctl_->Start(), 0);
    EXPECT_EQ(ctl_->IsRunning(), 0);
}

}  // namespace
