#include "dialogs/dialog_show_logs.h"

#include "dialogs/base/about_core.h"
#include "dialogs/base/dialog_units.h"
#include "foundation/translate.h"
#include "ui/log_views.h"
#include "ui/native_window.h"

namespace {

// Template 152.
const wxSize kClientSize(DialogUnitsToPixelsX(297), DialogUnitsToPixelsY(203));

}  // namespace

CDialogShowLogs::CDialogShowLogs(const std::vector<std::wstring>& lines, wxWindow* parent)
    : CSkinDialog(parent, 152, wxEmptyString, kClientSize) {
    wxPanel* p = GetClientPanel();
    p->SetBackgroundColour(*wxWHITE);
    wxSize area = p->GetClientSize();
    area.DecBy(2, 2);
    text_ = new CAutoRichEditCtrl(p, kIdActionLogText, wxPoint(0, 0), area, wxTE_READONLY | wxVSCROLL);
    text_->InitFormat();
    // One edit for the whole log, in black: appending line by line costs a
    // layout each.
    text_->SetDefaultStyle(wxTextAttr(*wxBLACK));
    text_->ChangeValue(wxString(JoinLogLines(lines)));
    // The newest lines in view, through the toolkit's own scroll to the end
    // (wxTextCtrl::ShowPosition costs far more on a long log).
    ScrollNativeTextToEnd(text_);
    SetTitle(wxString::FromUTF8(Translate("Action logs")));
}
