#pragma once
// The mode editor (template 247): makes a new rule mode (null) or rewrites
// one from an English and a Chinese name, an action, a DNS choice, remarks
// and the rule lines; ends with wxID_OK once the mode was saved. Opened by
// the mode management dialog:
//   CDialogAddNewProxyMode editor(mode or nullptr, this);
//   if (editor.ShowModal() == wxID_OK) refill;
// Esc and the close box end it with wxID_CANCEL.

#include "dialogs/base/proxy_mode_form.h"
#include "ui/skin_dialog.h"

class CComboBoxPelmorText;
class CSkinButton;
class CSkinEdit;
class wxStaticText;
class wxTextCtrl;

enum ProxyModeControlId : int {
    kIdModeNameEn = 1000,
    kIdModeNameCn = 1001,
    kIdModeRules = 1004,
    kIdModeSave = 1006,
    kIdModeRemarks = 1008,
    kIdModeCounter = 1009,
    kIdModeAction = 1051,
    kIdModeDns = 1052,
    kIdModeDelete = 1058,
    kIdModeEdit = 1059,
    kIdModeAdd = 1060,
    kIdModeList = 1205,
};

class CDialogAddNewProxyMode : public CSkinDialog, public CDialogAddNewProxyModeCore {
public:
    CDialogAddNewProxyMode(CProxyMode* editMode, wxWindow* parent);

    void OnSave();
    void UpdateLineCounter();
    wxWindow* GetControl(int id) const { return FindWindow(id); }
    wxTextCtrl* GetRulesEditor() const { return rules_; }
    ProxyModeForm ReadForm() const;

private:
    CComboBoxPelmorText* action_ = nullptr;
    CComboBoxPelmorText* dns_ = nullptr;
    CSkinButton* save_ = nullptr;
    CSkinEdit* nameEn_ = nullptr;
    CSkinEdit* nameCn_ = nullptr;
    CSkinEdit* remarks_ = nullptr;
    wxTextCtrl* rules_ = nullptr;
    wxStaticText* counter_ = nullptr;
    int shownLines_ = -1;
};
