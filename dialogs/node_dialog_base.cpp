#include "dialogs/node_dialog_base.h"

#include <wx/button.h>

#include "dialogs/base/node_form.h"
#include "dialogs/dialog_add_from_link.h"
#include "dialogs/base/message_id.h"
#include "dialogs/dialog_text.h"
#include "dialogs/pelmor_combos.h"
#include "foundation/translate.h"
#include "nodes/node_mgr.h"
#include "ui/button_vorn.h"
#include "ui/picture_ex.h"
#include "ui/skin_button.h"
#include "ui/skin_check_box.h"
#include "ui/skin_edit.h"

namespace {
constexpr int kGap = 6;
}  // namespace

CNodeDialogBase::CNodeDialogBase(wxWindow* parent, const wxSize& sizeDu)
    : CSkinDialog(parent, wxID_ANY, TranslatedText("Add new proxy server"), wxSize(100, 100)),
      size_du_(sizeDu),
      guard_(std::make_shared<Guard>()) {
    guard_->dialog = this;
    // Results come back on the worker; the dialog takes them on its own
    // thread, and never after it is gone.
    worker_ = std::make_unique<CGeolocationWorker>([guard = guard_](const GeolocationResult& result) {
        std::lock_guard<std::mutex> hold(guard->lock);
        if (CNodeDialogBase* dialog = guard->dialog)
            dialog->CallAfter([dialog, result] { dialog->OnGeolocationDone(result); });
    });
    panel_ = GetClientPanel();
    panel_->SetBackgroundColour(*wxWHITE);
    rows_ = new wxFlexGridSizer(3, kGap, kGap);
    rows_->AddGrowableCol(1, 1);
}

CNodeDialogBase::~CNodeDialogBase() {
    // The children still live here: the picture stops before the frame goes,
    // and the server field's focus loss no longer reaches this object.
    if (busy_) busy_->Stop();
    if (server_) server_->GetTextCtrl()->Unbind(wxEVT_KILL_FOCUS, &CNodeDialogBase::OnServerLeft, this);
    {
        std::lock_guard<std::mutex> hold(guard_->lock);
        guard_->dialog = nullptr;
    }
    // The service request ends at once; a name resolution runs out first.
    worker_->AbortAndJoin();
}

wxWindow* CNodeDialogBase::GetControl(int id) const {
    if (id == 1) id = wxID_OK;
    return panel_->FindWindow(id);
}

void CNodeDialogBase::AddRow(int labelId, const char* label, wxWindow* field, wxWindow* extra,
                             const wxString& rawLabel) {
    auto* text = new wxStaticText(panel_, labelId, label ? TranslatedText(label) : rawLabel);
    rows_->Add(text, 0, wxALIGN_CENTER_VERTICAL | wxALIGN_RIGHT);
    rows_->Add(field, 1, wxEXPAND | wxALIGN_CENTER_VERTICAL);
    if (extra) {
        // The busy picture and the hidden link button keep their place.
        rows_->Add(extra, 0, wxALIGN_CENTER_VERTICAL | wxRESERVE_SPACE_EVEN_IF_HIDDEN);
    } else {
        rows_->AddSpacer(0);
    }
}

CSkinEdit* CNodeDialogBase::NewEdit(int id, long style) {
    return new CSkinEdit(panel_, id, wxEmptyString, wxDefaultPosition, wxSize(-1, 26), style);
}

void CNodeDialogBase::AddServerRow() {
    server_ = NewEdit(kIdNodeServer);
    geo_button_ = new CButtonVorn(panel_, kIdNodeGeolocation, wxEmptyString, wxDefaultPosition, wxSize(24, 24));
    geo_button_->SetIcon(159, 159, CButtonVorn::kGreyCopy);
    geo_button_->SetBtnCursor(wxCursor(wxCURSOR_HAND));
    geo_button_->SetToolTip(TranslatedText("Get geolocation of this IP Address"));
    geo_button_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnGetGeolocation(); });
    server_->GetTextCtrl()->Bind(wxEVT_KILL_FOCUS, &CNodeDialogBase::OnServerLeft, this);
    AddRow(1026, N_("Server IP:"), server_, geo_button_);
}

void CNodeDialogBase::AddPasswordRow(int labelId) {
    password_ = NewEdit(kIdNodePassword, wxTE_PASSWORD);
    show_password_ = new CSkinCheckBox(panel_, kIdNodeShowPassword, TranslatedText("Show password"));
    show_password_->Bind(wxEVT_CHECKBOX,
                         [this](wxCommandEvent&) { password_->SetPasswordVisible(show_password_->IsChecked()); });
    AddRow(labelId, N_("Password:"), password_, show_password_);
}

CButtonVorn* CNodeDialogBase::NewLinkButton(const char* tip, bool shown) {
    link_button_ = new CButtonVorn(panel_, kIdNodeLinkButton, wxEmptyString, wxDefaultPosition, wxSize(24, 24));
    link_button_->SetIcon(149, 149, 150);
    link_button_->SetBtnCursor(wxCursor(wxCURSOR_HAND));
    link_button_->SetToolTip(TranslatedText(tip));
    link_button_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ShowLinkPopup(); });
    link_button_->Show(shown);
    return link_button_;
}

