#include "ui/base/tray_icon.h"

#include <algorithm>

CTrayIcon::CTrayIcon(unsigned id, std::unique_ptr<TrayBackend> backend) : backend_(std::move(backend)) {
    data_.uID = id;
    SetTip(backend_->LoadStringResource(static_cast<int>(id)));
}

CTrayIcon::~CTrayIcon() {
    if (!IsShown()) return;
    data_.uFlags = 0;
    if (data_.szTip[0]) data_.uFlags |= NIF_TIP;
    if (data_.uCallbackMessage && data_.hWnd) data_.uFlags |= NIF_MESSAGE;
    backend_->NotifyIcon(NIM_DELETE, data_);
    data_.hIcon.reset();
}

void CTrayIcon::SetTip(const std::wstring& tip) {
    const size_t n = std::min<size_t>(tip.size(), 127);
    std::copy_n(tip.begin(), n, data_.szTip);
    data_.szTip[n] = L'\0';
}

void CTrayIcon::SetNotificationWnd(wxEvtHandler* window, unsigned message) {
    data_.hWnd = window;
    data_.uCallbackMessage = message;
}

int CTrayIcon::Update(HICON icon) {
    data_.uFlags = 0;
    unsigned command = NIM_DELETE;
    if (icon) {
        const bool shown = IsShown();
        data_.hIcon = std::move(icon);
        data_.uFlags = NIF_ICON;
        command = shown ? NIM_MODIFY : NIM_ADD;
    } else if (!IsShown()) {
        return 1;
    }
    if (data_.szTip[0]) data_.uFlags |= NIF_TIP;
    if (data_.uCallbackMessage && data_.hWnd) data_.uFlags |= NIF_MESSAGE;
    const bool ok = backend_->NotifyIcon(command, data_);
    if (command == NIM_DELETE || !ok) data_.hIcon.reset();
    return ok ? 1 : 0;
}

int CTrayIcon::SetIcon(int resourceId) {
    if (resourceId == 0) return Update(nullptr);
    SetTip(backend_->LoadStringResource(resourceId));
    return Update(backend_->LoadIconResource(resourceId));
}

int CTrayIcon::SetIconAndTip(HICON icon, const wchar_t* tip) {
    if (tip) SetTip(tip);
    return Update(std::move(icon));
}

int CTrayIcon::SetIconResourceAndTip(int iconId, const wchar_t* tip) {
    return SetIconAndTip(backend_->LoadIconResource(iconId), tip);
}

int CTrayIcon::Dispatch(unsigned message, uintptr_t wParam, intptr_t lParam) {
    if (message == data_.uCallbackMessage) {
        OnTrayNotification(wParam, lParam);
    } else if (message == kTaskbarCreatedMessage) {
        OnTaskbarCreated(wParam, lParam);
    }
    return 1;
}

intptr_t CTrayIcon::OnTrayNotification(uintptr_t, intptr_t) {
    return 0;
}

intptr_t CTrayIcon::OnTaskbarCreated(uintptr_t, intptr_t) {
    HICON shown = data_.hIcon;
    if (!shown) return 0;
    data_.hIcon.reset();
    SetIconAndTip(std::move(shown), nullptr);
    return 0;
}
