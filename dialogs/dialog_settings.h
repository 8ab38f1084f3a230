#pragma once
// The settings dialog (template 105): UDP forwarding, the DNS preset with
// the user's own servers and the proxify flag, the smart-DNS button, start
// with the system, automatic connect with its delay, automatic hiding and
// automatic login. Save stores everything and closes with wxID_OK; a
// refused or failed Save keeps the dialog open with what was typed.
//
// From the main window's "Settings" command:
//   CDialogSettings dlg(this, {IsSmartDnsConfigEnabled, account service configured});
//   dlg.ShowModal();   // nothing to read back: Save stored it all

#include <vector>

#include "dialogs/base/settings_form.h"
#include "ui/skin_dialog.h"

class CBmpButton;
class CComboBoxPelmorText;
class CIPAddressCtrl;
class CSkinButton;
class CSkinCheckBox;
class CSkinEdit;
class CXColorStatic;
class wxSpinButton;

enum SettingsControlId : int {
    kIdSettingsSave = 1,
    kIdSettingsPrimary = 1067,
    kIdSettingsSecondary = 1068,
    kIdSettingsProxifyDns = 1073,
    kIdSettingsStartup = 1076,
    kIdSettingsAutoConnect = 1077,
    kIdSettingsAutoHide = 1078,
    kIdSettingsAutoLogin = 1113,
    kIdSettingsDnsList = 1117,
    kIdSettingsDontProxyUdp = 1152,
    kIdSettingsHint = 1173,
    kIdSettingsSpin = 1179,
    kIdSettingsDelay = 1180,
    kIdSettingsSmartDns = 1213,
};

struct SettingsOptions {
    bool smartDnsEnabled = false;  // the edition offers the smart-DNS preset and its dialog
    bool showAutoLogin = true;     // an account service is configured
};

class CDialogSettings : public CSkinDialog {
public:
    CDialogSettings(wxWindow* parent, const SettingsOptions& options);

    void OnOK();
    void OnDnsPresetChanged();
    wxWindow* GetControl(int id) const { return FindWindow(id); }
    // The row of the DNS list, null when none is selected.
    const DnsPreset* SelectedPreset() const;

private:
    void OnDontProxyUdp();
    void OnAutoConnect();
    void OnSmartDnsButton();

    SettingsOptions options_;
    std::vector<const DnsPreset*> rows_;
    CSkinCheckBox* dontProxyUdp_ = nullptr;
    CComboBoxPelmorText* dnsList_ = nullptr;
    CBmpButton* smartDns_ = nullptr;
    CIPAddressCtrl* primary_ = nullptr;
    CIPAddressCtrl* secondary_ = nullptr;
    CXColorStatic* hint_ = nullptr;
    CSkinCheckBox* proxifyDns_ = nullptr;
    CSkinCheckBox* startup_ = nullptr;
    CSkinCheckBox* autoConnect_ = nullptr;
    CSkinEdit* delay_ = nullptr;
    wxSpinButton* spin_ = nullptr;
    CSkinCheckBox* autoHide_ = nullptr;
    CSkinCheckBox* autoLogin_ = nullptr;
    CSkinButton* save_ = nullptr;
    bool regenerateIv_ = false;
};
