#include "foundation/settings.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cwchar>
#include <string>

#include "foundation/app_paths.h"
#include "foundation/ini.h"
#include "foundation/text_convert.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const wchar_t* const kWrittenKeys[] = {
    L"startup",
    L"AutomaticallyEstablishConnection",
    L"AutomaticHideWindow",
    L"dns_type",
    L"liststyle",
    L"proxyengine",
    L"bEnableSysWideProxy",
    L"bUseOnlinePac",
    L"bGlobalMode",
    L"strOnlinePacUrl",
    L"strUserExtendPacFile",
    L"rememberuser",
    L"autologin",
    L"appenabled",
    L"defaultportindex",
    L"testurl",
    L"local_connection_name",
    L"local_connection_guid",
    L"local_connection_ip",
    L"local_connection_mask",
    L"local_connection_gateway",
    L"local_connection_primary_dns",
    L"local_connection_second_dns",
    L"local_connection_DhcpNameServer",
    L"tap_connection_name",
    L"tap_connection_guid",
    L"tap_connection_index",
    L"local_connection_index",
    L"tap_adapter_configed",
    L"bDontProxyUDP",
    L"local_connection_shortest_r_nexthop",
    L"local_connection_shortest_r_directhop",
    L"local_connection_shortest_r_ifindex",
    L"bRegenerateIVForSSUDP",
    L"last_proxymode_index",
    L"bIsFirstRunApp",
    L"DelayedConnect",
    L"LastUsedNodeId",
};

// The key of every line, each followed by "=", after the section header.
std::string KeysInFile(const std::string& text) {
    std::string keys;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        keys += start == 0 ? line + "\n" : line.substr(0, line.find('=') + 1);
    }
    return keys;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitAppPaths(prog / "cendrow");
        CreateAppFolders();
        *GetSettings() = AppSettings();
    }

    std::filesystem::path File() const { return prog / "config" / "config.ini"; }

    TempDir prog, data;
    testsupport::ScopedEnv xdg{"XDG_DATA_HOME", data.path().c_str()};
};

}  // namespace

TEST_F(SettingsTest, FirstStartGivesDefaultsAndSaveWritesEveryKey) {
    EXPECT_EQ(GetSettingsFilePath(), File());
    LoadSettings();
    const AppSettings& s = *GetSettings();
    EXPECT_TRUE(s.AutomaticHideWindow);
    EXPECT_EQ(s.dns_type, 2);
    EXPECT_TRUE(s.appenabled);
    EXPECT_EQ(s.defaultportindex, -1);
    EXPECT_FALSE(s.bGlobalMode);
    EXPECT_TRUE(s.bIsFirstRunApp);
    EXPECT_EQ(s.DelayedConnect, 10);
    EXPECT_EQ(s.adapter.local_connection_shortest_r_ifindex, -1);
    EXPECT_TRUE(s.adapter.local_dns_unset);
    EXPECT_EQ(s.testurl, kDefaultTestUrl);
    EXPECT_EQ(s.strUserExtendPacFile, (prog / "config" / "userpac.txt").wstring());

    SaveSettings();
    // Every key, in the order of saving.
    std::string expected = "[basic]\n";
    for (const wchar_t* key : kWrittenKeys) expected += std::string(key, key + std::wcslen(key)) + "=";
    EXPECT_EQ(KeysInFile(ReadFile(File())), expected);
    CIni ini(File());
    EXPECT_EQ(ini.IsKeyExist(L"basic", L"username"), 0);
    EXPECT_EQ(ini.IsKeyExist(L"basic", L"password"), 0);
    EXPECT_EQ(ini.GetString(L"basic", L"defaultportindex", nullptr), L"-1");
    EXPECT_EQ(ini.GetString(L"basic", L"AutomaticHideWindow", nullptr), L"1");
}

TEST_F(SettingsTest, EmptySectionTakesTheReadDefaults) {
    WriteFile(File(), "[basic]\n");
    LoadSettings();
    const AppSettings& s = *GetSettings();
    EXPECT_TRUE(s.bGlobalMode);
    EXPECT_EQ(s.defaultportindex, 0);
    EXPECT_EQ(s.adapter.local_connection_shortest_r_ifindex, 0);
    EXPECT_TRUE(s.AutomaticHideWindow);
    EXPECT_EQ(s.DelayedConnect, 10);
    EXPECT_EQ(s.testurl, kDefaultTestUrl);
}

