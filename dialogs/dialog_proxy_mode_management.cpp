#include "dialogs/dialog_proxy_mode_management.h"

#include <algorithm>

#include "dialogs/dialog_frame.h"
#include "dialogs/report_list.h"
#include "foundation/translate.h"
#include "netconfig/proxy_mode.h"
#include "ui/skin_button.h"

CDialogProxyModeManagement::CDialogProxyModeManagement(wxWindow* parent)
    : CSkinDialog(parent, 246, U8(Translate("Proxy mode management")), wxSize(600, 380)) {
    wxPanel* p = GetClientPanel();
    const int gap = ControlGap(this);
    list_ = new CReportList(p, kIdModeList);
    add_ = new CSkinButton(p, kIdModeAdd, U8(Translate("Add")));
    edit_ = new CSkinButton(p, kIdModeEdit, U8(Translate("Edit")));
    delete_ = new CSkinButton(p, kIdModeDelete, U8(Translate("Delete")));
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->AddStretchSpacer();
    for (CSkinButton* b : {add_, edit_, delete_}) buttons->Add(b, 0, wxLEFT, gap);
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(list_, 1, wxEXPAND | wxBOTTOM, gap);
    column->Add(buttons, 0, wxEXPAND);
    LayOutTemplate(this, 364, 207, column);

    list_->AddColumn(U8(Translate("Name")), 250);
    list_->AddColumn(U8(Translate("Remarks")), std::max(60, list_->GetClientSize().x - 270));
    FillList();

    // Edit and Delete follow the selection and the selected mode's kind.
    list_->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent& event) {
        event.Skip();
        CallAfter([this] { UpdateButtons(); });
    });
    list_->Bind(wxEVT_LIST_ITEM_DESELECTED, [this](wxListEvent& event) {
        event.Skip();
        CallAfter([this] { UpdateButtons(); });
    });
    list_->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { OnEdit(); });
    add_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnAdd(); });
    edit_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnEdit(); });
    delete_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnDelete(); });
}

void CDialogProxyModeManagement::FillList() {
    list_->DeleteAllRows();
    long index = 0;
    for (const ProxyModeRow& row : Rows()) {
        list_->InsertItem(index, wxString(row.name));
        list_->SetItem(index, 1, wxString(row.remarks));
        list_->SetItemPtrData(index, reinterpret_cast<wxUIntPtr>(row.mode));
        ++index;
    }
    UpdateButtons();
}

CProxyMode* CDialogProxyModeManagement::SelectedMode() const {
    const long row = list_->GetSelectedRow();
    return row < 0 ? nullptr : reinterpret_cast<CProxyMode*>(list_->GetItemData(row));
}

void CDialogProxyModeManagement::UpdateButtons() {
    const bool can = CanChange(SelectedMode());
    edit_->Enable(can);
    delete_->Enable(can);
}

void CDialogProxyModeManagement::RunEditor(CProxyMode* mode) {
    CDialogAddNewProxyMode editor(mode, this);
    if (editor.ShowModal() != wxID_OK) return;
    MarkChanged();
    FillList();
}

void CDialogProxyModeManagement::OnAdd() { RunEditor(nullptr); }

void CDialogProxyModeManagement::OnEdit() {
    CProxyMode* mode = SelectedMode();
    if (!CanChange(mode)) return;
    mode->LoadRules();
    RunEditor(mode);
}

void CDialogProxyModeManagement::OnDelete() {
    if (Delete(SelectedMode())) FillList();
}
