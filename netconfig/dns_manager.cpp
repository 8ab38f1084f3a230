#include "netconfig/dns_manager.h"

#include <filesystem>

#include "foundation/ini.h"
#include "foundation/text_convert.h"

namespace {

constexpr const wchar_t* kSection = L"basic";
constexpr const wchar_t* kFileName = L"dns.ini";

constexpr int kRemoteFallbackId = 3;
constexpr int kDomesticFallbackId = 38;

bool IsEndRow(const DnsPreset& row) {
    return row.english_name.empty();
}

}  // namespace

void CDNSManager::SetWorkDirectory(const wchar_t* folder) {
    if (folder) work_folder_ = folder;
}

int CDNSManager::Load() {
    if (work_folder_.empty()) return 0;
    CIniNembril ini(WideToPath(work_folder_), kFileName);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(ini.GetPathName(), ec)) return 0;

    if (ini.IsKeyExist(kSection, L"CurrentDNS"))
        current_id_ = ini.GetInt(kSection, L"CurrentDNS", current_id_);
    proxify_current_ = ini.GetBool(kSection, L"ProxifyCurrentDNS", 1) ? 1 : 0;
    if (ini.IsKeyExist(kSection, L"DNSName")) dns_name_ = ini.GetString(kSection, L"DNSName", L"");

    // Both own servers are taken together, so a file holding only the
    // primary clears the secondary.
    std::wstring ownPrimary = ini.GetString(kSection, L"OwnPrimary", L"");
    std::wstring ownSecondary = ini.GetString(kSection, L"OwnSecondary", L"");
    DnsPreset* own = GetOwnDnsPreset();
    own->primary = ownPrimary;
    own->secondary = ownSecondary;

    if (ini.IsKeyExist(kSection, L"DefaultDNSForSmart"))
        remote_id_ = ini.GetInt(kSection, L"DefaultDNSForSmart", remote_id_);
    if (ini.IsKeyExist(kSection, L"DefaultDNSNameForSmart"))
        remote_name_ = ini.GetString(kSection, L"DefaultDNSNameForSmart", L"");
    proxify_remote_ = ini.GetBool(kSection, L"ProxifyDefaultSmartDNS", 1) ? 1 : 0;
    if (ini.IsKeyExist(kSection, L"NativeDNSForSmart"))
        domestic_id_ = ini.GetInt(kSection, L"NativeDNSForSmart", domestic_id_);
    if (ini.IsKeyExist(kSection, L"NativeDNSNameForSmart"))
        domestic_name_ = ini.GetString(kSection, L"NativeDNSNameForSmart", L"");
    proxify_domestic_ = ini.GetBool(kSection, L"ProxifyNativeSmartDNS", 1) ? 1 : 0;
    if (ini.IsKeyExist(kSection, L"CurrentForwardZoneTemplateFile"))
        zone_template_ = ini.GetString(kSection, L"CurrentForwardZoneTemplateFile", L"");
    return 1;
}

int CDNSManager::Save() const {
    if (work_folder_.empty()) return 0;
    CIniNembril ini(WideToPath(work_folder_), kFileName);
    std::error_code ec;
    std::filesystem::create_directories(ini.GetPathName().parent_path(), ec);
    const DnsPreset* own = GetOwnDnsPreset();
    int ok = 1;
    ok &= ini.WriteInt(kSection, L"CurrentDNS", current_id_);
    ok &= ini.WriteBool(kSection, L"ProxifyCurrentDNS", proxify_current_);
    ok &= ini.WriteString(kSection, L"DNSName", dns_name_.c_str());
    ok &= ini.WriteString(kSection, L"OwnPrimary", own->primary.c_str());
    ok &= ini.WriteString(kSection, L"OwnSecondary", own->secondary.c_str());
    ok &= ini.WriteInt(kSection, L"DefaultDNSForSmart", remote_id_);
    ok &= ini.WriteString(kSection, L"DefaultDNSNameForSmart", remote_name_.c_str());
    ok &= ini.WriteBool(kSection, L"ProxifyDefaultSmartDNS", proxify_remote_);
    ok &= ini.WriteInt(kSection, L"NativeDNSForSmart", domestic_id_);
    ok &= ini.WriteString(kSection, L"NativeDNSNameForSmart", domestic_name_.c_str());
    ok &= ini.WriteBool(kSection, L"ProxifyNativeSmartDNS", proxify_domestic_);
    ok &= ini.WriteString(kSection, L"CurrentForwardZoneTemplateFile", zone_template_.c_str());
    return ok;
}

int CDNSManager::GetPresetCount() const {
    return kDnsPresetRows - 1;
}

DnsPreset* CDNSManager::GetPresetTable() const {
    return GetDnsPresetTable();
}

DnsPreset* CDNSManager::FindPreset(int id) const {
    for (DnsPreset* row = GetDnsPresetTable(); !IsEndRow(*row); ++row) {
        if (row->id == id) return row;
    }
    return nullptr;
}

int CDNSManager::IsPresetId(int id) const {
    return FindPreset(id) ? 1 : 0;
}

DnsPreset* CDNSManager::FindPresetAfter(int id) const {
    for (DnsPreset* row = GetDnsPresetTable(); !IsEndRow(*row); ++row) {
        if (row->id > id) return row;
    }
    return nullptr;
}

DnsPreset* CDNSManager::GetOwnDnsPreset() const {
    return &GetDnsPresetTable()[kOwnDnsPresetId];
}

void CDNSManager::SetCurrentDNS(int id, const std::wstring& ownPrimary, const std::wstring& ownSecondary) {
    DnsPreset* row = FindPreset(id);
    if (!row) return;
    current_id_ = id;
    if (row->IsOwnDNS()) {
        row->primary = ownPrimary;
        row->secondary = ownSecondary;
    }
}

DnsPreset* CDNSManager::GetCurrentPreset() const {
    return FindPreset(current_id_);
}

void CDNSManager::ValidateCurrentDNS() {
    if (FindPreset(current_id_)) return;
    if (DnsPreset* next = FindPresetAfter(kSmartDnsPresetId)) current_id_ = next->id;
}

int CDNSManager::IsSmartDNSSelected() const {
    const DnsPreset* row = GetCurrentPreset();
    return row && row->IsSmartDNS() ? 1 : 0;
}

DnsPreset* CDNSManager::GetDefaultSmartPreset() {
    if (!FindPreset(remote_id_)) remote_id_ = kRemoteFallbackId;
    return FindPreset(remote_id_);
}

DnsPreset* CDNSManager::GetNativeSmartPreset() {
    if (!FindPreset(domestic_id_)) domestic_id_ = kDomesticFallbackId;
    return FindPreset(domestic_id_);
}

void CDNSManager::SetDefaultSmartDNS(int id) {
    if (const DnsPreset* row = FindPreset(id)) {
        remote_id_ = id;
        remote_name_ = row->english_name;
    }
}

void CDNSManager::SetNativeSmartDNS(int id) {
    if (const DnsPreset* row = FindPreset(id)) {
        domestic_id_ = id;
        domestic_name_ = row->english_name;
    }
}
