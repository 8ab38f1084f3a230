#pragma once
// What the settings window and the smart-DNS window decide, apart from the
// windows: the DNS rows they offer, what a chosen row shows, the checks of
// their Save, and what Save writes. Refusals and failed writes go through
// AppMessageBox; a refused Save stores nothing.

#include <array>
#include <filesystem>
#include <string>
#include <vector>

struct DnsPreset;

// The four fields of an address control; a field left empty reads 0. A
// field may hold up to three digits, so values up to 999 reach the checks.
using OctetFields = std::array<int, 4>;

// Dotted text in host order; 0 for an empty or unreadable text.
uint32_t AddressOfText(const std::wstring& text);
OctetFields OctetsOfAddress(uint32_t hostOrder);

// The name a preset row is shown by: Chinese in a Chinese user interface.
std::wstring PresetDisplayName(const DnsPreset& row);
// The translated hint under the list for a row: empty for the own servers.
std::wstring PresetHintText(const DnsPreset& row);

struct SettingsForm {
    bool dontProxyUdp = false;
    bool proxifyDns = false;
    bool startup = false;
    bool autoConnect = false;
    bool autoHide = false;
    bool autoLogin = false;
    bool regenerateIv = false;  // not shown; written back as loaded
    std::wstring delayText;     // the delayed-connect edit as typed
    const DnsPreset* preset = nullptr;
    OctetFields primary{};
    OctetFields secondary{};
};

class CDialogSettingsCore {
public:
    // The rows of the DNS list: the smart-DNS row only when the edition
    // enables its configuration, then every other named row.
    static std::vector<const DnsPreset*> PresetRows(bool smartDnsEnabled);
    // The index in `rows` of the current preset, else 0.
    static int CurrentRow(const std::vector<const DnsPreset*>& rows);
    // The form as the stored settings give it (the address fields from the
    // current row).
    static SettingsForm Load();

    // The checks, then every write. 1 when all of it was stored; 0 after a
    // refusal (nothing stored) or a failed write (the box names it).
    int Save(const SettingsForm& form);
};

// The forward-zone templates: regular files "template.*.conf" of the
// folder, sorted by name.
std::vector<std::wstring> ForwardZoneTemplates(const std::filesystem::path& folder);

struct SmartDnsForm {
    const DnsPreset* remote = nullptr;
    const DnsPreset* domestic = nullptr;
    bool proxifyRemote = false;
    bool proxifyDomestic = false;
    std::wstring zoneTemplate;  // empty: no template chosen
    bool selectionChanged = false;
};

class CDialogConfigureSmartDNSCore {
public:
    // The resolvers offered: every named row after the first two.
    static std::vector<const DnsPreset*> ResolverRows();
    static int RowOf(const std::vector<const DnsPreset*>& rows, const DnsPreset* row);
    // The index of the stored template in `files` (without regard to case), else 0.
    static int TemplateRow(const std::vector<std::wstring>& files);
    static SmartDnsForm Load();
    // Without a resolver or a template nothing happens (0, no box). Else the
    // choices go to the DNS manager and the resolver controller, the
    // generated forward zone goes when a list changed, and dns.ini is saved:
    // 1, or 0 after the failure's box.
    int Save(const SmartDnsForm& form);
};
