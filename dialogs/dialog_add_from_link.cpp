#include "dialogs/dialog_add_from_link.h"

#include <wx/sizer.h>

#include "dialogs/base/link_import.h"
#include "dialogs/dialog_text.h"
#include "ui/skin_button.h"
#include "ui/skin_edit.h"

namespace {
// Template 168 in dialog units: one row, the edit 279 wide.
constexpr int kWidthDu = 342;
constexpr int kHeightDu = 14;
constexpr int kEditDu = 279;
}  // namespace

CDialogAddFromLink::CDialogAddFromLink(wxWindow* parent, CLinkFormOwner* owner)
    : wxDialog(parent, wxID_ANY, TranslatedText("Add server from proxy link."), wxDefaultPosition, wxDefaultSize,
               wxBORDER_SIMPLE),
      owner_(owner) {
    SetBackgroundColour(*wxWHITE);
    const wxSize size = parent->ConvertDialogToPixels(wxSize(kWidthDu, kHeightDu));
    const int editWidth = parent->ConvertDialogToPixels(wxSize(kEditDu, 0)).x;
    edit_ = new CSkinEdit(this, kIdLinkEdit, wxEmptyString, wxDefaultPosition, wxSize(editWidth, -1));
    ok_ = new CSkinButton(this, wxID_OK, TranslatedText("OK"));
    cancel_ = new CSkinButton(this, wxID_CANCEL, TranslatedText("Cancel"));
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(edit_, 1, wxALIGN_CENTER_VERTICAL | wxALL, 2);
    row->Add(ok_, 0, wxALIGN_CENTER_VERTICAL | wxTOP | wxBOTTOM, 2);
    row->Add(cancel_, 0, wxALIGN_CENTER_VERTICAL | wxALL, 2);
    SetSizer(row);
    SetClientSize(size);
    SetMinClientSize(row->GetMinSize());
    if (GetClientSize().y < row->GetMinSize().y) SetClientSize(size.x, row->GetMinSize().y);
    Layout();
    SetDefaultItem(ok_);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); }, wxID_OK);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Hide(); }, wxID_CANCEL);
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
        if (event.GetKeyCode() == WXK_ESCAPE) {
            Hide();
            return;
        }
        if (event.GetKeyCode() == WXK_RETURN || event.GetKeyCode() == WXK_NUMPAD_ENTER) {
            OnOK();
            return;
        }
        event.Skip();
    });
    Hide();
}

void CDialogAddFromLink::ClearAndFocus() {
    edit_->ChangeValue(wxEmptyString);
    edit_->GetTextCtrl()->SetFocus();
}

void CDialogAddFromLink::OnOK() {
    LinkParseResult result = ParseLinkText(ToWide(edit_->GetValue()));
    if (!result.node) {
        ShowDialogMessage(result.message);
        return;
    }
    if (owner_) owner_->FillFromNode(result.node.get());
    Hide();
}
