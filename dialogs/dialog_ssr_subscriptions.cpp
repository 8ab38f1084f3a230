#include "dialogs/dialog_ssr_subscriptions.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statbox.h>

#include <algorithm>

#include "dialogs/base/node_rows.h"
#include "dialogs/base/message_id.h"
#include "dialogs/dialog_text.h"
#include "dialogs/pelmor_combos.h"
#include "dialogs/report_list.h"
#include "nodes/node_mgr.h"
#include "ui/skin_button.h"
#include "ui/skin_edit.h"

namespace {

// Templates 230, 245 and 252 in dialog units.
const wxSize kListSizeDu(420, 250);
const wxSize kEditSizeDu(300, 110);
const wxSize kChooserSizeDu(220, 200);
constexpr int kButtonHeight = 28;

void SetFirstSize(CSkinDialog* dialog, const wxSize& sizeDu) {
    wxPanel* p = dialog->GetClientPanel();
    dialog->SetClientAreaSize(p->ConvertDialogToPixels(sizeDu));
    dialog->FitClientArea();
    p->Layout();
}

CSkinButton* NewButton(wxWindow* parent, int id, const char* text) {
    auto* b = new CSkinButton(parent, id, TranslatedText(text));
    b->SetMinSize(wxSize(std::max(90, b->GetBestSize().x), kButtonHeight));
    return b;
}

wxStaticText* NewLabel(wxWindow* parent, int id, const char* text) {
    return new wxStaticText(parent, id, TranslatedText(text));
}

}  // namespace

// ---- The chooser ----

CDialogSelectProxy::CDialogSelectProxy(wxWindow* parent)
    : CSkinDialog(parent, wxID_ANY, TranslatedText("Select proxy"), wxSize(100, 100)) {
    wxPanel* p = GetClientPanel();
    p->SetBackgroundColour(*wxWHITE);
    list_ = new CReportList(p, kIdChooserList);
    select_ = NewButton(p, kIdChooserSelect, N_("Select"));
    auto* hidden = new wxButton(p, kIdChooserHidden, TranslatedText("Add"));
    hidden->Hide();
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(list_, 1, wxEXPAND | wxALL, 8);
    column->Add(select_, 0, wxALIGN_RIGHT | wxRIGHT | wxBOTTOM, 8);
    p->SetSizer(column);
    SetFirstSize(this, kChooserSizeDu);
    list_->AddColumn(TranslatedText("Proxy"), std::max(40, list_->GetClientSize().x - 20));
    list_->AddRowButton(select_);
    select_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnSelect(); });
    list_->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { OnSelect(); });
    Fill();
}

void CDialogSelectProxy::Fill() {
    list_->DeleteAllRows();
    const bool hidden = NodeAddressesHidden();
    long row = 0;
    for (CNodeInfo* node : CNodeMgr::GetInstance()->GetNodes()) {
        list_->InsertItem(row, ProxyChooserRowText(*node, hidden));
        list_->SetItemPtrData(row, reinterpret_cast<wxUIntPtr>(node));
        ++row;
    }
    list_->UpdateRowButtons();
}

void CDialogSelectProxy::OnSelect() {
    const long row = list_->GetSelectedRow();
    if (row < 0) return;
    selected_ = reinterpret_cast<CNodeInfo*>(list_->GetItemData(row));
    if (selected_) EndDialogWith(this, wxID_OK);
}

// ---- What the two subscription dialogs share ----

CSubscriptionDialogBase::CSubscriptionDialogBase(wxWindow* parent, const wxString& title)
    : CSkinDialog(parent, wxID_ANY, title, wxSize(100, 100)) {
    panel_ = GetClientPanel();
    panel_->SetBackgroundColour(*wxWHITE);
}

wxWindow* CSubscriptionDialogBase::GetControl(int id) const {
    if (id == 1) id = wxID_OK;
    return panel_->FindWindow(id);
}

