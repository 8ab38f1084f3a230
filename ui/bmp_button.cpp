#include "ui/bmp_button.h"

#include <wx/dcbuffer.h>

#include "ui/wx_draw.h"

CBmpButton::CBmpButton(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                       const wxSize& size, long style)
    : CHoverButton(parent, id, label, pos, size, style) {
    SetCursor(wxCursor(wxCURSOR_HAND));
    SetFont(GuiFont());
    SetInitialSize(size);
    Bind(wxEVT_PAINT, &CBmpButton::OnPaint, this);
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
    return BmpButtonLookFor(options_, size.x, size.y, !IsEnabled(), IsHovered(), IsPushed()).row;
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

void CBmpButton::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    const bool disabled = !IsEnabled();
    const BmpButtonLook look = BmpButtonLookFor(options_, size.x, size.y, disabled, IsHovered(), IsPushed());
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
