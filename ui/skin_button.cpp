#include "ui/skin_button.h"

#include <wx/dcbuffer.h>
#include <wx/renderer.h>

#include "ui/base/control_states.h"
#include "ui/wx_draw.h"

CSkinButton::CSkinButton(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                         const wxSize& size, long style)
    : wxControl(parent, id, pos, size, style | wxBORDER_NONE | wxWANTS_CHARS),
      hover_timer_(this, kHoverTimerId) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetFont(GuiFont());
    wxControl::SetLabel(label);
    SetInitialSize(size);
    SetCursor(wxCursor(wxCURSOR_HAND));
    Bind(wxEVT_PAINT, &CSkinButton::OnPaint, this);
    Bind(wxEVT_MOTION, &CSkinButton::OnMotion, this);
    Bind(wxEVT_ENTER_WINDOW, &CSkinButton::OnMotion, this);
    Bind(wxEVT_TIMER, &CSkinButton::OnTimer, this, kHoverTimerId);
    Bind(wxEVT_LEFT_DOWN, &CSkinButton::OnLeftDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CSkinButton::OnLeftDown, this);
    Bind(wxEVT_LEFT_UP, &CSkinButton::OnLeftUp, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &CSkinButton::OnCaptureLost, this);
    Bind(wxEVT_KILL_FOCUS, &CSkinButton::OnKillFocus, this);
    Bind(wxEVT_KEY_DOWN, &CSkinButton::OnKey, this);
}

CSkinButton::~CSkinButton() {
    hover_timer_.Stop();
    if (HasCapture()) ReleaseMouse();
}

wxSize CSkinButton::DoGetBestSize() const {
    wxClientDC dc(const_cast<CSkinButton*>(this));
    dc.SetFont(GetFont());
    const wxSize text = dc.GetTextExtent(GetLabelText());
    return wxSize(std::max(75, text.x + 16), std::max(23, text.y + 10));
}

bool CSkinButton::Enable(bool enable) {
    if (!enable) {
        hover_ = false;
        pushed_ = false;
    }
    const bool changed = wxControl::Enable(enable);
    Refresh(false);
    return changed;
}

void CSkinButton::SetLabel(const wxString& label) {
    wxControl::SetLabel(label);
    Refresh(false);
}

bool CSkinButton::PointerInside() const {
    return GetScreenRect().Contains(wxGetMousePosition());
}

void CSkinButton::OnMotion(wxMouseEvent& event) {
    const bool inside = PointerInside();
    hover_ = inside;
    if (inside != last_inside_) {
        last_inside_ = inside;
        Refresh(false);
    }
    if (!hover_timer_.IsRunning()) hover_timer_.Start(10);
    event.Skip();
}

void CSkinButton::OnTimer(wxTimerEvent&) {
    if (PointerInside()) return;
    last_inside_ = false;
    hover_ = false;
    hover_timer_.Stop();
    Refresh(false);
}

void CSkinButton::OnLeftDown(wxMouseEvent& event) {
    if (!IsEnabled()) return;
    SetFocus();
    pushed_ = true;
    hover_ = PointerInside();
    if (!HasCapture()) CaptureMouse();
    if (!hover_timer_.IsRunning()) hover_timer_.Start(10);
    Refresh(false);
    event.Skip(false);
}

void CSkinButton::OnLeftUp(wxMouseEvent&) {
    if (HasCapture()) ReleaseMouse();
    const bool wasPushed = pushed_;
    pushed_ = false;
    Refresh(false);
    if (wasPushed && IsEnabled() && PointerInside()) Click();
}

void CSkinButton::OnCaptureLost(wxMouseCaptureLostEvent&) {
    pushed_ = false;
    Refresh(false);
}

void CSkinButton::OnKillFocus(wxFocusEvent& event) {
    hover_ = false;
    Refresh(false);
    event.Skip();
}

void CSkinButton::OnKey(wxKeyEvent& event) {
    const int key = event.GetKeyCode();
    if (key == WXK_SPACE || key == WXK_RETURN || key == WXK_NUMPAD_ENTER) {
        Click();
        return;
    }
    event.Skip();
}

void CSkinButton::Click() {
    wxCommandEvent click(wxEVT_BUTTON, GetId());
    click.SetEventObject(this);
    ProcessWindowEvent(click);
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
        if (pushed_ && hover_) flags |= wxCONTROL_PRESSED;
        if (hover_) flags |= wxCONTROL_CURRENT;
        if (HasFocus()) flags |= wxCONTROL_FOCUSED;
        wxRendererNative::Get().DrawPushButton(this, dc, wxRect(size), flags);
        dc.SetFont(GetFont());
        dc.SetTextForeground(WxColour(GetSysColor(IsEnabled() ? COLOR_BTNTEXT : COLOR_GRAYTEXT)));
        DrawTextLine(dc, GetLabelText(), wxRect(size).Deflate(4, 0), wxALIGN_CENTRE_HORIZONTAL, true);
        return;
    }
    const SkinButtonLook look = SkinButtonLookFor(s, size.x, size.y, !IsEnabled(), hover_, pushed_);
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
