#include "ui/combo_box_icon.h"

#include "ui/wx_draw.h"

CComboBoxIcon::CComboBoxIcon(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxOwnerDrawnComboBox(parent, id, wxEmptyString, pos, size, 0, nullptr, wxCB_READONLY) {
    SetFont(GuiFont());
}

int CComboBoxIcon::AddItem(const wxString& text, uintptr_t data) {
    const int row = Append(text);
    if (row != wxNOT_FOUND && data != 0) SetClientData(static_cast<unsigned>(row), reinterpret_cast<void*>(data));
    return row;
}

uintptr_t CComboBoxIcon::GetItemDataOf(int row) const {
    if (row < 0 || static_cast<unsigned>(row) >= GetCount() || !HasClientUntypedData()) return 0;
    return reinterpret_cast<uintptr_t>(GetClientData(static_cast<unsigned>(row)));
}

std::unique_ptr<wxImageList> CComboBoxIcon::LoadImageStrip(int bitmapId, const wxColour& mask, int initial) {
    const Pixmap strip = LoadPictureResource("bitmap", bitmapId);
    if (!strip.IsOk()) return nullptr;
    auto list = std::make_unique<wxImageList>(16, 16, true, initial);
    list->Add(ToWxBitmap(strip), mask);
    return list;
}

void CComboBoxIcon::LoadIcons(int bitmapId) {
    if (images_) return;
    images_ = LoadImageStrip(bitmapId, *wxWHITE);
}

void CComboBoxIcon::OnDrawBackground(wxDC& dc, const wxRect& rect, int, int) const {
    dc.SetBrush(*wxWHITE_BRUSH);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.DrawRectangle(rect);
}

bool CComboBoxIcon::FillRow(wxDC& dc, const wxRect& rect, int flags) const {
    const bool selected = (flags & wxODCB_PAINTING_SELECTED) ||
                          ((flags & wxODCB_PAINTING_CONTROL) && HasFocus());
    dc.SetBrush(selected ? wxBrush(wxColour(100, 100, 100)) : *wxWHITE_BRUSH);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.DrawRectangle(rect);
    dc.SetTextForeground(selected ? *wxWHITE : *wxBLACK);
    return selected;
}

void CComboBoxIcon::DrawRowIcon(wxDC& dc, int index, int x, const wxRect& row) const {
    if (!images_ || index < 0 || index >= images_->GetImageCount()) return;
    images_->Draw(index, dc, x, row.height == 16 ? row.y : row.y + 1, wxIMAGELIST_DRAW_TRANSPARENT);
}

void CComboBoxIcon::OnDrawItem(wxDC& dc, const wxRect& rect, int item, int flags) const {
    if (item == wxNOT_FOUND) return;
    FillRow(dc, rect, flags);
    DrawRowIcon(dc, RowIcon(item), rect.x + 1, rect);
    wxRect text = rect;
    text.x += 18;
    text.width -= 18;
    DrawTextLine(dc, GetString(static_cast<unsigned>(item)), text, wxALIGN_LEFT, true);
}

wxCoord CComboBoxIcon::OnMeasureItem(size_t) const {
    return 20;
}

wxCoord CComboBoxIcon::OnMeasureItemWidth(size_t) const {
    return 100;
}
