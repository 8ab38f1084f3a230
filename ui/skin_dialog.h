#pragma once
// The skinned dialog frame every dialog of the program derives from.
//
// Skinned (the dialog has a caption and the skin's dialog section loaded),
// the dialog is a borderless window shaped to the skin's rounded outline that
// paints its own title band, borders and system buttons; the title band
// drags the window and the system buttons act when the left button is
// released over them. Unskinned, it is an ordinary decorated dialog. Either
// way it holds one client panel, of the client size asked for, on which
// derived dialogs place their controls.

#include <wx/dialog.h>
#include <wx/panel.h>
#include <wx/timer.h>

#include "ui/base/skin_frame.h"

class CSkinDialog;

// The client area of a skinned dialog; it paints the skin's background.
class CSkinClientPanel : public wxPanel {
public:
    explicit CSkinClientPanel(CSkinDialog* owner);
    // Paints what lies under `rect` (panel coordinates) into `dc` at the
    // same place: the skin's background picture, or the background colour.
    // Controls that draw over their parent's background use it.
    void PaintBackground(wxDC& dc, const wxRect& rect);

private:
    void OnPaint(wxPaintEvent& event);
    CSkinDialog* owner_;
};

class CSkinDialog : public wxDialog {
public:
    // `style`: wxCAPTION for a caption (skinned when the skin has a frame),
    // wxCLOSE_BOX, wxMINIMIZE_BOX and wxMAXIMIZE_BOX for the system buttons.
    CSkinDialog(wxWindow* parent, wxWindowID id, const wxString& title, const wxSize& clientSize,
                long style = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
    ~CSkinDialog() override;

    wxPanel* GetClientPanel() const { return panel_; }
    // Resizes the window so that the client panel has this size.
    void SetClientAreaSize(const wxSize& size);
    // Sizes the client panel to what its sizer needs (never smaller than now).
    void FitClientArea();

    void SetTitleCentered(int centred);
    bool IsSkinned() const { return skinned_; }
    bool IsZoomed() const { return zoomed_; }
    // A system button's rectangle on the screen (0 close, 1 maximize,
    // 2 minimize); empty for other values or when unskinned.
    wxRect GetSysButtonRect(int which) const;

    // Carries out a system command (SC_CLOSE, SC_MINIMIZE, SC_MAXIMIZE,
    // SC_RESTORE). Dialogs that handle some commands themselves override
    // it and call the base for the others.
    virtual void OnSysCommand(int command);

    void SetTitle(const wxString& title) override;
    void SetIcons(const wxIconBundle& icons) override;

protected:
    // Paints the title band, borders and system buttons into `dc` (window
    // coordinates), from a picture that is drawn again only when the
    // frame's look changed: a repaint of the window costs one copy.
    void DrawNonClientFrame(wxDC& dc);

private:
    FrameMetrics Metrics() const;
    FrameButtons Buttons() const { return buttons_; }
    int HitTest(const wxPoint& windowPoint) const;
    void UpdateWindowRegion();
    void LayoutPanel();
    void RefreshFrame();

    // Everything the frame's picture is drawn from that can change while
    // the dialog lives (the skin, the fonts and the system buttons are
    // fixed). The picture is drawn again only when one of them changed.
    struct FrameLook {
        wxSize size;
        wxString title;
        unsigned icon_serial = 0;
        bool zoomed = false;
        int hover_hit = 0;
        bool pressed = false;
        int title_centred = 0;
        bool operator==(const FrameLook&) const = default;
    };
    FrameLook CurrentLook() const;
    // The frame's picture for the current look, drawn when it changed.
    const wxBitmap& FramePicture();

    void OnPaint(wxPaintEvent& event);
    void OnSize(wxSizeEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnLeftDClick(wxMouseEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnLeave(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);

    CSkinClientPanel* panel_ = nullptr;
    bool skinned_ = false;
    FrameButtons buttons_;
    int title_centred_ = 0;
    int bold_title_ = 1;
    bool zoomed_ = false;
    wxRect restore_rect_;
    // Mouse state over the frame.
    int hover_hit_ = HTNOWHERE;
    int pressed_hit_ = HTNOWHERE;
    bool dragging_ = false;
    wxPoint drag_offset_;
    // Counts icon changes, for the frame's look.
    unsigned icon_serial_ = 0;
    wxBitmap frame_picture_;
    FrameLook frame_picture_look_;
};
