#pragma once
// The main window of the account edition, run when an account service is
// configured: the account service's web page in place of the logo, two
// account lines under CONNECT (traffic remaining, expiration) and a row of
// five account buttons (home page, "/user/code", "/user/profile", the popup
// menu, the exit menu) in place of the menu, donate and exit buttons; no
// traffic panel and no state pictures. Run like DialogOstrelWindow.

#include "app/window/main_window.h"

class CAgentDialogOstrel : public DialogOstrelWindow {
public:
    explicit CAgentDialogOstrel(wxWindow* parent);

    void SetAccountLines(const std::wstring& traffic, const std::wstring& expiration) override;
    void OnCommand(int id) override;
    // The account site's page of `path` ("" for the home page); empty
    // without a service.
    static std::wstring AccountPageUrl(const char* path);

protected:
    void InitLayout() override;
    void CreateTrafficPanel() override;
    wxWindow* NewTrafficPanel(wxWindow*) override { return nullptr; }
    void InitControls() override;
    void InitEditionControls() override;
    void CreateWebPanel() override;
    void LayoutControls(ControlRects& rects) override;
    void ShowBusyPictures() override {}
    void ShowIdlePictures(bool) override {}

private:
    wxStaticText* line1_ = nullptr;
    wxStaticText* line2_ = nullptr;
};
