#pragma once
// The pointer handling that the self-drawn push buttons share: hover
// tracked by timer 251, which polls the pointer every 10 ms while it is over
// the button (so the button returns to normal even when the pointer leaves
// without another event), a press that captures the mouse and shows while
// the pointer stays on the button, and a click (wxEVT_BUTTON) when the
// button is released on it.

#include <wx/control.h>
#include <wx/timer.h>

class CHoverButton : public wxControl {
public:
    static constexpr int kHoverTimerId = 251;

    CHoverButton(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos, const wxSize& size,
                 long style);
    ~CHoverButton() override;

    bool IsHovered() const { return hover_; }
    // Held down since a press on the button (shown only while hovered).
    bool IsPushed() const { return pushed_; }

protected:
    // Raises wxEVT_BUTTON.
    void Click();
    bool PointerInside() const;
    // Called when a press starts (a button that takes the focus does it here).
    virtual void OnPress() {}
    void ResetPointerState() {
        hover_ = false;
        pushed_ = false;
    }

private:
    void OnMotion(wxMouseEvent& event);
    void OnTimer(wxTimerEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);
    void OnKillFocus(wxFocusEvent& event);

    wxTimer hover_timer_;
    bool hover_ = false;
    bool pushed_ = false;
    bool last_inside_ = false;
};
