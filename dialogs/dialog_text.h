#pragma once
// Texts between the dialogs' controls and their plain logic, and the end of
// a dialog shown modally (the program) or modelessly (the dialog gallery).

#include <wx/dialog.h>
#include <wx/string.h>

#include <string>

#include "foundation/translate.h"

// The translation of a message id, for a control.
inline wxString TranslatedText(const char* id) {
    return wxString::FromUTF8(Translate(id));
}

inline std::wstring ToWide(const wxString& text) {
    return text.ToStdWstring();
}

inline void EndDialogWith(wxDialog* dialog, int code) {
    if (dialog->IsModal()) {
        dialog->EndModal(code);
    } else {
        dialog->SetReturnCode(code);
        dialog->Hide();
    }
}
