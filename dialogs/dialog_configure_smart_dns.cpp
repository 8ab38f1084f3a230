#include "dialogs/dialog_configure_smart_dns.h"

#include <wx/stattext.h>

#include "dialogs/dialog_frame.h"
#include "dialogs/pelmor_combos.h"
#include "foundation/translate.h"
#include "netconfig/dns_manager.h"
#include "netconfig/dns_presets.h"
#include "netconfig/unbound_controller.h"
#include "ui/skin_button.h"
#include "ui/skin_check_box.h"

CDialogConfigureSmartDNS::CDialogConfigureSmartDNS(wxWindow* parent)
    : CSkinDialog(parent, 253, U8(Translate("Configure smart DNS")), wxSize(440, 200)) {
    wxPanel* p = GetClientPanel();
    remote_ = new CComboBoxPelmorText(p, kIdSmartDnsRemote);
    proxifyRemote_ = new CSkinCheckBox(p, kIdSmartDnsProxifyRemote, U8(Translate("Proxify this DNS server")));
    domestic_ = new CComboBoxPelmorText(p, kIdSmartDnsDomestic);
    proxifyDomestic_ = new CSkinCheckBox(p, kIdSmartDnsProxifyDomestic, U8(Translate("Proxify this DNS server")));
    template_ = new CComboBoxPelmorText(p, kIdSmartDnsTemplate);
    save_ = new CSkinButton(p, kIdSmartDnsSave, U8(Translate("Save")));

    const int gap = ControlGap(this);
    auto* grid = new wxFlexGridSizer(3, gap, gap);
    grid->AddGrowableCol(1);
    grid->Add(new wxStaticText(p, 1217, U8(Translate("Default DNS"))), 0, wxALIGN_CENTRE_VERTICAL);
    grid->Add(remote_, 1, wxEXPAND);
    grid->Add(proxifyRemote_, 0, wxALIGN_CENTRE_VERTICAL);
    grid->Add(new wxStaticText(p, 1218, U8(Translate("DNS for native website:"))), 0, wxALIGN_CENTRE_VERTICAL);
    grid->Add(domestic_, 1, wxEXPAND);
    grid->Add(proxifyDomestic_, 0, wxALIGN_CENTRE_VERTICAL);
    grid->Add(new wxStaticText(p, 1219, U8(Translate("Native websites list:"))), 0, wxALIGN_CENTRE_VERTICAL);
    grid->Add(template_, 1, wxEXPAND);
    grid->AddSpacer(0);
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(grid, 0, wxEXPAND);
    column->AddStretchSpacer();
    column->Add(save_, 0, wxALIGN_RIGHT | wxTOP, gap);
    LayOutTemplate(this, 262, 117, column);

    const SmartDnsForm form = CDialogConfigureSmartDNSCore::Load();
    rows_ = CDialogConfigureSmartDNSCore::ResolverRows();
    for (CComboBoxPelmorText* combo : {remote_, domestic_}) {
        for (const DnsPreset* row : rows_) combo->AddItem(wxString(PresetDisplayName(*row)), 0);
    }
    if (!rows_.empty()) {
        remote_->SetSelection(CDialogConfigureSmartDNSCore::RowOf(rows_, form.remote));
        domestic_->SetSelection(CDialogConfigureSmartDNSCore::RowOf(rows_, form.domestic));
    }
    templates_ = ForwardZoneTemplates(CUnboundController::GetInstance()->GetUnboundFolder() / "forward-zone");
    for (const std::wstring& name : templates_) template_->AddItem(wxString(name), 0);
    if (!templates_.empty()) template_->SetSelection(CDialogConfigureSmartDNSCore::TemplateRow(templates_));
    proxifyRemote_->SetCheck(form.proxifyRemote);
    proxifyDomestic_->SetCheck(form.proxifyDomestic);

    for (CComboBoxPelmorText* combo : {remote_, domestic_, template_})
        combo->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { selectionChanged_ = true; });
    save_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); });
}

void CDialogConfigureSmartDNS::OnOK() {
    const auto rowAt = [this](CComboBoxPelmorText* combo) -> const DnsPreset* {
        const int sel = combo->GetSelection();
        return sel >= 0 && static_cast<size_t>(sel) < rows_.size() ? rows_[static_cast<size_t>(sel)] : nullptr;
    };
    SmartDnsForm form;
    form.remote = rowAt(remote_);
    form.domestic = rowAt(domestic_);
    const int sel = template_->GetSelection();
    if (sel >= 0 && static_cast<size_t>(sel) < templates_.size()) form.zoneTemplate = templates_[static_cast<size_t>(sel)];
    form.proxifyRemote = proxifyRemote_->IsChecked();
    form.proxifyDomestic = proxifyDomestic_->IsChecked();
    form.selectionChanged = selectionChanged_;
    if (CDialogConfigureSmartDNSCore().Save(form)) EndDialogWith(this, wxID_OK);
}
