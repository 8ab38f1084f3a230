#pragma once
// An IPv4 address field: four octet fields of at most three digits in one
// frame. Typing "." or filling a field moves on to the next one; Backspace
// in an empty field moves back. The address is read and set in host order;
// the fields themselves may hold up to 999, so that whoever reads them can
// refuse an octet over 255. Disabled, the frame and fields turn grey.

#include <wx/panel.h>

#include <array>
#include <cstdint>

#include "dialogs/base/settings_form.h"

class wxTextCtrl;

class CIPAddressCtrl : public wxPanel {
public:
    CIPAddressCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                   const wxSize& size = wxDefaultSize);

    // 0 clears every field.
    void SetAddress(uint32_t hostOrder);
    // The fields as numbers; an empty field reads 0.
    OctetFields GetOctets() const;
    wxTextCtrl* GetField(int i) const { return fields_[static_cast<size_t>(i)]; }
    bool Enable(bool enable = true) override;

    static constexpr unsigned char kEnabledGrey = 255;
    static constexpr unsigned char kDisabledGrey = 240;

private:
    void MoveTo(int field);
    void OnChar(wxKeyEvent& event, int field);
    void ApplyColours();

    std::array<wxTextCtrl*, 4> fields_{};
};
