#pragma once
// A check box painted from the skin's "checkbox.bmp" (eight cells: unchecked
// normal, hover, pressed, disabled, then the same checked) over its parent's
// background, which it copies once. It keeps its checked state itself; a
// click toggles it and raises wxEVT_CHECKBOX. wxALIGN_RIGHT puts the box on
// the right of the text. Without the skin's check box section it draws the
// platform's check box.

#include <wx/bitmap.h>
#include <wx/control.h>

class CSkinCheckBox : public wxControl {
public:
    CSkinCheckBox(wxWindow* parent, wxWindowID id, const wxString& label,
                  const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize, long style = 0);
    ~CSkinCheckBox() override;

    int GetCheck() const { return checked_ ? 1 : 0; }
    bool IsChecked() const { return checked_; }
    // As the windows' check message: 1 or 2 check the box, anything else
    // clears it; the box is repainted.
    void SetCheckState(int value);
    void SetCheck(int checked, int repaint = 1);

    bool AcceptsFocus() const override { return true; }
    bool Enable(bool enable = true) override;
    void SetLabel(const wxString& label) override;
    bool IsHovered() const { return hover_; }

protected:
    wxSize DoGetBestSize() const override;

private:
    void OnPaint(wxPaintEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnLeave(wxMouseEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);
    void OnFocus(wxFocusEvent& event);
    void OnKey(wxKeyEvent& event);
    void OnSize(wxSizeEvent& event);
    void OnSysColourChanged(wxSysColourChangedEvent& event);
    void Clicked();
    // The parent's background under the control, copied at the first paint.
    const wxBitmap& ParentBackground();

    bool checked_ = false;
    bool hover_ = false;
    bool pressed_ = false;
    wxBitmap parent_background_;
};
