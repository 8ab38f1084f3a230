#pragma once
// The mode management dialog (template 246): every mode with its remarks;
// Add, Edit and Delete act on modes read from rules files, never on
// built-in ones. From the main window's "Proxy mode management" command:
//   CDialogProxyModeManagement dlg(this);
//   dlg.ShowModal();
//   if (dlg.IsChanged()) refill the mode chooser;

#include "dialogs/dialog_add_new_proxy_mode.h"

class CReportList;

class CDialogProxyModeManagement : public CSkinDialog, public CDialogProxyModeManagementCore {
public:
    explicit CDialogProxyModeManagement(wxWindow* parent);

    void FillList();
    void UpdateButtons();
    void OnAdd();
    void OnEdit();
    void OnDelete();
    wxWindow* GetControl(int id) const { return FindWindow(id); }
    CReportList* GetList() const { return list_; }

private:
    CProxyMode* SelectedMode() const;
    // Runs the editor for `mode` (null: a new one); a save refills the list.
    void RunEditor(CProxyMode* mode);

    CSkinButton* add_ = nullptr;
    CSkinButton* delete_ = nullptr;
    CSkinButton* edit_ = nullptr;
    CReportList* list_ = nullptr;
};
