#pragma once
// A web page in a child window (WebKit through wxWebView), covered by a
// loading page while it loads: the view stays hidden (it still loads) until
// the first completed document or timer 11034 (10 s), because the toolkit
// does not draw overlapping siblings. The page has no context menu and no
// drop target; links that ask for a new window open in the user's browser
// (http and https only); the page's window.external.testfun(a, b) shows
// "varStr1:a,varStr2:b" in a message box. A bare WebKit view has no browser
// shortcuts, so no key is taken from the page; Enter and Esc reach the page
// rather than a dialog's default buttons.

#include <wx/panel.h>
#include <wx/timer.h>

#include <string>

#include "ui/base/script_box_gate.h"

class wxWebView;
class wxWebViewEvent;
class CDialogLoadingPage;

class CDialogMyDHtmlPage : public wxPanel {
public:
    static constexpr int kLoadingTimerId = 11034;

    CDialogMyDHtmlPage(int templateId, int htmlResourceId, wxWindow* parent, int loadingTemplateId,
                       const std::wstring& url, int animationId = 225, const std::wstring& animationType = L"GIF",
                       const std::wstring& loadingText = L"Page is loading, please wait...");
    ~CDialogMyDHtmlPage() override;

    // Creates the window as a child of `parent` and initialises it.
    bool CreateModeless(wxWindow* parent);
    void SetLoadingText(const std::wstring& text) { loading_text_ = text; }

    // 0 (the default): no border and no scroll bars.
    void SetHostFlagsChoice(int choice) { host_flags_choice_ = choice; }
    virtual void OnOK() {}
    virtual void OnCancel() {}

    bool IsLoadingPageShown() const;
    wxWebView* GetWebView() const { return view_; }
    int LoadCount() const { return loads_; }
    const std::wstring& LastError() const { return last_error_; }
    const std::wstring& LastRefusedWindow() const { return last_refused_; }

private:
    bool OnInitDialog();
    void OnDocumentComplete(wxWebViewEvent& event);
    void OnNewWindow(wxWebViewEvent& event);
    void OnNavigateError(wxWebViewEvent& event);
    void OnScriptMessage(wxWebViewEvent& event);
    void OnTimer(wxTimerEvent& event);
    void OnSize(wxSizeEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void HideLoadingPage();
    void TestFun(const std::wstring& a, const std::wstring& b);

    int template_id_;
    int loading_template_id_;
    int animation_id_;
    std::wstring animation_type_;
    std::wstring loading_text_;
    std::wstring url_;
    int host_flags_choice_ = 0;
    wxWebView* view_ = nullptr;
    CDialogLoadingPage* loading_ = nullptr;
    wxTimer loading_timer_;
    ScriptBoxGate box_gate_;
    int loads_ = 0;
    std::wstring last_error_;
    std::wstring last_refused_;
};
