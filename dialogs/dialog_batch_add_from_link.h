#pragma once
// The dialog that turns any number of pasted share links into nodes. What
// did not parse is counted and its first piece shown, never skipped silently.
//
// The main window's command:
//   CDialogBatchAddFromLink dlg(this);
//   if (dlg.ShowModal() == wxID_OK && dlg.GetAddedCount() > 0) refill the node list;

#include <wx/stattext.h>

#include "ui/skin_dialog.h"

class CEditEx;
class CSkinButton;

class CDialogBatchAddFromLink : public CSkinDialog {
public:
    explicit CDialogBatchAddFromLink(wxWindow* parent);

    int GetAddedCount() const { return added_; }
    // The Add button: a box for an empty entry (the dialog stays), else the
    // links are added, the unread pieces reported, and the dialog ends with OK.
    void OnAdd();
    CEditEx* GetEdit() const { return edit_; }

private:
    int added_ = 0;
    wxStaticText* label_ = nullptr;
    CEditEx* edit_ = nullptr;
    CSkinButton* add_ = nullptr;
};
