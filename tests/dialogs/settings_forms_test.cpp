// The settings and smart-DNS windows' logic: the DNS rows, the checks of
// Save (a refused Save stores nothing), what Save stores, the automatic
// start entry, and the forward-zone templates.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dialogs/base/settings_form.h"
#include "foundation/app_paths.h"
#include "foundation/ini.h"
#include "foundation/message_box.h"
#include "foundation/registry.h"
#include "foundation/settings.h"
#include "foundation/text_convert.h"
#include "netconfig/dns_manager.h"
#include "netconfig/unbound_controller.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

class SettingsForms : public ::testing::Test {
protected:
    void SetUp() override {
        // A program folder whose path holds a space.
        InitAppPaths(dir.path() / "my programs" / "cendrow");
        fs::create_directories(GetAppDir());
        CreateAppFolders();
        GetSettings()->SetDefaults();
        CDNSManager::ReleaseInstance();
        CUnboundController::ReleaseInstance();
        GetDnsPresetTable()[1].primary.clear();
        GetDnsPresetTable()[1].secondary.clear();
        CDNSManager::GetInstance()->SetWorkDirectory(PathToWide(GetAppDir()).c_str());
        fs::create_directories(GetAppDir() / "unbound" / "forward-zone");
        ASSERT_EQ(CUnboundController::GetInstance()->SetBaseDirectory(PathToWide(GetAppDir())), 1);
        SetMessageBoxSink([this](const std::wstring& text, const std::wstring&, unsigned) {
            boxes.push_back(WideToUtf8String(text));
            return IDOK;
        });
    }
    void TearDown() override {
        SetMessageBoxSink(nullptr);
        CDNSManager::ReleaseInstance();
        CUnboundController::ReleaseInstance();
        GetDnsPresetTable()[1].primary.clear();
        GetDnsPresetTable()[1].secondary.clear();
    }
    static fs::path DnsIni() { return GetAppDir() / "config" / "dns.ini"; }
    static fs::path Entry() { return GetAutostartFolder() / "Cendrow.desktop"; }
    SettingsForm OwnDns(OctetFields primary, OctetFields secondary) {
        SettingsForm form = CDialogSettingsCore::Load();
        form.preset = CDNSManager::GetInstance()->FindPreset(kOwnDnsPresetId);
        form.primary = primary;
        form.secondary = secondary;
        form.delayText = L"10";
        return form;
    }

    testsupport::TempDir dir{"cendrow-settingsforms"};
    testsupport::ScopedEnv config{"XDG_CONFIG_HOME", (dir.path() / "xdg config").c_str()};
    std::vector<std::string> boxes;
};

TEST_F(SettingsForms, PresetRowsAndHints) {
    const auto withSmart = CDialogSettingsCore::PresetRows(true);
    const auto without = CDialogSettingsCore::PresetRows(false);
    ASSERT_EQ(withSmart.size(), 39u);
    EXPECT_TRUE(withSmart[0]->IsSmartDNS());
    ASSERT_EQ(without.size(), 38u);
    EXPECT_TRUE(without[0]->IsOwnDNS());
    EXPECT_EQ(PresetHintText(*withSmart[0]), L"Don't Recommend to proxify DNS");
    EXPECT_EQ(PresetHintText(*without[0]), L"");
    const DnsPreset* google = CDNSManager::GetInstance()->FindPreset(3);
    EXPECT_EQ(PresetHintText(*google), L"Recommend to proxify DNS");
    EXPECT_EQ(OctetsOfAddress(AddressOfText(google->primary)), (OctetFields{8, 8, 8, 8}));
    EXPECT_EQ(AddressOfText(L""), 0u);

    const auto resolvers = CDialogConfigureSmartDNSCore::ResolverRows();
    ASSERT_EQ(resolvers.size(), 37u);
    EXPECT_EQ(resolvers[0]->id, withSmart[2]->id);
}

