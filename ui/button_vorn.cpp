#include "ui/button_vorn.h"

#include <wx/dcbuffer.h>

#include "ui/base/control_states.h"
#include "ui/wx_draw.h"

CButtonVorn::CButtonVorn(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                         const wxSize& size, long style)
    : CHoverButton(parent, id, label, pos, size, style | wxWANTS_CHARS, Tracking::kEnterLeave) {
    SetFont(GuiFont());
    SetInitialSize(size);
    Bind(wxEVT_PAINT, &CButtonVorn::OnPaint, this);
    // The focus frame comes and goes with the focus.
    Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& event) {
        Refresh(false);
        event.Skip();
    });
    Bind(wxEVT_KEY_DOWN, &CButtonVorn::OnKey, this);
}

bool CButtonVorn::SetIcon(int id0, int id1, int id2) {
    for (auto& b : icons_) b = wxBitmap();
    const Pixmap base = LoadPictureResource("icon", id0);
    Pixmap entries[3];
    bool ok = base.IsOk();
    if (ok) entries[0] = base;
    const int ids[2] = {id1, id2};
    for (int i = 0; ok && i < 2; ++i) {
        if (ids[i] == kNoIcon) continue;
        if (ids[i] == kGreyCopy) {
            entries[i + 1] = GreyCopy(base);
        } else if (ids[i] == kDarkerCopy) {
            entries[i + 1] = DarkerCopy(base);
        } else {
            entries[i + 1] = LoadPictureResource("icon", ids[i]);
            ok = entries[i + 1].IsOk();
        }
    }
    if (ok) {
        for (int i = 0; i < 3; ++i) {
            if (entries[i].IsOk()) icons_[i] = ToWxBitmap(entries[i], true);
        }
    }
    InvalidateBestSize();
    Refresh(false);
    return ok;
}

void CButtonVorn::SetBtnCursor(const wxCursor& cursor) {
    if (cursor.IsOk()) SetCursor(cursor);
}

void CButtonVorn::SetAlign(Align align) {
    align_ = align;
    Refresh(false);
}

void CButtonVorn::SetFlat(bool flat) {
    flat_ = flat;
    Refresh(false);
}

void CButtonVorn::SetCheckBoxMode(bool on) {
    check_mode_ = on;
    Refresh(false);
}

void CButtonVorn::SetCheck(bool checked) {
    if (!check_mode_) return;
    checked_ = checked;
    Refresh(false);
}

bool CButtonVorn::Enable(bool enable) {
    if (!enable) ResetPointerState();
    const bool changed = wxControl::Enable(enable);
    Refresh(false);
    return changed;
}

bool CButtonVorn::Pressed() const {
    const bool held = IsPushed() && IsHovered();
    return check_mode_ ? (checked_ || held) : held;
}

int CButtonVorn::ShownIconEntry() const {
    if (!icons_[0].IsOk()) return -1;
    return IconEntryFor(Pressed(), IsHovered(), !IsEnabled(), check_mode_, icons_[1].IsOk(),
                        icons_[2].IsOk());
}

wxSize CButtonVorn::DoGetBestSize() const {
    wxClientDC dc(const_cast<CButtonVorn*>(this));
    dc.SetFont(GetFont());
    wxSize text = GetLabel().empty() ? wxSize(0, 0) : dc.GetTextExtent(GetLabel());
    const wxSize icon = icons_[0].IsOk() ? icons_[0].GetSize() : wxSize(0, 0);
    if (align_ == kImageTop)
        return wxSize(std::max(text.x, icon.x) + 4 * margin_x_, text.y + icon.y + 3 * margin_y_);
    return wxSize(text.x + icon.x + 4 * margin_x_, std::max(text.y, icon.y) + 2 * margin_y_ + 2);
}

void CButtonVorn::OnKey(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_SPACE || event.GetKeyCode() == WXK_RETURN) {
        Click();
        return;
    }
    event.Skip();
}

void CButtonVorn::Click() {
    if (check_mode_) checked_ = !checked_;
    Refresh(false);
    wxCommandEvent click(wxEVT_BUTTON, GetId());
    click.SetEventObject(this);
    click.SetInt(checked_ ? 1 : 0);
    ProcessWindowEvent(click);
}

