#pragma once
// One notification-area icon: its record (id, notification window and
// message, icon, tooltip), the rule by which changes become add, modify and
// delete calls, and the dispatcher an owner feeds its messages to. The
// calls go to a backend: the desktop's tray (ui/tray_backend_wx.h) or, in
// tests, a recording fake.

#include <cstdint>
#include <memory>
#include <string>

#include "ui/base/pixmap.h"

class wxEvtHandler;

// An icon picture; null for none.
using HICON = std::shared_ptr<const Pixmap>;

enum : unsigned {
    NIM_ADD = 0,
    NIM_MODIFY = 1,
    NIM_DELETE = 2,
    NIF_MESSAGE = 0x1,
    NIF_ICON = 0x2,
    NIF_TIP = 0x4,
};

enum : unsigned {
    WM_LBUTTONDBLCLK = 0x0203,
    WM_RBUTTONDOWN = 0x0204,
    WM_RBUTTONUP = 0x0205,
    WM_COMMAND = 0x0111,
};

struct NOTIFYICONDATAW {
    uint32_t cbSize = 952;
    wxEvtHandler* hWnd = nullptr;
    unsigned uID = 0;
    unsigned uFlags = 0;
    unsigned uCallbackMessage = 0;
    HICON hIcon;
    wchar_t szTip[128] = {};
};

class TrayBackend {
public:
    virtual ~TrayBackend() = default;
    // Shows, changes or removes the icon; false when the desktop refuses.
    virtual bool NotifyIcon(unsigned command, const NOTIFYICONDATAW& data) = 0;
    // The icon and the string resources of an id (null / empty when none).
    virtual HICON LoadIconResource(int id) = 0;
    virtual std::wstring LoadStringResource(int id) = 0;
};

// The message id the desktop sends when its tray comes back.
inline constexpr unsigned kTaskbarCreatedMessage = 0xC0F1;

class CTrayIcon {
public:
    CTrayIcon(unsigned id, std::unique_ptr<TrayBackend> backend);
    virtual ~CTrayIcon();
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    // The window that receives `message` for clicks (null for none).
    void SetNotificationWnd(wxEvtHandler* window, unsigned message);
    // id 0 removes the icon; else the icon and tooltip of that id.
    int SetIcon(int resourceId);
    // A null text keeps the tooltip; a longer one keeps 127 characters.
    int SetIconAndTip(HICON icon, const wchar_t* tip);
    int SetIconResourceAndTip(int iconId, const wchar_t* tip);

    // Feeds a message of the owner: the callback message goes to
    // OnTrayNotification, the tray's return to OnTaskbarCreated. Returns 1.
    int Dispatch(unsigned message, uintptr_t wParam, intptr_t lParam);
    // The default reaction to clicks: 0 (there is no menu to take a command
    // from).
    virtual intptr_t OnTrayNotification(uintptr_t wParam, intptr_t lParam);
    // Adds the shown icon again with its tooltip.
    virtual intptr_t OnTaskbarCreated(uintptr_t wParam, intptr_t lParam);

    bool IsShown() const { return static_cast<bool>(data_.hIcon); }
    const NOTIFYICONDATAW& data() const { return data_; }
    TrayBackend& backend() { return *backend_; }

private:
    void SetTip(const std::wstring& tip);
    int Update(HICON icon);

    std::unique_ptr<TrayBackend> backend_;
    NOTIFYICONDATAW data_;
};
