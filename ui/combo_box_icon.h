#pragma once
// A read-only owner-drawn combo box in the program's colours (the selected
// row filled with RGB(100,100,100) and white text, other rows white with
// black text), 20-pixel rows whose first 18 pixels are left to an icon,
// and an image list of 16x16 icons cut from one bitmap strip. Choosers
// derive from it and draw their icons.

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

protected:
    void OnDrawItem(wxDC& dc, const wxRect& rect, int item, int flags) const override;
    void OnDrawBackground(wxDC& dc, const wxRect& rect, int item, int flags) const override;
    wxCoord OnMeasureItem(size_t item) const override;
    wxCoord OnMeasureItemWidth(size_t item) const override;

    // Cuts a strip into a 16x16 image list with `mask` as the see-through colour.
    static std::unique_ptr<wxImageList> LoadImageStrip(int bitmapId, const wxColour& mask);

    std::unique_ptr<wxImageList> images_;
};