TEST_F(SettingsTest, RoundTrip) {
    AppSettings& s = *GetSettings();
    s.startup = true;
    s.AutomaticallyEstablishConnection = true;
    s.AutomaticHideWindow = false;
    s.dns_type = 5;
    s.liststyle = 1;
    s.proxyengine = 2;
    s.bEnableSysWideProxy = true;
    s.bGlobalMode = true;
    s.bUseOnlinePac = true;
    s.strOnlinePacUrl = L"http://pac.example/p.pac";
    s.rememberuser = true;
    s.autologin = true;
    s.appenabled = false;
    s.defaultportindex = 3;
    s.testurl = L"http://test.example";
    s.last_proxymode_index = 4;
    s.bRegenerateIVForSSUDP = true;
    s.bIsFirstRunApp = false;
    s.DelayedConnect = 30;
    s.LastUsedNodeId = 123;
    AdapterSettings& a = s.adapter;
    a.local_connection_name = L"eth0";
    a.local_connection_guid = L"{guid}";
    a.local_connection_ip = L"192.168.1.5";
    a.local_connection_mask = L"255.255.255.0";
    a.local_connection_gateway = L"192.168.1.1";
    a.local_connection_primary_dns = L"1.1.1.1";
    a.local_connection_shortest_r_directhop = true;
    a.local_connection_shortest_r_nexthop = L"192.168.1.254";
    a.local_connection_shortest_r_ifindex = 7;
    a.local_connection_index = -1;  // stored unsigned
    a.tap_connection_name = L"tun0";
    a.tap_connection_guid = L"{tap}";
    a.tap_connection_index = 9;
    a.tap_adapter_configed = true;
    a.bDontProxyUDP = true;
    SetLoginCredentials(1, L"Zo\u00EB \u4E2D", L"p@ss=word");
    SaveSettings();
    EXPECT_NE(ReadFile(File()).find("local_connection_index=4294967295\n"), std::string::npos);

    const AppSettings saved = s;
    s = AppSettings();
    LoadSettings();
    EXPECT_TRUE(s.startup && s.AutomaticallyEstablishConnection && !s.AutomaticHideWindow);
    EXPECT_EQ(s.dns_type, 5);
    EXPECT_EQ(s.liststyle, 1);
    EXPECT_EQ(s.proxyengine, 2);
    EXPECT_TRUE(s.bEnableSysWideProxy && s.bGlobalMode && s.bUseOnlinePac);
    EXPECT_EQ(s.strOnlinePacUrl, saved.strOnlinePacUrl);
    EXPECT_EQ(s.username, saved.username);
    EXPECT_EQ(s.password, saved.password);
    EXPECT_TRUE(s.rememberuser && s.autologin && !s.appenabled);
    EXPECT_EQ(s.defaultportindex, 3);
    EXPECT_EQ(s.testurl, saved.testurl);
    EXPECT_EQ(s.last_proxymode_index, 4);
    EXPECT_TRUE(s.bRegenerateIVForSSUDP && !s.bIsFirstRunApp);
    EXPECT_EQ(s.DelayedConnect, 30);
    EXPECT_EQ(s.LastUsedNodeId, 123);
    EXPECT_EQ(s.adapter.local_connection_name, a.local_connection_name);
    EXPECT_EQ(s.adapter.local_connection_guid, saved.adapter.local_connection_guid);
    EXPECT_EQ(s.adapter.local_connection_ip, saved.adapter.local_connection_ip);
    EXPECT_EQ(s.adapter.local_connection_mask, saved.adapter.local_connection_mask);
    EXPECT_EQ(s.adapter.local_connection_gateway, saved.adapter.local_connection_gateway);
    EXPECT_EQ(s.adapter.local_connection_primary_dns, L"");  // written only
    EXPECT_TRUE(s.adapter.local_connection_shortest_r_directhop);
    EXPECT_EQ(s.adapter.local_connection_shortest_r_nexthop,
              saved.adapter.local_connection_shortest_r_nexthop);
    EXPECT_EQ(s.adapter.local_connection_shortest_r_ifindex, 7);
    EXPECT_EQ(s.adapter.local_connection_index, -1);
    EXPECT_EQ(s.adapter.tap_connection_name, saved.adapter.tap_connection_name);
    EXPECT_EQ(s.adapter.tap_connection_guid, saved.adapter.tap_connection_guid);
    EXPECT_EQ(s.adapter.tap_connection_index, 9);
    EXPECT_TRUE(s.adapter.tap_adapter_configed && s.adapter.bDontProxyUDP);
}

TEST_F(SettingsTest, CredentialsAreStoredAsBase64AndKeptWhenEmpty) {
    SetLoginCredentials(1, L"alice", L"secret");
    SaveSettings();
    CIni ini(File());
    EXPECT_EQ(ini.GetString(L"basic", L"username", nullptr), L"YWxpY2U=");
    EXPECT_EQ(ini.GetString(L"basic", L"password", nullptr), L"c2VjcmV0");

    SetLoginCredentials(0, L"", L"");
    SaveSettings();
    EXPECT_EQ(ini.GetString(L"basic", L"username", nullptr), L"YWxpY2U=");
    EXPECT_EQ(ini.GetString(L"basic", L"rememberuser", nullptr), L"0");

    // An empty stored value leaves the record alone; text that is not Base64
    // decodes up to its first character outside the alphabet.
    ini.WriteString(L"basic", L"username", L"");
    ini.WriteString(L"basic", L"password", L"YWJj!ZGVm");
    SetLoginCredentials(1, L"kept", L"x");
    LoadSettings();
    EXPECT_EQ(GetSettings()->username, L"kept");
    EXPECT_EQ(GetSettings()->password, L"abc");
}

