#pragma once
// What the management and settings dialogs share: a translated text as a
// wx string, the first size of a template from its dialog units, and the
// white client panel every one of them has.

#include <wx/sizer.h>
#include <wx/string.h>

class CSkinDialog;
class wxDialog;
class wxWindow;

// The UTF-8 text (a Translate result) as a wx string.
inline wxString U8(const char* text) { return wxString::FromUTF8(text); }

// A template's size in dialog units as pixels of the dialog's font.
wxSize DialogUnitsToPixels(wxWindow* dialog, int width, int height);

// The gap between controls: 4 dialog units.
int ControlGap(wxWindow* dialog);
// Sizes the dialog's client area from the template's dialog units, paints
// the client panel white and gives it `column` inside a margin of two gaps;
// the area grows to what the controls need (translated texts may be longer)
// and never shrinks below the template's size. The dialog is centred on its
// parent.
void LayOutTemplate(CSkinDialog* dialog, int widthDu, int heightDu, wxSizer* column);

// Ends a modal run with `code`; a dialog shown without one (the gallery)
// keeps the code and hides.
void EndDialogWith(wxDialog* dialog, int code);
