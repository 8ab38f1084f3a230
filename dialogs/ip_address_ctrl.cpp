#include "dialogs/ip_address_ctrl.h"

#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

CIPAddressCtrl::CIPAddressCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxPanel(parent, id, pos, size, wxBORDER_SIMPLE | wxTAB_TRAVERSAL) {
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    for (int i = 0; i < 4; ++i) {
        auto* field = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                                     wxBORDER_NONE | wxTE_CENTRE);
        field->SetMaxLength(3);
        // Three digits and a little room, whatever the font.
        field->SetMinSize(wxSize(field->GetTextExtent("0000").x, -1));
        field->Bind(wxEVT_CHAR, [this, i](wxKeyEvent& event) { OnChar(event, i); });
        field->Bind(wxEVT_TEXT, [this, i](wxCommandEvent&) {
            if (fields_[static_cast<size_t>(i)]->GetValue().length() >= 3 && i < 3) MoveTo(i + 1);
        });
        fields_[static_cast<size_t>(i)] = field;
        row->Add(field, 1, wxALIGN_CENTRE_VERTICAL);
        if (i < 3) row->Add(new wxStaticText(this, wxID_ANY, "."), 0, wxALIGN_CENTRE_VERTICAL);
    }
    SetSizer(row);
    ApplyColours();
}

void CIPAddressCtrl::MoveTo(int field) {
    wxTextCtrl* next = fields_[static_cast<size_t>(field)];
    next->SetFocus();
    next->SetSelection(-1, -1);
}

void CIPAddressCtrl::OnChar(wxKeyEvent& event, int field) {
    const int key = event.GetKeyCode();
    wxTextCtrl* self = fields_[static_cast<size_t>(field)];
    if (key == '.' || key == ' ') {
        if (field < 3 && !self->IsEmpty()) MoveTo(field + 1);
        return;
    }
    if (key == WXK_BACK && self->IsEmpty() && field > 0) {
        MoveTo(field - 1);
        return;
    }
    if (key >= '0' && key <= '9') {
        event.Skip();
        return;
    }
    // Editing and moving keys keep their meaning; any other character is dropped.
    if (key < WXK_SPACE || key == WXK_DELETE || key >= WXK_START) event.Skip();
}

void CIPAddressCtrl::SetAddress(uint32_t hostOrder) {
    const OctetFields octets = OctetsOfAddress(hostOrder);
    for (size_t i = 0; i < 4; ++i)
        fields_[i]->ChangeValue(hostOrder ? wxString::Format("%d", octets[i]) : wxString());
}

OctetFields CIPAddressCtrl::GetOctets() const {
    OctetFields octets{};
    for (size_t i = 0; i < 4; ++i) {
        long value = 0;
        octets[i] = fields_[i]->GetValue().ToLong(&value) ? static_cast<int>(value) : 0;
    }
    return octets;
}

bool CIPAddressCtrl::Enable(bool enable) {
    const bool changed = wxPanel::Enable(enable);
    ApplyColours();
    Refresh();
    return changed;
}

void CIPAddressCtrl::ApplyColours() {
    const unsigned char grey = IsThisEnabled() ? kEnabledGrey : kDisabledGrey;
    const wxColour colour(grey, grey, grey);
    SetBackgroundColour(colour);
    for (wxTextCtrl* field : fields_) field->SetBackgroundColour(colour);
}
