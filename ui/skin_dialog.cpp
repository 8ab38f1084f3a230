#include "ui/skin_dialog.h"

#include <wx/dcbuffer.h>
#include <wx/dcmemory.h>
#include <wx/display.h>
#include <wx/region.h>
#include <wx/sizer.h>

#include "ui/wx_draw.h"

CSkinClientPanel::CSkinClientPanel(CSkinDialog* owner)
    : wxPanel(owner, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxBORDER_NONE),
      owner_(owner) {
    const SkinSettings& s = GetSkin();
    if (owner->IsSkinned()) {
        if (s.background.IsOk()) {
            SetBackgroundStyle(wxBG_STYLE_PAINT);
            Bind(wxEVT_PAINT, &CSkinClientPanel::OnPaint, this);
        } else if (s.has_background_brush) {
            SetBackgroundColour(WxColour(s.background_color));
        }
    }
}

void CSkinClientPanel::PaintBackground(wxDC& dc, const wxRect& rect) {
    const SkinSettings& s = GetSkin();
    if (owner_->IsSkinned() && s.background.IsOk()) {
        // The background picture stretched over the whole panel; only the
        // part under `rect` is drawn.
        const wxSize size = GetClientSize();
        Pixmap part(rect.width, rect.height);
        {
            CNamedLockGuard guard(&GetSkin().lock);
            Pixmap whole(size.x, size.y);
            StretchPixels(whole, {0, 0, size.x, size.y}, s.background,
                          {0, 0, s.background.width(), s.background.height()});
            CopyPixels(part, 0, 0, whole, rect.x, rect.y, rect.width, rect.height);
        }
        dc.DrawBitmap(ToWxBitmap(part), rect.x, rect.y);
        return;
    }
    dc.SetBrush(wxBrush(GetBackgroundColour()));
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.DrawRectangle(rect);
}

void CSkinClientPanel::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    PaintBackground(dc, wxRect(GetClientSize()));
}

CSkinDialog::CSkinDialog(wxWindow* parent, wxWindowID id, const wxString& title, const wxSize& clientSize,
                         long style) {
    const bool hasCaption = (style & wxCAPTION) != 0;
    skinned_ = hasCaption && GetSkin().dialog_loaded == 1;
    buttons_.minimize = (style & wxMINIMIZE_BOX) != 0;
    buttons_.maximize = (style & wxMAXIMIZE_BOX) != 0;
    buttons_.close = (style & wxCLOSE_BOX) != 0;

    long wxStyle = style;
    if (skinned_) {
        wxStyle = wxBORDER_NONE | wxFRAME_SHAPED | (style & wxSTAY_ON_TOP);
        SetBackgroundStyle(wxBG_STYLE_PAINT);
    }
    Create(parent, id, title, wxDefaultPosition, wxDefaultSize, wxStyle);
    panel_ = new CSkinClientPanel(this);

    if (skinned_) {
        Bind(wxEVT_PAINT, &CSkinDialog::OnPaint, this);
        Bind(wxEVT_LEFT_DOWN, &CSkinDialog::OnLeftDown, this);
        Bind(wxEVT_LEFT_UP, &CSkinDialog::OnLeftUp, this);
        Bind(wxEVT_LEFT_DCLICK, &CSkinDialog::OnLeftDClick, this);
        Bind(wxEVT_MOTION, &CSkinDialog::OnMotion, this);
        Bind(wxEVT_ENTER_WINDOW, &CSkinDialog::OnMotion, this);
        Bind(wxEVT_LEAVE_WINDOW, &CSkinDialog::OnLeave, this);
        Bind(wxEVT_MOUSE_CAPTURE_LOST, &CSkinDialog::OnCaptureLost, this);
    }
    Bind(wxEVT_SIZE, &CSkinDialog::OnSize, this);
    SetClientAreaSize(clientSize);
}

CSkinDialog::~CSkinDialog() {
    if (HasCapture()) ReleaseMouse();
}

FrameMetrics CSkinDialog::Metrics() const {
    return FrameMetrics::FromSkin(GetSkin());
}

void CSkinDialog::SetClientAreaSize(const wxSize& size) {
    if (skinned_) {
        const FrameMetrics m = Metrics();
        SetSize(size.x + 2 * m.side_width, size.y + m.title_height + m.bottom_height);
    } else {
        SetClientSize(size);
    }
    LayoutPanel();
}

