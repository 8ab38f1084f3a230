#pragma once
// A push button painted from the skin's "button.bmp": one row per state
// (normal, hover, pushed, disabled). Hover is followed by timer 251, which
// polls the pointer every 10 ms while it is over the button, so the button
// returns to normal even when the pointer leaves without another event.
// Without the skin's button section it draws the platform's push button.
// A click raises wxEVT_BUTTON.

#include "ui/hover_button.h"

class CSkinButton : public CHoverButton {
public:
    CSkinButton(wxWindow* parent, wxWindowID id, const wxString& label,
                const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize, long style = 0);
    bool AcceptsFocus() const override { return true; }
    bool Enable(bool enable = true) override;
    void SetLabel(const wxString& label) override;

protected:
    wxSize DoGetBestSize() const override;

private:
    void OnPress() override { SetFocus(); }
    void OnPaint(wxPaintEvent& event);
    void OnKey(wxKeyEvent& event);
};
