#include "ui/dialog_loading_page.h"

CDialogLoadingPage::CDialogLoadingPage(wxWindow* parent, int pictureId, const char* pictureType,
                                       const wxString& text)
    : wxPanel(parent, wxID_ANY) {
    SetBackgroundColour(*wxWHITE);
    picture_ = new CPictureEx(this, kPictureId, wxDefaultPosition, wxSize(64, 64));
    text_ =
        new CXColorStatic(this, kTextId, text.empty() ? wxString("Page is loading, please wait...") : text,
                          wxDefaultPosition, wxSize(200, 20), wxALIGN_CENTRE_HORIZONTAL);
    text_->SetBackgroundColor(RGB(255, 255, 255), false);
    picture_->LoadResource(pictureId, pictureType, true);
    picture_->SetBkColor(RGB(255, 255, 255));
    Bind(wxEVT_SIZE, [this](wxSizeEvent& e) {
        PlaceControls();
        e.Skip();
    });
    PlaceControls();
}

CDialogLoadingPage::~CDialogLoadingPage() {
    if (picture_) picture_->Stop();
}

bool CDialogLoadingPage::Destroy() {
    if (picture_) picture_->Stop();
    return wxPanel::Destroy();
}

void CDialogLoadingPage::PlaceControls() {
    if (!picture_ || !text_) return;
    const wxSize client = GetClientSize();
    const wxSize p = picture_->GetSize(), t = text_->GetSize();
    const int y = (client.y - p.y - t.y - 5) / 2;
    picture_->Move((client.x - p.x) / 2, y);
    text_->Move((client.x - t.x) / 2, y + p.y + 5);
    Refresh();
}
