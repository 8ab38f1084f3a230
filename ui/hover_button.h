#pragma once
// The pointer handling that the self-drawn buttons share: a hover state, a
// press that captures the mouse and shows while the pointer stays on the
// button, and a click when the button is released on it (wxEVT_BUTTON unless
// a subclass raises its own event).
//
// Hover is followed one of two ways. The skinned push buttons poll: timer 251
// tests the pointer every 10 ms while it is over the button, so the button
// returns to normal even when the pointer leaves without another event. The
// icon button and the check box follow the pointer's moves and its leaving
// the window; a move with the left button held after a press elsewhere does
// not take the hover, and while the button holds the capture its moves alone
// decide (the grab itself may report a leave).

#include <wx/control.h>
#include <wx/timer.h>

class CHoverButton : public wxControl {
public:
    static constexpr int kHoverTimerId = 251;
    enum class Tracking { kPollTimer, kEnterLeave };

    CHoverButton(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                 const wxSize& size, long style, Tracking tracking = Tracking::kPollTimer);
    ~CHoverButton() override;

    bool IsHovered() const { return hover_; }
    // Held down since a press on the button (shown only while hovered).
    bool IsPushed() const { return pushed_; }

protected:
    // Raises wxEVT_BUTTON.
    virtual void Click();
    bool PointerInside() const;
    // Called when a press starts (a button that takes the focus does it here).
    virtual void OnPress() {}
    void ResetPointerState() {
        hover_ = false;
        pushed_ = false;
    }

private:
    bool InsideAt(const wxMouseEvent& event) const;
    void OnMotion(wxMouseEvent& event);
    void OnLeave(wxMouseEvent& event);
    void OnTimer(wxTimerEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);
    void OnKillFocus(wxFocusEvent& event);

    const Tracking tracking_;
    wxTimer hover_timer_;
    bool hover_ = false;
    bool pushed_ = false;
    bool last_inside_ = false;
};
