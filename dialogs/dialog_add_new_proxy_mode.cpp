#include "dialogs/dialog_add_new_proxy_mode.h"

#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "dialogs/dialog_frame.h"
#include "dialogs/pelmor_combos.h"
#include "foundation/translate.h"
#include "ui/skin_button.h"
#include "ui/skin_edit.h"

CDialogAddNewProxyMode::CDialogAddNewProxyMode(CProxyMode* editMode, wxWindow* parent)
    : CSkinDialog(parent, 247, U8(Translate("Add new rule")), wxSize(420, 460)),
      CDialogAddNewProxyModeCore(editMode) {
    wxPanel* p = GetClientPanel();
    const int gap = ControlGap(this);
    auto* group = new wxStaticBoxSizer(wxVERTICAL, p);
    wxWindow* box = group->GetStaticBox();
    box->SetBackgroundColour(*wxWHITE);
    nameEn_ = new CSkinEdit(box, kIdModeNameEn);
    nameCn_ = new CSkinEdit(box, kIdModeNameCn);
    dns_ = new CComboBoxPelmorText(box, kIdModeDns);
    action_ = new CComboBoxPelmorText(box, kIdModeAction);
    remarks_ = new CSkinEdit(box, kIdModeRemarks);
    auto* grid = new wxFlexGridSizer(2, gap, gap);
    grid->AddGrowableCol(1);
    const struct {
        int id;
        const char* text;
        wxWindow* control;
    } rows[] = {
        {1206, Translate("English name of rule:"), nameEn_},
        {1207, Translate("Chinese name of rule:"), nameCn_},
        {1163, Translate("Proxify DNS request"), dns_},
        {1162, Translate("Action type:"), action_},
        {1209, Translate("Remarks:"), remarks_},
    };
    for (const auto& row : rows) {
        grid->Add(new wxStaticText(box, row.id, U8(row.text)), 0, wxALIGN_CENTRE_VERTICAL);
        grid->Add(row.control, 1, wxEXPAND);
    }
    group->Add(grid, 0, wxEXPAND | wxALL, gap);

    auto* rulesLabel = new wxStaticText(
        p, 1208, U8(Translate("Rules list: \nPer line per rule. A valid rule is like this: 1.2.16.0/20")));
    rules_ = new wxTextCtrl(p, kIdModeRules, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                            wxTE_MULTILINE | wxTE_DONTWRAP | wxVSCROLL);
    counter_ = new wxStaticText(p, kIdModeCounter, wxString(LineCounterText(0)));
    save_ = new CSkinButton(p, kIdModeSave, U8(Translate("Save")));
    auto* bottom = new wxBoxSizer(wxHORIZONTAL);
    bottom->Add(counter_, 1, wxALIGN_CENTRE_VERTICAL);
    bottom->Add(save_, 0, wxALIGN_CENTRE_VERTICAL);
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(group, 0, wxEXPAND | wxBOTTOM, gap);
    column->Add(rulesLabel, 0, wxBOTTOM, gap);
    column->Add(rules_, 1, wxEXPAND | wxBOTTOM, gap);
    column->Add(bottom, 0, wxEXPAND);
    LayOutTemplate(this, 238, 249, column);

    for (const char* text : {Translate("Direct"), Translate("Proxify")}) action_->AddItem(U8(text), 0);
    for (const char* text : {Translate("Auto"), Translate("Direct"), Translate("Proxify")}) dns_->AddItem(U8(text), 0);
    const ProxyModeForm form = InitialForm();
    action_->SetSelection(form.actionRow);
    dns_->SetSelection(form.dnsRow);
    nameEn_->ChangeValue(wxString(form.nameEn));
    nameCn_->ChangeValue(wxString(form.nameCn));
    remarks_->ChangeValue(wxString(form.remarks));
    // The whole text in one call, the caret at its end.
    rules_->ChangeValue(wxString(form.rules));
    rules_->SetInsertionPointEnd();
    UpdateLineCounter();

    rules_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { UpdateLineCounter(); });
    save_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnSave(); });
    // The box waits until the focus has settled.
    nameEn_->GetTextCtrl()->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
        event.Skip();
        CallAfter([this] { CheckNameOnLeave(nameEn_->GetValue().ToStdWstring()); });
    });
}

void CDialogAddNewProxyMode::UpdateLineCounter() {
    // Most keys leave the count as it was; the label is set only when it changes.
    const int lines = rules_->GetNumberOfLines();
    if (lines == shownLines_) return;
    shownLines_ = lines;
    counter_->SetLabel(wxString(LineCounterText(lines)));
}

ProxyModeForm CDialogAddNewProxyMode::ReadForm() const {
    ProxyModeForm form;
    form.nameEn = nameEn_->GetValue().ToStdWstring();
    form.nameCn = nameCn_->GetValue().ToStdWstring();
    form.remarks = remarks_->GetValue().ToStdWstring();
    form.rules = rules_->GetValue().ToStdWstring();
    form.actionRow = action_->GetSelection();
    form.dnsRow = dns_->GetSelection();
    return form;
}

void CDialogAddNewProxyMode::OnSave() {
    if (Save(ReadForm())) EndDialogWith(this, wxID_OK);
}