TEST_F(SettingsTest, EmptyTestUrlAndPacPathAreFilledAtLoad) {
    WriteFile(File(), "[basic]\ntesturl=\nstrUserExtendPacFile=/old/place/userpac.txt\n");
    LoadSettings();
    EXPECT_EQ(GetSettings()->testurl, kDefaultTestUrl);
    EXPECT_EQ(GetSettings()->strUserExtendPacFile, (prog / "config" / "userpac.txt").wstring());

    // Moved program folder: the PAC path follows it.
    TempDir moved;
    std::filesystem::create_directory(moved / "config");
    std::filesystem::copy_file(File(), moved / "config" / "config.ini");
    InitAppPaths(moved / "cendrow");
    LoadSettings();
    EXPECT_EQ(GetSettings()->strUserExtendPacFile, (moved / "config" / "userpac.txt").wstring());
}

TEST_F(SettingsTest, ProgramFolderWithNonAsciiName) {
    // Home folders such as /home/zoë are common; the program must start there.
    std::filesystem::path folder = prog / "Zo\xC3\xAB \xE4\xB8\xAD";
    std::filesystem::create_directory(folder);
    InitAppPaths(folder / "cendrow");
    CreateAppFolders();
    LoadSettings();
    EXPECT_EQ(GetSettings()->strUserExtendPacFile,
              PathToWide(prog.path()) + L"/Zo\u00EB \u4E2D/config/userpac.txt");
    SaveSettings();
    std::string stored = "strUserExtendPacFile=" + folder.string() + "/config/userpac.txt\n";
    EXPECT_NE(ReadFile(folder / "config" / "config.ini").find(stored), std::string::npos);
}

TEST_F(SettingsTest, MissingSectionResetsValuesButKeepsStrings) {
    AppSettings& s = *GetSettings();
    s.dns_type = 9;
    s.bGlobalMode = true;
    s.strOnlinePacUrl = L"kept";
    s.testurl = L"http://changed";
    s.adapter.tap_adapter_configed = true;
    WriteFile(File(), "[other]\ndns_type=4\n");
    LoadSettings();
    EXPECT_EQ(s.dns_type, 2);
    EXPECT_FALSE(s.bGlobalMode);
    EXPECT_EQ(s.strOnlinePacUrl, L"kept");
    EXPECT_EQ(s.testurl, kDefaultTestUrl);
    EXPECT_TRUE(s.adapter.tap_adapter_configed);
}

TEST_F(SettingsTest, SaveKeepsForeignKeysAndOtherSections) {
    WriteFile(File(), "[basic]\ncustom=1\ndns_type=7\n[extra]\nk=v\n");
    LoadSettings();
    EXPECT_EQ(GetSettings()->dns_type, 7);
    GetSettings()->dns_type = 3;
    SaveSettings();
    CIni ini(File());
    EXPECT_EQ(ini.GetString(L"basic", L"custom", nullptr), L"1");
    EXPECT_EQ(ini.GetString(L"extra", L"k", nullptr), L"v");
    EXPECT_EQ(ini.GetInt(L"basic", L"dns_type", 0), 3);
}

TEST_F(SettingsTest, ASaveRewritesTheFileOnceAndAFailedOneKeepsIt) {
    WriteFile(File(), "[basic]\ndns_type=7\n");
    // Each rewrite of the file moves a new one into its place. The moves out
    // of the temporary names are watched too: inotify folds an event into an
    // unread one just like it, and these keep the moves apart.
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, File().parent_path().c_str(), IN_MOVED_FROM | IN_MOVED_TO), 0);
    LoadSettings();
    EXPECT_EQ(SaveSettings(), 1);
    int rewrites = 0;
    alignas(inotify_event) char events[4096];
    for (ssize_t n; (n = read(watch, events, sizeof events)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(events + at);
            if ((e->mask & IN_MOVED_TO) && e->len && std::string(e->name) == "config.ini") ++rewrites;
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    close(watch);
    EXPECT_EQ(rewrites, 1);

    // A disk that fills up keeps the file as it was.
    const std::string saved = ReadFile(File());
    GetSettings()->testurl = std::wstring(8192, L'u');
    int result;
    {
        testsupport::FileSizeLimit full(saved.size() + 64);
        ASSERT_TRUE(full.active());
        result = SaveSettings();
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile(File()), saved);
}
