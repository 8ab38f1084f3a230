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
    // The newest lines in view. Keeping the end in view while the toolkit
    // lays out the lines above (it does so while idle) adds, on 10,000
    // lines, about a quarter to a third of a bare control's opening time
    // (bench/action_log_bench.sh).
    ScrollNativeTextToEnd(text_);
    SetTitle(wxString::FromUTF8(Translate("Action logs")));
}
