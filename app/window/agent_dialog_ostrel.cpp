#include "app/window/agent_dialog_ostrel.h"

#include "dialogs/dialog_login.h"
#include "foundation/text_convert.h"
#include "foundation/translate.h"
#include "ui/bmp_button.h"
#include "ui/dialog_my_dhtml_page.h"
#include "ui/hyperlink.h"
#include "ui/picture_ex.h"

namespace {

wxString Tr(const char* id) {
    return wxString::FromUTF8(Translate(id));
}

}  // namespace

CAgentDialogOstrel::CAgentDialogOstrel(wxWindow* parent) : DialogOstrelWindow(parent) {
    wxPanel* p = GetClientPanel();
    for (int id : {kIdAccountHome, kIdAccountCode, kIdAccountProfile, kIdAccountMenu, kIdAccountExit}) MakeBmpButton(id, "");
    for (int id : {kIdAccountLine1, kIdAccountLine2}) {
        const PixRect& r = TemplateRect(id);
        auto* line = new wxStaticText(p, id, wxEmptyString, wxPoint(r.x, r.y), wxSize(r.width, r.height),
                                      wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
        line->Hide();
        AddControl(id, line);
        (id == kIdAccountLine1 ? line1_ : line2_) = line;
    }
}

std::wstring CAgentDialogOstrel::AccountPageUrl(const char* path) {
    return CDialogLogin::LinkUrl(path).ToStdWstring();
}

void CAgentDialogOstrel::InitLayout() {
    // The pictures are placed as in the base window but never shown.
    DialogOstrelWindow::InitLayout();
    for (CPictureEx* picture : {connected_, disconnected_, busy_}) picture->Hide();
}

void CAgentDialogOstrel::CreateTrafficPanel() {
    DialogOstrelWindow::CreateTrafficPanel();
    for (wxWindow* w : {trafficPlace_, traffic_}) {
        if (!w) continue;
        w->Disable();
        w->Hide();
    }
}

void CAgentDialogOstrel::InitControls() {
    DialogOstrelWindow::InitControls();
    productLink_->Hide();
    for (int id : {kIdMenuButton, kIdDonate, kIdExitButton}) bmpButtons_[id]->Hide();
    const std::pair<int, int> bitmaps[] = {{kIdAccountHome, 246},
                                           {kIdAccountCode, 247},
                                           {kIdAccountProfile, 248},
                                           {kIdAccountMenu, 249},
                                           {kIdAccountExit, 250}};
    for (const auto& [id, bitmap] : bitmaps) bmpButtons_[id]->SetBitmap(bitmap, true);
}

void CAgentDialogOstrel::InitEditionControls() {
    SetTitleCentered(1);
    line1_->SetLabel(Tr("Package name:"));
    line2_->SetLabel(Tr("Expiration:"));
    line1_->Show();
    line2_->Show();
}

// Always the service's page, whatever the edition switch says.
void CAgentDialogOstrel::CreateWebPanel() {
    MakeWebPanel(AccountPageUrl("/ad2.html"));
}

void CAgentDialogOstrel::LayoutControls(ControlRects& rects) {
    LayoutAccountWindow(rects, GetClientPanel()->GetClientSize().x);
    if (web_) web_->Refresh();
}

void CAgentDialogOstrel::SetAccountLines(const std::wstring& traffic, const std::wstring& expiration) {
    RunOnWindow([this, traffic, expiration] {
        line1_->SetLabel(wxString(traffic));
        line2_->SetLabel(wxString(expiration));
        WriteRects();
    });
}

void CAgentDialogOstrel::OnCommand(int id) {
    switch (id) {
        case kIdAccountHome:
            OpenAddress(AccountPageUrl(""), "account home page");
            return;
        case kIdAccountCode:
            OpenAddress(AccountPageUrl("/user/code"), "account code page");
            return;
        case kIdAccountProfile:
            OpenAddress(AccountPageUrl("/user/profile"), "account profile page");
            return;
        case kIdAccountMenu:
            DialogOstrelWindow::OnCommand(kIdMenuButton);
            return;
        case kIdAccountExit:
            DialogOstrelWindow::OnCommand(kIdExitButton);
            return;
        default:
            DialogOstrelWindow::OnCommand(id);
    }
}
