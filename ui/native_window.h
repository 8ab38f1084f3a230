#pragma once
// Gives a control its own native window on the display. A control that
// repaints often (an animation) then repaints alone: without it, the
// toolkit draws every window from the top-level one down, and each frame
// would repaint the dialog and the panel under the control as well.

#include <wx/textctrl.h>
#include <wx/window.h>

// Does nothing until the control is realized; returns whether it is native now.
bool EnsureNativeWindow(wxWindow* window);

// Takes the theme's frame, focus ring and background image off a native
// single-line entry (a wxTextCtrl without wxTE_MULTILINE), so that a control drawing its own border around it
// shows one border only.
void FlattenNativeEntry(wxWindow* entry);

// Shows a single-line entry's text plainly or hidden behind its invisible
// character, on the same entry (wx fixes wxTE_PASSWORD at creation).
void SetNativeEntryVisibility(wxWindow* entry, bool visible);

// Puts the cursor of a multi-line text control at the end of its text and
// scrolls so that the last line sits at the bottom of the view. Only the
// lines around the end are laid out at once; the toolkit lays out the others
// while idle.
void ScrollNativeTextToEnd(wxTextCtrl* text);
