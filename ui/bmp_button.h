#pragma once
// A button drawn from one bitmap resource holding four state images stacked
// vertically (normal, hover, pressed, disabled), with a caption over it, a
// hand cursor and hover tracking: timer 251 polls the pointer every 10 ms
// while it is over the button, so the button returns to normal even when
// the pointer leaves without another event. A click raises wxEVT_BUTTON.

#include "ui/base/bmp_button_look.h"
#include "ui/hover_button.h"

class CBmpButton : public CHoverButton {
public:
    CBmpButton(wxWindow* parent, wxWindowID id, const wxString& label = wxEmptyString,
               const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize, long style = 0);
    // Loads the strip "res/bitmap/<id>.bmp" (the one before is released);
    // with `resize` the button takes one state's size. False when the
    // bitmap does not load (the button then fills with its fill colour).
    bool SetBitmap(int bitmapId, bool resize);
    wxSize GetStateSize() const { return wxSize(state_width_, state_height_); }
    // The strip row the button shows now.
    int ShownRow() const;

    bool AcceptsFocus() const override { return true; }
    bool Enable(bool enable = true) override;
    void SetLabel(const wxString& label) override;

private:
    void OnPaint(wxPaintEvent& event);

    Pixmap strip_;
    int state_width_ = 0, state_height_ = 0;
    BmpButtonOptions options_;
    COLORREF fill_ = RGB(233, 239, 250);
    bool center_text_ = false;
};