void CNodeDialogBase::CreateLinkPopup(CLinkFormOwner* owner) {
    popup_ = new CDialogAddFromLink(this, owner);
}

void CNodeDialogBase::ShowLinkPopup() {
    if (!popup_ || !link_button_) return;
    const wxSize size = link_button_->GetSize();
    popup_->Move(link_button_->ClientToScreen(wxPoint(size.x, size.y)));
    popup_->Show();
    popup_->Raise();
    popup_->ClearAndFocus();
}

void CNodeDialogBase::AddTail(int groupId, bool editMode, const wxString& group) {
    remarks_ = NewEdit(kIdNodeRemarks);
    remarks_->GetTextCtrl()->SetMaxLength(20);
    AddRow(1031, N_("Remarks:"), remarks_);

    group_ = new wxComboBox(panel_, groupId, wxEmptyString, wxDefaultPosition, wxDefaultSize, 0, nullptr,
                            wxCB_DROPDOWN);
    for (const std::wstring& g : NodeGroupChoices(CNodeMgr::GetInstance()->GetNodes())) group_->Append(g);
    if (editMode) group_->SetValue(group);
    AddRow(1155, N_("Group:"), group_);

    countries_ = new CComboBoxPelmorAddProxy(panel_, kIdNodeCountry, wxDefaultPosition, wxSize(-1, 26));
    countries_->FillCountries();
    busy_ = new CPictureEx(panel_, kIdNodeBusy, wxDefaultPosition, wxSize(16, 16));
    busy_->LoadResource(160, "GIF", true);
    busy_->SetBkColor(RGB(255, 255, 255));
    AddRow(1154, N_("Country:"), countries_, busy_);
    busy_->Hide();

    route_ = NewEdit(kIdNodeRoute);
    AddRow(1033, N_("Additional route"), route_);

    hint_ = new wxStaticText(panel_, kIdNodeHint, TranslatedText("Remote IP when you specify a local proxy, Only support one."));
    activate_box_ = new CSkinCheckBox(panel_, kIdNodeActivate,
                                      TranslatedText(editMode ? N_("Edit and activate it") : N_("Add and activate it")));
    ok_ = new CSkinButton(panel_, wxID_OK, TranslatedText("Save"), wxDefaultPosition, wxSize(120, 30));
    auto* hidden = new wxButton(panel_, kIdNodeHidden, wxEmptyString);
    hidden->Hide();
    hidden->Disable();

    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(rows_, 0, wxEXPAND | wxALL, 12);
    column->Add(hint_, 0, wxLEFT | wxRIGHT, 12);
    column->Add(activate_box_, 0, wxALL, 12);
    column->AddStretchSpacer();
    column->Add(ok_, 0, wxALIGN_RIGHT | wxRIGHT | wxBOTTOM, 12);
    panel_->SetSizer(column);
    SetClientAreaSize(panel_->ConvertDialogToPixels(size_du_));
    FitClientArea();
    panel_->Layout();
    SetDefaultItem(ok_);
    hint_->Wrap(panel_->GetClientSize().x - 24);
    panel_->Layout();

    BindPresses(this);
}

void CNodeDialogBase::BindPresses(wxWindow* window) {
    if (window == popup_) return;
    for (const wxEventTypeTag<wxMouseEvent>& type : {wxEVT_LEFT_DOWN, wxEVT_LEFT_DCLICK, wxEVT_RIGHT_DOWN,
                                                     wxEVT_RIGHT_DCLICK, wxEVT_MIDDLE_DOWN, wxEVT_MIDDLE_DCLICK})
        window->Bind(type, &CNodeDialogBase::OnAnyPress, this);
    for (wxWindow* child : window->GetChildren()) BindPresses(child);
}

void CNodeDialogBase::OnAnyPress(wxMouseEvent& event) {
    // A press on the link button itself reopens the popup there.
    if (popup_ && popup_->IsShown() && event.GetEventObject() != link_button_) popup_->Hide();
    event.Skip();
}

void CNodeDialogBase::OnGetGeolocation() {
    if (!worker_->Start(ToWide(server_->GetValue()))) return;
    busy_->Show();
    busy_->Draw();
}

void CNodeDialogBase::OnServerLeft(wxFocusEvent& event) {
    event.Skip();
    if (CGeolocationWorker::ShouldLookUpOnLeave(ToWide(server_->GetValue()))) OnGetGeolocation();
}

void CNodeDialogBase::OnGeolocationDone(const GeolocationResult& result) {
    busy_->Hide();
    panel_->RefreshRect(busy_->GetRect());
    if (result.answered) countries_->SetSelection(result.countryRow >= 0 ? result.countryRow : wxNOT_FOUND);
    ShowDialogMessage(result.message);
}

bool CNodeDialogBase::FinishSave(const NodeSaveResult& result) {
    if (!result.Saved()) {
        ShowDialogMessage(result.message);
        return false;
    }
    node_id_ = result.nodeId;
    activate_ = activate_box_->GetCheck();
    EndDialogWith(this, wxID_OK);
    return true;
}