void CSkinDialog::FitClientArea() {
    wxSize want = panel_->GetClientSize();
    if (wxSizer* sizer = panel_->GetSizer()) want.IncTo(sizer->GetMinSize());
    SetClientAreaSize(want);
}

void CSkinDialog::SetTitleCentered(int centred) {
    title_centred_ = centred;
    RefreshFrame();
}

void CSkinDialog::SetTitle(const wxString& title) {
    wxDialog::SetTitle(title);
    RefreshFrame();
}

void CSkinDialog::SetIcons(const wxIconBundle& icons) {
    wxDialog::SetIcons(icons);
    ++icon_serial_;
    RefreshFrame();
}

wxRect CSkinDialog::GetSysButtonRect(int which) const {
    if (!skinned_) return wxRect();
    const PixRect r = SysButtonRect(Metrics(), buttons_, GetSize().x, which);
    if (r.IsEmpty()) return wxRect();
    return wxRect(GetScreenPosition() + wxPoint(r.x, r.y), wxSize(r.width, r.height));
}

int CSkinDialog::HitTest(const wxPoint& p) const {
    const wxSize size = GetSize();
    return FrameHitTest(Metrics(), buttons_, size.x, size.y, p.x, p.y);
}

void CSkinDialog::LayoutPanel() {
    if (!panel_) return;
    const wxSize size = GetClientSize();
    if (skinned_) {
        const PixRect r = FrameClientRect(Metrics(), size.x, size.y);
        panel_->SetSize(r.x, r.y, r.width, r.height);
        UpdateWindowRegion();
    } else {
        panel_->SetSize(0, 0, size.x, size.y);
    }
}

void CSkinDialog::UpdateWindowRegion() {
    const wxSize size = GetSize();
    wxRegion region;
    const auto rows = RoundRectSpans(size.x, size.y, GetSkin().corner_width);
    for (size_t y = 0; y < rows.size(); ++y) {
        if (rows[y].end > rows[y].begin)
            region.Union(rows[y].begin, static_cast<int>(y), rows[y].end - rows[y].begin, 1);
    }
    SetShape(region);
}

void CSkinDialog::RefreshFrame() {
    if (!skinned_) return;
    const wxSize size = GetSize();
    const FrameMetrics m = Metrics();
    RefreshRect(wxRect(0, 0, size.x, m.title_height), false);
}

CSkinDialog::FrameLook CSkinDialog::CurrentLook() const {
    FrameLook look;
    look.size = GetSize();
    look.title = GetTitle();
    look.icon_serial = icon_serial_;
    look.zoomed = zoomed_;
    look.hover_hit = hover_hit_;
    look.pressed = pressed_hit_ != HTNOWHERE && pressed_hit_ == hover_hit_;
    look.title_centred = title_centred_;
    return look;
}

const wxBitmap& CSkinDialog::FramePicture() {
    const FrameLook look = CurrentLook();
    if (frame_picture_.IsOk() && look == frame_picture_look_) return frame_picture_;
    frame_picture_ = wxBitmap();
    frame_picture_look_ = look;
    const wxSize size = look.size;
    if (size.x <= 0 || size.y <= 0) return frame_picture_;
    const SkinSettings& s = GetSkin();
    const FrameMetrics m = Metrics();
    Pixmap frame(size.x, size.y, ArgbOf(s.background_color));
    if (!frame.IsOk()) return frame_picture_;
    {
        CNamedLockGuard guard(&GetSkin().lock);
        ComposeFrame(frame, s, buttons_, look.zoomed, look.hover_hit, look.pressed);
    }
    frame_picture_ = ToWxBitmap(frame);
    if (!look.title.empty()) {
        wxMemoryDC mdc(frame_picture_);
        const wxIcon icon = GetIcon();
        const bool hasIcon = icon.IsOk();
        const PixRect tr = TitleTextRect(m, buttons_, size.x, hasIcon);
        wxDCClipper clip(mdc, wxRect(0, 0, size.x, m.title_height));
        if (hasIcon) {
            wxBitmap small;
            small.CopyFromIcon(icon);
            if (small.GetWidth() != 16 || small.GetHeight() != 16)
                small = wxBitmap(small.ConvertToImage().Rescale(16, 16, wxIMAGE_QUALITY_HIGH));
            mdc.DrawBitmap(small, m.title_left, m.title_text_top - 2, true);
        }
        mdc.SetFont(bold_title_ ? BoldGuiFont() : GuiFont());
        mdc.SetTextForeground(WxColour(s.title_text_color));
        mdc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
        DrawTextLine(mdc, look.title, WxRect(tr), look.title_centred ? wxALIGN_CENTRE_HORIZONTAL : wxALIGN_LEFT,
                     false);
    }
    return frame_picture_;
}

