#include "netconfig/dns_manager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "foundation/ini.h"
#include "foundation/text_convert.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// A fresh manager over a temporary program folder; the own-servers row, the
// one row that changes, is cleared before and after.
class DnsManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearOwnRow();
        CDNSManager::ReleaseInstance();
        dns_ = CDNSManager::GetInstance();
        std::filesystem::create_directory(dir_ / "config");
    }
    void TearDown() override {
        CDNSManager::ReleaseInstance();
        ClearOwnRow();
    }
    static void ClearOwnRow() {
        GetDnsPresetTable()[1].primary.clear();
        GetDnsPresetTable()[1].secondary.clear();
    }
    std::filesystem::path IniPath() const { return dir_ / "config/dns.ini"; }
    void UseFolder() { dns_->SetWorkDirectory(PathToWide(dir_.path()).c_str()); }

    TempDir dir_;
    CDNSManager* dns_ = nullptr;
};

TEST(DnsPresetTable, RowsIdsAndTheClosingRow) {
    const DnsPreset* t = GetDnsPresetTable();
    std::set<int> ids;
    for (int i = 0; i < kDnsPresetRows - 1; ++i) {
        EXPECT_EQ(t[i].id, i);
        EXPECT_FALSE(t[i].english_name.empty()) << i;
        EXPECT_FALSE(t[i].chinese_name.empty()) << i;
        ids.insert(t[i].id);
        EXPECT_EQ(t[i].flag, i == 1 ? 0 : 1) << i;
        EXPECT_EQ(t[i].primary.empty(), i == 1) << i;
    }
    EXPECT_EQ(ids.size(), 39u);
    EXPECT_TRUE(t[39].english_name.empty());
    EXPECT_TRUE(t[39].primary.empty());

    // Spot checks of the values the program ships.
    EXPECT_EQ(t[0].primary, L"127.0.0.1");
    EXPECT_TRUE(t[0].secondary.empty());
    EXPECT_EQ(t[0].proxify_hint, 2);
    EXPECT_EQ(t[3].english_name, L"Google DNS");
    EXPECT_EQ(t[3].secondary, L"8.8.4.4");
    EXPECT_EQ(t[8].primary, L"82.200.69.80");
    EXPECT_EQ(t[15].secondary, L"");
    EXPECT_EQ(t[20].primary, t[18].primary);
    EXPECT_EQ(t[38].english_name, L"Tencent DNSPod(China)");
    EXPECT_EQ(t[38].chinese_name, L"腾讯DNSPod(中国)");
    EXPECT_EQ(t[38].primary, L"119.29.29.29");
    EXPECT_TRUE(t[0].IsSmartDNS() && !t[0].IsOwnDNS());
    EXPECT_TRUE(t[1].IsOwnDNS() && !t[1].IsSmartDNS());
}

TEST_F(DnsManagerTest, InitialValues) {
    EXPECT_EQ(dns_->GetPresetCount(), 39);
    EXPECT_EQ(dns_->GetPresetTable(), GetDnsPresetTable());
    EXPECT_EQ(dns_->GetCurrentDnsId(), 0);
    EXPECT_EQ(dns_->GetDnsName(), L"Smart DNS");
    EXPECT_TRUE(dns_->IsSmartDNSSelected());
    EXPECT_EQ(dns_->GetProxifyCurrentDNS(), 1);
    EXPECT_EQ(dns_->GetProxifyDefaultSmartDNS(), 1);
    EXPECT_EQ(dns_->GetProxifyNativeSmartDNS(), 0);
    EXPECT_EQ(dns_->GetDefaultSmartPreset()->id, 3);
    EXPECT_EQ(dns_->GetNativeSmartPreset()->id, 38);
    EXPECT_EQ(dns_->GetForwardZoneTemplate(), L"template.china-list.conf");
}

