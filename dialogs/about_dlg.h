#pragma once
// The about box: version, build time with the local SOCKS port, the
// edition's links (hidden while they have no URL) and two contact fields.
// Run modally: CAboutDlg dlg; dlg.ShowModal();

#include <wx/textctrl.h>

#include "ui/skin_dialog.h"

class CHyperLink;

class CAboutDlg : public CSkinDialog {
public:
    explicit CAboutDlg(wxWindow* parent = nullptr);

    // The control of a template id (1013, 1014, 1015, 1047, 1048, 1054,
    // 1055, 1116, 1004), or null.
    wxWindow* GetControl(int id) const;

private:
    wxWindow* version_ = nullptr;
    wxWindow* buildTime_ = nullptr;
    CHyperLink* links_[5] = {};
    wxTextCtrl* skype_ = nullptr;
    wxTextCtrl* mail_ = nullptr;
};