void CButtonVorn::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    wxRect item(size);
    const bool pressed = Pressed();
    const bool focused = HasFocus();
    const bool disabled = !IsEnabled();
    const COLORREF face = GetSysColor(COLOR_BTNFACE), text = GetSysColor(COLOR_BTNTEXT);

    // Background: a non-flat button with the focus gets a black frame.
    dc.SetPen(*wxTRANSPARENT_PEN);
    wxRect body = item;
    if (!flat_ && focused) {
        dc.SetBrush(*wxBLACK_BRUSH);
        dc.DrawRectangle(item);
        body.Deflate(1);
    }
    dc.SetBrush(wxBrush(WxColour(face)));
    dc.DrawRectangle(body);

    // Border.
    const wxColour hi = WxColour(GetSysColor(COLOR_BTNHIGHLIGHT)),
                   sh = WxColour(GetSysColor(COLOR_BTNSHADOW));
    auto rect3d = [&](const wxRect& r, const wxColour& topLeft, const wxColour& bottomRight) {
        dc.SetPen(wxPen(topLeft));
        dc.DrawLine(r.GetLeft(), r.GetBottom(), r.GetLeft(), r.GetTop());
        dc.DrawLine(r.GetLeft(), r.GetTop(), r.GetRight(), r.GetTop());
        dc.SetPen(wxPen(bottomRight));
        dc.DrawLine(r.GetRight(), r.GetTop(), r.GetRight(), r.GetBottom());
        dc.DrawLine(r.GetRight(), r.GetBottom(), r.GetLeft() - 1, r.GetBottom());
    };
    if (pressed) {
        if (!flat_) {
            dc.SetPen(wxPen(sh));
            dc.SetBrush(*wxTRANSPARENT_BRUSH);
            dc.DrawRectangle(body);
        } else if (draw_border_) {
            rect3d(item, sh, hi);
        }
    } else if (!flat_) {
        rect3d(body, hi, WxColour(GetSysColor(COLOR_3DDKSHADOW)));
        rect3d(wxRect(body).Deflate(1), WxColour(GetSysColor(COLOR_3DLIGHT)), sh);
    } else if (IsHovered() && draw_border_) {
        rect3d(item, hi, sh);
    }

    // Icon, placed by the alignment; the caption gets what is left.
    wxRect caption = item;
    const int entry = ShownIconEntry();
    if (entry >= 0) {
        const wxBitmap& icon = icons_[entry];
        const int iw = icon.GetWidth(), ih = icon.GetHeight();
        const bool hasText = !GetLabel().empty();
        int x = (size.x - iw) / 2, y = (size.y - ih) / 2;
        switch (align_) {
            case kImageLeft:
                if (hasText) {
                    x = margin_x_;
                    caption.x = x + iw + margin_x_;
                    caption.width = size.x - caption.x;
                }
                break;
            case kImageTop:
                if (hasText) {
                    y = margin_y_;
                    caption.y = y + ih;
                    caption.height = size.y - caption.y;
                }
                break;
            case kImageRight:
                if (hasText) {
                    x = size.x - margin_x_ - iw;
                    caption.x = margin_x_;
                    caption.width = size.x - 2 * margin_x_ - iw;
                }
                break;
        }
        if (pressed && !check_mode_) {
            x += pressed_offset_;
            y += pressed_offset_;
        }
        dc.DrawBitmap(icon, x, y, true);
    }

    // Caption.
    if (!GetLabel().empty()) {
        if (pressed && !check_mode_) caption.Offset(pressed_offset_, pressed_offset_);
        dc.SetFont(GetFont());
        dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
        if (disabled) {
            dc.SetTextForeground(hi);
            wxRect shadow = caption;
            shadow.Offset(1, 1);
            DrawTextLine(dc, GetLabel(), shadow, wxALIGN_CENTRE_HORIZONTAL, true);
            dc.SetTextForeground(sh);
        } else {
            dc.SetTextForeground(WxColour(text));
        }
        DrawTextLine(dc, GetLabel(), caption, wxALIGN_CENTRE_HORIZONTAL, true);
    }

    if (focused && (!flat_ || draw_flat_focus_)) {
        dc.SetPen(wxPen(*wxBLACK, 1, wxPENSTYLE_DOT));
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        dc.DrawRectangle(wxRect(item).Deflate(3));
    }
}