TEST_F(SettingsForms, RefusedSavesStoreNothing) {
    const struct {
        SettingsForm form;
        const char* box;
    } cases[] = {
        {[&] { auto f = OwnDns({9, 9, 9, 9}, {}); f.delayText = L"0"; return f; }(),
         "The delayed connect time can only be 1-300 seconds"},
        {[&] { auto f = OwnDns({9, 9, 9, 9}, {}); f.delayText = L"301"; return f; }(),
         "The delayed connect time can only be 1-300 seconds"},
        {[&] { auto f = OwnDns({9, 9, 9, 9}, {}); f.delayText = L"1x"; return f; }(),
         "The delayed connect time can only be 1-300 seconds"},
        {OwnDns({0, 0, 0, 0}, {}), "Primary DNS must be specific!"},
        {OwnDns({0, 1, 2, 3}, {}), "Primary DNS must be specific!"},
        {OwnDns({224, 0, 0, 1}, {}), "Primary DNS must be specific!"},
        {OwnDns({9, 9, 9, 256}, {}), "Primary DNS must be specific!"},
        {OwnDns({9, 9, 9, 9}, {240, 0, 0, 1}), "Alternate DNS must be specific!"},
        {OwnDns({9, 9, 9, 9}, {8, 8, 999, 8}), "Alternate DNS must be specific!"},
    };
    for (const auto& c : cases) {
        boxes.clear();
        GetSettings()->startup = false;
        SettingsForm form = c.form;
        form.startup = true;
        EXPECT_EQ(CDialogSettingsCore().Save(form), 0) << c.box;
        EXPECT_EQ(boxes, std::vector<std::string>{c.box});
        EXPECT_FALSE(GetSettings()->startup) << c.box;
    }
    EXPECT_FALSE(fs::exists(DnsIni()));
    EXPECT_FALSE(fs::exists(Entry()));
    EXPECT_FALSE(fs::exists(GetSettingsFilePath()));
}

TEST_F(SettingsForms, SaveStoresEverythingAndTheStartEntry) {
    SettingsForm form = OwnDns({9, 9, 9, 9}, {0, 4, 4, 4});
    form.delayText = L" 300 ";
    form.startup = true;
    form.autoConnect = true;
    form.dontProxyUdp = true;
    form.proxifyDns = false;
    form.regenerateIv = true;
    ASSERT_EQ(CDialogSettingsCore().Save(form), 1) << (boxes.empty() ? "" : boxes[0]);
    EXPECT_TRUE(boxes.empty());
    // The entry runs the executable whose path holds a space.
    const std::string entry = testsupport::ReadFile(Entry());
    EXPECT_NE(entry.find("Exec=" + DesktopExecValue(GetExePath().string())), std::string::npos) << entry;
    EXPECT_NE(GetExePath().string().find(' '), std::string::npos);

    // What the next start reads.
    LoadSettings();
    EXPECT_EQ(GetSettings()->DelayedConnect, 300);
    EXPECT_TRUE(GetSettings()->AutomaticallyEstablishConnection);
    EXPECT_TRUE(GetSettings()->adapter.bDontProxyUDP);
    EXPECT_TRUE(GetSettings()->bRegenerateIVForSSUDP);
    CDNSManager::ReleaseInstance();
    GetDnsPresetTable()[1].primary.clear();
    CDNSManager::GetInstance()->SetWorkDirectory(PathToWide(GetAppDir()).c_str());
    ASSERT_EQ(CDNSManager::GetInstance()->Load(), 1);
    const DnsPreset* current = CDNSManager::GetInstance()->GetCurrentPreset();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->id, kOwnDnsPresetId);
    EXPECT_EQ(current->primary, L"9.9.9.9");
    EXPECT_EQ(current->secondary, L"");  // an alternate of 0.x.x.x is none
    EXPECT_EQ(CDNSManager::GetInstance()->GetProxifyCurrentDNS(), 0);

    form = CDialogSettingsCore::Load();
    EXPECT_EQ(form.primary, (OctetFields{9, 9, 9, 9}));
    form.startup = false;
    ASSERT_EQ(CDialogSettingsCore().Save(form), 1);
    EXPECT_FALSE(fs::exists(Entry()));
}

TEST_F(SettingsForms, FailedWritesAreReported) {
    // dns.ini and the settings file replaced by folders: neither can be written.
    fs::create_directories(DnsIni() / "x");
    fs::create_directories(GetSettingsFilePath() / "x");
    ASSERT_EQ(CDialogSettingsCore().Save(OwnDns({9, 9, 9, 9}, {})), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("The settings could not be saved:"), std::string::npos);
    EXPECT_NE(boxes[0].find("dns.ini"), std::string::npos);
    EXPECT_NE(boxes[0].find(GetSettingsFilePath().filename().string()), std::string::npos);
}

