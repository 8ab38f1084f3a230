#pragma once
// A static text with its own text colour, background colour and font,
// painted off screen. Style: wxALIGN_CENTRE_HORIZONTAL or wxALIGN_RIGHT for
// the alignment; wxALIGN_CENTRE_VERTICAL for one vertically centred line
// (otherwise the text wraps at word boundaries from the top).

#include <wx/control.h>

#include "ui/base/colors.h"

class CXColorStatic : public wxControl {
public:
    CXColorStatic(wxWindow* parent, wxWindowID id, const wxString& text,
                  const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize, long style = 0);

    void SetTextColor(COLORREF colour, bool redraw = true);
    void SetBackgroundColor(COLORREF colour, bool redraw = true);
    COLORREF GetTextColor() const { return text_; }
    COLORREF GetBackgroundColor() const { return background_; }
    void SetLabel(const wxString& label) override;
    // The lines the text is drawn in (one with wxALIGN_CENTRE_VERTICAL).
    std::vector<wxString> Lines() const;

protected:
    wxSize DoGetBestSize() const override;

private:
    void OnPaint(wxPaintEvent& event);

    COLORREF text_;
    COLORREF background_;
};
