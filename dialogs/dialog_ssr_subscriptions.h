#pragma once
// The subscription dialogs and the update-proxy chooser. The store calls
// and what each handler decides are CSubscriptionsCore's and
// CEditSubscriptionCore's; these classes move the texts.
//
// The main window's subscriptions command (3534):
//   CDialogSSRSubscriptions dlg(this);
//   dlg.ShowModal();
//   if (dlg.IsChanged()) reload the subscription nodes;

#include <wx/stattext.h>

#include "dialogs/base/subscriptions_core.h"
#include "ui/skin_dialog.h"

class CComboBoxPelmorText;
class CReportList;
class CSkinButton;
class CSkinEdit;

enum SubscriptionControlId : int {
    kIdSubDelete = 1058,
    kIdSubEdit = 1059,
    kIdChooserHidden = 1060,
    kIdChooserList = 1110,
    kIdSubUrl = 1113,
    kIdSubParams = 1114,
    kIdSubGroupBox = 1174,
    kIdSubAdd = 1175,
    kIdSubList = 1176,
    kIdSubSelectProxy = 1177,
    kIdSubRemoveProxy = 1178,
    kIdSubFrequency = 1184,
    kIdSubUrlText = 1197,
    kIdChooserSelect = 1211,
    kIdSubProxyText = 1212,
};

// Picks one node of the node list.
class CDialogSelectProxy : public CSkinDialog {
public:
    explicit CDialogSelectProxy(wxWindow* parent);
    CNodeInfo* GetSelectedNode() const { return selected_; }
    void Fill();
    void OnSelect();
    CReportList* GetList() const { return list_; }

private:
    CReportList* list_ = nullptr;
    CSkinButton* select_ = nullptr;
    CNodeInfo* selected_ = nullptr;
};

// Shared by the two subscription dialogs: the frequency combo with its four
// texts, and the proxy line with Select proxy and Remove proxy.
class CSubscriptionDialogBase : public CSkinDialog {
public:
    CSubscriptionDialogBase(wxWindow* parent, const wxString& title);
    wxWindow* GetControl(int id) const;
    // Runs the chooser; the picked node or null.
    CNodeInfo* RunChooser();

protected:
    void CreateProxyControls();
    void ShowProxy(const wxString& text);

    wxPanel* panel_ = nullptr;
    CComboBoxPelmorText* frequency_ = nullptr;
    CSkinEdit* params_ = nullptr;
    wxStaticText* proxy_text_ = nullptr;
    CSkinButton* select_proxy_ = nullptr;
    CSkinButton* remove_proxy_ = nullptr;
};

class CDialogEditSSRSubscription : public CSubscriptionDialogBase {
public:
    CDialogEditSSRSubscription(wxWindow* parent, const SubscriptionGroup& group);
    const CEditSubscriptionCore& Core() const { return core_; }
    int IsChanged() const { return core_.IsChanged(); }
    void OnSave();
    void OnSelectProxy(CNodeInfo* node);
    void OnRemoveProxy();

private:
    CEditSubscriptionCore core_;
};

class CDialogSSRSubscriptions : public CSubscriptionDialogBase {
public:
    explicit CDialogSSRSubscriptions(wxWindow* parent);
    int IsChanged() const { return core_.IsChanged(); }

    void FillList();
    void OnAdd();
    void OnDelete();
    void OnEdit();
    void OnSelectProxy(CNodeInfo* node);
    void OnRemoveProxy();
    CReportList* GetList() const { return list_; }
    CSubscriptionsCore& Core() { return core_; }

private:
    CSubscriptionsCore core_;
    CSkinEdit* url_ = nullptr;
    CReportList* list_ = nullptr;
    CSkinButton* delete_ = nullptr;
    CSkinButton* edit_ = nullptr;
};
