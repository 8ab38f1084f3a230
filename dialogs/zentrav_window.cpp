#include "dialogs/zentrav_window.h"

#include <wx/app.h>
#include <wx/thread.h>

#include "app/worker_base.h"
#include "dialogs/dialog_frame.h"
#include "foundation/text_convert.h"
#include "foundation/translate.h"
#include "nodes/account/agent_config.h"
#include "ui/wx_draw.h"

namespace {
constexpr int kStatusHeight = 24;
constexpr int kIconId = 128;
}  // namespace

CDialogZentravWindow::CDialogZentravWindow(wxWindow* parent, wxWindowID id, const wxSize& clientSize,
                                           CDialogZentravBase* worker, long style)
    : CSkinDialog(parent, id, wxString(GetAgentSoftName()), clientSize, style), worker_(worker) {
    // The edition name is shown as it stands, per-cent signs included.
    SetTitle(wxString(GetAgentSoftName()));
    const Pixmap icon = LoadPictureResource("icon", kIconId);
    if (icon.IsOk()) {
        wxIcon wxicon;
        wxicon.CopyFromBitmap(ToWxBitmap(icon, true));
        SetIcon(wxicon);
    }
    wxPanel* panel = GetClientPanel();
    panel->SetBackgroundColour(*wxWHITE);
    status_ = new CSkinEdit(panel, kIdStatusEdit, wxEmptyString, wxPoint(0, clientSize.y - kStatusHeight),
                            wxSize(clientSize.x, kStatusHeight), wxTE_READONLY);
    status_->SetEditable(false);
    status_->GetTextCtrl()->SetCanFocus(false);
    ShowStatusText(Utf8ToWideString(Translate("Ready!")));
    Bind(wxEVT_SHOW, &CDialogZentravWindow::OnShowWindow, this);
    panel->Bind(wxEVT_SIZE, &CDialogZentravWindow::OnClientSize, this);
}

CDialogZentravWindow::~CDialogZentravWindow() = default;

int CDialogZentravWindow::GetStatusBarHeight() const {
    return status_ ? status_->GetSize().y : kStatusHeight;
}

void CDialogZentravWindow::RepositionStatusBar() {
    if (!status_) return;
    const wxSize client = GetClientPanel()->GetClientSize();
    const int h = status_->GetSize().y;
    status_->SetSize(0, client.y - h, client.x, h);
    status_->Refresh();
}

void CDialogZentravWindow::OnClientSize(wxSizeEvent& event) {
    RepositionStatusBar();
    event.Skip();
}

void CDialogZentravWindow::ShowStatusText(const std::wstring& text) {
    RunOnWindow([this, text] {
        if (!status_) return;
        wxTextCtrl* edit = status_->GetTextCtrl();
        edit->ChangeValue(wxString(text));
        edit->SetInsertionPointEnd();
        edit->ShowPosition(edit->GetLastPosition());
    });
}

void CDialogZentravWindow::RunOnWindow(std::function<void()> fn) {
    if (wxThread::IsMain())
        fn();
    else
        CallAfter(std::move(fn));
}

void CDialogZentravWindow::EndDialog(int code) { EndDialogWith(this, code); }

void CDialogZentravWindow::OnShowWindow(wxShowEvent& event) {
    event.Skip();
    if (!event.IsShown() || deferred_) return;
    deferred_ = true;
    // After the window is up: the same step message 2036 runs.
    CallAfter([this] {
        if (worker_) worker_->OnDeferredInitMessage(0);
    });
}
