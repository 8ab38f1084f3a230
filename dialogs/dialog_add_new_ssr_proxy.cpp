#include "dialogs/dialog_add_new_ssr_proxy.h"

#include "dialogs/base/message_id.h"
#include "dialogs/dialog_text.h"
#include "dialogs/pelmor_combos.h"
#include "netconfig/host_cache.h"
#include "ui/button_vorn.h"
#include "ui/skin_check_box.h"
#include "ui/skin_edit.h"

namespace {
// Template 208 in dialog units.
const wxSize kSizeDu(226, 319);
constexpr int kIdGroup = 1195;
}  // namespace

CDialogAddNewSSRProxy::CDialogAddNewSSRProxy(wxWindow* parent, int /*editFlag*/)
    : CNodeDialogBase(parent, kSizeDu) {
    // The link button has a row of its own at the top.
    rows_->AddSpacer(0);
    rows_->Add(NewLinkButton(N_("Add proxy from link( Support SS/SSR link )"), true), 0, wxALIGN_LEFT);
    rows_->AddSpacer(0);
    AddServerRow();
    port_ = NewEdit(kIdNodePort);
    AddRow(1027, N_("Port:"), port_);
    AddPasswordRow(1029);

    auto newNames = [this](int id) {
        auto* combo = new CComboBoxPelmorText(panel_, id, wxDefaultPosition, wxSize(-1, 26));
        return combo;
    };
    cipher_ = newNames(kIdNodeCipher);
    for (const std::string& name : core_.CipherNames()) cipher_->AddItem(wxString::FromUTF8(name), 0);
    AddRow(1030, N_("Encryption:"), cipher_);
    protocol_ = newNames(kIdNodeProtocol);
    for (const SSRNameEntry& row : core_.ProtocolNames()) protocol_->AddItem(wxString::FromUTF8(row.name), 0);
    // Labels 1034-1037 keep their template texts.
    AddRow(1034, nullptr, protocol_, nullptr, wxString::FromUTF8("\xE5\x8D\x8F\xE8\xAE\xAE:"));
    protocol_param_ = NewEdit(kIdNodeProtocolParam);
    AddRow(1035, nullptr, protocol_param_, nullptr,
           wxString::FromUTF8("\xE5\x8D\x8F\xE8\xAE\xAE\xE5\x8F\x82\xE6\x95\xB0: "));
    obfs_ = newNames(kIdNodeObfs);
    for (const SSRNameEntry& row : core_.ObfsNames()) obfs_->AddItem(wxString::FromUTF8(row.name), 0);
    AddRow(1036, nullptr, obfs_, nullptr, wxString::FromUTF8("\xE6\xB7\xB7\xE6\xB7\x86:"));
    obfs_param_ = NewEdit(kIdNodeObfsParam);
    AddRow(1037, nullptr, obfs_param_, nullptr,
           wxString::FromUTF8("\xE6\xB7\xB7\xE6\xB7\x86\xE5\x8F\x82\xE6\x95\xB0: "));
    protocol_->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { ApplyParameterRules(); });
    obfs_->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { ApplyParameterRules(); });

    AddTail(kIdGroup, false, wxEmptyString);
    CreateLinkPopup(this);
    WriteForm(core_.InitialForm());
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); }, wxID_OK);
}

void CDialogAddNewSSRProxy::SetEditNode(CNodeInfo* node) {
    core_.SetEditNode(node);
    if (!node) return;
    WriteForm(core_.InitialForm());
    activate_box_->SetLabel(TranslatedText("Edit and activate it"));
}

void CDialogAddNewSSRProxy::ApplyParameterRules() {
    if (protocol_->GetSelection() != wxNOT_FOUND)
        protocol_param_->Enable(core_.ProtocolTakesParam(protocol_->GetSelection()));
    if (obfs_->GetSelection() != wxNOT_FOUND) obfs_param_->Enable(core_.ObfsTakesParam(obfs_->GetSelection()));
}

SsrProxyForm CDialogAddNewSSRProxy::ReadForm() const {
    SsrProxyForm f;
    f.server = ToWide(server_->GetValue());
    f.port = ToWide(port_->GetValue());
    f.password = ToWide(password_->GetValue());
    f.cipherRow = cipher_->GetSelection();
    f.protocolRow = protocol_->GetSelection();
    f.obfsRow = obfs_->GetSelection();
    f.protocolParam = ToWide(protocol_param_->GetValue());
    f.obfsParam = ToWide(obfs_param_->GetValue());
    f.remarks = ToWide(remarks_->GetValue());
    f.group = ToWide(group_->GetValue());
    f.route = ToWide(route_->GetValue());
    f.countryRow = countries_->GetSelection();
    return f;
}

void CDialogAddNewSSRProxy::WriteForm(const SsrProxyForm& f) {
    auto select = [](CComboBoxPelmorText* combo, int row) {
        combo->SetSelection(row >= 0 && row < static_cast<int>(combo->GetCount()) ? row : wxNOT_FOUND);
    };
    server_->ChangeValue(f.server);
    port_->ChangeValue(f.port);
    password_->ChangeValue(f.password);
    select(cipher_, f.cipherRow);
    select(protocol_, f.protocolRow);
    select(obfs_, f.obfsRow);
    protocol_param_->ChangeValue(f.protocolParam);
    obfs_param_->ChangeValue(f.obfsParam);
    remarks_->ChangeValue(f.remarks);
    group_->SetValue(f.group);
    route_->ChangeValue(f.route);
    countries_->SetSelection(f.countryRow >= 0 ? f.countryRow : wxNOT_FOUND);
    ApplyParameterRules();
}

void CDialogAddNewSSRProxy::FillFromNode(CNodeInfo* node) {
    if (!node) return;
    SsrProxyForm form = ReadForm();
    core_.FillFromNode(*node, &form);
    WriteForm(form);
    OnGetGeolocation();
}

void CDialogAddNewSSRProxy::OnOK() {
    FinishSave(core_.Save(ReadForm(), ResolveRouteAddress));
}
