#include "ui/skin_button.h"

#include <wx/dcbuffer.h>
#include <wx/renderer.h>

#include "ui/base/control_states.h"
#include "ui/wx_draw.h"

CSkinButton::CSkinButton(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                         const wxSize& size, long style)
    : CHoverButton(parent, id, label, pos, size, style | wxWANTS_CHARS) {
    SetCursor(wxCursor(wxCURSOR_HAND));
    SetFont(GuiFont());
    SetInitialSize(size);
    Bind(wxEVT_PAINT, &CSkinButton::OnPaint, this);
    Bind(wxEVT_KEY_DOWN, &CSkinButton::OnKey, this);
}

wxSize CSkinButton::DoGetBestSize() const {
    wxClientDC dc(const_cast<CSkinButton*>(this));
    dc.SetFont(GetFont());
    const wxSize text = dc.GetTextExtent(GetLabelText());
    return wxSize(std::max(75, text.x + 16), std::max(23, text.y + 10));
}

bool CSkinButton::Enable(bool enable) {
    if (!enable) ResetPointerState();
    const bool changed = wxControl::Enable(enable);
    Refresh(false);
    return changed;
}

void CSkinButton::SetLabel(const wxString& label) {
    wxControl::SetLabel(label);
    Refresh(false);
}

void CSkinButton::OnKey(wxKeyEvent& event) {
    const int key = event.GetKeyCode();
    if (key == WXK_SPACE || key == WXK_RETURN || key == WXK_NUMPAD_ENTER) {
        Click();
        return;
    }
    event.Skip();
}

void CSkinButton::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    const SkinSettings& s = GetSkin();
    if (!s.button_loaded) {
        // Without the skin: the platform's push button.
        dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
        dc.Clear();
        int flags = 0;
        if (!IsEnabled()) flags |= wxCONTROL_DISABLED;
        if (IsPushed() && IsHovered()) flags |= wxCONTROL_PRESSED;
        if (IsHovered()) flags |= wxCONTROL_CURRENT;
        if (HasFocus()) flags |= wxCONTROL_FOCUSED;
        wxRendererNative::Get().DrawPushButton(this, dc, wxRect(size), flags);
        dc.SetFont(GetFont());
        dc.SetTextForeground(WxColour(GetSysColor(IsEnabled() ? COLOR_BTNTEXT : COLOR_GRAYTEXT)));
        DrawTextLine(dc, GetLabelText(), wxRect(size).Deflate(4, 0), wxALIGN_CENTRE_HORIZONTAL, true);
        return;
    }
    const SkinButtonLook look = SkinButtonLookFor(s, size.x, size.y, !IsEnabled(), IsHovered(), IsPushed());
    Pixmap canvas(size.x, size.y, ArgbOf(s.background_color));
    if (!canvas.IsOk()) return;
    ComposeSkinButton(canvas, s, look.row);
    dc.DrawBitmap(ToWxBitmap(canvas), 0, 0);
    dc.SetFont(GetFont());
    dc.SetTextForeground(WxColour(look.text));
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    DrawTextLine(dc, GetLabelText(), WxRect(look.text_rect),
                 s.button_center_text ? wxALIGN_CENTRE_HORIZONTAL : wxALIGN_LEFT, true);
}
