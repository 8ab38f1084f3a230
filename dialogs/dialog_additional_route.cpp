#include "dialogs/dialog_additional_route.h"

#include <wx/statline.h>
#include <wx/stattext.h>

#include "dialogs/dialog_frame.h"
#include "dialogs/pelmor_combos.h"
#include "dialogs/report_list.h"
#include "foundation/message_box.h"
#include "foundation/translate.h"
#include "ui/skin_button.h"
#include "ui/skin_edit.h"

CDialogAdditionalRouteMgr::CDialogAdditionalRouteMgr(wxWindow* parent)
    : CSkinDialog(parent, 157, U8(Translate("Additional route management")), wxSize(440, 360)) {
    wxPanel* p = GetClientPanel();
    const int gap = ControlGap(this);
    address_ = new CSkinEdit(p, kIdRouteAddress);
    action_ = new CComboBoxPelmorText(p, kIdRouteAction);
    add_ = new CSkinButton(p, kIdRouteAdd, U8(Translate("Add")));
    wait_ = new wxStaticText(p, kIdRouteWait, U8(Translate("Wait...")));
    list_ = new CReportList(p, kIdRouteList);
    delete_ = new CSkinButton(p, kIdRouteDelete, U8(Translate("Delete")));

    auto* grid = new wxFlexGridSizer(2, gap, gap);
    grid->AddGrowableCol(1);
    grid->Add(new wxStaticText(p, 1059, U8(Translate("IP Address:"))), 0, wxALIGN_CENTRE_VERTICAL);
    grid->Add(address_, 1, wxEXPAND);
    grid->Add(new wxStaticText(p, 1162, U8(Translate("Action:"))), 0, wxALIGN_CENTRE_VERTICAL);
    auto* actionRow = new wxBoxSizer(wxHORIZONTAL);
    action_->SetMinSize(wxSize(DialogUnitsToPixels(this, 70, 0).x, -1));
    actionRow->Add(action_, 0, wxALIGN_CENTRE_VERTICAL);
    actionRow->Add(add_, 0, wxALIGN_CENTRE_VERTICAL | wxLEFT, gap);
    actionRow->Add(wait_, 0, wxALIGN_CENTRE_VERTICAL | wxLEFT, gap);
    grid->Add(actionRow, 1, wxEXPAND);
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(grid, 0, wxEXPAND | wxBOTTOM, gap);
    column->Add(new wxStaticLine(p), 0, wxEXPAND | wxBOTTOM, gap);
    column->Add(list_, 1, wxEXPAND | wxBOTTOM, gap);
    column->Add(delete_, 0, wxALIGN_LEFT);
    LayOutTemplate(this, 264, 194, column);

    list_->AddColumn(U8(Translate("IP Addresss")), 200);
    list_->AddColumn(U8(Translate("Action")), 100);
    list_->AddRowButton(delete_);
    for (const char* text : {Translate("Direct"), Translate("Proxify")}) action_->AddItem(U8(text), 0);
    action_->SetSelection(0);
    address_->GetTextCtrl()->SetHint(U8(Translate("Enter IP address here")));
    wait_->Hide();
    FillList();

    add_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnAdd(); });
    delete_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnDelete(); });
}

CDialogAdditionalRouteMgr::~CDialogAdditionalRouteMgr() { JoinLookup(); }

void CDialogAdditionalRouteMgr::JoinLookup() {
    {
        std::lock_guard<std::mutex> lock(guard_->mutex);
        guard_->alive = false;
    }
    if (lookup_.joinable()) lookup_.join();
}

void CDialogAdditionalRouteMgr::FillList() {
    list_->DeleteAllRows();
    long index = 0;
    for (const AdditionalRouteRow& row : Rows()) {
        list_->InsertItem(index, wxString(row.address));
        list_->SetItem(index, 1, wxString(row.action));
        ++index;
    }
    list_->UpdateRowButtons();
}

void CDialogAdditionalRouteMgr::SetBusy(bool busy) {
    busy_ = busy;
    wait_->Show(busy);
    for (wxWindow* w : std::initializer_list<wxWindow*>{address_, action_, add_, list_}) w->Enable(!busy);
    if (busy)
        delete_->Enable(false);
    else
        list_->UpdateRowButtons();
    GetClientPanel()->Layout();
}

void CDialogAdditionalRouteMgr::OnAdd() {
    if (busy_ || !BeginAdd(address_->GetValue().ToStdWstring(), action_->GetSelection())) return;
    if (lookup_.joinable()) lookup_.join();
    SetBusy(true);
    std::shared_ptr<Guard> guard = guard_;
    lookup_ = std::thread([this, guard] {
        const char* message = ResolveAndAdd();
        std::lock_guard<std::mutex> lock(guard->mutex);
        if (!guard->alive) return;
        CallAfter([this, guard, message] {
            if (guard->alive) OnLookupDone(message);
        });
    });
}

void CDialogAdditionalRouteMgr::OnLookupDone(const char* message) {
    if (lookup_.joinable()) lookup_.join();
    SetBusy(false);
    FillList();
    if (message) AppMessageBox(message, MB_OK);
}

void CDialogAdditionalRouteMgr::OnDelete() {
    const long row = list_->GetSelectedRow();
    if (busy_ || row < 0) return;
    Delete(list_->GetItemText(row, 0).ToStdWstring());
    FillList();
}
