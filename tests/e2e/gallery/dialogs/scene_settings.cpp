// The settings dialog and the smart-DNS dialog over a program folder of
// their own: two forward-zone templates, the smart-DNS preset current and
// its configuration offered.
#include <wx/spinbutt.h>
#include <wx/textctrl.h>

#include <filesystem>
#include <fstream>

#include "dialogs/dialog_configure_smart_dns.h"
#include "dialogs/dialog_settings.h"
#include "dialogs/ip_address_ctrl.h"
#include "dialogs/pelmor_combos.h"
#include "foundation/app_paths.h"
#include "foundation/settings.h"
#include "foundation/text_convert.h"
#include "netconfig/dns_manager.h"
#include "netconfig/unbound_controller.h"
#include "tests/e2e/gallery/dialogs/scene_support.h"
#include "ui/xcolor_static.h"

namespace {

std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int ResultOf(const wxDialog* dlg) {
    if (dlg->IsShown()) return 0;
    const int code = dlg->GetReturnCode();
    return code == wxID_OK ? 1 : code == wxID_CANCEL ? 2 : -1;
}

// The folder both dialogs read: dns.ini, the resolver's templates, the settings.
void PrepareDnsFolder() {
    CreateAppFolders();
    LoadSettings();
    CDNSManager::GetInstance()->SetWorkDirectory(PathToWide(GetAppDir()).c_str());
    CDNSManager::GetInstance()->Load();
    const std::filesystem::path zones = GetAppDir() / "unbound" / "forward-zone";
    std::filesystem::create_directories(zones);
    for (const char* name : {"template.china-list.conf", "template.lab.conf"}) std::ofstream(zones / name) << "\n";
    CUnboundController::GetInstance()->SetBaseDirectory(PathToWide(GetAppDir()));
}

}  // namespace

GALLERY_SCENE(settings) {
    using namespace gallery;
    PrepareDnsFolder();
    RecordBoxes(registry);
    auto* dlg = new CDialogSettings(nullptr, SettingsOptions{true, true});
    dlg->Move(20, 20);
    dlg->Show();
    registry.Add("105", dlg);
    for (int id : std::initializer_list<int>{kIdSettingsSave, kIdSettingsPrimary, kIdSettingsSecondary, kIdSettingsProxifyDns,
                   kIdSettingsStartup, kIdSettingsAutoConnect, kIdSettingsAutoHide, kIdSettingsAutoLogin,
                   kIdSettingsDnsList, kIdSettingsDontProxyUdp, kIdSettingsHint, kIdSettingsSpin, kIdSettingsDelay,
                   kIdSettingsSmartDns, 1158, 1070, 1166, 1178, 1181})
        AddControl(registry, id, dlg->GetControl(id));
    auto* list = static_cast<CComboBoxPelmorText*>(dlg->GetControl(kIdSettingsDnsList));
    auto* primary = static_cast<CIPAddressCtrl*>(dlg->GetControl(kIdSettingsPrimary));
    for (int i = 0; i < 4; ++i) registry.Add("1067.field" + std::to_string(i), primary->GetField(i));
    // Choosing a row as the list does (selection, then its notice).
    for (unsigned row = 0; row < list->GetCount(); ++row) {
        registry.AddAction("settings.row" + std::to_string(row), [dlg, list, row] {
            list->SetSelection(static_cast<int>(row));
            dlg->OnDnsPresetChanged();
        });
    }
    registry.AddAction("settings.save", [dlg] { dlg->OnOK(); });
    registry.AddState("settings", [dlg, list] {
        auto* hint = static_cast<CXColorStatic*>(dlg->GetControl(kIdSettingsHint));
        const DnsPreset* row = dlg->SelectedPreset();
        std::string rows;
        for (unsigned i = 0; i < list->GetCount() && i < 4; ++i) rows += (i ? "|" : "") + Utf8(list->GetString(i));
        return "result=" + std::to_string(ResultOf(dlg)) + " row=" + std::to_string(row ? row->id : -1) +
               " smart=" + std::to_string(dlg->GetControl(kIdSettingsSmartDns)->IsShown() ? 1 : 0) +
               " ip=" + std::to_string(dlg->GetControl(kIdSettingsPrimary)->IsEnabled() ? 1 : 0) +
               " hint=" + Utf8(hint->GetLabel()) + " rows=" + rows;
    });
    registry.AddState("dnsini", [] {
        std::string text = FileText(GetAppDir() / "config" / "dns.ini");
        for (char& c : text)
            if (c == '\n' || c == '\r' || c == ' ') c = ';';
        return "text=" + text;
    });
    registry.AddState("labels", [dlg] {
        std::string out;
        for (int id : std::initializer_list<int>{1158, 1070, 1166, 1178, 1181, kIdSettingsStartup, kIdSettingsSave})
            out += std::to_string(id) + "=" + Utf8(dlg->GetControl(id)->GetLabel()) + "\t";
        return out;
    });
    AddGlyphState(registry, "settings", [dlg] { return CollectTexts(dlg); });
}

// Without an account service "Auto login" is hidden; a save keeps the
// stored choice.
GALLERY_SCENE(settingsnoaccount) {
    using namespace gallery;
    PrepareDnsFolder();
    RecordBoxes(registry);
    auto* dlg = new CDialogSettings(nullptr, SettingsOptions{true, false});
    dlg->Move(20, 20);
    dlg->Show();
    registry.AddAction("settingsnoaccount.save", [dlg] { dlg->OnOK(); });
    registry.AddState("settingsnoaccount", [dlg] {
        std::string text = FileText(GetAppDir() / "config" / "config.ini");
        for (char& c : text)
            if (c == '\n' || c == '\r' || c == ' ') c = ';';
        return "result=" + std::to_string(ResultOf(dlg)) +
               " autologinshown=" + std::to_string(dlg->GetControl(kIdSettingsAutoLogin)->IsShown() ? 1 : 0) +
               " config=" + text;
    });
}

GALLERY_SCENE(smartdns) {
    using namespace gallery;
    PrepareDnsFolder();
    RecordBoxes(registry);
    auto* dlg = new CDialogConfigureSmartDNS(nullptr);
    dlg->Move(460, 20);
    dlg->Show();
    registry.Add("253", dlg);
    for (int id : std::initializer_list<int>{kIdSmartDnsSave, kIdSmartDnsRemote, kIdSmartDnsDomestic, kIdSmartDnsTemplate,
                   kIdSmartDnsProxifyRemote, kIdSmartDnsProxifyDomestic, 1217, 1218, 1219})
        AddControl(registry, id, dlg->GetControl(id));
    registry.AddAction("smartdns.save", [dlg] { dlg->OnOK(); });
    registry.AddState("smartdns", [dlg] {
        std::string out = "result=" + std::to_string(ResultOf(dlg));
        for (int id : std::initializer_list<int>{kIdSmartDnsRemote, kIdSmartDnsDomestic, kIdSmartDnsTemplate}) {
            auto* combo = static_cast<CComboBoxPelmorText*>(dlg->GetControl(id));
            out += " " + std::to_string(id) + "=" + (combo->GetSelection() < 0 ? std::string() : Utf8(combo->GetString(static_cast<unsigned>(combo->GetSelection()))));
        }
        return out;
    });
    AddGlyphState(registry, "smartdns", [dlg] { return CollectTexts(dlg); });
}
