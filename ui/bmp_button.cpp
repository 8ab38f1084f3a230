#include "ui/bmp_button.h"

#include <wx/dcbuffer.h>

#include "ui/wx_draw.h"

CBmpButton::CBmpButton(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                       const wxSize& size, long style)
    : wxControl(parent, id, pos, size, style | wxBORDER_NONE), hover_timer_(this, kHoverTimerId) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetFont(GuiFont());
    wxControl::SetLabel(label);
    SetInitialSize(size);
    SetCursor(wxCursor(wxCURSOR_HAND));
    Bind(wxEVT_PAINT, &CBmpButton::OnPaint, this);
    Bind(wxEVT_MOTION, &CBmpButton::OnMotion, this);
    Bind(wxEVT_ENTER_WINDOW, &CBmpButton::OnMotion, this);
    Bind(wxEVT_TIMER, &CBmpButton::OnTimer, this, kHoverTimerId);
    Bind(wxEVT_LEFT_DOWN, &CBmpButton::OnLeftDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CBmpButton::OnLeftDown, this);
    Bind(wxEVT_LEFT_UP, &CBmpButton::OnLeftUp, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &CBmpButton::OnCaptureLost, this);
    Bind(wxEVT_KILL_FOCUS, &CBmpButton::OnKillFocus, this);
}

CBmpButton::~CBmpButton() {
    hover_timer_.Stop();
    if (HasCapture()) ReleaseMouse();
}

bool CBmpButton::SetBitmap(int bitmapId, bool resize) {
    // The strip is a value: the one before goes with the assignment.
    strip_ = LoadPictureResource("bitmap", bitmapId);
    state_width_ = strip_.IsOk() ? strip_.width() : 0;
    state_height_ = strip_.IsOk() ? strip_.height() / 4 : 0;
    if (resize && state_width_ > 0 && state_height_ > 0) {
        SetSize(wxSize(state_width_, state_height_));
        SetMinSize(wxSize(state_width_, state_height_));
    }
    Refresh(false);
    return strip_.IsOk();
}

int CBmpButton::ShownRow() const {
    const wxSize size = GetClientSize();
    return BmpButtonLookFor(options_, size.x, size.y, !IsEnabled(), hover_, pressed_).row;
}

bool CBmpButton::Enable(bool enable) {
    const bool changed = wxControl::Enable(enable);
    Refresh(false);
    return changed;
}

void CBmpButton::SetLabel(const wxString& label) {
    wxControl::SetLabel(label);
    Refresh(false);
}

bool CBmpButton::PointerInside() const {
    return GetScreenRect().Contains(wxGetMousePosition());
}

void CBmpButton::OnMotion(wxMouseEvent& event) {
    const bool inside = PointerInside();
    hover_ = inside;
    if (inside != last_inside_) {
        last_inside_ = inside;
        Refresh(false);
    }
    if (!hover_timer_.IsRunning()) hover_timer_.Start(10);
    event.Skip();
}

void CBmpButton::OnTimer(wxTimerEvent&) {
    if (PointerInside()) return;
    last_inside_ = false;
    hover_ = false;
    if (!HasCapture()) pressed_ = false;
    hover_timer_.Stop();
    Refresh(false);
}

void CBmpButton::OnLeftDown(wxMouseEvent& event) {
    if (!IsEnabled()) return;
    pressed_ = true;
    hover_ = PointerInside();
    if (!HasCapture()) CaptureMouse();
    if (!hover_timer_.IsRunning()) hover_timer_.Start(10);
    Refresh(false);
    event.Skip(false);
}

void CBmpButton::OnLeftUp(wxMouseEvent&) {
    if (HasCapture()) ReleaseMouse();
    const bool wasPressed = pressed_;
    pressed_ = false;
    Refresh(false);
    if (wasPressed && IsEnabled() && PointerInside()) {
        wxCommandEvent click(wxEVT_BUTTON, GetId());
        click.SetEventObject(this);
        ProcessWindowEvent(click);
    }
}

void CBmpButton::OnCaptureLost(wxMouseCaptureLostEvent&) {
    pressed_ = false;
    Refresh(false);
}

void CBmpButton::OnKillFocus(wxFocusEvent& event) {
    hover_ = false;
    Refresh(false);
    event.Skip();
}

void CBmpButton::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    const bool disabled = !IsEnabled();
    const BmpButtonLook look = BmpButtonLookFor(options_, size.x, size.y, disabled, hover_, pressed_);
    Pixmap canvas(size.x, size.y, ArgbOf(fill_));
    if (!canvas.IsOk()) return;
    // The state image is stretched over the whole button.
    if (strip_.IsOk() && state_height_ > 0) {
        StretchPixels(canvas, {0, 0, size.x, size.y}, strip_,
                      {0, look.row * state_height_, state_width_, state_height_});
    }
    dc.DrawBitmap(ToWxBitmap(canvas), 0, 0);
    dc.SetFont(GetFont());
    dc.SetTextForeground(WxColour(look.text));
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    DrawTextLine(dc, GetLabelText(), WxRect(look.text_rect), center_text_ ? wxALIGN_CENTRE_HORIZONTAL : wxALIGN_LEFT,
                 true);
}
