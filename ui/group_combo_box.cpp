#include "ui/group_combo_box.h"

#include <wx/dcclient.h>
#include <wx/display.h>

#include "ui/wx_draw.h"

// ---------------------------------------------------------------------------
// Drawing aids

CMemDC::CMemDC(wxDC& target, const wxRect& rect)
    : target_(target), rect_(rect), bitmap_(std::max(rect.width, 1), std::max(rect.height, 1)) {
    Begin(bitmap_);
}

CMemDC::CMemDC(wxDC& target, const wxRect& rect, wxBitmap& scratch) : target_(target), rect_(rect) {
    if (!scratch.IsOk() || scratch.GetWidth() < rect.width || scratch.GetHeight() < rect.height)
        scratch = wxBitmap(std::max(rect.width, 1), std::max(rect.height, 1));
    Begin(scratch);
}

void CMemDC::Begin(wxBitmap& bitmap) {
    SelectObject(bitmap);
    SetDeviceOrigin(-rect_.x, -rect_.y);
    const wxBrush back = target_.GetBackground().IsOk() ? target_.GetBackground() : *wxWHITE_BRUSH;
    SetBrush(back);
    SetPen(*wxTRANSPARENT_PEN);
    DrawRectangle(rect_);
    SetFont(target_.GetFont());
}

CMemDC::~CMemDC() {
    if (rect_.width > 0 && rect_.height > 0)
        target_.Blit(rect_.x, rect_.y, rect_.width, rect_.height, this, rect_.x, rect_.y);
    SelectObject(wxNullBitmap);
}

wxFont CScopedItemFont::ItemFont(int weight) {
    // Rows are drawn by the thousand while a list pages: the two fonts are
    // made once (on the window thread) and kept for the process's life.
    static wxFont* const regular = new wxFont(wxFontInfo(8).FaceName("Sans").Weight(400));
    static wxFont* const bold = new wxFont(wxFontInfo(8).FaceName("Sans").Weight(700));
    if (weight == 400) return *regular;
    if (weight == 700) return *bold;
    return wxFont(wxFontInfo(8).FaceName("Sans").Weight(weight));
}

CScopedItemFont::CScopedItemFont(wxDC& dc, int weight) : wxDCFontChanger(dc, ItemFont(weight)) {}

// ---------------------------------------------------------------------------
// Row objects: the members that draw

ItemSize CGroupComboBoxItem::Measure(wxDC& dc) {
    CScopedItemFont font(dc, 400);
    const wxSize extent = dc.GetTextExtent(wxString(caption()));
    return {extent.x + 26, std::max(extent.y, 16)};
}

void CGroupComboBoxHeader::Draw(wxDC& dc, const DRAWITEMSTRUCT& dis) {
    const wxColour text = dc.GetTextForeground(), back = dc.GetTextBackground();
    const wxRect r = WxRect(dis.rcItem);
    dc.SetBrush(wxBrush(wxColour(214, 232, 254)));
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.DrawRectangle(r);
    CScopedItemFont font(dc, 700);
    dc.SetTextForeground(*wxBLACK);
    DrawTextLine(dc, wxString(caption()), r, wxALIGN_CENTRE_HORIZONTAL, true);
    dc.SetTextForeground(text);
    dc.SetTextBackground(back);
}

ItemSize CGroupComboBoxHeader::Measure(wxDC& dc) {
    CScopedItemFont font(dc, 700);
    const wxSize extent = dc.GetTextExtent(wxString(caption()));
    return {extent.x + 8, extent.y * 2};
}

// ---------------------------------------------------------------------------
// The open list

class CGroupListBox : public wxVListBoxComboPopup {
public:
    explicit CGroupListBox(CGroupComboBox* owner) : owner_(owner) {}

    // The combo box is going: its base classes still call in while they
    // take the list down, and find nothing.
    void Detach() { owner_ = nullptr; }