void CSkinDialog::DrawNonClientFrame(wxDC& dc) {
    const wxBitmap& picture = FramePicture();
    if (picture.IsOk()) dc.DrawBitmap(picture, 0, 0);
}

void CSkinDialog::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    DrawNonClientFrame(dc);
}

void CSkinDialog::OnSize(wxSizeEvent&) {
    // Not skipped: the default would stretch the only child over the frame.
    LayoutPanel();
    Refresh(false);
}

void CSkinDialog::OnLeftDown(wxMouseEvent& event) {
    const int hit = HitTest(event.GetPosition());
    if (hit == HTCLOSE || hit == HTMAXBUTTON || hit == HTMINBUTTON) {
        pressed_hit_ = hit;
        hover_hit_ = hit;
        if (!HasCapture()) CaptureMouse();
        RefreshFrame();
        return;
    }
    if (hit == HTCAPTION && !zoomed_) {
        dragging_ = true;
        drag_offset_ = ClientToScreen(event.GetPosition()) - GetPosition();
        if (!HasCapture()) CaptureMouse();
    }
}

void CSkinDialog::OnLeftUp(wxMouseEvent& event) {
    if (HasCapture()) ReleaseMouse();
    dragging_ = false;
    const int pressed = pressed_hit_;
    pressed_hit_ = HTNOWHERE;
    const int hit = HitTest(event.GetPosition());
    hover_hit_ = hit;
    RefreshFrame();
    // A button acts when the button is released over the one it was pressed on.
    if (pressed == HTNOWHERE || hit != pressed) return;
    const int command = SysCommandForButtonUp(hit, buttons_, zoomed_);
    if (command != SC_NONE) CallAfter([this, command] { OnSysCommand(command); });
}

void CSkinDialog::OnLeftDClick(wxMouseEvent& event) {
    if (HitTest(event.GetPosition()) != HTCAPTION) return;
    const int command = SysCommandForDoubleClick(buttons_, zoomed_);
    if (command != SC_NONE) CallAfter([this, command] { OnSysCommand(command); });
}

void CSkinDialog::OnMotion(wxMouseEvent& event) {
    if (dragging_) {
        Move(ClientToScreen(event.GetPosition()) - drag_offset_);
        return;
    }
    const int hit = HitTest(event.GetPosition());
    if (hit != hover_hit_) {
        hover_hit_ = hit;
        RefreshFrame();
    }
}

void CSkinDialog::OnLeave(wxMouseEvent&) {
    if (HasCapture()) return;
    if (hover_hit_ != HTNOWHERE) {
        hover_hit_ = HTNOWHERE;
        RefreshFrame();
    }
}

void CSkinDialog::OnCaptureLost(wxMouseCaptureLostEvent&) {
    dragging_ = false;
    pressed_hit_ = HTNOWHERE;
    RefreshFrame();
}

void CSkinDialog::OnSysCommand(int command) {
    switch (command) {
        case SC_CLOSE:
            Close();
            break;
        case SC_MINIMIZE:
            Iconize(true);
            break;
        case SC_MAXIMIZE:
            if (!zoomed_ && skinned_) {
                // A borderless window is zoomed by hand: to the work area of its display.
                restore_rect_ = GetRect();
                const int d = wxDisplay::GetFromWindow(this);
                const wxRect area =
                    wxDisplay(d == wxNOT_FOUND ? 0u : static_cast<unsigned>(d)).GetClientArea();
                zoomed_ = true;
                SetSize(area);
            } else if (!skinned_) {
                Maximize(true);
            }
            break;
        case SC_RESTORE:
            if (zoomed_) {
                zoomed_ = false;
                SetSize(restore_rect_);
            } else if (!skinned_) {
                Maximize(false);
            }
            break;
        default:
            break;
    }
    RefreshFrame();
}
