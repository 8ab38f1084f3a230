#include "ui/skin_edit.h"

#include <wx/dcbuffer.h>
#include <wx/renderer.h>

#include "ui/base/control_states.h"
#include "ui/native_window.h"
#include "ui/wx_draw.h"

namespace {
// Space between the border and the entry.
constexpr int kInsetX = 4;
constexpr int kInsetY = 2;
}  // namespace

CSkinEdit::CSkinEdit(wxWindow* parent, wxWindowID id, const wxString& value, const wxPoint& pos,
                     const wxSize& size, long style)
    : wxControl(parent, id, pos, size, wxBORDER_NONE | wxTAB_TRAVERSAL) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    edit_ = new wxTextCtrl(this, wxID_ANY, value, wxDefaultPosition, wxDefaultSize,
                           (style & ~wxBORDER_MASK) | wxBORDER_NONE);
    edit_->SetFont(GuiFont());
    // The skin draws the border; GTK's own frame and focus ring would make a second one.
    if (!(style & wxTE_MULTILINE)) FlattenNativeEntry(edit_);
    // Text events reach the dialog as this control's own.
    edit_->Bind(wxEVT_TEXT, [this](wxCommandEvent& e) {
        wxCommandEvent copy(wxEVT_TEXT, GetId());
        copy.SetEventObject(this);
        copy.SetString(e.GetString());
        ProcessWindowEvent(copy);
    });
    SetInitialSize(size);
    Bind(wxEVT_PAINT, &CSkinEdit::OnPaint, this);
    Bind(wxEVT_SIZE, &CSkinEdit::OnSize, this);
    for (wxWindow* w : {static_cast<wxWindow*>(this), static_cast<wxWindow*>(edit_)}) {
        w->Bind(wxEVT_ENTER_WINDOW, &CSkinEdit::OnPointer, this);
        w->Bind(wxEVT_LEAVE_WINDOW, &CSkinEdit::OnPointer, this);
        w->Bind(wxEVT_MOTION, &CSkinEdit::OnPointer, this);
    }
    ApplyColours();
}

wxSize CSkinEdit::DoGetBestSize() const {
    const wxSize inner = edit_->GetBestSize();
    return wxSize(std::max(80, inner.x + 2 * kInsetX), std::max(22, inner.y + 2 * kInsetY));
}

void CSkinEdit::SetPasswordVisible(bool visible) {
    password_visible_ = visible;
    SetNativeEntryVisibility(edit_, visible);
    edit_->Refresh();
}

void CSkinEdit::SetEditable(bool editable) {
    edit_->SetEditable(editable);
    ApplyColours();
}

bool CSkinEdit::Enable(bool enable) {
    const bool changed = wxControl::Enable(enable);
    edit_->Enable(enable);
    ApplyColours();
    return changed;
}

void CSkinEdit::OnSize(wxSizeEvent& event) {
    const wxSize size = GetClientSize();
    edit_->SetSize(kInsetX, kInsetY, std::max(1, size.x - 2 * kInsetX), std::max(1, size.y - 2 * kInsetY));
    Refresh(false);
    event.Skip();
}

void CSkinEdit::OnPointer(wxMouseEvent& event) {
    UpdateHover();
    event.Skip();
}

void CSkinEdit::UpdateHover() {
    const bool inside = GetScreenRect().Contains(wxGetMousePosition());
    if (inside != hover_) {
        hover_ = inside;
        ApplyColours();
    }
}

void CSkinEdit::ApplyColours() {
    const SkinSettings& s = GetSkin();
    if (s.edit_loaded) {
        const EditColours c = EditColoursFor(s, IsReadOnly(), !IsEnabled(), hover_);
        edit_->SetBackgroundColour(WxColour(c.background));
    } else {
        edit_->SetBackgroundColour(wxNullColour);
    }
    Refresh(false);
}

void CSkinEdit::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
    dc.Clear();
    const SkinSettings& s = GetSkin();
    if (!s.edit_loaded) {
        wxRendererNative::Get().DrawTextCtrl(this, dc, wxRect(size),
                                             IsEnabled() ? 0 : static_cast<int>(wxCONTROL_DISABLED));
        return;
    }
    const EditColours c = EditColoursFor(s, IsReadOnly(), !IsEnabled(), hover_);
    dc.SetPen(wxPen(WxColour(c.border), 1));
    dc.SetBrush(wxBrush(WxColour(c.background)));
    dc.DrawRoundedRectangle(0, 0, size.x, size.y, 2.5);
}
