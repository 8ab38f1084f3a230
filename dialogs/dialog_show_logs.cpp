#include "dialogs/dialog_show_logs.h"

#include "dialogs/base/about_core.h"
#include "dialogs/base/dialog_units.h"
#include "foundation/translate.h"
#include "ui/log_views.h"

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
    // layout each, and keeping the end in view lays out every line at once.
    text_->SetDefaultStyle(wxTextAttr(*wxBLACK));
    text_->ChangeValue(wxString(JoinLogLines(lines)));
    SetTitle(wxString::FromUTF8(Translate("Action logs")));
}
