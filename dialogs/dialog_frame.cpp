#include "dialogs/dialog_frame.h"

#include "ui/skin_dialog.h"

wxSize DialogUnitsToPixels(wxWindow* dialog, int width, int height) {
    return dialog->ConvertDialogToPixels(wxSize(width, height));
}

int ControlGap(wxWindow* dialog) { return DialogUnitsToPixels(dialog, 4, 4).y; }

void LayOutTemplate(CSkinDialog* dialog, int widthDu, int heightDu, wxSizer* column) {
    wxPanel* panel = dialog->GetClientPanel();
    panel->SetBackgroundColour(*wxWHITE);
    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(column, 1, wxEXPAND | wxALL, 2 * ControlGap(dialog));
    panel->SetSizer(outer);
    const wxSize first = DialogUnitsToPixels(dialog, widthDu, heightDu);
    dialog->SetClientAreaSize(first);
    panel->SetMinSize(first);
    dialog->FitClientArea();
    panel->Layout();
    dialog->CentreOnParent();
}

void EndDialogWith(wxDialog* dialog, int code) {
    if (dialog->IsModal()) {
        dialog->EndModal(code);
    } else {
        dialog->SetReturnCode(code);
        dialog->Hide();
    }
}
