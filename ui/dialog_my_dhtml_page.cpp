#include "ui/dialog_my_dhtml_page.h"

#include <json/json.h>
#include <wx/webview.h>

#include <memory>
#include <sstream>

#include "foundation/message_box.h"
#include "foundation/text_convert.h"
#include "platform/open_url.h"
#include "ui/dialog_loading_page.h"

// GTK's call that takes the drop target off a widget; the development
// headers of GTK are not needed for it.
extern "C" void gtk_drag_dest_unset(void* widget);

namespace {

constexpr const char* kHandler = "cendrow";

// Replaces window.external before the page's own scripts run.
const char* const kExternalScript =
    "(function(){"
    "var ext={testfun:function(a,b){"
    "window.webkit.messageHandlers.cendrow.postMessage(JSON.stringify([String(a),String(b)]));}};"
    "try{Object.defineProperty(window,'external',{value:ext,configurable:true,writable:true});}catch(e){}"
    "if(!window.external||window.external.testfun!==ext.testfun){"
    "try{window.external=ext;}catch(e){}"
    "try{window.external.testfun=ext.testfun;}catch(e){}}"
    "})();";

// Host-flags choice 0: no border, no scroll bars.
const char* const kNoBorderScript =
    "(function(){var s=document.createElement('style');"
    "s.textContent='html,body{overflow:hidden !important;border:0 !important}';"
    "(document.head||document.documentElement).appendChild(s);})();";

}  // namespace

CDialogMyDHtmlPage::CDialogMyDHtmlPage(int templateId, int, wxWindow*, int loadingTemplateId, const std::wstring& url,
                                       int animationId, const std::wstring& animationType,
                                       const std::wstring& loadingText)
    : template_id_(templateId),
      loading_template_id_(loadingTemplateId),
      animation_id_(animationId),
      animation_type_(animationType),
      loading_text_(loadingText),
      url_(url),
      loading_timer_(this, kLoadingTimerId) {}

CDialogMyDHtmlPage::~CDialogMyDHtmlPage() {
    loading_timer_.Stop();
}

bool CDialogMyDHtmlPage::CreateModeless(wxWindow* parent) {
    if (!Create(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxBORDER_NONE)) return false;
    return OnInitDialog();
}

bool CDialogMyDHtmlPage::OnInitDialog() {
    SetBackgroundColour(*wxWHITE);
    view_ = wxWebView::New();
    if (!view_->Create(this, wxID_ANY, wxWebViewDefaultURLStr, wxDefaultPosition, GetClientSize())) {
        delete view_;
        view_ = nullptr;
    }
    const std::string type = WideToUtf8String(animation_type_);
    loading_ = new CDialogLoadingPage(this, animation_id_, type.c_str(), wxString(loading_text_));
    loading_->SetSize(GetClientSize());
    loading_->Raise();
    if (view_) {
        view_->Hide();
        view_->AddScriptMessageHandler(kHandler);
        view_->AddUserScript(kExternalScript, wxWEBVIEW_INJECT_AT_DOCUMENT_START);
        if (host_flags_choice_ == 0) view_->AddUserScript(kNoBorderScript, wxWEBVIEW_INJECT_AT_DOCUMENT_END);
        view_->EnableContextMenu(false);
        if (void* native = view_->GetNativeBackend()) gtk_drag_dest_unset(native);
        view_->Bind(wxEVT_WEBVIEW_LOADED, &CDialogMyDHtmlPage::OnDocumentComplete, this);
        view_->Bind(wxEVT_WEBVIEW_NEWWINDOW, &CDialogMyDHtmlPage::OnNewWindow, this);
        view_->Bind(wxEVT_WEBVIEW_ERROR, &CDialogMyDHtmlPage::OnNavigateError, this);
        view_->Bind(wxEVT_WEBVIEW_SCRIPT_MESSAGE_RECEIVED, &CDialogMyDHtmlPage::OnScriptMessage, this);
        if (!url_.empty()) view_->LoadURL(wxString(url_));
    }
    Bind(wxEVT_TIMER, &CDialogMyDHtmlPage::OnTimer, this, kLoadingTimerId);
    Bind(wxEVT_SIZE, &CDialogMyDHtmlPage::OnSize, this);
    Bind(wxEVT_CHAR_HOOK, &CDialogMyDHtmlPage::OnCharHook, this);
    loading_timer_.StartOnce(10000);
    return true;
}

bool CDialogMyDHtmlPage::IsLoadingPageShown() const {
    return loading_ && loading_->IsShown();
}

void CDialogMyDHtmlPage::HideLoadingPage() {
    if (loading_) loading_->Hide();
    if (view_ && !view_->IsShown()) {
        view_->SetSize(GetClientSize());
        view_->Show();
    }
}

void CDialogMyDHtmlPage::OnDocumentComplete(wxWebViewEvent& event) {
    ++loads_;
    // The blank page the view starts with is not the document.
    if (!url_.empty() && !event.GetURL().empty() && event.GetURL() != wxWebViewDefaultURLStr) HideLoadingPage();
    event.Skip();
}

void CDialogMyDHtmlPage::OnTimer(wxTimerEvent&) {
    HideLoadingPage();
}

void CDialogMyDHtmlPage::OnSize(wxSizeEvent& event) {
    if (loading_) loading_->SetSize(GetClientSize());
    if (view_) view_->SetSize(GetClientSize());
    event.Skip();
}

void CDialogMyDHtmlPage::OnNewWindow(wxWebViewEvent& event) {
    const std::string url = std::string(event.GetURL().utf8_str());
    // Only web addresses leave for the browser; file:, javascript: and the
    // rest are refused and noted.
    if (IsOpenableUrl(url)) {
        OpenUrl(url);
    } else {
        last_refused_ = event.GetURL().ToStdWstring();
    }
}

void CDialogMyDHtmlPage::OnNavigateError(wxWebViewEvent& event) {
    last_error_ = event.GetURL().ToStdWstring();
    event.Skip();
}

void CDialogMyDHtmlPage::OnScriptMessage(wxWebViewEvent& event) {
    // The page has one handler; wx 3.2 on GTK does not fill in its name.
    if (!event.GetMessageHandler().empty() && event.GetMessageHandler() != kHandler) return;
    Json::Value values;
    Json::CharReaderBuilder builder;
    std::istringstream in(std::string(event.GetString().utf8_str()));
    std::string errors;
    if (!Json::parseFromStream(builder, in, &values, &errors) || !values.isArray() || values.size() != 2 ||
        !values[0].isString() || !values[1].isString())
        return;
    TestFun(Utf8ToWideString(values[0].asString()), Utf8ToWideString(values[1].asString()));
}

void CDialogMyDHtmlPage::TestFun(const std::wstring& a, const std::wstring& b) {
    // A page cannot stack boxes: calls while one is open are dropped.
    if (!box_gate_.TryOpen()) return;
    ShowMessageBox(ScriptBoxGate::Text(a, b), kMessageBoxCaption, MB_OK);
    box_gate_.Close();
}

void CDialogMyDHtmlPage::OnCharHook(wxKeyEvent& event) {
    const int key = event.GetKeyCode();
    const bool enterOrEsc = key == WXK_RETURN || key == WXK_NUMPAD_ENTER || key == WXK_ESCAPE;
    wxWindow* focus = wxWindow::FindFocus();
    if (enterOrEsc && view_ && focus && (focus == view_ || view_->IsDescendant(focus))) {
        // To the page, not to the dialog's default buttons.
        event.DoAllowNextEvent();
        return;
    }
    event.Skip();
}
