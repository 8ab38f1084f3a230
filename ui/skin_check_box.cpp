#include "ui/skin_check_box.h"

#include <wx/dcbuffer.h>
#include <wx/dcmemory.h>
#include <wx/renderer.h>

#include "ui/base/control_states.h"
#include "ui/skin_dialog.h"
#include "ui/wx_draw.h"

CSkinCheckBox::CSkinCheckBox(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                             const wxSize& size, long style)
    : CHoverButton(parent, id, label, pos, size, style | wxWANTS_CHARS, Tracking::kEnterLeave) {
    SetFont(GuiFont());
    SetInitialSize(size);
    Bind(wxEVT_PAINT, &CSkinCheckBox::OnPaint, this);
    Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& event) {
        Refresh(false);
        event.Skip();
    });
    Bind(wxEVT_KEY_DOWN, &CSkinCheckBox::OnKey, this);
    Bind(wxEVT_SIZE, &CSkinCheckBox::OnSize, this);
    Bind(wxEVT_SYS_COLOUR_CHANGED, &CSkinCheckBox::OnSysColourChanged, this);
}

wxSize CSkinCheckBox::DoGetBestSize() const {
    wxClientDC dc(const_cast<CSkinCheckBox*>(this));
    dc.SetFont(GetFont());
    const wxSize text = dc.GetTextExtent(GetLabelText());
    return wxSize(text.x + 20, std::max(17, text.y + 4));
}

void CSkinCheckBox::SetCheckState(int value) {
    SetCheck(value == 1 || value == 2 ? 1 : 0, 1);
}

void CSkinCheckBox::SetCheck(int checked, int repaint) {
    checked_ = checked != 0;
    if (repaint) Refresh(false);
}

bool CSkinCheckBox::Enable(bool enable) {
    if (!enable) {
        ResetPointerState();
        // The focus moves on to the next control, as a disabled control cannot keep it.
        if (HasFocus()) Navigate();
    }
    const bool changed = wxControl::Enable(enable);
    Refresh(false);
    return changed;
}

void CSkinCheckBox::SetLabel(const wxString& label) {
    wxControl::SetLabel(label);
    Refresh(false);
}

void CSkinCheckBox::OnKey(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_SPACE) {
        Click();
        return;
    }
    event.Skip();
}

void CSkinCheckBox::OnSize(wxSizeEvent& event) {
    parent_background_ = wxBitmap();
    Refresh(false);
    event.Skip();
}

void CSkinCheckBox::OnSysColourChanged(wxSysColourChangedEvent& event) {
    parent_background_ = wxBitmap();
    event.Skip();
}

void CSkinCheckBox::Click() {
    checked_ = !checked_;
    Refresh(false);
    wxCommandEvent click(wxEVT_CHECKBOX, GetId());
    click.SetEventObject(this);
    click.SetInt(checked_ ? 1 : 0);
    ProcessWindowEvent(click);
}

const wxBitmap& CSkinCheckBox::ParentBackground() {
    const wxSize size = GetClientSize();
    if (parent_background_.IsOk() && parent_background_.GetSize() == size) return parent_background_;
    parent_background_ = wxBitmap(std::max(1, size.x), std::max(1, size.y));
    wxMemoryDC mdc(parent_background_);
    if (auto* panel = dynamic_cast<CSkinClientPanel*>(GetParent())) {
        mdc.SetDeviceOrigin(-GetPosition().x, -GetPosition().y);
        panel->PaintBackground(mdc, wxRect(GetPosition(), size));
    } else {
        mdc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
        mdc.Clear();
    }
    return parent_background_;
}

void CSkinCheckBox::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    const bool leftText = HasFlag(wxALIGN_RIGHT);
    dc.DrawBitmap(ParentBackground(), 0, 0);
    const SkinSettings& s = GetSkin();
    const PixRect textRect = CheckBoxTextRect(size.x, size.y, leftText);
    if (!s.checkbox_loaded) {
        int flags = checked_ ? static_cast<int>(wxCONTROL_CHECKED) : 0;
        if (!IsEnabled()) flags |= wxCONTROL_DISABLED;
        if (IsPushed() && IsHovered()) flags |= wxCONTROL_PRESSED;
        if (IsHovered()) flags |= wxCONTROL_CURRENT;
        wxRendererNative::Get().DrawCheckBox(
            this, dc, wxRect(leftText ? size.x - 13 : 0, size.y / 2 - 6, 13, 13), flags);
    } else {
        const int cell = CheckBoxCellFor(checked_, IsHovered(), IsPushed() && IsHovered(), !IsEnabled());
        const PixRect box = CheckBoxBoxRect(s, size.x, size.y, leftText);
        Pixmap cellPixels(std::max(1, box.width), std::max(1, box.height));
        CopyPixels(cellPixels, 0, 0, s.checkbox, (cell - 1) * s.checkbox_cell_width, 0, box.width,
                   box.height);
        if (box.width > 0 && box.height > 0 && s.checkbox_cell_width > 0)
            dc.DrawBitmap(ToWxBitmap(cellPixels), box.x, box.y);
    }
    dc.SetFont(GetFont());
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    COLORREF text = s.checkbox_loaded ? s.checkbox_text_color : GetSysColor(COLOR_BTNTEXT);
    if (!IsEnabled()) text = GetSysColor(COLOR_GRAYTEXT);
    dc.SetTextForeground(WxColour(text));
    DrawTextLine(dc, GetLabelText(), WxRect(textRect), wxALIGN_LEFT, true);
}
