#include "dialogs/testing_current_node_dlg.h"

#include <wx/frame.h>
#include <wx/settings.h>

#include "foundation/translate.h"
#include "ui/log_views.h"

namespace {

// Template 174 at 96 DPI.
const wxSize kClientSize(360, 420);

PixRect ToPix(const wxRect& r) {
    return {r.x, r.y, r.width, r.height};
}

}  // namespace

CTestingCurrentNodeDlg::CTestingCurrentNodeDlg(wxWindow* parent, NodeTesterFactory factory)
    : CSkinDialog(parent, 174, wxEmptyString, kClientSize,
                  wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxRESIZE_BORDER | wxFRAME_TOOL_WINDOW),
      CTestingCurrentNodeCore(this, std::move(factory)) {
    SetTitle(wxString::FromUTF8(Translate("Testing proxy server...")));
    wxPanel* p = GetClientPanel();
    log_ = new CTestingLogRichedit(p, kIdTestingLog, wxPoint(0, 0), p->GetClientSize(), wxTE_READONLY);
    log_->Init();
    log_->SetShowTime(true);
    p->Bind(wxEVT_SIZE, &CTestingCurrentNodeDlg::OnClientSize, this);
    Bind(wxEVT_CLOSE_WINDOW, &CTestingCurrentNodeDlg::OnClose, this);
}

CTestingCurrentNodeDlg::~CTestingCurrentNodeDlg() {
    // The run writes into the log: it ends before the log goes.
    StopAndJoin();
    ClearNodes();
}

void CTestingCurrentNodeDlg::ShowWindow(int command) {
    visible_ = command == SW_SHOW ? 1 : 0;
    Show(command != SW_HIDE);
}

void CTestingCurrentNodeDlg::DockBeside(wxWindow* main) {
    if (!main) return;
    const PixRect placed =
        DockBesideRect(ToPix(GetScreenRect()), ToPix(main->GetScreenRect()), wxSystemSettings::GetMetric(wxSYS_SCREEN_X));
    SetSize(placed.x, placed.y, placed.width, placed.height);
    Refresh();
}

void CTestingCurrentNodeDlg::AddLog(const wchar_t* text, int level) {
    log_->AddLog(text, level);
}

void CTestingCurrentNodeDlg::ClearLog() {
    log_->Clear();
}

void CTestingCurrentNodeDlg::OnClose(wxCloseEvent& event) {
    if (!event.CanVeto()) {
        event.Skip();
        return;
    }
    // Hidden, not destroyed: the next test shows it again.
    ShowWindow(SW_HIDE);
    event.Veto();
}

void CTestingCurrentNodeDlg::OnClientSize(wxSizeEvent& event) {
    event.Skip();
    if (log_) log_->SetSize(wxRect(wxPoint(0, 0), GetClientPanel()->GetClientSize()));
}
