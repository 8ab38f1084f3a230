#include "dialogs/base/settings_form.h"

#include <arpa/inet.h>

#include <algorithm>
#include <string_view>

#include "foundation/app_paths.h"
#include "foundation/ascii_case.h"
#include "foundation/message_box.h"
#include "foundation/registry.h"
#include "foundation/settings.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "foundation/translate.h"
#include "netconfig/dns_manager.h"
#include "netconfig/unbound_controller.h"

namespace {

// The name of the automatic-start entry.
constexpr const wchar_t* kAutoStartName = L"Cendrow";

// 1 to 300 written as plain decimal digits (blanks around allowed), else -1.
int ParseDelay(std::wstring_view text) {
    while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.remove_suffix(1);
    if (text.empty() || text.size() > 3) return -1;
    int value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return -1;
        value = value * 10 + (c - L'0');
    }
    return value >= 1 && value <= 300 ? value : -1;
}

bool OctetsInRange(const OctetFields& o) {
    return std::all_of(o.begin(), o.end(), [](int v) { return v >= 0 && v <= 255; });
}

// A server address the machine's resolver can be given: no octet over 255
// and the first octet neither 0 (this network) nor 224 and above (multicast
// and reserved).
bool IsSpecificServer(const OctetFields& o) { return OctetsInRange(o) && o[0] != 0 && o[0] < 224; }

std::wstring DottedText(const OctetFields& o) {
    return std::to_wstring(o[0]) + L"." + std::to_wstring(o[1]) + L"." + std::to_wstring(o[2]) + L"." +
           std::to_wstring(o[3]);
}

int Box(const char* message) {
    AppMessageBox(message, MB_OK);
    return 0;
}

}  // namespace

uint32_t AddressOfText(const std::wstring& text) {
    in_addr a{};
    if (text.empty() || inet_pton(AF_INET, WideToUtf8String(text).c_str(), &a) != 1) return 0;
    return ntohl(a.s_addr);
}

OctetFields OctetsOfAddress(uint32_t h) {
    return {static_cast<int>(h >> 24), static_cast<int>((h >> 16) & 255), static_cast<int>((h >> 8) & 255),
            static_cast<int>(h & 255)};
}

std::wstring PresetDisplayName(const DnsPreset& row) {
    return IsChineseUiLocale() ? row.chinese_name : row.english_name;
}

std::wstring PresetHintText(const DnsPreset& row) {
    if (row.IsOwnDNS()) return {};
    if (row.proxify_hint == 1) return Utf8ToWideString(Translate("Recommend to proxify DNS"));
    if (row.proxify_hint == 2) return Utf8ToWideString(Translate("Don't Recommend to proxify DNS"));
    return {};
}

std::vector<const DnsPreset*> CDialogSettingsCore::PresetRows(bool smartDnsEnabled) {
    std::vector<const DnsPreset*> rows;
    const DnsPreset* table = CDNSManager::GetInstance()->GetPresetTable();
    for (int i = 0; table && i < kDnsPresetRows && !table[i].english_name.empty(); ++i) {
        if (table[i].IsSmartDNS() && !smartDnsEnabled) continue;
        rows.push_back(&table[i]);
    }
    return rows;
}

int CDialogSettingsCore::CurrentRow(const std::vector<const DnsPreset*>& rows) {
    const DnsPreset* current = CDNSManager::GetInstance()->GetCurrentPreset();
    const auto it = std::find_if(rows.begin(), rows.end(),
                                 [current](const DnsPreset* r) { return current && r->id == current->id; });
    return it == rows.end() ? 0 : static_cast<int>(it - rows.begin());
}

SettingsForm CDialogSettingsCore::Load() {
    const AppSettings& s = *GetSettings();
    CDNSManager* dns = CDNSManager::GetInstance();
    SettingsForm form;
    form.dontProxyUdp = s.adapter.bDontProxyUDP;
    form.proxifyDns = dns->GetProxifyCurrentDNS() != 0;
    form.startup = s.startup;
    form.autoConnect = s.AutomaticallyEstablishConnection;
    form.autoHide = s.AutomaticHideWindow;
    form.autoLogin = s.autologin;
    form.regenerateIv = s.bRegenerateIVForSSUDP;
    form.delayText = std::to_wstring(s.DelayedConnect);
    form.preset = dns->GetCurrentPreset();
    if (form.preset) {
        form.primary = OctetsOfAddress(AddressOfText(form.preset->primary));
        form.secondary = OctetsOfAddress(AddressOfText(form.preset->secondary));
    }
    return form;
}

