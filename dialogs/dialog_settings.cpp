#include "dialogs/dialog_settings.h"

#include <wx/spinbutt.h>
#include <wx/stattext.h>

#include "dialogs/dialog_configure_smart_dns.h"
#include "dialogs/dialog_frame.h"
#include "dialogs/ip_address_ctrl.h"
#include "dialogs/pelmor_combos.h"
#include "foundation/translate.h"
#include "netconfig/dns_presets.h"
#include "ui/bmp_button.h"
#include "ui/skin_button.h"
#include "ui/skin_check_box.h"
#include "ui/skin_edit.h"
#include "ui/xcolor_static.h"

namespace {

constexpr int kBitmapSmartDns = 240;

wxStaticText* Label(wxWindow* parent, int id, const char* text) {
    return new wxStaticText(parent, id, U8(text));
}

}  // namespace

CDialogSettings::CDialogSettings(wxWindow* parent, const SettingsOptions& options)
    : CSkinDialog(parent, 105, U8(Translate("Settings")), wxSize(400, 400)), options_(options) {
    wxPanel* p = GetClientPanel();
    dontProxyUdp_ = new CSkinCheckBox(p, kIdSettingsDontProxyUdp, U8(Translate("Do not forward UDP")));
    dnsList_ = new CComboBoxPelmorText(p, kIdSettingsDnsList);
    smartDns_ = new CBmpButton(p, kIdSettingsSmartDns);
    smartDns_->SetBitmap(kBitmapSmartDns, true);
    smartDns_->SetToolTip(U8(Translate("Configure Smart DNS")));
    primary_ = new CIPAddressCtrl(p, kIdSettingsPrimary);
    secondary_ = new CIPAddressCtrl(p, kIdSettingsSecondary);
    hint_ = new CXColorStatic(p, kIdSettingsHint, wxEmptyString);
    hint_->SetBackgroundColor(RGB(255, 255, 255), false);
    hint_->SetTextColor(RGB(0, 0, 255), false);
    proxifyDns_ = new CSkinCheckBox(p, kIdSettingsProxifyDns, U8(Translate("Proxy DNS server")));
    startup_ = new CSkinCheckBox(p, kIdSettingsStartup, U8(Translate("Run at system startup")));
    autoConnect_ = new CSkinCheckBox(p, kIdSettingsAutoConnect,
                                     U8(Translate("Automatically establish connection after startup")));
    delay_ = new CSkinEdit(p, kIdSettingsDelay);
    spin_ = new wxSpinButton(p, kIdSettingsSpin, wxDefaultPosition, wxDefaultSize, wxSP_VERTICAL);
    spin_->SetRange(1, 300);
    autoHide_ = new CSkinCheckBox(p, kIdSettingsAutoHide,
                                  U8(Translate("Automatic hide window after connection established")));
    autoLogin_ = new CSkinCheckBox(p, kIdSettingsAutoLogin, U8(Translate("Auto login")));
    save_ = new CSkinButton(p, kIdSettingsSave, U8(Translate("Save")));

    // Template order, top to bottom.
    const int gap = ControlGap(this);
    auto* dnsRow = new wxBoxSizer(wxHORIZONTAL);
    dnsRow->Add(dnsList_, 1, wxALIGN_CENTRE_VERTICAL);
    dnsRow->Add(smartDns_, 0, wxALIGN_CENTRE_VERTICAL | wxLEFT, gap);
    const int delayWidth = DialogUnitsToPixels(this, 40, 0).x;
    delay_->SetMinSize(wxSize(delayWidth, delay_->GetBestSize().y));
    auto* delayRow = new wxBoxSizer(wxHORIZONTAL);
    delayRow->Add(delay_, 0, wxALIGN_CENTRE_VERTICAL);
    delayRow->Add(spin_, 0, wxALIGN_CENTRE_VERTICAL | wxEXPAND);
    delayRow->Add(Label(p, 1181, Translate("seconds")), 0, wxALIGN_CENTRE_VERTICAL | wxLEFT, gap);
    auto* grid = new wxFlexGridSizer(2, gap, gap);
    grid->AddGrowableCol(1);
    grid->Add(Label(p, 1158, Translate("Preselected DNS:")), 0, wxALIGN_CENTRE_VERTICAL);
    grid->Add(dnsRow, 1, wxEXPAND);
    grid->Add(Label(p, 1070, Translate("Preferred DNS:")), 0, wxALIGN_CENTRE_VERTICAL);
    grid->Add(primary_, 0);
    grid->Add(Label(p, 1166, Translate("Alternate DNS:")), 0, wxALIGN_CENTRE_VERTICAL);
    grid->Add(secondary_, 0);
    grid->AddSpacer(0);
    grid->Add(hint_, 0, wxEXPAND);

    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(dontProxyUdp_, 0, wxBOTTOM, gap);
    column->Add(grid, 0, wxEXPAND | wxBOTTOM, gap);
    for (CSkinCheckBox* box : {proxifyDns_, startup_, autoConnect_}) column->Add(box, 0, wxBOTTOM, gap);
    auto* delayLine = new wxBoxSizer(wxHORIZONTAL);
    delayLine->Add(Label(p, 1178, Translate("Delayed connect:")), 0, wxALIGN_CENTRE_VERTICAL | wxRIGHT, gap);
    delayLine->Add(delayRow);
    column->Add(delayLine, 0, wxBOTTOM, gap);
    for (CSkinCheckBox* box : {autoHide_, autoLogin_}) column->Add(box, 0, wxBOTTOM, gap);
    column->AddStretchSpacer();
    column->Add(save_, 0, wxALIGN_RIGHT);
    LayOutTemplate(this, 241, 221, column);

    // The field values as stored.
    primary_->Enable(false);
    secondary_->Enable(false);
    rows_ = CDialogSettingsCore::PresetRows(options_.smartDnsEnabled);
    for (const DnsPreset* row : rows_) dnsList_->AddItem(wxString(PresetDisplayName(*row)), 0);
    const SettingsForm form = CDialogSettingsCore::Load();
    if (!rows_.empty()) dnsList_->SetSelection(CDialogSettingsCore::CurrentRow(rows_));
    proxifyDns_->SetCheck(form.proxifyDns);
    regenerateIv_ = form.regenerateIv;
    dontProxyUdp_->SetCheck(form.dontProxyUdp);
    startup_->SetCheck(form.startup);
    autoConnect_->SetCheck(form.autoConnect);
    autoHide_->SetCheck(form.autoHide);
    // Hidden without an account service, it keeps the stored choice.
    autoLogin_->SetCheck(form.autoLogin);
    autoLogin_->Show(options_.showAutoLogin);
    delay_->ChangeValue(wxString(form.delayText));
    long delay = 0;
    spin_->SetValue(form.delayText.empty() ? 10 : (wxString(form.delayText).ToLong(&delay) ? delay : 10));
    OnDnsPresetChanged();
    OnAutoConnect();
    if (form.dontProxyUdp) OnDontProxyUdp();

    dnsList_->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { OnDnsPresetChanged(); });
    dontProxyUdp_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnDontProxyUdp(); });
    autoConnect_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnAutoConnect(); });
    smartDns_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnSmartDnsButton(); });
    save_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); });
    // The arrows step the text; a typed value is checked only by Save.
    spin_->Bind(wxEVT_SPIN, [this](wxSpinEvent& event) { delay_->ChangeValue(wxString::Format("%d", event.GetPosition())); });
    delay_->GetTextCtrl()->Bind(wxEVT_TEXT, [this](wxCommandEvent& event) {
        long value = 0;
        if (delay_->GetValue().ToLong(&value) && value >= 1 && value <= 300) spin_->SetValue(static_cast<int>(value));
        event.Skip();
    });
}

