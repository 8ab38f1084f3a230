#include "dialogs/report_list.h"

CReportList::CReportList(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxListCtrl(parent, id, pos, size, wxLC_REPORT | wxLC_SINGLE_SEL | wxLC_HRULES | wxLC_VRULES | wxBORDER_SUNKEN) {
    // The rows are drawn by a child window of the list, which gets the
    // presses (the header is another child, whose presses hit no row).
    for (wxWindow* child : GetChildren()) {
        if (wxString(child->GetClassInfo()->GetClassName()).Contains("Header")) continue;
        child->Bind(wxEVT_LEFT_DOWN, &CReportList::OnPress, this);
        child->Bind(wxEVT_RIGHT_DOWN, &CReportList::OnPress, this);
    }
    Bind(wxEVT_LIST_ITEM_SELECTED, &CReportList::OnSelectionEvent, this);
    Bind(wxEVT_LIST_ITEM_DESELECTED, &CReportList::OnSelectionEvent, this);
}

void CReportList::AddColumn(const wxString& header, int width) {
    AppendColumn(header, wxLIST_FORMAT_LEFT, width);
}

void CReportList::AddRowButton(wxWindow* button) {
    if (!button) return;
    row_buttons_.push_back(button);
    button->Enable(GetSelectedRow() >= 0);
}

long CReportList::GetSelectedRow() const {
    return GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
}

void CReportList::SelectRow(long row) {
    if (row < 0 || row >= GetItemCount()) return;
    SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    UpdateRowButtons();
}

void CReportList::ClearSelection() {
    for (long row = GetSelectedRow(); row >= 0; row = GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
        SetItemState(row, 0, wxLIST_STATE_SELECTED);
    UpdateRowButtons();
}

void CReportList::DeleteAllRows() {
    DeleteAllItems();
    UpdateRowButtons();
}

void CReportList::UpdateRowButtons() {
    const bool selected = GetSelectedRow() >= 0;
    for (wxWindow* button : row_buttons_) button->Enable(selected);
}

void CReportList::OnPress(wxMouseEvent& event) {
    // The generic list hit-tests in its row window's coordinates, which is
    // where these presses come from.
    int flags = 0;
    if (HitTest(event.GetPosition(), flags) == wxNOT_FOUND) ClearSelection();
    event.Skip();
}

void CReportList::OnSelectionEvent(wxListEvent& event) {
    UpdateRowButtons();
    event.Skip();
}
