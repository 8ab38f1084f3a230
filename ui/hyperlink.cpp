#include "ui/hyperlink.h"

#include <wx/dcbuffer.h>
#include <wx/utils.h>

#include "ui/wx_draw.h"

wxDEFINE_EVENT(EVT_HYPERLINK_NOTIFY, wxCommandEvent);

CHyperLink::CHyperLink(wxWindow* parent, wxWindowID id, const wxString& text, const wxString& url,
                       const wxPoint& pos, const wxSize& size, long style)
    : wxControl(parent, id, pos, size, style | wxBORDER_NONE | wxWANTS_CHARS),
      background_(GetSysColor(COLOR_WINDOW)) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    // An empty URL takes the text; an empty text shows the URL.
    model_.SetURL((url.empty() ? text : url).ToStdWstring());
    wxControl::SetLabel(text.empty() ? url : text);
    SetFont(GuiFont());
    RebuildFont();
    if (!(model_.style() & kLinkNoHandCursor)) SetCursor(wxCursor(wxCURSOR_HAND));
    SetToolTip(wxString(model_.url()));
    model_.SetBeep([] { wxBell(); });
    SetInitialSize(size);
    Bind(wxEVT_PAINT, &CHyperLink::OnPaint, this);
    Bind(wxEVT_MOTION, &CHyperLink::OnMotion, this);
    Bind(wxEVT_ENTER_WINDOW, &CHyperLink::OnMotion, this);
    Bind(wxEVT_LEAVE_WINDOW, &CHyperLink::OnLeave, this);
    Bind(wxEVT_LEFT_DOWN, &CHyperLink::OnLeftDown, this);
    Bind(wxEVT_LEFT_UP, &CHyperLink::OnLeftUp, this);
    Bind(wxEVT_SET_FOCUS, &CHyperLink::OnFocus, this);
    Bind(wxEVT_KILL_FOCUS, &CHyperLink::OnFocus, this);
    Bind(wxEVT_KEY_DOWN, &CHyperLink::OnKey, this);
}

void CHyperLink::SetColours(COLORREF link, COLORREF active, COLORREF visited, int64_t hover) {
    model_.SetColours(link, active, visited, hover);
    Refresh(false);
}

void CHyperLink::SetBkColor(COLORREF colour) {
    background_ = colour;
    Refresh(false);
}

void CHyperLink::SetURL(const wxString& url, const wxString& tooltip) {
    model_.SetURL(url.ToStdWstring());
    SetToolTip(tooltip.empty() ? url : tooltip);
    AutoSize();
}

void CHyperLink::SetLinkText(const wxString& text) {
    wxControl::SetLabel(text);
    AutoSize();
}

void CHyperLink::SetNotifyTarget(wxEvtHandler* target, int message) {
    if (!target || message == 0) {
        model_.SetNotifyTarget(nullptr);
        return;
    }
    model_.SetNotifyTarget([target, message, this](const std::wstring& url, int code) {
        wxCommandEvent notify(EVT_HYPERLINK_NOTIFY, message);
        notify.SetEventObject(this);
        notify.SetString(wxString(url));
        notify.SetInt(code);
        target->ProcessEvent(notify);
    });
}

void CHyperLink::ModifyLinkStyle(int remove, int add) {
    model_.ModifyStyle(remove, add);
    SetCursor(model_.style() & kLinkNoHandCursor ? wxNullCursor : wxCursor(wxCURSOR_HAND));
    RebuildFont();
}

int CHyperLink::FollowLink() {
    const int result = model_.FollowLink();
    Refresh(false);
    return result;
}

void CHyperLink::RebuildFont() {
    wxFont f = GetFont();
    f.SetUnderlined((model_.style() & kLinkUnderline) != 0);
    f.SetStyle(model_.style() & kLinkItalic ? wxFONTSTYLE_ITALIC : wxFONTSTYLE_NORMAL);
    link_font_ = f;
    AutoSize();
}

wxSize CHyperLink::DoGetBestSize() const {
    wxClientDC dc(const_cast<CHyperLink*>(this));
    dc.SetFont(link_font_.IsOk() ? link_font_ : GetFont());
    return dc.GetTextExtent(GetLabel());
}

void CHyperLink::AutoSize() {
    if (model_.style() & kLinkAutoSize) {
        const wxSize best = DoGetBestSize();
        const wxRect r = GetRect();
        int x = r.x, y = r.y;
        if (HasFlag(wxALIGN_CENTRE_HORIZONTAL)) {
            x = r.x + (r.width - best.x) / 2;
        } else if (HasFlag(wxALIGN_RIGHT)) {
            x = r.GetRight() + 1 - best.x;
        }
        if (HasFlag(wxALIGN_CENTRE_VERTICAL)) y = r.y + (r.height - best.y) / 2;
        if (r.width > 0 || r.height > 0) {
            SetSize(x, y, best.x, best.y);
        } else {
            SetSize(best);
        }
        SetMinSize(best);
    }
    Refresh(false);
}

void CHyperLink::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(WxColour(background_)));
    dc.Clear();
    dc.SetFont(link_font_);
    dc.SetTextForeground(WxColour(model_.TextColour()));
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    const wxSize size = GetClientSize();
    const wxSize text = dc.GetTextExtent(GetLabel());
    dc.DrawText(GetLabel(), 0, (size.y - text.y) / 2);
}

void CHyperLink::OnMotion(wxMouseEvent& event) {
    if (!model_.hover && wxRect(GetClientSize()).Contains(event.GetPosition())) {
        model_.hover = true;
        if (!(model_.style() & kLinkUnderline)) {
            hover_underline_ = true;
            model_.ModifyStyle(0, kLinkUnderline);
            RebuildFont();
        }
        Refresh(false);
    }
    event.Skip();
}

void CHyperLink::OnLeave(wxMouseEvent& event) {
    if (model_.hover) {
        model_.hover = false;
        if (hover_underline_) {
            hover_underline_ = false;
            model_.ModifyStyle(kLinkUnderline, 0);
            RebuildFont();
        }
        Refresh(false);
    }
    event.Skip();
}

void CHyperLink::OnLeftDown(wxMouseEvent&) {
    if (model_.style() & kLinkFocusOnClick) SetFocus();
    if (model_.style() & kLinkFollowOnDown) FollowLink();
    model_.active = true;
    Refresh(false);
}

void CHyperLink::OnLeftUp(wxMouseEvent&) {
    if (model_.active && !(model_.style() & kLinkFollowOnDown)) FollowLink();
    Refresh(false);
}

void CHyperLink::OnFocus(wxFocusEvent& event) {
    if (event.GetEventType() == wxEVT_SET_FOCUS) {
        model_.active = true;
    } else {
        model_.active = false;
        model_.hover = false;
    }
    Refresh(false);
    event.Skip();
}

void CHyperLink::OnKey(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_SPACE) {
        FollowLink();
        return;
    }
    event.Skip();
}
