#pragma once
// A read-only owner-drawn combo box in the program's colours (the selected
// row filled with RGB(100,100,100) and white text, other rows white with
// black text), 20-pixel rows whose first 18 pixels hold the row's icon
// (RowIcon), and an image list of 16x16 icons cut from one bitmap strip.
// The selection bar covers the whole row. Choosers derive from it.

#include <wx/imaglist.h>
#include <wx/odcombo.h>

#include <memory>

class CComboBoxIcon : public wxOwnerDrawnComboBox {
public:
    CComboBoxIcon(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                  const wxSize& size = wxDefaultSize);

    // Appends a row; a non-zero `data` becomes the row's client data.
    virtual int AddItem(const wxString& text, uintptr_t data);
    // Once: cuts the bitmap resource into 16x16 images with white as mask.
    virtual void LoadIcons(int bitmapId);
    wxImageList* GetImageList() const { return images_.get(); }
    uintptr_t GetItemDataOf(int row) const;
    // The image of a row in the image list, -1 for none (the default).
    virtual int RowIcon(int) const { return -1; }

    // Cuts a strip into a 16x16 image list with `mask` as the see-through colour.
    static std::unique_ptr<wxImageList> LoadImageStrip(int bitmapId, const wxColour& mask, int initial = 2);

protected:
    void OnDrawItem(wxDC& dc, const wxRect& rect, int item, int flags) const override;
    void OnDrawBackground(wxDC& dc, const wxRect& rect, int item, int flags) const override;
    wxCoord OnMeasureItem(size_t item) const override;
    wxCoord OnMeasureItemWidth(size_t item) const override;

    // Fills the row (selected: RGB(100,100,100)) and sets the text colour; whether it was selected.
    bool FillRow(wxDC& dc, const wxRect& rect, int flags) const;
    // The row's icon at `x`, centred as the rows draw it (y = top, or top + 1
    // for rows other than 16 high).
    void DrawRowIcon(wxDC& dc, int index, int x, const wxRect& row) const;

    std::unique_ptr<wxImageList> images_;
};
