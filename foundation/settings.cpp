#include "foundation/settings.h"

#include "foundation/app_paths.h"
#include "foundation/base64.h"
#include "foundation/ini.h"
#include "foundation/text_convert.h"

namespace {

AppSettings g_settings;

constexpr const wchar_t* kSection = L"basic";

// Credentials are kept as Base64 of their text: hidden from a glance, not enciphered.
std::wstring EncodeCredential(const std::wstring& text) {
    std::string bytes = WideToAnsiString(text);
    return Utf8ToWideString(Base64Encode(bytes.data(), bytes.size()));
}

std::wstring DecodeCredential(const std::wstring& stored) {
    return Utf8ToWideString(Base64Decode(WideToAnsiString(stored)));
}

}  // namespace

AppSettings::AppSettings() {
    adapter.tap_adapter_configed = false;
    SetDefaults();
}

void AppSettings::SetDefaults() {
    startup = false;
    AutomaticallyEstablishConnection = false;
    AutomaticHideWindow = true;
    dns_type = 2;
    liststyle = 0;
    proxyengine = 0;
    bEnableSysWideProxy = false;
    bGlobalMode = false;
    bUseOnlinePac = false;
    rememberuser = false;
    autologin = false;
    appenabled = true;
    defaultportindex = -1;
    testurl = kDefaultTestUrl;
    last_proxymode_index = 0;
    bRegenerateIVForSSUDP = false;
    bIsFirstRunApp = true;
    DelayedConnect = 10;
    LastUsedNodeId = 0;

    adapter.local_dns_unset = true;
    adapter.local_connection_shortest_r_directhop = false;
    adapter.local_connection_shortest_r_ifindex = -1;
    adapter.local_connection_index = 0;
    adapter.tap_connection_index = 0;
    adapter.bDontProxyUDP = false;
}

AppSettings* GetSettings() {
    return &g_settings;
}

std::filesystem::path GetSettingsFilePath() {
    return GetAppDir() / "config" / "config.ini";
}

void LoadSettings() {
    AppSettings& s = g_settings;
    AdapterSettings& a = s.adapter;
    s.strUserExtendPacFile = (GetAppDir() / "config" / "userpac.txt").wstring();

    CIni ini(GetSettingsFilePath());
    if (!ini.IsSectionExist(kSection)) {
        s.SetDefaults();
        return;
    }
    auto readBool = [&](const wchar_t* key, int def) { return ini.GetBool(kSection, key, def) != 0; };
    auto readInt = [&](const wchar_t* key, int def) { return ini.GetInt(kSection, key, def, 10); };
    auto readString = [&](const wchar_t* key) { return ini.GetString(kSection, key, L""); };

    s.startup = readBool(L"startup", 0);
    s.AutomaticallyEstablishConnection = readBool(L"AutomaticallyEstablishConnection", 0);
    s.AutomaticHideWindow = readBool(L"AutomaticHideWindow", 1);
    s.dns_type = readInt(L"dns_type", 2);
    s.liststyle = readInt(L"liststyle", 0);
    s.autologin = readBool(L"autologin", 0);
    s.proxyengine = readInt(L"proxyengine", 0);
    s.bEnableSysWideProxy = readBool(L"bEnableSysWideProxy", 0);
    s.bUseOnlinePac = readBool(L"bUseOnlinePac", 0);
    s.bGlobalMode = readBool(L"bGlobalMode", 1);
    s.strOnlinePacUrl = readString(L"strOnlinePacUrl");
    std::wstring stored = readString(L"username");
    if (!stored.empty()) s.username = DecodeCredential(stored);
    stored = readString(L"password");
    if (!stored.empty()) s.password = DecodeCredential(stored);
    s.rememberuser = readBool(L"rememberuser", 0);
    s.appenabled = readBool(L"appenabled", 1);
    s.defaultportindex = readInt(L"defaultportindex", 0);
    s.testurl = ini.GetString(kSection, L"testurl", kDefaultTestUrl);
    if (s.testurl.empty()) s.testurl = kDefaultTestUrl;
    a.local_connection_name = readString(L"local_connection_name");
    a.local_connection_guid = readString(L"local_connection_guid");
    a.local_connection_ip = readString(L"local_connection_ip");
    a.local_connection_mask = readString(L"local_connection_mask");
    a.local_connection_gateway = readString(L"local_connection_gateway");
    a.tap_connection_name = readString(L"tap_connection_name");
    a.tap_connection_guid = readString(L"tap_connection_guid");
    a.tap_connection_index = readInt(L"tap_connection_index", 0);
    a.local_connection_index = readInt(L"local_connection_index", 0);
    a.tap_adapter_configed = readBool(L"tap_adapter_configed", 0);
    a.bDontProxyUDP = readBool(L"bDontProxyUDP", 0);
    a.local_connection_shortest_r_nexthop = readString(L"local_connection_shortest_r_nexthop");
    a.local_connection_shortest_r_directhop = readBool(L"local_connection_shortest_r_directhop", 0);
    a.local_connection_shortest_r_ifindex = readInt(L"local_connection_shortest_r_ifindex", 0);
    s.bRegenerateIVForSSUDP = readBool(L"bRegenerateIVForSSUDP", 0);
    s.last_proxymode_index = readInt(L"last_proxymode_index", 0);
    s.bIsFirstRunApp = readBool(L"bIsFirstRunApp", 1);
    s.DelayedConnect = readInt(L"DelayedConnect", 10);
    s.LastUsedNodeId = readInt(L"LastUsedNodeId", 0);
}

