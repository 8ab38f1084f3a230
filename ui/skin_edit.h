#pragma once
// An edit with a rounded border and background in the skin's edit colours,
// which change while the pointer is over it; read-only and disabled edits
// use the disabled colours. The text itself is a borderless native entry
// inside, so typing, selection and input methods are the platform's own.
// Without the skin's edit section it draws the platform's text field frame.

#include <wx/control.h>
#include <wx/textctrl.h>

class CSkinEdit : public wxControl {
public:
    // `style`: wxTE_READONLY, wxTE_PASSWORD and the other entry styles.
    CSkinEdit(wxWindow* parent, wxWindowID id, const wxString& value = wxEmptyString,
              const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize, long style = 0);

    wxTextCtrl* GetTextCtrl() const { return edit_; }
    wxString GetValue() const { return edit_->GetValue(); }
    void SetValue(const wxString& value) { edit_->SetValue(value); }
    void ChangeValue(const wxString& value) { edit_->ChangeValue(value); }
    void SetEditable(bool editable);
    // A password entry's text shown plainly (true) or hidden again; the
    // entry stays the same control, with its text, selection and focus.
    void SetPasswordVisible(bool visible);
    bool IsPasswordVisible() const { return password_visible_; }
    bool IsReadOnly() const { return !edit_->IsEditable(); }
    bool Enable(bool enable = true) override;
    bool IsHovered() const { return hover_; }

protected:
    wxSize DoGetBestSize() const override;

private:
    void OnPaint(wxPaintEvent& event);
    void OnSize(wxSizeEvent& event);
    void OnPointer(wxMouseEvent& event);
    void UpdateHover();
    void ApplyColours();

    wxTextCtrl* edit_ = nullptr;
    bool hover_ = false;
    bool password_visible_ = false;
};
