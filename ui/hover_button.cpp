#include "ui/hover_button.h"

CHoverButton::CHoverButton(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                           const wxSize& size, long style)
    : wxControl(parent, id, pos, size, style | wxBORDER_NONE), hover_timer_(this, kHoverTimerId) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    wxControl::SetLabel(label);
    SetCursor(wxCursor(wxCURSOR_HAND));
    Bind(wxEVT_MOTION, &CHoverButton::OnMotion, this);
    Bind(wxEVT_ENTER_WINDOW, &CHoverButton::OnMotion, this);
    Bind(wxEVT_TIMER, &CHoverButton::OnTimer, this, kHoverTimerId);
    Bind(wxEVT_LEFT_DOWN, &CHoverButton::OnLeftDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CHoverButton::OnLeftDown, this);
    Bind(wxEVT_LEFT_UP, &CHoverButton::OnLeftUp, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &CHoverButton::OnCaptureLost, this);
    Bind(wxEVT_KILL_FOCUS, &CHoverButton::OnKillFocus, this);
}

CHoverButton::~CHoverButton() {
    hover_timer_.Stop();
    if (HasCapture()) ReleaseMouse();
}

bool CHoverButton::PointerInside() const {
    return GetScreenRect().Contains(wxGetMousePosition());
}

void CHoverButton::OnMotion(wxMouseEvent& event) {
    const bool inside = PointerInside();
    hover_ = inside;
    if (inside != last_inside_) {
        last_inside_ = inside;
        Refresh(false);
    }
    if (!hover_timer_.IsRunning()) hover_timer_.Start(10);
    event.Skip();
}

void CHoverButton::OnTimer(wxTimerEvent&) {
    if (PointerInside()) return;
    last_inside_ = false;
    hover_ = false;
    hover_timer_.Stop();
    Refresh(false);
}

void CHoverButton::OnLeftDown(wxMouseEvent& event) {
    if (!IsEnabled()) return;
    OnPress();
    pushed_ = true;
    hover_ = PointerInside();
    if (!HasCapture()) CaptureMouse();
    if (!hover_timer_.IsRunning()) hover_timer_.Start(10);
    Refresh(false);
    event.Skip(false);
}

void CHoverButton::OnLeftUp(wxMouseEvent&) {
    if (HasCapture()) ReleaseMouse();
    const bool wasPushed = pushed_;
    pushed_ = false;
    Refresh(false);
    if (wasPushed && IsEnabled() && PointerInside()) Click();
}

void CHoverButton::OnCaptureLost(wxMouseCaptureLostEvent&) {
    pushed_ = false;
    Refresh(false);
}

void CHoverButton::OnKillFocus(wxFocusEvent& event) {
    hover_ = false;
    Refresh(false);
    event.Skip();
}

void CHoverButton::Click() {
    wxCommandEvent click(wxEVT_BUTTON, GetId());
    click.SetEventObject(this);
    ProcessWindowEvent(click);
}
