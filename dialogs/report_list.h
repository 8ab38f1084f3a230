#pragma once
// The report-view list of the list dialogs: full-row selection, grid lines, a
// click on no row clears the selection, and the row buttons given to
// AddRowButton are enabled exactly while a row is selected.

#include <wx/listctrl.h>

#include <vector>

class CReportList : public wxListCtrl {
public:
    CReportList(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                const wxSize& size = wxDefaultSize);

    // A left-aligned column `width` pixels wide.
    void AddColumn(const wxString& header, int width);
    // A button that acts on the selected row; enabled now as the selection says.
    void AddRowButton(wxWindow* button);
    // The selected row, -1 when none.
    long GetSelectedRow() const;
    void SelectRow(long row);
    void ClearSelection();
    // Removes every row (the row buttons are disabled).
    void DeleteAllRows();
    // Enables the row buttons exactly when a row is selected.
    void UpdateRowButtons();

private:
    void OnPress(wxMouseEvent& event);
    void OnSelectionEvent(wxListEvent& event);

    std::vector<wxWindow*> row_buttons_;
};
