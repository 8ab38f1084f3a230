#pragma once
// A push button painted from the skin's "button.bmp": one row per state
// (normal, hover, pushed, disabled). Hover is followed by timer 251, which
// polls the pointer every 10 ms while it is over the button, so the button
// returns to normal even when the pointer leaves without another event.
// Without the skin's button section it draws the platform's push button.
// A click raises wxEVT_BUTTON.

#include <wx/control.h>
#include <wx/timer.h>

class CSkinButton : public wxControl {
public:
    static constexpr int kHoverTimerId = 251;

    CSkinButton(wxWindow* parent, wxWindowID id, const wxString& label,
                const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize, long style = 0);
    ~CSkinButton() override;

    bool AcceptsFocus() const override { return true; }
    bool Enable(bool enable = true) override;
    void SetLabel(const wxString& label) override;

    bool IsHovered() const { return hover_; }
    bool IsPushed() const { return pushed_; }

protected:
    wxSize DoGetBestSize() const override;

private:
    void OnPaint(wxPaintEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnTimer(wxTimerEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);
    void OnKillFocus(wxFocusEvent& event);
    void OnKey(wxKeyEvent& event);
    bool PointerInside() const;
    void Click();

    wxTimer hover_timer_;
    bool hover_ = false;
    bool pushed_ = false;  // left button held since a press on the button
    bool last_inside_ = false;
};
