// The login window, against the account service named in the program
// folder's config/services.ini, with the settings of config/config.ini.
#include "dialogs/dialog_login.h"
#include "foundation/app_paths.h"
#include "foundation/settings.h"
#include "nodes/account/service_config.h"
#include "tests/e2e/gallery/dialogs/scene_support.h"
#include "ui/hyperlink.h"
#include "ui/skin_button.h"
#include "ui/skin_check_box.h"

namespace {

int ResultOf(const CDialogLogin* dlg) {
    if (dlg->IsShown()) return 0;
    const int code = dlg->GetReturnCode();
    return code == wxID_OK ? 1 : code == wxID_CANCEL ? 2 : -1;
}

}  // namespace

GALLERY_SCENE(login) {
    using namespace gallery;
    CreateAppFolders();
    LoadServiceConfig(GetAppDir());
    LoadSettings();
    RecordBoxes(registry);
    auto* dlg = new CDialogLogin(nullptr);
    dlg->Move(60, 40);
    dlg->Show();
    registry.Add("104", dlg);
    for (int id : std::initializer_list<int>{kIdLoginOk, kIdLoginGroup, kIdLoginUser, kIdLoginRemember,
                                             kIdLoginPassword, kIdLoginUserIcon, kIdLoginPasswordIcon,
                                             kIdLoginRegister, kIdLoginForgot, kIdLoginLogo, kIdStatusEdit})
        AddControl(registry, id, dlg->GetControl(id));
    registry.AddState("login", [dlg] {
        auto* user = static_cast<CSkinEdit*>(dlg->GetControl(kIdLoginUser));
        auto* password = static_cast<CSkinEdit*>(dlg->GetControl(kIdLoginPassword));
        return "result=" + std::to_string(ResultOf(dlg)) +
               " ok=" + std::to_string(dlg->GetControl(kIdLoginOk)->IsEnabled() ? 1 : 0) +
               " inputs=" + std::to_string(user->IsEnabled() && password->IsEnabled() ? 1 : 0) +
               " working=" + std::to_string(dlg->IsWorking() ? 1 : 0) +
               " recharge=" + std::to_string(dlg->GetControl(kIdLoginRecharge)->IsShown() ? 1 : 0) +
               " password=" + Utf8(password->GetValue()) + " user=" + Utf8(user->GetValue()) +
               " status=" + Utf8(dlg->GetStatusEdit()->GetValue());
    });
    registry.AddState("focus", [dlg] {
        for (wxWindow* w = wxWindow::FindFocus(); w; w = w->GetParent()) {
            if (dlg->GetControl(w->GetId()) == w) return "id=" + std::to_string(w->GetId());
        }
        return std::string("id=none");
    });
    registry.AddState("links", [dlg] {
        return "register=" + Utf8(static_cast<CHyperLink*>(dlg->GetControl(kIdLoginRegister))->GetURL()) +
               " forgot=" + Utf8(static_cast<CHyperLink*>(dlg->GetControl(kIdLoginForgot))->GetURL());
    });
    registry.AddAction("login.ok", [dlg] { dlg->OnOK(); });
    AddGlyphState(registry, "login", [dlg] { return CollectTexts(dlg); });
}
