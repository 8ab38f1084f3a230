#include "foundation/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

// Every stored key once, in the order the file is written. `def` is the
// value a file that has the section but lacks the key gives.
template <class Visitor>
void VisitStoredKeys(AppSettings& s, Visitor& v) {
    AdapterSettings& a = s.adapter;
    v.Bool(L"startup", s.startup, 0);
    v.Bool(L"AutomaticallyEstablishConnection", s.AutomaticallyEstablishConnection, 0);
    v.Bool(L"AutomaticHideWindow", s.AutomaticHideWindow, 1);
    v.Int(L"dns_type", s.dns_type, 2);
    v.Int(L"liststyle", s.liststyle, 0);
    v.Int(L"proxyengine", s.proxyengine, 0);
    v.Bool(L"bEnableSysWideProxy", s.bEnableSysWideProxy, 0);
    v.Bool(L"bUseOnlinePac", s.bUseOnlinePac, 0);
    v.Bool(L"bGlobalMode", s.bGlobalMode, 1);
    v.String(L"strOnlinePacUrl", s.strOnlinePacUrl);
    v.WrittenOnly(L"strUserExtendPacFile", s.strUserExtendPacFile);
    v.Credential(L"username", s.username);
    v.Credential(L"password", s.password);
    v.Bool(L"rememberuser", s.rememberuser, 0);
    v.Bool(L"autologin", s.autologin, 0);
    v.Bool(L"appenabled", s.appenabled, 1);
    v.Int(L"defaultportindex", s.defaultportindex, 0);
    v.TestUrl(L"testurl", s.testurl);
    v.String(L"local_connection_name", a.local_connection_name);
    v.String(L"local_connection_guid", a.local_connection_guid);
    v.String(L"local_connection_ip", a.local_connection_ip);
    v.String(L"local_connection_mask", a.local_connection_mask);
    v.String(L"local_connection_gateway", a.local_connection_gateway);
    v.WrittenOnly(L"local_connection_primary_dns", a.local_connection_primary_dns);
    v.WrittenOnly(L"local_connection_second_dns", a.local_connection_second_dns);
    v.WrittenOnly(L"local_connection_DhcpNameServer", a.local_connection_DhcpNameServer);
    v.String(L"tap_connection_name", a.tap_connection_name);
    v.String(L"tap_connection_guid", a.tap_connection_guid);
    v.UInt(L"tap_connection_index", a.tap_connection_index, 0);
    v.UInt(L"local_connection_index", a.local_connection_index, 0);
    v.Bool(L"tap_adapter_configed", a.tap_adapter_configed, 0);
    v.Bool(L"bDontProxyUDP", a.bDontProxyUDP, 0);
    v.String(L"local_connection_shortest_r_nexthop", a.local_connection_shortest_r_nexthop);
    v.Bool(L"local_connection_shortest_r_directhop", a.local_connection_shortest_r_directhop, 0);
    v.Int(L"local_connection_shortest_r_ifindex", a.local_connection_shortest_r_ifindex, 0);
    v.Bool(L"bRegenerateIVForSSUDP", s.bRegenerateIVForSSUDP, 0);
    v.Int(L"last_proxymode_index", s.last_proxymode_index, 0);
    v.Bool(L"bIsFirstRunApp", s.bIsFirstRunApp, 1);
    v.Int(L"DelayedConnect", s.DelayedConnect, 10);
    v.Int(L"LastUsedNodeId", s.LastUsedNodeId, 0);
}

struct Loader {
    const CIni& ini;
    void Bool(const wchar_t* key, bool& value, int def) { value = ini.GetBool(kSection, key, def) != 0; }
    void Int(const wchar_t* key, int& value, int def) { value = ini.GetInt(kSection, key, def, 10); }
    void UInt(const wchar_t* key, int& value, int def) { Int(key, value, def); }
    void String(const wchar_t* key, std::wstring& value) { value = ini.GetString(kSection, key, L""); }
    void WrittenOnly(const wchar_t*, std::wstring&) {}
    // An empty stored value leaves the record as it is.
    void Credential(const wchar_t* key, std::wstring& value) {
        std::wstring stored = ini.GetString(kSection, key, L"");
        if (!stored.empty()) value = DecodeCredential(stored);
    }
    void TestUrl(const wchar_t* key, std::wstring& value) {
        value = ini.GetString(kSection, key, kDefaultTestUrl);
        if (value.empty()) value = kDefaultTestUrl;
    }
};

// Collects every key's text; SaveSettings stores them in one rewrite.
struct Saver {
    std::vector<std::pair<std::wstring, std::wstring>> values;
    void Put(const wchar_t* key, std::wstring text) { values.emplace_back(key, std::move(text)); }
    void Bool(const wchar_t* key, bool& value, int) { Put(key, value ? L"1" : L"0"); }
    void Int(const wchar_t* key, int& value, int) { Put(key, std::to_wstring(value)); }
    void UInt(const wchar_t* key, int& value, int) { Put(key, IntToTextBase(static_cast<unsigned int>(value), 10)); }
    void String(const wchar_t* key, std::wstring& value) { Put(key, value); }
    void WrittenOnly(const wchar_t* key, std::wstring& value) { String(key, value); }
    // An empty value leaves the stored one as it is.
    void Credential(const wchar_t* key, std::wstring& value) {
        if (!value.empty()) Put(key, EncodeCredential(value));
    }
    void TestUrl(const wchar_t* key, std::wstring& value) { String(key, value); }
};

}  // namespace

void LoadSettings() {
    g_settings.strUserExtendPacFile = PathToWide(GetAppDir() / "config" / "userpac.txt");
    CIni ini(GetSettingsFilePath());
    if (!ini.IsSectionExist(kSection)) {
        g_settings.SetDefaults();
        return;
    }
    Loader loader{ini};
    VisitStoredKeys(g_settings, loader);
}

namespace {

// The file may hold the account's credentials: only its owner reads it. A
// missing file is created 0600 before the first key goes in (each write
// keeps the file's mode), an existing one loses every other permission.
void RestrictSettingsFile(const std::filesystem::path& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077)) fchmod(fd, st.st_mode & 0700);
    close(fd);
}

}  // namespace

int SaveSettings() {
    RestrictSettingsFile(GetSettingsFilePath());
    Saver saver;
    VisitStoredKeys(g_settings, saver);
    return CIni(GetSettingsFilePath()).WriteStrings(kSection, saver.values);
}

void ForgetLoginCredentials() {
    g_settings.username.clear();
    g_settings.password.clear();
    CIni ini(GetSettingsFilePath());
    ini.DeleteKey(kSection, L"username");
    ini.DeleteKey(kSection, L"password");
}

void SetLoginCredentials(int remember, const std::wstring& username, const std::wstring& password) {
    g_settings.rememberuser = remember != 0;
    g_settings.username = username;
    g_settings.password = password;
}
