#include "app/view_guard.h"

#include "foundation/program_log.h"
#include "foundation/text_convert.h"

// Each call goes to the window unless the guard is cut off.
#define CENDROW_TO_WINDOW(call) \
    do {                        \
        if (!cut_.load()) window_->call; \
    } while (0)

void CViewGuard::SetStatusText(const std::wstring& text) {
    if (cut_.load())
        AppendToProgramLog("status: " + WideToUtf8String(text));
    else
        window_->SetStatusText(text);
}

void CViewGuard::ShowBusy() {
    CENDROW_TO_WINDOW(ShowBusy());
}

void CViewGuard::ShowIdle(bool connected) {
    CENDROW_TO_WINDOW(ShowIdle(connected));
}

void CViewGuard::SetConnectButton(const std::wstring& text, const std::wstring& tip) {
    CENDROW_TO_WINDOW(SetConnectButton(text, tip));
}

void CViewGuard::EnableControls(bool enable) {
    CENDROW_TO_WINDOW(EnableControls(enable));
}

void CViewGuard::EnableConnectAndExit() {
    CENDROW_TO_WINDOW(EnableConnectAndExit());
}

void CViewGuard::UpdateTray(bool remove, int iconId, const std::wstring& tip) {
    CENDROW_TO_WINDOW(UpdateTray(remove, iconId, tip));
}

void CViewGuard::ShowUdpWarning(bool show) {
    CENDROW_TO_WINDOW(ShowUdpWarning(show));
}

void CViewGuard::ShowModeManagementButton(bool show) {
    CENDROW_TO_WINDOW(ShowModeManagementButton(show));
}

void CViewGuard::ShowMainWindow() {
    CENDROW_TO_WINDOW(ShowMainWindow());
}

void CViewGuard::HideToTray() {
    CENDROW_TO_WINDOW(HideToTray());
}

void CViewGuard::FillNodes(int nodeId) {
    CENDROW_TO_WINDOW(FillNodes(nodeId));
}

NodeRowSelection CViewGuard::GetSelectedNodeRow() {
    if (cut_.load()) return {NodeRowKind::kNode, -1};
    return window_->GetSelectedNodeRow();
}

void CViewGuard::SelectNodeById(int nodeId) {
    CENDROW_TO_WINDOW(SelectNodeById(nodeId));
}

void CViewGuard::FillModes(int index) {
    CENDROW_TO_WINDOW(FillModes(index));
}

int CViewGuard::GetSelectedModeIndex() {
    return cut_.load() ? -1 : window_->GetSelectedModeIndex();
}

void CViewGuard::SelectModeIndex(int index) {
    CENDROW_TO_WINDOW(SelectModeIndex(index));
}

bool CViewGuard::RunLoadingPanel(int loadFlags, std::function<void()> done) {
    // Cut off: the caller runs the job itself.
    return !cut_.load() && window_->RunLoadingPanel(loadFlags, std::move(done));
}

void CViewGuard::JoinLoadingPanel() {
    // A join, not a drawing: the panel's job must end before the core goes.
    window_->JoinLoadingPanel();
}

void CViewGuard::SetAccountLines(const std::wstring& traffic, const std::wstring& expiration) {
    CENDROW_TO_WINDOW(SetAccountLines(traffic, expiration));
}

bool CViewGuard::RunLogin() {
    return !cut_.load() && window_->RunLogin();
}
