#include "ui/message_box_sink.h"

#include <wx/app.h>
#include <wx/msgdlg.h>
#include <wx/thread.h>

#include <future>
#include <memory>
#include <mutex>
#include <set>

#include "foundation/message_box.h"

namespace {

MessageBoxSink g_previous;
bool g_installed = false;

long WxStyle(unsigned style) {
    long s = 0;
    switch (style & MB_TYPEMASK) {
        case MB_OKCANCEL:
            s = wxOK | wxCANCEL;
            break;
        case MB_YESNO:
            s = wxYES_NO;
            break;
        case MB_YESNOCANCEL:
            s = wxYES_NO | wxCANCEL;
            break;
        case MB_RETRYCANCEL:
            s = wxOK | wxCANCEL;
            break;
        default:
            s = wxOK;
            break;
    }
    switch (style & MB_ICONMASK) {
        case MB_ICONERROR:
            s |= wxICON_ERROR;
            break;
        case MB_ICONWARNING:
            s |= wxICON_WARNING;
            break;
        case MB_ICONQUESTION:
            s |= wxICON_QUESTION;
            break;
        case MB_ICONINFORMATION:
            s |= wxICON_INFORMATION;
            break;
        default:
            break;
    }
    if ((style & MB_DEFMASK) == MB_DEFBUTTON2)
        s |= (style & MB_TYPEMASK) == MB_OKCANCEL ? wxCANCEL_DEFAULT : wxNO_DEFAULT;
    return s;
}

int ButtonId(unsigned style, int wxId) {
    const unsigned type = style & MB_TYPEMASK;
    switch (wxId) {
        case wxID_OK:
            return type == MB_RETRYCANCEL ? IDRETRY : IDOK;
        case wxID_YES:
            return IDYES;
        case wxID_NO:
            return IDNO;
        case wxID_CANCEL:
            return IDCANCEL;
        default:
            return DefaultMessageBoxButton(style);
    }
}

int ShowOnUiThread(const std::wstring& text, const std::wstring& caption, unsigned style) {
    wxMessageDialog box(wxTheApp ? wxTheApp->GetTopWindow() : nullptr, wxString(text), wxString(caption),
                        WxStyle(style));
    if ((style & MB_TYPEMASK) == MB_RETRYCANCEL) box.SetOKCancelLabels(_("&Retry"), _("Cancel"));
    return ButtonId(style, box.ShowModal());
}

// A box another thread waits for: answered once, by the user or, when the
// windows are gone, with the style's default button.
struct PendingBox {
    std::promise<int> answer;
    std::once_flag once;
    unsigned style = 0;
    void Answer(int id) {
        std::call_once(once, [&] { answer.set_value(id); });
    }
};

std::mutex g_pendingMutex;
std::set<std::shared_ptr<PendingBox>> g_pending;

int WxSink(const std::wstring& text, const std::wstring& caption, unsigned style) {
    if (!wxTheApp) return DefaultMessageBoxButton(style);
    if (wxIsMainThread()) return ShowOnUiThread(text, caption, style);
    auto box = std::make_shared<PendingBox>();
    box->style = style;
    std::future<int> result = box->answer.get_future();
    {
        std::lock_guard<std::mutex> lock(g_pendingMutex);
        g_pending.insert(box);
    }
    wxTheApp->CallAfter([box, text, caption, style] { box->Answer(ShowOnUiThread(text, caption, style)); });
    const int id = result.get();
    std::lock_guard<std::mutex> lock(g_pendingMutex);
    g_pending.erase(box);
    return id;
}

}  // namespace

void InstallWxMessageBoxSink() {
    if (g_installed) return;
    g_previous = SetMessageBoxSink(WxSink);
    g_installed = true;
}

void UninstallWxMessageBoxSink() {
    if (!g_installed) return;
    SetMessageBoxSink(g_previous);
    g_previous = nullptr;
    g_installed = false;
}

void AbandonWxMessageBoxes() {
    // Later boxes go to the default sink (log and default answer).
    SetMessageBoxSink(nullptr);
    g_previous = nullptr;
    g_installed = false;
    std::lock_guard<std::mutex> lock(g_pendingMutex);
    for (const auto& box : g_pending) box->Answer(DefaultMessageBoxButton(box->style));
}