void CSubscriptionDialogBase::CreateProxyControls() {
    frequency_ = new CComboBoxPelmorText(panel_, kIdSubFrequency, wxDefaultPosition, wxSize(110, 26));
    for (int f = 0; f < kFrequencyCount; ++f) frequency_->AddItem(wxString::FromUTF8(GetFrequencyText(f)), 0);
    params_ = new CSkinEdit(panel_, kIdSubParams, wxEmptyString, wxDefaultPosition, wxSize(-1, 26));
    proxy_text_ = new wxStaticText(panel_, kIdSubProxyText, wxEmptyString, wxDefaultPosition, wxSize(160, -1),
                                   wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    select_proxy_ = NewButton(panel_, kIdSubSelectProxy, N_("Select proxy"));
    remove_proxy_ = NewButton(panel_, kIdSubRemoveProxy, N_("Remove proxy"));
}

void CSubscriptionDialogBase::ShowProxy(const wxString& text) {
    proxy_text_->SetLabel(text);
    remove_proxy_->Enable(!text.empty());
}

CNodeInfo* CSubscriptionDialogBase::RunChooser() {
    CDialogSelectProxy chooser(this);
    if (chooser.ShowModal() != wxID_OK) return nullptr;
    return chooser.GetSelectedNode();
}

// ---- The edit dialog ----

CDialogEditSSRSubscription::CDialogEditSSRSubscription(wxWindow* parent, const SubscriptionGroup& group)
    : CSubscriptionDialogBase(parent, TranslatedText("Edit SSR Subscription")), core_(group) {
    CreateProxyControls();
    auto* url = new wxStaticText(panel_, kIdSubUrlText, core_.UrlText(), wxDefaultPosition, wxDefaultSize,
                                 wxST_ELLIPSIZE_MIDDLE);
    auto* save = NewButton(panel_, wxID_OK, N_("Save"));
    auto* grid = new wxFlexGridSizer(2, 6, 8);
    grid->AddGrowableCol(1, 1);
    grid->Add(NewLabel(panel_, 1185, N_("Frequency:")), 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(frequency_, 0);
    grid->Add(NewLabel(panel_, 1196, N_("Default params of OBFS:")), 0, wxALIGN_CENTER_VERTICAL);
    grid->Add(params_, 1, wxEXPAND);
    grid->Add(NewLabel(panel_, 1187, N_("Proxy:")), 0, wxALIGN_CENTER_VERTICAL);
    auto* proxyRow = new wxBoxSizer(wxHORIZONTAL);
    proxyRow->Add(proxy_text_, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    proxyRow->Add(select_proxy_, 0, wxRIGHT, 6);
    proxyRow->Add(remove_proxy_, 0);
    grid->Add(proxyRow, 1, wxEXPAND);
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(url, 0, wxEXPAND | wxALL, 10);
    column->Add(grid, 0, wxEXPAND | wxLEFT | wxRIGHT, 10);
    column->AddStretchSpacer();
    column->Add(save, 0, wxALIGN_RIGHT | wxALL, 10);
    panel_->SetSizer(column);
    SetFirstSize(this, kEditSizeDu);

    frequency_->SetSelection(core_.GetFrequency() >= 0 && core_.GetFrequency() < kFrequencyCount
                                 ? core_.GetFrequency()
                                 : 1);
    params_->ChangeValue(core_.GetObfsParams());
    ShowProxy(core_.ProxyText());
    SetDefaultItem(save);

    frequency_->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { core_.OnFrequencyChosen(); });
    params_->GetTextCtrl()->Bind(wxEVT_TEXT, [this](wxCommandEvent& event) {
        core_.OnParamsEdited(ToWide(params_->GetValue()));
        event.Skip();
    });
    select_proxy_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnSelectProxy(RunChooser()); });
    remove_proxy_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnRemoveProxy(); });
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnSave(); }, wxID_OK);
}

void CDialogEditSSRSubscription::OnSelectProxy(CNodeInfo* node) {
    if (!node) return;
    core_.OnProxyChosen(node);
    ShowProxy(ProxyAddressText(node->host, node->port));
}

void CDialogEditSSRSubscription::OnRemoveProxy() {
    core_.OnRemoveProxy();
    ShowProxy(wxEmptyString);
}

void CDialogEditSSRSubscription::OnSave() {
    core_.OnSave(frequency_->GetSelection(), ToWide(params_->GetValue()));
    EndDialogWith(this, wxID_OK);
}

// ---- The list dialog ----

