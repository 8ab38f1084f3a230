#include "ui/hover_button.h"

CHoverButton::CHoverButton(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                           const wxSize& size, long style, Tracking tracking)
    : wxControl(parent, id, pos, size, style | wxBORDER_NONE),
      tracking_(tracking),
      hover_timer_(this, kHoverTimerId) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    wxControl::SetLabel(label);
    Bind(wxEVT_MOTION, &CHoverButton::OnMotion, this);
    Bind(wxEVT_ENTER_WINDOW, &CHoverButton::OnMotion, this);
    if (tracking_ == Tracking::kPollTimer)
        Bind(wxEVT_TIMER, &CHoverButton::OnTimer, this, kHoverTimerId);
    else
        Bind(wxEVT_LEAVE_WINDOW, &CHoverButton::OnLeave, this);
    Bind(wxEVT_LEFT_DOWN, &CHoverButton::OnLeftDown, this);
    // A double click counts as a second press.
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

bool CHoverButton::InsideAt(const wxMouseEvent& event) const {
    if (tracking_ == Tracking::kPollTimer) return PointerInside();
    return wxRect(GetClientSize()).Contains(event.GetPosition());
}

void CHoverButton::OnMotion(wxMouseEvent& event) {
    if (tracking_ == Tracking::kPollTimer) {
        const bool inside = PointerInside();
        hover_ = inside;
        if (inside != last_inside_) {
            last_inside_ = inside;
            Refresh(false);
        }
        if (!hover_timer_.IsRunning()) hover_timer_.Start(10);
    } else if (!(event.LeftIsDown() && !hover_ && !pushed_)) {
        const bool inside = InsideAt(event);
        if (inside != hover_) {
            hover_ = inside;
            Refresh(false);
        }
    }
    event.Skip();
}

void CHoverButton::OnLeave(wxMouseEvent& event) {
    if (hover_ && !HasCapture()) {
        hover_ = false;
        Refresh(false);
    }
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
    hover_ = InsideAt(event);
    if (!HasCapture()) CaptureMouse();
    if (tracking_ == Tracking::kPollTimer && !hover_timer_.IsRunning()) hover_timer_.Start(10);
    Refresh(false);
    event.Skip(false);
}

void CHoverButton::OnLeftUp(wxMouseEvent& event) {
    if (HasCapture()) ReleaseMouse();
    const bool wasPushed = pushed_;
    pushed_ = false;
    const bool inside = InsideAt(event);
    if (tracking_ == Tracking::kEnterLeave) hover_ = inside;
    Refresh(false);
    if (wasPushed && IsEnabled() && inside) Click();
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
