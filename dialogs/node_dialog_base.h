#pragma once
// What the two node dialogs share on screen: label rows in template order,
// the server with its geolocation button, the password with Show password,
// the group, country (with the busy picture), route, hint and activate
// rows, the Save button, the country lookup on its worker and the link
// popup. The derived dialogs add their own rows and their OK handlers.

#include <wx/combobox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <memory>
#include <mutex>

#include "dialogs/base/geolocation_worker.h"
#include "dialogs/base/node_form.h"
#include "ui/skin_dialog.h"

class CButtonVorn;
class CComboBoxPelmorAddProxy;
class CDialogAddFromLink;
class CLinkFormOwner;
class CNodeInfo;
class CPictureEx;
class CSkinButton;
class CSkinCheckBox;
class CSkinEdit;

enum NodeDialogControlId : int {
    kIdNodeUser = 1005,
    kIdNodeRemarks = 1008,
    kIdNodeRoute = 1009,
    kIdNodeProtocol = 1010,
    kIdNodeProtocolParam = 1011,
    kIdNodeObfs = 1012,
    kIdNodeLinkButton = 1017,
    kIdNodeType = 1023,
    kIdNodeCountry = 1025,
    kIdNodeHidden = 1040,
    kIdNodeBusy = 1065,
    kIdNodeServer = 1114,
    kIdNodePort = 1120,
    kIdNodePassword = 1125,
    kIdNodeObfsParam = 1134,
    kIdNodeGeolocation = 1144,
    kIdNodeCipher = 1149,
    kIdNodeShowPassword = 1159,
    kIdNodeHint = 1165,
    kIdNodeActivate = 1169,
};

class CNodeDialogBase : public CSkinDialog {
public:
    // `sizeDu`: the template's size in dialog units.
    CNodeDialogBase(wxWindow* parent, const wxSize& sizeDu);
    ~CNodeDialogBase() override;

    // After OK: the activate box's state and the node saved (-1 none).
    int GetActivate() const { return activate_; }
    int GetNodeId() const { return node_id_; }
    // The control of a template id (null for none).
    wxWindow* GetControl(int id) const;
    CDialogAddFromLink* GetLinkPopup() const { return popup_; }
    // The country lookup of the server text (button 1144).
    void OnGetGeolocation();
    bool IsLookupIdle() const { return worker_->IsIdle(); }

protected:
    // A label (template text through Translate) left of `field`, with
    // `extra` right of it; `label` null keeps `rawLabel` as it stands.
    void AddRow(int labelId, const char* label, wxWindow* field, wxWindow* extra = nullptr,
                const wxString& rawLabel = wxEmptyString);
    CSkinEdit* NewEdit(int id, long style = 0);
    // The server row with the geolocation button, the password row with
    // Show password.
    void AddServerRow();
    void AddPasswordRow(int labelId);
    // Group (combo `groupId`), country with the busy picture, route, hint,
    // activate box, Save; then the first size and the popup-hiding presses.
    void AddTail(int groupId, bool editMode, const wxString& group);
    // The link button, shown or hidden; with `owner` the popup is created.
    CButtonVorn* NewLinkButton(const char* tip, bool shown);
    void CreateLinkPopup(CLinkFormOwner* owner);
    void ShowLinkPopup();
    // Shows the handler's message, or ends with OK and keeps the id.
    bool FinishSave(const NodeSaveResult& result);

    wxPanel* panel_ = nullptr;
    wxFlexGridSizer* rows_ = nullptr;
    CSkinEdit* server_ = nullptr;
    CSkinEdit* password_ = nullptr;
    CSkinEdit* remarks_ = nullptr;
    CSkinEdit* route_ = nullptr;
    CSkinCheckBox* show_password_ = nullptr;
    CSkinCheckBox* activate_box_ = nullptr;
    wxComboBox* group_ = nullptr;
    CComboBoxPelmorAddProxy* countries_ = nullptr;
    CPictureEx* busy_ = nullptr;
    CButtonVorn* link_button_ = nullptr;
    CButtonVorn* geo_button_ = nullptr;
    CSkinButton* ok_ = nullptr;
    wxStaticText* hint_ = nullptr;
    CDialogAddFromLink* popup_ = nullptr;

private:
    struct Guard {
        std::mutex lock;
        CNodeDialogBase* dialog = nullptr;
    };
    void OnGeolocationDone(const GeolocationResult& result);
    void OnServerLeft(wxFocusEvent& event);
    void OnAnyPress(wxMouseEvent& event);
    void BindPresses(wxWindow* window);

    wxSize size_du_;
    int node_id_ = -1;
    int activate_ = 0;
    std::shared_ptr<Guard> guard_;
    std::unique_ptr<CGeolocationWorker> worker_;
};
