#pragma once
// The action-log window: the main window's status lines since the last
// connect, one per line, read-only. It shows a snapshot.
// Run modally: CDialogShowLogs dlg(copyOfTheActionLog, mainWindow); dlg.ShowModal();

#include <string>
#include <vector>

#include "ui/skin_dialog.h"

class CAutoRichEditCtrl;

inline constexpr int kIdActionLogText = 1049;

class CDialogShowLogs : public CSkinDialog {
public:
    CDialogShowLogs(const std::vector<std::wstring>& lines, wxWindow* parent);
    CAutoRichEditCtrl* GetText() const { return text_; }

private:
    CAutoRichEditCtrl* text_ = nullptr;
};
