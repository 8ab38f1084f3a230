#include "dialogs/dialog_batch_add_from_link.h"

#include <wx/sizer.h>

#include "dialogs/base/link_import.h"
#include "dialogs/dialog_text.h"
#include "ui/log_views.h"
#include "ui/skin_button.h"

namespace {
// Template 209 in dialog units.
const wxSize kSizeDu(315, 131);
constexpr int kIdLabel = 1033;
constexpr int kIdEdit = 1032;
}  // namespace

CDialogBatchAddFromLink::CDialogBatchAddFromLink(wxWindow* parent)
    : CSkinDialog(parent, wxID_ANY, TranslatedText("Batch add from SS/SSR link."), wxSize(100, 100)) {
    wxPanel* p = GetClientPanel();
    p->SetBackgroundColour(*wxWHITE);
    label_ = new wxStaticText(p, kIdLabel, TranslatedText("Input SS/SSR link below( Seperated by comma, space, newline,| )"));
    edit_ = new CEditEx(p, kIdEdit, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                        wxTE_MULTILINE | wxTE_DONTWRAP | wxVSCROLL | wxHSCROLL);
    add_ = new CSkinButton(p, wxID_OK, TranslatedText("Add"), wxDefaultPosition, wxSize(100, 30));
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(label_, 0, wxALL, 8);
    column->Add(edit_, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);
    column->Add(add_, 0, wxALIGN_RIGHT | wxALL, 8);
    p->SetSizer(column);
    SetClientAreaSize(p->ConvertDialogToPixels(kSizeDu));
    FitClientArea();
    p->Layout();
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnAdd(); }, wxID_OK);
}

void CDialogBatchAddFromLink::OnAdd() {
    BatchAddResult result = BatchAddLinks(ToWide(edit_->GetValue()));
    added_ += result.added;
    ShowDialogMessage(result.message);
    if (result.finished) EndDialogWith(this, wxID_OK);
}
