#pragma once
// A flat push button that draws an icon and a caption: a raised border
// while the pointer is over it, a sunken one while it is pressed, and its
// icons from the program's resources (entry 0; entry 1 for hover and
// pressed; entry 2 when disabled, which may be a grey or darker copy of
// entry 0). It can also act as a check box. A click raises wxEVT_BUTTON.

#include <wx/bitmap.h>

#include "ui/base/colors.h"
#include "ui/hover_button.h"

class CButtonVorn : public CHoverButton {
public:
    // Icon ids for entries 1 and 2: 0 none, -2 a grey copy of entry 0,
    // -3 a darker copy.
    static constexpr int kNoIcon = 0;
    static constexpr int kGreyCopy = -2;
    static constexpr int kDarkerCopy = -3;

    enum Align { kImageLeft = 0, kImageTop = 1, kImageRight = 2 };

    CButtonVorn(wxWindow* parent, wxWindowID id, const wxString& label,
                const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize, long style = 0);

    // Loads the icons from the resources; any failure clears all of them.
    // Returns whether entry 0 loaded.
    bool SetIcon(int id0, int id1 = kNoIcon, int id2 = kNoIcon);
    // A null cursor is ignored.
    void SetBtnCursor(const wxCursor& cursor);
    void SetAlign(Align align);
    void SetFlat(bool flat);
    void SetCheckBoxMode(bool on);
    void SetCheck(bool checked);
    bool GetCheck() const { return checked_; }
    // Which icon entry the button shows now (-1 without icons).
    int ShownIconEntry() const;

    bool AcceptsFocus() const override { return true; }
    bool Enable(bool enable = true) override;

protected:
    wxSize DoGetBestSize() const override;

private:
    void OnPress() override { SetFocus(); }
    // Toggles the check in check-box mode; raises wxEVT_BUTTON with the check.
    void Click() override;
    void OnPaint(wxPaintEvent& event);
    void OnKey(wxKeyEvent& event);
    bool Pressed() const;

    wxBitmap icons_[3];
    Align align_ = kImageLeft;
    bool flat_ = true;
    bool draw_border_ = true;
    bool draw_flat_focus_ = false;
    bool check_mode_ = false;
    bool checked_ = false;
    int margin_x_ = 3, margin_y_ = 3;
    int pressed_offset_ = 1;
};
