#pragma once
// An owner-drawn, read-only combo box whose rows are grouped under header
// rows that cannot be selected. Its rows, groups, selection and every
// steering rule live in a GroupComboModel; this window mirrors the rows,
// draws the open list through the rows' own Draw and the closed face in the
// program's colours, and feeds keys, type-ahead and clicks to the model.
// A selection the user makes raises wxEVT_COMBOBOX.

#include <wx/dc.h>
#include <wx/dcmemory.h>
#include <wx/odcombo.h>

#include "ui/base/group_combo_model.h"

// Draws into an off-screen copy of `rect` in the target's coordinates,
// pre-filled with the target's background, and copies it back when it ends.
class CMemDC : public wxMemoryDC {
public:
    CMemDC(wxDC& target, const wxRect& rect);
    // Draws in `scratch`, made (again) only when smaller than `rect`: a list
    // drawing row after row then needs no new off-screen picture per row.
    CMemDC(wxDC& target, const wxRect& rect, wxBitmap& scratch);
    ~CMemDC() override;

private:
    void Begin(wxBitmap& bitmap);

    wxDC& target_;
    wxRect rect_;
    wxBitmap bitmap_;
};

// The item font (Sans 8 pt of the given weight: 700 headers, 400 items)
// selected for the life of the object.
class CScopedItemFont : public wxDCFontChanger {
public:
    CScopedItemFont(wxDC& dc, int weight);
    static wxFont ItemFont(int weight);
};

class CGroupComboBox : public wxOwnerDrawnComboBox, private GroupComboModel::Listener {
public:
    CGroupComboBox(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                   const wxSize& size = wxDefaultSize);
    ~CGroupComboBox() override;

    int AddGroup(CGroupComboBoxHeader* header) { return model_.AddGroup(header); }
    int FindGroup(const std::wstring& caption) const { return model_.FindGroup(caption); }
    bool HasGroup(const std::wstring& caption) const { return model_.HasGroup(caption); }
    int AddItem(CGroupComboBoxItem* item, int group) { return model_.AddItem(item, group); }
    void DeleteItem(int row) { model_.DeleteItem(row); }
    void ResetContent() { model_.ResetContent(); }
    CGroupComboBoxItem* GetItem(int row) const { return model_.GetItem(row); }
    int FindFirstItem() const { return model_.FindFirstItem(); }
    int FindNextItem(int row) const { return model_.FindNextItem(row); }
    int FindPrevItem(int row) const { return model_.FindPrevItem(row); }
    void SelectItem(int row) { model_.SelectItem(row); }
    void SetAdjustDropWidth(bool on) { model_.SetAdjustDropWidth(on); }
    virtual int GetPageUpRow(int row) const { return model_.GetPageUpRow(row); }
    virtual int GetPageDownRow(int row) const { return model_.GetPageDownRow(row); }
    int GetCurSel() const { return model_.GetCurSel(); }
    // Rows the open list shows at once (at least 1).
    void SetMinVisible(int rows) { model_.SetMinVisible(rows); }
    void SetRowHeight(int height);
    int GetRowHeight() const { return row_height_; }
    // The widest row's Measure width.
    int GetMaxItemWidth();

    // Between these the window leaves its rows and state alone and mirrors
    // the model once at the end: a fill of thousands of rows then costs one
    // rebuild instead of one list insertion per row.
    void BeginUpdateRows() { defer_ = true; }
    void EndUpdateRows();

    GroupComboModel& model() { return model_; }
    const GroupComboModel& model() const { return model_; }

    // Draws the closed face: the selected row filled with RGB(100,100,100)
    // and its caption in white. Derived choosers may draw it their way.
    virtual void DrawItem(wxDC& dc, const DRAWITEMSTRUCT& dis);

private:
    friend class CGroupListBox;
    void OnRowInserted(int row) override;
    void OnRowDeleted(int row) override;
    void OnStateChanged() override;

    // Keys of the closed face and of the open list; true when used.
    bool OnKey(wxKeyEvent& event);
    bool OnChar(wxKeyEvent& event);
    void OnListClick(int row);
    void OnDropDown(wxCommandEvent& event);
    void OnCloseUp(wxCommandEvent& event);
    void AdjustDropWidth();
    void NotifySelection(int before);

    GroupComboModel model_;
    int row_height_ = 0;
    bool syncing_ = false;
    bool defer_ = false;
};
