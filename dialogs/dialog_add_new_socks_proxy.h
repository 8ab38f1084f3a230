#pragma once
// The dialog that adds or edits an HTTP, SOCKS 4/4a or SOCKS 5 node. The
// checks and the save are CSocksProxyCore's; this class moves the texts.
//
// The main window's commands:
//   CDialogAddNewSOCKSProxy dlg(this, edit ? 1 : 0);
//   if (edit) dlg.SetEditNode(node);
//   if (dlg.ShowModal() == wxID_OK) { dlg.GetNodeId(); dlg.GetActivate(); }

#include "dialogs/base/socks_proxy_core.h"
#include "dialogs/node_dialog_base.h"

class CComboBoxPelmorText;

class CDialogAddNewSOCKSProxy : public CNodeDialogBase {
public:
    CDialogAddNewSOCKSProxy(wxWindow* parent, int editFlag = 0);

    // Before the dialog is shown; null keeps add mode.
    void SetEditNode(CNodeInfo* node);
    void OnOK();

    SocksProxyForm ReadForm() const;
    void WriteForm(const SocksProxyForm& form);
    CSocksProxyCore& Core() { return core_; }

private:
    void Build();
    // The user-name edit is enabled for every type row.
    void ApplyTypeRule();

    CSocksProxyCore core_;
    CComboBoxPelmorText* type_ = nullptr;
    CSkinEdit* port_ = nullptr;
    CSkinEdit* user_ = nullptr;
};
