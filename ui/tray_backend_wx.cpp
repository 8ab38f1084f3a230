#include "ui/tray_backend_wx.h"

#include <wx/bmpbndl.h>
#include <wx/icon.h>
#include <wx/taskbar.h>

#include "foundation/app_paths.h"
#include "foundation/program_log.h"
#include "foundation/text_convert.h"
#include "platform/resources_by_id.h"
#include "ui/wx_draw.h"

wxDEFINE_EVENT(EVT_TRAY_NOTIFY, wxCommandEvent);

namespace {

class WxTrayBackend : public TrayBackend {
public:
    WxTrayBackend() {
        // wxGTK sends no right-button-up for a status icon; its menu click
        // is GTK's popup-menu signal, raised on the right press.
        icon_.Bind(wxEVT_TASKBAR_CLICK, [this](wxTaskBarIconEvent&) { Notify(WM_RBUTTONDOWN); });
        // Also sent for a single left click while left-down is unhandled.
        icon_.Bind(wxEVT_TASKBAR_LEFT_DCLICK, [this](wxTaskBarIconEvent&) { Notify(WM_LBUTTONDBLCLK); });
    }
    ~WxTrayBackend() override { icon_.RemoveIcon(); }

    bool NotifyIcon(unsigned command, const NOTIFYICONDATAW& data) override {
        target_ = (data.uFlags & NIF_MESSAGE) ? data.hWnd : nullptr;
        message_ = data.uCallbackMessage;
        id_ = data.uID;
        if (command == NIM_DELETE) return icon_.RemoveIcon() || !icon_.IsIconInstalled();
        if (!wxTaskBarIcon::IsAvailable() && !warned_) {
            // The icon is kept; a tray that appears later embeds it.
            warned_ = true;
            AppendToProgramLog("tray: no notification area on this desktop; the icon waits for one");
        }
        if (!data.hIcon || !data.hIcon->IsOk()) return false;
        wxIcon icon;
        icon.CopyFromBitmap(ToWxBitmap(*data.hIcon, true));
        const wxString tip = (data.uFlags & NIF_TIP) ? wxString(data.szTip) : wxString();
        return icon_.SetIcon(wxBitmapBundle(icon), tip);
    }

    HICON LoadIconResource(int id) override {
        Pixmap p = LoadPictureResource("icon", id);
        return p.IsOk() ? std::make_shared<const Pixmap>(std::move(p)) : nullptr;
    }

    std::wstring LoadStringResource(int id) override {
        std::string text;
        return LoadStringResourceUtf8(GetAppDir(), id, text) ? Utf8ToWideString(text) : std::wstring();
    }

private:
    void Notify(unsigned mouseMessage) {
        if (!target_ || !message_) return;
        auto* event = new wxCommandEvent(EVT_TRAY_NOTIFY, static_cast<int>(message_));
        event->SetInt(static_cast<int>(id_));
        event->SetExtraLong(static_cast<long>(mouseMessage));
        target_->QueueEvent(event);
    }

    wxTaskBarIcon icon_;
    wxEvtHandler* target_ = nullptr;
    unsigned message_ = 0;
    unsigned id_ = 0;
    bool warned_ = false;
};

}  // namespace

std::unique_ptr<TrayBackend> MakeWxTrayBackend() {
    return std::make_unique<WxTrayBackend>();
}