const DnsPreset* CDialogSettings::SelectedPreset() const {
    const int sel = dnsList_->GetSelection();
    return sel >= 0 && static_cast<size_t>(sel) < rows_.size() ? rows_[static_cast<size_t>(sel)] : nullptr;
}

void CDialogSettings::OnDnsPresetChanged() {
    const DnsPreset* row = SelectedPreset();
    if (!row) return;
    smartDns_->Show(row->IsSmartDNS());
    proxifyDns_->Enable(!row->IsSmartDNS() && !dontProxyUdp_->IsChecked());
    const bool own = row->IsOwnDNS() && !dontProxyUdp_->IsChecked();
    primary_->Enable(own);
    secondary_->Enable(own);
    hint_->SetLabel(wxString(PresetHintText(*row)));
    primary_->SetAddress(AddressOfText(row->primary));
    secondary_->SetAddress(AddressOfText(row->secondary));
    GetClientPanel()->Layout();
    Refresh();
}

void CDialogSettings::OnDontProxyUdp() {
    const bool off = dontProxyUdp_->IsChecked();
    const DnsPreset* row = SelectedPreset();
    dnsList_->Enable(!off);
    primary_->Enable(!off && (!row || row->IsOwnDNS()));
    secondary_->Enable(!off && (!row || row->IsOwnDNS()));
    proxifyDns_->Enable(!off && (!row || !row->IsSmartDNS()));
}

void CDialogSettings::OnAutoConnect() {
    const bool on = autoConnect_->IsChecked();
    delay_->Enable(on);
    spin_->Enable(on);
}

void CDialogSettings::OnSmartDnsButton() {
    if (!options_.smartDnsEnabled) return;
    CDialogConfigureSmartDNS dlg(this);
    dlg.ShowModal();
}

void CDialogSettings::OnOK() {
    SettingsForm form;
    form.preset = SelectedPreset();
    form.dontProxyUdp = dontProxyUdp_->IsChecked();
    form.proxifyDns = proxifyDns_->IsChecked();
    form.startup = startup_->IsChecked();
    form.autoConnect = autoConnect_->IsChecked();
    form.autoHide = autoHide_->IsChecked();
    form.autoLogin = autoLogin_->IsChecked();
    form.regenerateIv = regenerateIv_;
    form.delayText = delay_->GetValue().ToStdWstring();
    form.primary = primary_->GetOctets();
    form.secondary = secondary_->GetOctets();
    if (CDialogSettingsCore().Save(form)) EndDialogWith(this, wxID_OK);
}
