#pragma once
// What the dialog scenes share: message boxes recorded instead of shown
// (answered OK), the texts of a window tree with the count of glyphs the
// fonts lack, and the thread count of the process.

#include <wx/window.h>

#include <string>
#include <vector>

#include "tests/e2e/gallery/program/gallery.h"

namespace gallery {

// Installs the recording sink once and registers "boxes": "count=N" and
// then "text=<last box>".
void RecordBoxes(Registry& registry);

// Every text the window and its descendants show (labels, values, hints,
// rows), with the font each is drawn in.
struct ShownText {
    std::string text;
    std::string font;  // Pango font description
};
std::vector<ShownText> CollectTexts(wxWindow* root);
// Glyphs the fonts lack in these texts; `first` gets the first text with one.
int CountUnknownGlyphs(const std::vector<ShownText>& texts, std::string* first = nullptr);
// Registers "<name>.glyphs": "texts=N unknown=M first=<text>".
void AddGlyphState(Registry& registry, const std::string& name,
                   std::function<std::vector<ShownText>()> texts);

int ThreadCount();
std::string Utf8(const wxString& s);
// The window of a template id under its number ("1111").
void AddControl(Registry& registry, int id, wxWindow* window);

}  // namespace gallery
