#include "dialogs/dialog_add_new_socks_proxy.h"

#include "dialogs/base/message_id.h"
#include "dialogs/dialog_text.h"
#include "dialogs/pelmor_combos.h"
#include "netconfig/host_cache.h"
#include "ui/button_vorn.h"
#include "ui/skin_check_box.h"
#include "ui/skin_edit.h"

namespace {
// Template 134 in dialog units.
const wxSize kSizeDu(225, 239);
}  // namespace

// The edit flag alone never makes edit mode (without a node there is
// nothing to edit): SetEditNode does.
CDialogAddNewSOCKSProxy::CDialogAddNewSOCKSProxy(wxWindow* parent, int /*editFlag*/)
    : CNodeDialogBase(parent, kSizeDu) {
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); }, wxID_OK);
    Build();
}

void CDialogAddNewSOCKSProxy::SetEditNode(CNodeInfo* node) {
    core_.SetEditNode(node);
    if (!node) return;
    WriteForm(core_.InitialForm());
    activate_box_->SetLabel(TranslatedText("Edit and activate it"));
}

void CDialogAddNewSOCKSProxy::Build() {
    type_ = new CComboBoxPelmorText(panel_, kIdNodeType, wxDefaultPosition, wxSize(-1, 26));
    for (const char* row : {"HTTP", "SOCKS 4/4a", "SOCKS 5"}) type_->AddItem(wxString::FromUTF8(row), 0);
    type_->SetSelection(2);
    type_->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { ApplyTypeRule(); });
    // The popup cannot be opened here: the button stays hidden and no popup is made.
    AddRow(1167, N_("Type:"), type_, NewLinkButton(N_("Add proxy from link( Support SS link )"), false));
    AddServerRow();
    port_ = NewEdit(kIdNodePort);
    AddRow(1027, N_("Port:"), port_);
    user_ = NewEdit(kIdNodeUser);
    AddRow(1028, N_("Username:"), user_);
    AddPasswordRow(1029);
    AddTail(1030, false, wxEmptyString);
    ApplyTypeRule();
}

void CDialogAddNewSOCKSProxy::ApplyTypeRule() {
    if (type_->GetSelection() != wxNOT_FOUND) user_->Enable(true);
}

SocksProxyForm CDialogAddNewSOCKSProxy::ReadForm() const {
    SocksProxyForm f;
    f.typeRow = type_->GetSelection();
    f.server = ToWide(server_->GetValue());
    f.port = ToWide(port_->GetValue());
    f.user = ToWide(user_->GetValue());
    f.password = ToWide(password_->GetValue());
    f.remarks = ToWide(remarks_->GetValue());
    f.group = ToWide(group_->GetValue());
    f.route = ToWide(route_->GetValue());
    f.countryRow = countries_->GetSelection();
    return f;
}

void CDialogAddNewSOCKSProxy::WriteForm(const SocksProxyForm& f) {
    type_->SetSelection(f.typeRow);
    ApplyTypeRule();
    server_->ChangeValue(f.server);
    port_->ChangeValue(f.port);
    user_->ChangeValue(f.user);
    password_->ChangeValue(f.password);
    remarks_->ChangeValue(f.remarks);
    group_->SetValue(f.group);
    route_->ChangeValue(f.route);
    countries_->SetSelection(f.countryRow >= 0 ? f.countryRow : wxNOT_FOUND);
}

void CDialogAddNewSOCKSProxy::OnOK() {
    FinishSave(core_.Save(ReadForm(), ResolveRouteAddress));
}