TEST_F(DnsManagerTest, Lookups) {
    struct Case {
        int id;
        int found;  // FindPreset / IsPresetId
        int after;  // FindPresetAfter's id, -1 for none
    } cases[] = {
        {-1, 0, 0}, {0, 1, 1}, {1, 1, 2}, {3, 1, 4}, {38, 1, -1}, {39, 0, -1}, {40, 0, -1}, {99, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(dns_->IsPresetId(c.id), c.found);
        EXPECT_EQ(dns_->FindPreset(c.id) != nullptr, c.found == 1);
        const DnsPreset* after = dns_->FindPresetAfter(c.id);
        EXPECT_EQ(after ? after->id : -1, c.after);
    }
    EXPECT_EQ(dns_->FindPresetAfter(1)->english_name, L"Open DNS");
    EXPECT_EQ(dns_->GetOwnDnsPreset(), &GetDnsPresetTable()[1]);
}

TEST_F(DnsManagerTest, SetCurrentDnsAndValidation) {
    dns_->SetCurrentDNS(40, L"1.1.1.1", L"1.0.0.1");  // no such row: nothing changes
    EXPECT_EQ(dns_->GetCurrentDnsId(), 0);
    EXPECT_TRUE(dns_->GetOwnDnsPreset()->primary.empty());

    dns_->SetCurrentDNS(3, L"1.1.1.1", L"1.0.0.1");  // only the own row takes the texts
    EXPECT_EQ(dns_->GetCurrentPreset()->english_name, L"Google DNS");
    EXPECT_TRUE(dns_->GetOwnDnsPreset()->primary.empty());
    EXPECT_FALSE(dns_->IsSmartDNSSelected());

    dns_->SetCurrentDNS(1, L"1.1.1.1", L"1.0.0.1");
    dns_->SetCurrentDNS(1, L"9.9.9.9", L"");
    EXPECT_EQ(dns_->GetOwnDnsPreset()->primary, L"9.9.9.9");
    EXPECT_EQ(dns_->GetOwnDnsPreset()->secondary, L"");

    // An id from a file that names no row is repaired when used.
    WriteFile(IniPath(), "[basic]\nCurrentDNS=99\n");
    UseFolder();
    ASSERT_EQ(dns_->Load(), 1);
    EXPECT_EQ(dns_->GetCurrentDnsId(), 99);
    EXPECT_EQ(dns_->GetCurrentPreset(), nullptr);
    EXPECT_FALSE(dns_->IsSmartDNSSelected());
    dns_->ValidateCurrentDNS();
    EXPECT_EQ(dns_->GetCurrentDnsId(), 1);
    dns_->ValidateCurrentDNS();  // a valid id stays
    EXPECT_EQ(dns_->GetCurrentDnsId(), 1);
}

TEST_F(DnsManagerTest, SmartPresetsRepairAndSet) {
    WriteFile(IniPath(), "[basic]\nDefaultDNSForSmart=50\nNativeDNSForSmart=-4\n");
    UseFolder();
    ASSERT_EQ(dns_->Load(), 1);
    EXPECT_EQ(dns_->GetDefaultSmartDnsId(), 50);
    EXPECT_EQ(dns_->GetDefaultSmartPreset()->english_name, L"Google DNS");
    EXPECT_EQ(dns_->GetDefaultSmartDnsId(), 3);
    EXPECT_EQ(dns_->GetNativeSmartPreset()->id, 38);
    EXPECT_EQ(dns_->GetNativeSmartDnsId(), 38);

    dns_->SetDefaultSmartDNS(39);  // the closing row is no preset
    dns_->SetNativeSmartDNS(100);
    EXPECT_EQ(dns_->GetDefaultSmartDnsId(), 3);
    EXPECT_EQ(dns_->GetNativeSmartDnsId(), 38);
    dns_->SetDefaultSmartDNS(2);
    dns_->SetNativeSmartDNS(14);
    EXPECT_EQ(dns_->GetDefaultSmartPreset()->english_name, L"Open DNS");
    EXPECT_EQ(dns_->GetNativeSmartPreset()->english_name, L"AliDNS(China)");
    ASSERT_EQ(dns_->Save(), 1);
    CIni ini(IniPath());
    EXPECT_EQ(ini.GetString(L"basic", L"DefaultDNSNameForSmart", L""), L"Open DNS");
    EXPECT_EQ(ini.GetString(L"basic", L"NativeDNSNameForSmart", L""), L"AliDNS(China)");
}

TEST_F(DnsManagerTest, LoadWithoutFolderOrFile) {
    EXPECT_EQ(dns_->Load(), 0);  // no folder
    EXPECT_EQ(dns_->Save(), 0);
    dns_->SetWorkDirectory(nullptr);
    EXPECT_TRUE(dns_->GetWorkDirectory().empty());
    UseFolder();
    EXPECT_EQ(dns_->Load(), 0);  // no dns.ini: the initial values stay
    EXPECT_EQ(dns_->GetProxifyNativeSmartDNS(), 0);
    EXPECT_EQ(dns_->GetCurrentDnsId(), 0);
}

// What each key does on reading: missing flags read as 1, missing ids and
// names keep what the manager had, both own servers are taken together.
TEST_F(DnsManagerTest, LoadKeyByKey) {
    struct Case {
        const char* file;
        int current, proxCur, remote, proxRemote, native, proxNative;
        const wchar_t* ownPrimary;
        const wchar_t* ownSecondary;
        const wchar_t* zoneTemplate;
    } cases[] = {
        {"[basic]\n", 0, 1, 3, 1, 38, 1, L"", L"", L"template.china-list.conf"},
        {"[other]\nProxifyNativeSmartDNS=0\n", 0, 1, 3, 1, 38, 1, L"", L"", L"template.china-list.conf"},
        {"[basic]\nCurrentDNS=5\nProxifyCurrentDNS=0\nDefaultDNSForSmart=12\nProxifyDefaultSmartDNS=0\n"
         "NativeDNSForSmart=13\nProxifyNativeSmartDNS=0\nCurrentForwardZoneTemplateFile=template.x.conf\n",
         5, 0, 12, 0, 13, 0, L"", L"", L"template.x.conf"},
        {"[basic]\nOwnPrimary=9.9.9.9\n", 0, 1, 3, 1, 38, 1, L"9.9.9.9", L"", L"template.china-list.conf"},
        {"[basic]\nOwnPrimary=9.9.9.9\nOwnSecondary=149.112.112.112\nProxifyCurrentDNS=yes\n", 0, 1, 3, 1, 38,
         1, L"9.9.9.9", L"149.112.112.112", L"template.china-list.conf"},
    };
    UseFolder();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        CDNSManager::ReleaseInstance();
        dns_ = CDNSManager::GetInstance();
        UseFolder();
        dns_->SetCurrentDNS(1, L"8.8.8.8", L"8.8.4.4");  // overwritten by the file's own-server keys
        dns_->SetCurrentDNS(0, L"", L"");
        WriteFile(IniPath(), c.file);
        ASSERT_EQ(dns_->Load(), 1);
        EXPECT_EQ(dns_->GetCurrentDnsId(), c.current);
        EXPECT_EQ(dns_->GetProxifyCurrentDNS(), c.proxCur);
        EXPECT_EQ(dns_->GetDefaultSmartDnsId(), c.remote);
        EXPECT_EQ(dns_->GetProxifyDefaultSmartDNS(), c.proxRemote);
        EXPECT_EQ(dns_->GetNativeSmartDnsId(), c.native);
        EXPECT_EQ(dns_->GetProxifyNativeSmartDNS(), c.proxNative);
        EXPECT_EQ(dns_->GetOwnDnsPreset()->primary, c.ownPrimary);
        EXPECT_EQ(dns_->GetOwnDnsPreset()->secondary, c.ownSecondary);
        EXPECT_EQ(dns_->GetForwardZoneTemplate(), c.zoneTemplate);
    }
}