// The automatic-start entry and the smart-DNS choices are reported as well
// when they cannot be written.
TEST_F(SettingsForms, FailedStartEntryAndSmartDnsSavesAreReported) {
    // A folder holding a file where the entry goes: it can be neither replaced nor removed.
    fs::create_directories(Entry() / "x");
    for (bool startup : {true, false}) {
        boxes.clear();
        SettingsForm form = OwnDns({9, 9, 9, 9}, {});
        form.startup = startup;
        EXPECT_EQ(CDialogSettingsCore().Save(form), 0) << startup;
        ASSERT_EQ(boxes.size(), 1u) << startup;
        EXPECT_NE(boxes[0].find("Run at system startup"), std::string::npos) << boxes[0];
    }

    testsupport::WriteFile(GetAppDir() / "unbound" / "forward-zone" / "template.a.conf", "");
    const SmartDnsForm smart = CDialogConfigureSmartDNSCore::Load();
    ASSERT_EQ(smart.zoneTemplate, L"template.a.conf");
    fs::remove(DnsIni());
    fs::create_directories(DnsIni() / "x");
    boxes.clear();
    EXPECT_EQ(CDialogConfigureSmartDNSCore().Save(smart), 0);
    EXPECT_EQ(boxes, std::vector<std::string>{"The smart DNS settings could not be saved."});
}

TEST_F(SettingsForms, SmartDnsTemplatesAndSave) {
    const fs::path zones = GetAppDir() / "unbound" / "forward-zone";
    for (const char* name : {"template.b.conf", "template.a.conf", "other.conf", "template.conf"})
        testsupport::WriteFile(zones / name, "");
    fs::create_directories(zones / "template.dir.conf");
    const auto files = ForwardZoneTemplates(zones);
    EXPECT_EQ(files, (std::vector<std::wstring>{L"template.a.conf", L"template.b.conf"}));
    // A stored name that no longer exists selects the first file.
    CDNSManager::GetInstance()->SetForwardZoneTemplate(L"template.gone.conf");
    EXPECT_EQ(CDialogConfigureSmartDNSCore::TemplateRow(files), 0);
    CDNSManager::GetInstance()->SetForwardZoneTemplate(L"TEMPLATE.B.CONF");
    EXPECT_EQ(CDialogConfigureSmartDNSCore::TemplateRow(files), 1);

    // No template: nothing happens.
    SmartDnsForm form = CDialogConfigureSmartDNSCore::Load();
    form.zoneTemplate.clear();
    EXPECT_EQ(CDialogConfigureSmartDNSCore().Save(form), 0);
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(fs::exists(DnsIni()));

    // The generated zone stays unless a list changed.
    CUnboundController* ctl = CUnboundController::GetInstance();
    form = CDialogConfigureSmartDNSCore::Load();
    ASSERT_EQ(form.zoneTemplate, L"template.b.conf");
    ASSERT_EQ(CDialogConfigureSmartDNSCore().Save(form), 1);
    testsupport::WriteFile(ctl->ForwardZoneConfPath(), "generated");
    ASSERT_EQ(CDialogConfigureSmartDNSCore().Save(form), 1);
    EXPECT_TRUE(fs::exists(ctl->ForwardZoneConfPath()));
    form.selectionChanged = true;
    ASSERT_EQ(CDialogConfigureSmartDNSCore().Save(form), 1);
    EXPECT_FALSE(fs::exists(ctl->ForwardZoneConfPath()));

    // Remote and domestic swapped reach dns.ini.
    const auto rows = CDialogConfigureSmartDNSCore::ResolverRows();
    std::swap(form.remote, form.domestic);
    form.proxifyRemote = false;
    form.proxifyDomestic = true;
    ASSERT_EQ(CDialogConfigureSmartDNSCore().Save(form), 1);
    const int remote = form.remote->id;
    CDNSManager::ReleaseInstance();
    CDNSManager::GetInstance()->SetWorkDirectory(PathToWide(GetAppDir()).c_str());
    ASSERT_EQ(CDNSManager::GetInstance()->Load(), 1);
    EXPECT_EQ(CDNSManager::GetInstance()->GetDefaultSmartDnsId(), remote);
    EXPECT_EQ(CDNSManager::GetInstance()->GetProxifyNativeSmartDNS(), 1);
    EXPECT_EQ(CDNSManager::GetInstance()->GetForwardZoneTemplate(), L"template.b.conf");
    EXPECT_EQ(rows[CDialogConfigureSmartDNSCore::RowOf(rows, CDNSManager::GetInstance()->GetDefaultSmartPreset())]->id,
              remote);
}

}  // namespace
