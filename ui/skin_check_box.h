#pragma once
// A check box painted from the skin's "checkbox.bmp" (eight cells: unchecked
// normal, hover, pressed, disabled, then the same checked) over its parent's
// background, which it copies once. It keeps its checked state itself; a
// click toggles it and raises wxEVT_CHECKBOX. wxALIGN_RIGHT puts the box on
// the right of the text. Without the skin's check box section it draws the
// platform's check box.

#include <wx/bitmap.h>

#include "ui/hover_button.h"

class CSkinCheckBox : public CHoverButton {
public:
    CSkinCheckBox(wxWindow* parent, wxWindowID id, const wxString& label,
                  const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize, long style = 0);

    int GetCheck() const { return checked_ ? 1 : 0; }
    bool IsChecked() const { return checked_; }
    // As the windows' check message: 1 or 2 check the box, anything else
    // clears it; the box is repainted.
    void SetCheckState(int value);
    void SetCheck(int checked, int repaint = 1);

    bool AcceptsFocus() const override { return true; }
    bool Enable(bool enable = true) override;
    void SetLabel(const wxString& label) override;

protected:
    wxSize DoGetBestSize() const override;

private:
    void OnPress() override { SetFocus(); }
    // Toggles the check and raises wxEVT_CHECKBOX.
    void Click() override;
    void OnPaint(wxPaintEvent& event);
    void OnKey(wxKeyEvent& event);
    void OnSize(wxSizeEvent& event);
    void OnSysColourChanged(wxSysColourChangedEvent& event);
    // The parent's background under the control, copied at the first paint.
    const wxBitmap& ParentBackground();

    bool checked_ = false;
    wxBitmap parent_background_;
};