TEST_F(DnsManagerTest, SaveWritesEveryKeyInPlaceAndLoadsBack) {
    WriteFile(IniPath(),
              "; kept\n[basic]\nDNSName=Mein DNS ÄÖ\nSomethingElse=1\nCurrentDNS=7\n[extra]\nx=y\n");
    UseFolder();
    ASSERT_EQ(dns_->Load(), 1);
    dns_->SetCurrentDNS(1, L"9.9.9.9", L"149.112.112.112");
    dns_->SetProxifyCurrentDNS(0);
    dns_->SetProxifyNativeSmartDNS(1);
    dns_->SetDefaultSmartDNS(6);
    dns_->SetForwardZoneTemplate(L"template.small.conf");
    ASSERT_EQ(dns_->Save(), 1);

    std::string text = ReadFile(IniPath());
    EXPECT_NE(text.find("; kept"), std::string::npos);
    EXPECT_NE(text.find("SomethingElse=1"), std::string::npos);
    EXPECT_NE(text.find("[extra]"), std::string::npos);
    // Existing keys are replaced where they stand, new ones follow in order.
    EXPECT_LT(text.find("DNSName="), text.find("CurrentDNS="));
    EXPECT_LT(text.find("OwnPrimary="), text.find("OwnSecondary="));
    EXPECT_LT(text.find("OwnSecondary="), text.find("DefaultDNSForSmart="));
    EXPECT_LT(text.find("ProxifyNativeSmartDNS="), text.find("CurrentForwardZoneTemplateFile="));
    CIni ini(IniPath());
    EXPECT_EQ(ini.GetString(L"basic", L"CurrentDNS", L""), L"1");
    EXPECT_EQ(ini.GetString(L"basic", L"ProxifyCurrentDNS", L""), L"0");
    EXPECT_EQ(ini.GetString(L"basic", L"ProxifyNativeSmartDNS", L""), L"1");

    // A fresh manager reads back every choice, the DNS name included.
    CDNSManager::ReleaseInstance();
    ClearOwnRow();
    dns_ = CDNSManager::GetInstance();
    UseFolder();
    ASSERT_EQ(dns_->Load(), 1);
    EXPECT_EQ(dns_->GetDnsName(), L"Mein DNS ÄÖ");
    EXPECT_EQ(dns_->GetCurrentDnsId(), 1);
    EXPECT_EQ(dns_->GetOwnDnsPreset()->primary, L"9.9.9.9");
    EXPECT_EQ(dns_->GetOwnDnsPreset()->secondary, L"149.112.112.112");
    EXPECT_EQ(dns_->GetProxifyCurrentDNS(), 0);
    EXPECT_EQ(dns_->GetProxifyNativeSmartDNS(), 1);
    EXPECT_EQ(dns_->GetDefaultSmartDnsId(), 6);
    EXPECT_EQ(dns_->GetForwardZoneTemplate(), L"template.small.conf");
}

}  // namespace
