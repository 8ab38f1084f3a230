#include "dialogs/dialog_events_mgr.h"

#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include "dialogs/base/events_core.h"
#include "dialogs/pelmor_combos.h"
#include "dialogs/report_list.h"
#include "foundation/translate.h"
#include "ui/skin_button.h"
#include "ui/skin_edit.h"

namespace {

// Template 232.
const wxSize kClientSize(520, 400);

wxString Tr(const char* id) {
    return wxString::FromUTF8(Translate(id));
}

void FillCombo(CComboBoxPelmorText* combo, const EventTypeRow* table, int selected) {
    for (const EventTypeRow* r = table; r->id != -1; ++r) combo->AddItem(Tr(r->text), static_cast<uintptr_t>(r->id));
    combo->SetSelection(selected);
}

}  // namespace

CDialogEventsMgr::CDialogEventsMgr(wxWindow* parent)
    : CSkinDialog(parent, 232, wxEmptyString, kClientSize) {
    wxPanel* p = GetClientPanel();
    p->SetBackgroundColour(*wxWHITE);
    SetTitle(Tr("Events management"));

    group_ = new wxStaticBox(p, kIdEventsGroup, Tr("Add Events"));
    group_->SetBackgroundColour(*wxWHITE);
    auto* fields = new wxFlexGridSizer(2, 8, 10);
    fields->AddGrowableCol(1);
    const char* labelIds[3] = {"Event Type:", "Action Type:", "Action Param:"};
    const int labelCtrl[3] = {kIdEventsLabelEvent, kIdEventsLabelAction, kIdEventsLabelParam};
    eventType_ = new CComboBoxPelmorText(p, kIdEventsEventType, wxDefaultPosition, wxSize(220, 26));
    actionType_ = new CComboBoxPelmorText(p, kIdEventsActionType, wxDefaultPosition, wxSize(220, 26));
    param_ = new CSkinEdit(p, kIdEventsParam, wxEmptyString, wxDefaultPosition, wxSize(220, 26));
    wxWindow* inputs[3] = {eventType_, actionType_, param_};
    for (int i = 0; i < 3; ++i) {
        labels_[i] = new wxStaticText(p, labelCtrl[i], Tr(labelIds[i]));
        fields->Add(labels_[i], 0, wxALIGN_CENTER_VERTICAL);
        fields->Add(inputs[i], 1, wxEXPAND);
    }
    add_ = new CSkinButton(p, kIdEventsAdd, Tr("Add"), wxDefaultPosition, wxSize(90, 28));
    auto* groupSizer = new wxStaticBoxSizer(group_, wxHORIZONTAL);
    groupSizer->Add(fields, 1, wxALL, 8);
    groupSizer->Add(add_, 0, wxALIGN_BOTTOM | wxALL, 8);

    list_ = new CReportList(p, kIdEventsList, wxDefaultPosition, wxSize(-1, 170));
    delete_ = new CSkinButton(p, kIdEventsDelete, Tr("Delete"), wxDefaultPosition, wxSize(90, 28));

    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(groupSizer, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 12);
    outer->Add(list_, 1, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 12);
    outer->Add(delete_, 0, wxALIGN_RIGHT | wxALL, 12);
    p->SetSizer(outer);
    p->Layout();
    FitClientArea();
    p->Layout();

    const int width = list_->GetClientSize().x;
    list_->AddColumn(Tr("Event Type"), 120);
    list_->AddColumn(Tr("Action Type"), 150);
    list_->AddColumn(Tr("Action Param"), std::max(60, width - 290));
    list_->AddRowButton(delete_);
    // "After DisConnect" and "Terminate process".
    FillCombo(eventType_, GetEventTypeTable(), 3);
    FillCombo(actionType_, GetActionTypeTable(), 0);
    FillList();

    add_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnAdd(); });
    delete_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnDelete(); });
    // Enter keeps the dialog open.
    Bind(wxEVT_BUTTON, [](wxCommandEvent&) {}, wxID_OK);
    SetAffirmativeId(wxID_NONE);
}

void CDialogEventsMgr::FillList() {
    rows_ = CDialogEventsMgrCore::Rows();
    list_->DeleteAllRows();
    for (size_t i = 0; i < rows_.size(); ++i) {
        const EventRecord& r = rows_[i];
        const long row = list_->InsertItem(static_cast<long>(i), wxString(GetEventTypeText(r.EventType)));
        list_->SetItem(row, 1, wxString(GetActionTypeText(r.EventAction)));
        list_->SetItem(row, 2, wxString(r.param));
    }
    list_->UpdateRowButtons();
}

void CDialogEventsMgr::OnAdd() {
    const int result = CDialogEventsMgrCore::Add(eventType_->GetSelection(), actionType_->GetSelection(),
                                                 param_->GetValue().ToStdWstring());
    // A refused or unsaved parameter stays for the user to mend.
    if (result == 1) param_->ChangeValue(wxEmptyString);
    if (result != 0) FillList();
}

void CDialogEventsMgr::OnDelete() {
    const long row = list_->GetSelectedRow();
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
    // A copy: the list behind it may change meanwhile.
    const EventRecord record = rows_[static_cast<size_t>(row)];
    CDialogEventsMgrCore::Delete(&record);
    FillList();
}

wxWindow* CDialogEventsMgr::GetControl(int id) const {
    switch (id) {
        case kIdEventsDelete:
            return delete_;
        case kIdEventsParam:
            return param_;
        case kIdEventsLabelAction:
            return labels_[1];
        case kIdEventsActionType:
            return actionType_;
        case kIdEventsGroup:
            return group_;
        case kIdEventsLabelEvent:
            return labels_[0];
        case kIdEventsEventType:
            return eventType_;
        case kIdEventsLabelParam:
            return labels_[2];
        case kIdEventsAdd:
            return add_;
        case kIdEventsList:
            return list_;
        default:
            return nullptr;
    }
}
