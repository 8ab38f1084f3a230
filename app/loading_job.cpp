#include "app/loading_job.h"

#include "app/halvern_app.h"
#include "foundation/app_paths.h"
#include "foundation/translate.h"
#include "netconfig/proxy_mode.h"
#include "nodes/edition/vantor_authorization.h"

int RunLoadingJob(int loadFlags, const std::function<void(const char*)>& say) {
    CVantorAuthorization* edition = CVantorAuthorization::GetInstance();
    edition->SetFeatureSwitches(1, 1, 1, 1, 1, 1, 0);
    if (loadFlags & kLoadFlagModes) {
        if (say) say(Translate("Loading proxy mode rules..."));
        if (!GetApp().GetCommandLineParser()->GetDontLoadAndSaveProxyMode() &&
            edition->IsLoadRulesAtStartEnabled())
            CProxyModeMgr::GetInstance()->LoadModes(GetAppDir(), 0);
    }
    return 1;
}
