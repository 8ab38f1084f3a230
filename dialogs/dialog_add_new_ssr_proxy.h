#pragma once
// The dialog that adds or edits a Shadowsocks or ShadowsocksR node, and
// that a share link typed into its popup fills. The checks and the save are
// CSSRProxyCore's; this class moves the texts.
//
// The main window's commands:
//   CDialogAddNewSSRProxy dlg(this, edit ? 1 : 0);
//   if (edit) dlg.SetEditNode(node);
//   if (dlg.ShowModal() == wxID_OK) { dlg.GetNodeId(); dlg.GetActivate(); }

#include "dialogs/base/ssr_proxy_core.h"
#include "dialogs/dialog_add_from_link.h"
#include "dialogs/node_dialog_base.h"

class CComboBoxPelmorText;

class CDialogAddNewSSRProxy : public CNodeDialogBase, public CLinkFormOwner {
public:
    CDialogAddNewSSRProxy(wxWindow* parent, int editFlag = 0);

    void SetEditNode(CNodeInfo* node);
    // The link popup's fill; null does nothing. Starts a country lookup.
    void FillFromNode(CNodeInfo* node) override;
    void OnOK();

    SsrProxyForm ReadForm() const;
    void WriteForm(const SsrProxyForm& form);
    CSSRProxyCore& Core() { return core_; }

private:
    void ApplyParameterRules();

    CSSRProxyCore core_;
    CSkinEdit* port_ = nullptr;
    CComboBoxPelmorText* cipher_ = nullptr;
    CComboBoxPelmorText* protocol_ = nullptr;
    CComboBoxPelmorText* obfs_ = nullptr;
    CSkinEdit* protocol_param_ = nullptr;
    CSkinEdit* obfs_param_ = nullptr;
};