    bool Create(wxWindow* parent) override {
        if (!wxVListBoxComboPopup::Create(parent)) return false;
        // Bound handlers run before the list's own table.
        Bind(wxEVT_KEY_DOWN, &CGroupListBox::OnKeyDown, this);
        Bind(wxEVT_CHAR, &CGroupListBox::OnCharEvent, this);
        Bind(wxEVT_MOTION, &CGroupListBox::OnMotion, this);
        Bind(wxEVT_LEFT_DOWN, &CGroupListBox::OnLeftDown, this);
        Bind(wxEVT_LEFT_DCLICK, &CGroupListBox::OnLeftDown, this);
        Bind(wxEVT_LEFT_UP, &CGroupListBox::OnLeftUp, this);
        return true;
    }

    void OnComboKeyEvent(wxKeyEvent& event) override {
        if (!owner_ || !owner_->OnKey(event)) event.Skip();
    }
    // Closed, typing selects nothing.
    void OnComboCharEvent(wxKeyEvent&) override {}
    void OnComboDoubleClick() override {}

    void PaintComboControl(wxDC& dc, const wxRect& rect) override {
        dc.SetBrush(*wxWHITE_BRUSH);
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.DrawRectangle(rect);
        if (!owner_) return;
        DRAWITEMSTRUCT dis;
        dis.itemID = owner_->model().GetCurSel();
        dis.itemState = ODS_COMBOBOXEDIT | (owner_->HasFocus() ? ODS_FOCUS | ODS_SELECTED : 0u);
        dis.rcItem = {rect.x, rect.y, rect.width, rect.height};
        if (dis.itemID >= 0) owner_->DrawItem(dc, dis);
    }

    wxCoord OnMeasureItem(size_t) const override { return owner_ ? owner_->GetRowHeight() : 16; }
    wxCoord OnMeasureItemWidth(size_t n) const override {
        CGroupComboBoxItem* item = owner_ ? owner_->model().GetItem(static_cast<int>(n)) : nullptr;
        if (!item) return 0;
        wxClientDC dc(owner_);
        dc.SetFont(owner_->GetFont());
        return item->Measure(dc).cx;
    }

    void OnDrawBg(wxDC&, const wxRect&, int, int) const override {}
    void OnDrawItem(wxDC& dc, const wxRect& rect, int n, int flags) const override {
        if (!owner_ || (flags & wxODCB_PAINTING_CONTROL)) return;  // PaintComboControl draws the face
        CGroupComboBoxItem* item = owner_->model().GetItem(n);
        if (!item) return;
        DRAWITEMSTRUCT dis;
        dis.itemID = n;
        dis.itemState = (flags & wxODCB_PAINTING_SELECTED) ? ODS_SELECTED | ODS_FOCUS : 0u;
        dis.rcItem = {rect.x, rect.y, rect.width, rect.height};
        CMemDC mem(dc, rect, scratch_);
        mem.SetTextForeground(*wxBLACK);
        item->Draw(mem, dis);
    }

    wxSize GetAdjustedSize(int minWidth, int prefHeight, int maxHeight) override {
        // The base measures every row's width first, which a long list pays
        // for at each opening; the list keeps the combo's width instead.
        if (!owner_) return wxVListBoxComboPopup::GetAdjustedSize(minWidth, prefHeight, maxHeight);
        const int rows = std::min(owner_->model().GetCount(), owner_->model().GetMinVisible());
        return wxSize(minWidth, std::max(rows, 1) * owner_->GetRowHeight() + 2);
    }

    void ShowTop(int top) {
        if (top >= 0 && static_cast<size_t>(top) < GetItemCount()) ScrollToRow(static_cast<size_t>(top));
    }

private:
    void OnKeyDown(wxKeyEvent& e) {
        if (!owner_ || !owner_->OnKey(e)) e.Skip();
    }
    void OnCharEvent(wxKeyEvent& e) {
        if (!owner_ || !owner_->OnChar(e)) e.Skip();
    }
    // The hover highlight never rests on a header.
    void OnMotion(wxMouseEvent& e) {
        const int row = RowAt(e.GetPosition());
        if (!owner_ || row == wxNOT_FOUND || !owner_->model().IsHeaderRow(row)) e.Skip();
    }
    void OnLeftDown(wxMouseEvent& e) {
        const int row = RowAt(e.GetPosition());
        if (owner_ && row != wxNOT_FOUND && owner_->model().IsHeaderRow(row)) return;  // refused
        e.Skip();
    }
    void OnLeftUp(wxMouseEvent& e) {
        if (owner_) owner_->OnListClick(RowAt(e.GetPosition()));
    }

