#pragma once
// The user's DNS choices: the current preset and whether its servers go
// through the tunnel, and for smart DNS the remote and the domestic preset
// (each with its own proxify flag) and the forward-zone template the local
// resolver uses. Kept in config/dns.ini of the program folder, section "basic".
//
// No lock: the user interface and the main window's worker use it one at a time.

#include <string>

#include "foundation/singleton.h"
#include "netconfig/dns_presets.h"

class CDNSManager : public CSingleton<CDNSManager> {
public:
    // The program folder; dns.ini lies in its config folder. Null is ignored.
    void SetWorkDirectory(const wchar_t* folder);
    const std::wstring& GetWorkDirectory() const { return work_folder_; }

    // 0 when no folder is set or dns.ini does not exist; else reads it and returns 1.
    int Load();
    // Rewrites every key in place; 0 when no folder is set or a write failed.
    int Save() const;

    // The named rows (39; the closing empty row is not counted).
    int GetPresetCount() const;
    DnsPreset* GetPresetTable() const;
    DnsPreset* FindPreset(int id) const;
    int IsPresetId(int id) const;
    // The first row in table order whose id is greater than `id`, or null.
    DnsPreset* FindPresetAfter(int id) const;
    DnsPreset* GetOwnDnsPreset() const;

    // Ignored unless a row has the id; for the own-servers row the two texts
    // become its servers.
    void SetCurrentDNS(int id, const std::wstring& ownPrimary, const std::wstring& ownSecondary);
    DnsPreset* GetCurrentPreset() const;
    int GetCurrentDnsId() const { return current_id_; }
    const std::wstring& GetDnsName() const { return dns_name_; }
    // An id that names no row becomes the first one after 0, the own servers.
    void ValidateCurrentDNS();
    int IsSmartDNSSelected() const;

    // The remote and the domestic smart-DNS rows; an id that names no row is
    // first reset to Google DNS (3) or Tencent DNSPod (38).
    DnsPreset* GetDefaultSmartPreset();
    DnsPreset* GetNativeSmartPreset();
    int GetDefaultSmartDnsId() const { return remote_id_; }
    int GetNativeSmartDnsId() const { return domestic_id_; }
    // Taken, with the row's English name, only when the row exists.
    void SetDefaultSmartDNS(int id);
    void SetNativeSmartDNS(int id);

    const std::wstring& GetForwardZoneTemplate() const { return zone_template_; }
    void SetForwardZoneTemplate(const std::wstring& fileName) { zone_template_ = fileName; }

    int GetProxifyCurrentDNS() const { return proxify_current_; }
    void SetProxifyCurrentDNS(int flag) { proxify_current_ = flag ? 1 : 0; }
    int GetProxifyDefaultSmartDNS() const { return proxify_remote_; }
    void SetProxifyDefaultSmartDNS(int flag) { proxify_remote_ = flag ? 1 : 0; }
    int GetProxifyNativeSmartDNS() const { return proxify_domestic_; }
    void SetProxifyNativeSmartDNS(int flag) { proxify_domestic_ = flag ? 1 : 0; }

private:
    friend class CSingleton<CDNSManager>;
    CDNSManager() = default;
    ~CDNSManager() override = default;

    std::wstring work_folder_;
    int current_id_ = kSmartDnsPresetId;
    std::wstring dns_name_ = L"Smart DNS";
    int proxify_current_ = 1;
    int remote_id_ = 3;
    std::wstring remote_name_ = L"Google DNS";
    int proxify_remote_ = 1;
    int domestic_id_ = 38;
    std::wstring domestic_name_ = L"Tencent DNSPod(China)";
    int proxify_domestic_ = 0;
    std::wstring zone_template_ = L"template.china-list.conf";
};