void SaveSettings() {
    const AppSettings& s = g_settings;
    const AdapterSettings& a = s.adapter;
    CIni ini(GetSettingsFilePath());
    // Failures are ignored: the next save writes every key again.
    auto writeBool = [&](const wchar_t* key, bool value) { ini.WriteBool(kSection, key, value ? 1 : 0); };
    auto writeInt = [&](const wchar_t* key, int value) { ini.WriteInt(kSection, key, value, 10); };
    auto writeUInt = [&](const wchar_t* key, int value) {
        ini.WriteUInt(kSection, key, static_cast<unsigned int>(value), 10);
    };
    auto writeString = [&](const wchar_t* key, const std::wstring& value) {
        ini.WriteString(kSection, key, value.c_str());
    };

    writeBool(L"startup", s.startup);
    writeBool(L"AutomaticallyEstablishConnection", s.AutomaticallyEstablishConnection);
    writeBool(L"AutomaticHideWindow", s.AutomaticHideWindow);
    writeInt(L"dns_type", s.dns_type);
    writeInt(L"liststyle", s.liststyle);
    writeInt(L"proxyengine", s.proxyengine);
    writeBool(L"bEnableSysWideProxy", s.bEnableSysWideProxy);
    writeBool(L"bUseOnlinePac", s.bUseOnlinePac);
    writeBool(L"bGlobalMode", s.bGlobalMode);
    writeString(L"strOnlinePacUrl", s.strOnlinePacUrl);
    writeString(L"strUserExtendPacFile", s.strUserExtendPacFile);
    if (!s.username.empty()) writeString(L"username", EncodeCredential(s.username));
    if (!s.password.empty()) writeString(L"password", EncodeCredential(s.password));
    writeBool(L"rememberuser", s.rememberuser);
    writeBool(L"autologin", s.autologin);
    writeBool(L"appenabled", s.appenabled);
    writeInt(L"defaultportindex", s.defaultportindex);
    writeString(L"testurl", s.testurl);
    writeString(L"local_connection_name", a.local_connection_name);
    writeString(L"local_connection_guid", a.local_connection_guid);
    writeString(L"local_connection_ip", a.local_connection_ip);
    writeString(L"local_connection_mask", a.local_connection_mask);
    writeString(L"local_connection_gateway", a.local_connection_gateway);
    writeString(L"local_connection_primary_dns", a.local_connection_primary_dns);
    writeString(L"local_connection_second_dns", a.local_connection_second_dns);
    writeString(L"local_connection_DhcpNameServer", a.local_connection_DhcpNameServer);
    writeString(L"tap_connection_name", a.tap_connection_name);
    writeString(L"tap_connection_guid", a.tap_connection_guid);
    writeUInt(L"tap_connection_index", a.tap_connection_index);
    writeUInt(L"local_connection_index", a.local_connection_index);
    writeBool(L"tap_adapter_configed", a.tap_adapter_configed);
    writeBool(L"bDontProxyUDP", a.bDontProxyUDP);
    writeString(L"local_connection_shortest_r_nexthop", a.local_connection_shortest_r_nexthop);
    writeBool(L"local_connection_shortest_r_directhop", a.local_connection_shortest_r_directhop);
    writeInt(L"local_connection_shortest_r_ifindex", a.local_connection_shortest_r_ifindex);
    writeBool(L"bRegenerateIVForSSUDP", s.bRegenerateIVForSSUDP);
    writeInt(L"last_proxymode_index", s.last_proxymode_index);
    writeBool(L"bIsFirstRunApp", s.bIsFirstRunApp);
    writeInt(L"DelayedConnect", s.DelayedConnect);
    writeInt(L"LastUsedNodeId", s.LastUsedNodeId);
}

void SetLoginCredentials(int remember, const std::wstring& username, const std::wstring& password) {
    g_settings.rememberuser = remember != 0;
    g_settings.username = username;
    g_settings.password = password;
}
