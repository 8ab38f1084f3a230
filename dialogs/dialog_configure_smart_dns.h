#pragma once
// The smart-DNS dialog (template 253): the remote and the domestic resolver
// of the local resolver, whether each goes through the proxy, and the
// forward-zone template. Save stores them in the DNS manager, the resolver
// controller and dns.ini, and closes with wxID_OK.
//
// Opened by the settings dialog's button 1213:
//   CDialogConfigureSmartDNS dlg(this); dlg.ShowModal();

#include <string>
#include <vector>

#include "dialogs/base/settings_form.h"
#include "ui/skin_dialog.h"

class CComboBoxPelmorText;
class CSkinButton;
class CSkinCheckBox;

enum SmartDnsControlId : int {
    kIdSmartDnsSave = 1,
    kIdSmartDnsRemote = 1214,
    kIdSmartDnsDomestic = 1215,
    kIdSmartDnsTemplate = 1216,
    kIdSmartDnsProxifyRemote = 1220,
    kIdSmartDnsProxifyDomestic = 1221,
};

class CDialogConfigureSmartDNS : public CSkinDialog {
public:
    explicit CDialogConfigureSmartDNS(wxWindow* parent);

    void OnOK();
    wxWindow* GetControl(int id) const { return FindWindow(id); }

private:
    std::vector<const DnsPreset*> rows_;
    std::vector<std::wstring> templates_;
    CComboBoxPelmorText* remote_ = nullptr;
    CComboBoxPelmorText* domestic_ = nullptr;
    CComboBoxPelmorText* template_ = nullptr;
    CSkinCheckBox* proxifyRemote_ = nullptr;
    CSkinCheckBox* proxifyDomestic_ = nullptr;
    CSkinButton* save_ = nullptr;
    bool selectionChanged_ = false;
};
