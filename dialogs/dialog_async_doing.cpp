#include "dialogs/dialog_async_doing.h"

#include "app/loading_job.h"
#include "dialogs/base/panel_layout.h"
#include "foundation/translate.h"
#include "ui/picture_ex.h"
#include "ui/skin_button.h"

namespace {

// Template 155, in pixels at 96 DPI: the places of the pictures and the line.
const wxRect kStill(136, 20, 128, 128);
const wxRect kAnim(176, 160, 48, 48);
const wxRect kMessage(20, 220, 360, 20);
const wxRect kIKnow(160, 250, 80, 26);

PixRect Pix(const wxRect& r) {
    return {r.x, r.y, r.width, r.height};
}
wxRect Wx(const PixRect& r) {
    return wxRect(r.x, r.y, r.width, r.height);
}

}  // namespace

CDialogAsyncDoing::CDialogAsyncDoing(wxWindow* parent, const wxPoint& pos, const wxSize& size)
    : wxPanel(parent, wxID_ANY, pos, size, wxTAB_TRAVERSAL | wxBORDER_NONE),
      title_(wxString::FromUTF8(Translate("Loading..."))),
      message_(wxString::FromUTF8(Translate("Loading datas, please wait a second..."))),
      timer_(this, kTimerAsyncDoing) {
    SetBackgroundColour(*wxWHITE);
    SetLabel(title_);
    messageLine_ = new wxStaticText(this, kIdPanelMessage, message_, kMessage.GetPosition(),
                                    kMessage.GetSize(), wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    animPlace_ = new wxWindow(this, kIdAnimPicture, kAnim.GetPosition(), kAnim.GetSize());
    stillPlace_ = new wxWindow(this, kIdStillPicture, kStill.GetPosition(), kStill.GetSize());
    animPlace_->Hide();
    stillPlace_->Hide();
    iKnow_ = new CSkinButton(this, kIdPanelIKnow, wxString::FromUTF8(Translate("I Know")),
                             kIKnow.GetPosition(), kIKnow.GetSize());
    iKnow_->Enable(false);
    iKnow_->Hide();
    Bind(wxEVT_TIMER, &CDialogAsyncDoing::OnTimer, this, kTimerAsyncDoing);
}

CDialogAsyncDoing::~CDialogAsyncDoing() {
    timer_.Stop();
    JoinWorker();
}

void CDialogAsyncDoing::JoinWorker() {
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

void CDialogAsyncDoing::SetMessage(const wxString& message) {
    message_ = message;
    messageLine_->SetLabel(message);
}

void CDialogAsyncDoing::SetMessageFromWorker(const wxString& message) {
    CallAfter([this, message] { SetMessage(message); });
}

void CDialogAsyncDoing::SetTitle(const wxString& title) {
    title_ = title;
    SetLabel(title);
}

void CDialogAsyncDoing::DeletePictures() {
    // Stopping joins each picture's animation thread before the window goes.
    for (CPictureEx** picture : {&anim_, &still_}) {
        if (!*picture) continue;
        (*picture)->Stop();
        (*picture)->Destroy();
        *picture = nullptr;
    }
}

bool CDialogAsyncDoing::StartWork() {
    if (IsWorking()) return false;
    JoinWorker();
    done_ = false;
    DeletePictures();
    const wxSize client = GetClientSize();
    const LoadingPanelLayout l = LayoutLoadingPanel(client.x, client.y, Pix(stillPlace_->GetRect()),
                                                    Pix(animPlace_->GetRect()), Pix(messageLine_->GetRect()));
    stillPlace_->SetSize(Wx(l.still));
    animPlace_->SetSize(Wx(l.anim));
    messageLine_->SetSize(Wx(l.message));
    messageLine_->Show();

    anim_ = new CPictureEx(this, kIdAnimPicture, animPlace_->GetPosition(), animPlace_->GetSize());
    anim_->SetBkColor(RGB(255, 255, 255));
    anim_->LoadResource(225, "GIF", true);
    anim_->Show();
    still_ = new CPictureEx(this, kIdStillPicture, stillPlace_->GetPosition(), stillPlace_->GetSize());
    still_->SetBkColor(RGB(255, 255, 255));
    still_->LoadBitmapResource(137, false);
    still_->SetPaintRect(wxRect(wxPoint(0, 0), stillPlace_->GetSize()));
    still_->Draw();
    still_->SetSize(stillPlace_->GetSize());
    still_->Show();

    timer_.Start(100);
    std::lock_guard<std::mutex> lock(threadMutex_);
    try {
        worker_ = std::thread([this] {
            DoWork();
            done_ = true;
        });
    } catch (const std::exception&) {
        timer_.Stop();
        done_ = true;
        return false;
    }
    return true;
}

int CDialogAsyncDoing::DoWork() {
    if (job_) result_ = job_(user_);
    return 1;
}

void CDialogAsyncDoing::OnTimer(wxTimerEvent& event) {
    if (done_.load()) {
        timer_.Stop();
        JoinWorker();
        DeletePictures();
        OnWorkDone();
        Hide();
    }
    event.Skip();
}

// ---------------------------------------------------------------------------

CDialogLoadDatas::CDialogLoadDatas(wxWindow* owner) : CDialogAsyncDoing(owner), owner_(owner) {
    SetTitle(wxString::FromUTF8(Translate("Loading datas, please wait a second...")));
}

CDialogLoadDatas::~CDialogLoadDatas() {
    // The job reads this object's members: it ends before they go.
    JoinWorker();
}

void CDialogLoadDatas::HideDescendants(wxWindow* parent) {
    for (wxWindow* child : parent->GetChildren()) {
        if (child == this || child->IsTopLevel()) continue;
        if (child->IsShown()) {
            child->Hide();
            hidden_.emplace_back(child);
        }
        HideDescendants(child);
    }
}

bool CDialogLoadDatas::StartWork() {
    if (IsWorking()) return false;
    hidden_.clear();
    if (owner_) HideDescendants(owner_);
    return CDialogAsyncDoing::StartWork();
}

int CDialogLoadDatas::OnWorkDone() {
    int shown = 0;
    for (const wxWeakRef<wxWindow>& w : hidden_) {
        if (!w) continue;  // destroyed meanwhile
        w->Show();
        ++shown;
    }
    return shown;
}

std::vector<wxWindow*> CDialogLoadDatas::GetHiddenWindows() const {
    std::vector<wxWindow*> out;
    for (const wxWeakRef<wxWindow>& w : hidden_) {
        if (w) out.push_back(w.get());
    }
    return out;
}

int CDialogLoadDatas::DoWork() {
    RunLoadingJob(loadFlags_, [this](const char* text) { SetMessageFromWorker(wxString::FromUTF8(text)); });
    if (doneCallback_) doneCallback_();
    return 1;
}
