#include "ui/xcolor_static.h"

#include <wx/dcbuffer.h>

#include "ui/base/text_layout.h"
#include "ui/wx_draw.h"

CXColorStatic::CXColorStatic(wxWindow* parent, wxWindowID id, const wxString& text, const wxPoint& pos,
                             const wxSize& size, long style)
    : wxControl(parent, id, pos, size, style | wxBORDER_NONE),
      text_(GetSysColor(COLOR_BTNTEXT)),
      background_(GetSysColor(COLOR_BTNFACE)) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetFont(parent && parent->GetFont().IsOk() ? parent->GetFont() : GuiFont());
    wxControl::SetLabel(text);
    SetInitialSize(size);
    Bind(wxEVT_PAINT, &CXColorStatic::OnPaint, this);
}

void CXColorStatic::SetTextColor(COLORREF colour, bool redraw) {
    text_ = colour;
    if (redraw) Refresh();
}

void CXColorStatic::SetBackgroundColor(COLORREF colour, bool redraw) {
    background_ = colour;
    if (redraw) Refresh();
}

void CXColorStatic::SetLabel(const wxString& label) {
    wxControl::SetLabel(label);
    Refresh(false);
}

wxSize CXColorStatic::DoGetBestSize() const {
    wxClientDC dc(const_cast<CXColorStatic*>(this));
    dc.SetFont(GetFont());
    return dc.GetTextExtent(GetLabel());
}

std::vector<wxString> CXColorStatic::Lines() const {
    const wxString text = GetLabel();
    if (HasFlag(wxALIGN_CENTRE_VERTICAL)) return {text};
    wxClientDC dc(const_cast<CXColorStatic*>(this));
    dc.SetFont(GetFont());
    std::vector<wxString> out;
    for (const auto& line : WrapTextLines(text.ToStdWstring(), GetClientSize().x, [&](const std::wstring& s) {
             return dc.GetTextExtent(wxString(s)).x;
         })) {
        out.emplace_back(line);
    }
    return out;
}

void CXColorStatic::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    dc.SetBackground(wxBrush(WxColour(background_)));
    dc.Clear();
    dc.SetFont(GetFont());
    dc.SetTextForeground(WxColour(text_));
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    const int align = HasFlag(wxALIGN_CENTRE_HORIZONTAL) ? wxALIGN_CENTRE_HORIZONTAL
                      : HasFlag(wxALIGN_RIGHT)           ? wxALIGN_RIGHT
                                                         : wxALIGN_LEFT;
    if (HasFlag(wxALIGN_CENTRE_VERTICAL)) {
        DrawTextLine(dc, GetLabel(), wxRect(size), align, true);
        return;
    }
    const int lineHeight = dc.GetCharHeight();
    int y = 0;
    for (const wxString& line : Lines()) {
        if (y >= size.y) break;
        DrawTextLine(dc, line, wxRect(0, y, size.x, lineHeight), align, false);
        y += lineHeight;
    }
}