int CDialogSettingsCore::Save(const SettingsForm& form) {
    if (!form.preset) return 0;
    const int delay = ParseDelay(form.delayText);
    if (delay < 0) return Box(Translate("The delayed connect time can only be 1-300 seconds"));
    if (!IsSpecificServer(form.primary)) return Box(Translate("Primary DNS must be specific!"));
    // An alternate with first octet 0 is "none".
    const bool hasSecondary = form.secondary[0] != 0;
    if (!OctetsInRange(form.secondary) || (hasSecondary && !IsSpecificServer(form.secondary)))
        return Box(Translate("Alternate DNS must be specific!"));

    AppSettings& s = *GetSettings();
    s.adapter.bDontProxyUDP = form.dontProxyUdp;
    s.bRegenerateIVForSSUDP = form.regenerateIv;
    s.autologin = form.autoLogin;
    s.startup = form.startup;
    s.AutomaticallyEstablishConnection = form.autoConnect;
    s.DelayedConnect = delay;
    s.AutomaticHideWindow = form.autoHide;
    CDNSManager* dns = CDNSManager::GetInstance();
    dns->SetProxifyCurrentDNS(form.proxifyDns ? 1 : 0);

    std::string failed;
    if (!SetAutoStart(kAutoStartName, form.startup, PathToWide(GetExePath()).c_str()))
        failed += std::string("\n") + Translate("Run at system startup");
    dns->SetCurrentDNS(form.preset->id, DottedText(form.primary),
                       hasSecondary ? DottedText(form.secondary) : std::wstring());
    // The resolver's configuration names the servers; the next start writes it again.
    CUnboundController::GetInstance()->DeleteServiceConf();
    if (!dns->Save()) failed += "\n" + (GetAppDir() / "config" / "dns.ini").string();
    if (!SaveSettings()) failed += "\n" + (GetSettingsFilePath().string());
    if (!failed.empty()) return Box((Translate("The settings could not be saved:") + failed).c_str());
    return 1;
}

std::vector<std::wstring> ForwardZoneTemplates(const std::filesystem::path& folder) {
    std::vector<std::wstring> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        const std::string name = it->path().filename().string();
        if (name.size() > 14 && name.compare(0, 9, "template.") == 0 &&
            name.compare(name.size() - 5, 5, ".conf") == 0)
            files.push_back(Utf8ToWideString(name));
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<const DnsPreset*> CDialogConfigureSmartDNSCore::ResolverRows() {
    std::vector<const DnsPreset*> rows = CDialogSettingsCore::PresetRows(true);
    rows.erase(rows.begin(), rows.begin() + std::min<size_t>(2, rows.size()));
    return rows;
}

int CDialogConfigureSmartDNSCore::RowOf(const std::vector<const DnsPreset*>& rows, const DnsPreset* row) {
    const auto it = std::find(rows.begin(), rows.end(), row);
    return it == rows.end() ? 0 : static_cast<int>(it - rows.begin());
}

int CDialogConfigureSmartDNSCore::TemplateRow(const std::vector<std::wstring>& files) {
    const std::wstring& stored = CDNSManager::GetInstance()->GetForwardZoneTemplate();
    for (size_t i = 0; i < files.size(); ++i)
        if (AsciiEqualsNoCase(files[i], stored)) return static_cast<int>(i);
    return 0;
}

SmartDnsForm CDialogConfigureSmartDNSCore::Load() {
    CDNSManager* dns = CDNSManager::GetInstance();
    SmartDnsForm form;
    form.remote = dns->GetDefaultSmartPreset();
    form.domestic = dns->GetNativeSmartPreset();
    form.proxifyRemote = dns->GetProxifyDefaultSmartDNS() != 0;
    form.proxifyDomestic = dns->GetProxifyNativeSmartDNS() != 0;
    const std::vector<std::wstring> files =
        ForwardZoneTemplates(CUnboundController::GetInstance()->GetUnboundFolder() / "forward-zone");
    if (!files.empty()) form.zoneTemplate = files[TemplateRow(files)];
    return form;
}

int CDialogConfigureSmartDNSCore::Save(const SmartDnsForm& form) {
    if (!form.remote || !form.domestic || form.zoneTemplate.empty()) return 0;
    CDNSManager* dns = CDNSManager::GetInstance();
    CUnboundController* resolver = CUnboundController::GetInstance();
    // The controller refuses what it cannot write into its configuration;
    // then nothing is stored.
    if (!resolver->SetForwardZoneTemplate(form.zoneTemplate) ||
        !resolver->SetForwardAddresses(form.remote->primary, form.remote->secondary, form.domestic->primary,
                                       form.domestic->secondary))
        return Box(Translate("The smart DNS settings could not be saved."));
    dns->SetDefaultSmartDNS(form.remote->id);
    dns->SetNativeSmartDNS(form.domestic->id);
    dns->SetProxifyDefaultSmartDNS(form.proxifyRemote ? 1 : 0);
    dns->SetProxifyNativeSmartDNS(form.proxifyDomestic ? 1 : 0);
    dns->SetForwardZoneTemplate(form.zoneTemplate);
    if (form.selectionChanged) resolver->DeleteForwardZoneConf();
    if (!dns->Save()) return Box(Translate("The smart DNS settings could not be saved."));
    return 1;
}
