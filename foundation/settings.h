#pragma once
// The one global settings record and its file, config/config.ini in the
// program folder, section "basic". Members are named after their keys.

#include <filesystem>
#include <string>

// An HTTP URL of a large public web site, without a path.
inline constexpr const wchar_t* kDefaultTestUrl = L"http://www.google.com";

struct AdapterSettings {
    // Not stored: set by adapter discovery, 1 when both local DNS texts are empty.
    bool local_dns_unset = true;
    std::wstring local_connection_name;
    std::wstring local_connection_guid;
    std::wstring local_connection_ip;
    std::wstring local_connection_mask;
    std::wstring local_connection_gateway;
    // Written only.
    std::wstring local_connection_primary_dns;
    std::wstring local_connection_second_dns;
    std::wstring local_connection_DhcpNameServer;
    bool local_connection_shortest_r_directhop = false;
    std::wstring local_connection_shortest_r_nexthop;
    int local_connection_shortest_r_ifindex = -1;
    int local_connection_index = 0;  // written unsigned
    // Not stored: filled by adapter discovery.
    std::wstring tap_address;
    std::wstring tunnel_gateway;
    std::wstring tap_connection_name;
    std::wstring tap_connection_guid;
    int tap_connection_index = 0;  // written unsigned
    bool tap_adapter_configed = false;
    bool bDontProxyUDP = false;
};

struct AppSettings {
    AppSettings();
    // The first-start values. Strings other than the test URL and the
    // adapter-configured flag keep what they hold.
    void SetDefaults();

    bool startup;
    bool AutomaticallyEstablishConnection;
    bool AutomaticHideWindow;
    int dns_type;
    int liststyle;
    int proxyengine;
    bool bEnableSysWideProxy;
    bool bGlobalMode;
    bool bUseOnlinePac;
    std::wstring strOnlinePacUrl;
    std::wstring strUserExtendPacFile;  // written only; set by LoadSettings
    std::wstring username;              // stored as Base64 of the UTF-8 text
    std::wstring password;              // stored as Base64 of the UTF-8 text
    bool rememberuser;
    bool autologin;
    bool appenabled;
    int defaultportindex;
    std::wstring testurl;
    int last_proxymode_index;
    bool bRegenerateIVForSSUDP;
    bool bIsFirstRunApp;
    int DelayedConnect;  // seconds
    int LastUsedNodeId;
    AdapterSettings adapter;
};

// The one record.
AppSettings* GetSettings();

// The settings file: <program folder>/config/config.ini.
std::filesystem::path GetSettingsFilePath();

// Reads the settings file into the record: the first-start values when the
// file or its section is missing, else each key's read default where a key is missing.
void LoadSettings();
// Writes every key of the record over the existing file, in one rewrite of
// it, which only its owner may read (a new file is made 0600, an existing one
// tightened). An empty user name or password leaves the stored one as it is.
// 1 when the keys were written, 0 when the file could not be (it is then
// left as it was).
int SaveSettings();
// What the login dialog stores before saving.
void SetLoginCredentials(int remember, const std::wstring& username, const std::wstring& password);
// Empties the record's user name and password and removes both keys from
// the settings file.
void ForgetLoginCredentials();