    // The row under a point of the list, or wxNOT_FOUND.
    int RowAt(const wxPoint& p) const {
        const int row = VirtualHitTest(p.y);
        return row >= 0 && static_cast<size_t>(row) < GetItemCount() ? row : wxNOT_FOUND;
    }

    CGroupComboBox* owner_;
    mutable wxBitmap scratch_;  // the rows' off-screen picture, reused
};

// ---------------------------------------------------------------------------
// The combo box

CGroupComboBox::CGroupComboBox(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxOwnerDrawnComboBox(parent, id, wxEmptyString, pos, size, 0, nullptr, wxCB_READONLY) {
    SetFont(GuiFont());
    SetPopupControl(new CGroupListBox(this));
    {
        wxClientDC dc(this);
        dc.SetFont(GetFont());
        row_height_ = dc.GetCharHeight();
    }
    model_.SetListener(this);
    Bind(wxEVT_COMBOBOX_DROPDOWN, &CGroupComboBox::OnDropDown, this);
    Bind(wxEVT_COMBOBOX_CLOSEUP, &CGroupComboBox::OnCloseUp, this);
}

CGroupComboBox::~CGroupComboBox() {
    model_.SetListener(nullptr);
    static_cast<CGroupListBox*>(GetVListBoxComboPopup())->Detach();
}

void CGroupComboBox::SetRowHeight(int height) {
    row_height_ = std::max(height, 1);
}

int CGroupComboBox::GetMaxItemWidth() {
    wxClientDC dc(this);
    dc.SetFont(GetFont());
    int widest = 0;
    for (int r = 0; r < model_.GetCount(); ++r) widest = std::max(widest, model_.GetItem(r)->Measure(dc).cx);
    return widest;
}

void CGroupComboBox::DrawItem(wxDC& dc, const DRAWITEMSTRUCT& dis) {
    const CGroupComboBoxItem* item = model_.GetItem(dis.itemID);
    if (!item) return;
    const wxRect r = WxRect(dis.rcItem);
    dc.SetBrush(wxBrush(wxColour(100, 100, 100)));
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.DrawRectangle(r);
    dc.SetTextForeground(*wxWHITE);
    dc.SetFont(GetFont());
    DrawTextLine(dc, wxString(item->caption()), wxRect(r).Deflate(2, 0), wxALIGN_LEFT, true);
}

void CGroupComboBox::EndUpdateRows() {
    if (!defer_) return;
    defer_ = false;
    syncing_ = true;
    wxArrayString rows;
    rows.Alloc(static_cast<size_t>(model_.GetCount()));
    for (int r = 0; r < model_.GetCount(); ++r) rows.Add(wxString(model_.GetItem(r)->caption()));
    wxOwnerDrawnComboBox::Clear();
    if (!rows.IsEmpty()) Append(rows);
    syncing_ = false;
    OnStateChanged();
}

void CGroupComboBox::OnRowInserted(int row) {
    if (defer_) return;
    syncing_ = true;
    Insert(wxString(model_.GetItem(row)->caption()), static_cast<unsigned>(row));
    syncing_ = false;
}

void CGroupComboBox::OnRowDeleted(int row) {
    if (defer_) return;
    syncing_ = true;
    Delete(static_cast<unsigned>(row));
    syncing_ = false;
}

void CGroupComboBox::OnStateChanged() {
    if (defer_) return;
    syncing_ = true;
    const int sel = model_.GetCurSel();
    if (GetSelection() != sel) wxOwnerDrawnComboBox::SetSelection(sel);
    if (IsPopupShown()) {
        auto* list = static_cast<CGroupListBox*>(GetVListBoxComboPopup());
        list->ShowTop(model_.GetTopIndex());
        list->Refresh(false);
    }
    if (!model_.IsDropped() && IsPopupShown()) Dismiss();
    syncing_ = false;
    Refresh(false);
}

void CGroupComboBox::NotifySelection(int before) {
    if (model_.GetCurSel() == before || model_.GetCurSel() < 0) return;
    wxCommandEvent changed(wxEVT_COMBOBOX, GetId());
    changed.SetEventObject(this);
    changed.SetInt(model_.GetCurSel());
    ProcessWindowEvent(changed);
}

bool CGroupComboBox::OnKey(wxKeyEvent& event) {
    const int before = model_.GetCurSel();
    const int key = event.GetKeyCode();
    if (event.AltDown() || event.ControlDown()) return false;  // the toggles of the list
    int code = -1;
    switch (key) {
        case WXK_UP: case WXK_NUMPAD_UP: code = kComboKeyUp; break;
        case WXK_DOWN: case WXK_NUMPAD_DOWN: code = kComboKeyDown; break;
        case WXK_PAGEUP: case WXK_NUMPAD_PAGEUP: code = kComboKeyPageUp; break;
        case WXK_PAGEDOWN: case WXK_NUMPAD_PAGEDOWN: code = kComboKeyPageDown; break;
        case WXK_HOME: case WXK_NUMPAD_HOME: code = kComboKeyHome; break;
        case WXK_END: case WXK_NUMPAD_END: code = kComboKeyEnd; break;
        case WXK_BACK: code = kComboKeyBack; break;
        case WXK_DELETE: case WXK_NUMPAD_DELETE: code = kComboKeyDelete; break;
        case WXK_ESCAPE:
            if (!model_.IsDropped()) return false;
            if (!model_.Char(kComboKeyEscape)) Dismiss();
            return true;
        case WXK_RETURN: case WXK_NUMPAD_ENTER:
            if (!model_.IsDropped()) return false;
            Dismiss();
            NotifySelection(-2);
            return true;
        default:
            return false;
    }
    const bool used = model_.KeyDown(code);
    NotifySelection(before);
    return used;
}

bool CGroupComboBox::OnChar(wxKeyEvent& event) {
    const wxChar ch = event.GetUnicodeKey();
    if (ch == WXK_NONE || ch == WXK_ESCAPE || ch == WXK_RETURN) return false;
    const int before = model_.GetCurSel();
    model_.Char(static_cast<wchar_t>(ch));
    NotifySelection(before);
    // The list's own search would also stop on headers: typing ends here.
    return true;
}

void CGroupComboBox::OnListClick(int row) {
    const int before = model_.GetCurSel();
    if (!model_.ClickRow(row)) return;
    Dismiss();
    NotifySelection(row == before ? -2 : before);
}

void CGroupComboBox::OnDropDown(wxCommandEvent& event) {
    if (!syncing_) model_.DropDown();
    if (model_.AdjustsDropWidth()) CallAfter(&CGroupComboBox::AdjustDropWidth);
    event.Skip();
}

void CGroupComboBox::OnCloseUp(wxCommandEvent& event) {
    if (model_.IsDropped()) model_.CloseUp();
    event.Skip();
}

void CGroupComboBox::AdjustDropWidth() {
    wxWindow* popup = GetPopupWindow();
    if (!popup || !IsPopupShown()) return;
    const wxRect now = popup->GetScreenRect();
    int display = wxDisplay::GetFromWindow(popup);
    if (display == wxNOT_FOUND) display = 0;
    const wxRect work = wxDisplay(static_cast<unsigned>(display)).GetClientArea();
    const PixRect r = AdjustDropRect({now.x, now.y, now.width, now.height}, GetMaxItemWidth(), model_.GetCount(),
                                     model_.GetMinVisible(), {work.x, work.y, work.width, work.height});
    if (r.x != now.x || r.width != now.width) popup->SetSize(r.x, r.y, r.width, r.height);
}