CDialogSSRSubscriptions::CDialogSSRSubscriptions(wxWindow* parent)
    : CSubscriptionDialogBase(parent, TranslatedText("SSR Subscriptions management")),
      core_(ProgramSubscriptionStore()) {
    auto* box = new wxStaticBox(panel_, kIdSubGroupBox, TranslatedText("Add Subscriptions"));
    url_ = new CSkinEdit(panel_, kIdSubUrl, wxEmptyString, wxDefaultPosition, wxSize(-1, 26));
    auto* add = NewButton(panel_, kIdSubAdd, N_("Add"));
    CreateProxyControls();
    list_ = new CReportList(panel_, kIdSubList);
    delete_ = NewButton(panel_, kIdSubDelete, N_("Delete"));
    edit_ = NewButton(panel_, kIdSubEdit, N_("Edit"));

    auto* boxed = new wxStaticBoxSizer(box, wxVERTICAL);
    auto* urlRow = new wxBoxSizer(wxHORIZONTAL);
    urlRow->Add(url_, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    urlRow->Add(add, 0, wxALIGN_CENTER_VERTICAL);
    boxed->Add(urlRow, 0, wxEXPAND | wxALL, 6);
    auto* optionRow = new wxBoxSizer(wxHORIZONTAL);
    optionRow->Add(NewLabel(panel_, 1185, N_("Frequency:")), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    optionRow->Add(frequency_, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 12);
    optionRow->Add(NewLabel(panel_, 1196, N_("Default params of OBFS:")), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    optionRow->Add(params_, 1, wxALIGN_CENTER_VERTICAL);
    boxed->Add(optionRow, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 6);
    auto* proxyRow = new wxBoxSizer(wxHORIZONTAL);
    proxyRow->Add(NewLabel(panel_, 1187, N_("Proxy:")), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    proxyRow->Add(proxy_text_, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
    proxyRow->Add(select_proxy_, 0, wxRIGHT, 6);
    proxyRow->Add(remove_proxy_, 0);
    boxed->Add(proxyRow, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 6);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->AddStretchSpacer();
    buttons->Add(delete_, 0, wxRIGHT, 6);
    buttons->Add(edit_, 0);
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(boxed, 0, wxEXPAND | wxALL, 8);
    column->Add(list_, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);
    column->Add(buttons, 0, wxEXPAND | wxALL, 8);
    panel_->SetSizer(column);
    SetFirstSize(this, kListSizeDu);

    const std::pair<const char*, int> columns[] = {{N_("Group name"), 100},      {N_("URL"), 200},
                                                   {N_("Frequency"), 80},        {N_("Recently updated"), 100},
                                                   {N_("Default params of OBFS"), 100}, {N_("Proxy"), 100}};
    for (const auto& [header, width] : columns) list_->AddColumn(TranslatedText(header), width);
    frequency_->SetSelection(1);
    list_->AddRowButton(delete_);
    list_->AddRowButton(edit_);
    FillList();
    ShowProxy(wxEmptyString);

    add->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnAdd(); });
    delete_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnDelete(); });
    edit_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnEdit(); });
    list_->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { OnEdit(); });
    select_proxy_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnSelectProxy(RunChooser()); });
    remove_proxy_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnRemoveProxy(); });
    // Enter does not close a list dialog.
    Bind(wxEVT_BUTTON, [](wxCommandEvent&) {}, wxID_OK);
}

void CDialogSSRSubscriptions::FillList() {
    list_->DeleteAllRows();
    long row = 0;
    for (const auto& group : core_.Groups()) {
        const std::vector<std::wstring> texts = SubscriptionRowTexts(*group);
        list_->InsertItem(row, texts[0]);
        for (size_t c = 1; c < texts.size(); ++c) list_->SetItem(row, static_cast<long>(c), texts[c]);
        list_->SetItemPtrData(row, reinterpret_cast<wxUIntPtr>(group.get()));
        ++row;
    }
    list_->UpdateRowButtons();
}

void CDialogSSRSubscriptions::OnAdd() {
    CSubscriptionsCore::Outcome out =
        core_.Add(ToWide(url_->GetValue()), frequency_->GetSelection(), ToWide(params_->GetValue()));
    ShowDialogMessage(out.message);
    if (!out.done) return;
    url_->ChangeValue(wxEmptyString);
    FillList();
    ShowProxy(wxEmptyString);
}

void CDialogSSRSubscriptions::OnDelete() {
    const long row = list_->GetSelectedRow();
    if (row < 0) return;
    CSubscriptionsCore::Outcome out = core_.Remove(ToWide(list_->GetItemText(row, 1)));
    ShowDialogMessage(out.message);
    if (out.done) FillList();
}

void CDialogSSRSubscriptions::OnEdit() {
    const long row = list_->GetSelectedRow();
    if (row < 0) return;
    auto* group = reinterpret_cast<const SubscriptionGroup*>(list_->GetItemData(row));
    if (!group || group->url.empty()) return;
    CDialogEditSSRSubscription edit(this, *group);
    if (edit.ShowModal() != wxID_OK || !edit.IsChanged()) return;
    CSubscriptionsCore::Outcome out = core_.ApplyEdit(*group, edit.Core());
    ShowDialogMessage(out.message);
    FillList();
}

void CDialogSSRSubscriptions::OnSelectProxy(CNodeInfo* node) {
    if (!node) return;
    core_.ChooseProxy(node);
    ShowProxy(ProxyAddressText(node->host, node->port));
}

void CDialogSSRSubscriptions::OnRemoveProxy() {
    core_.RemoveProxy();
    ShowProxy(wxEmptyString);
}
