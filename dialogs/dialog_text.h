#pragma once
// Texts between the dialogs' controls and their plain logic.

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
