// The additional-routes dialog with a lookup the test holds open: a name
// ending in ".slow" resolves to 203.0.113.9 once the test releases it.
#include <wx/stattext.h>

#include <condition_variable>
#include <mutex>

#include "dialogs/dialog_additional_route.h"
#include "dialogs/report_list.h"
#include "foundation/app_paths.h"
#include "netconfig/additional_route.h"
#include "tests/e2e/gallery/dialogs/scene_support.h"
#include "ui/skin_edit.h"

namespace {

struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
};

}  // namespace

GALLERY_SCENE(routes) {
    using namespace gallery;
    CreateAppFolders();
    RecordBoxes(registry);
    CAdditionalRouteMgr::GetInstance()->Load();
    auto* dlg = new CDialogAdditionalRouteMgr(nullptr);
    auto gate = std::make_shared<Gate>();
    dlg->SetResolver([gate](std::string_view host, std::string* address) {
        std::unique_lock<std::mutex> lock(gate->m);
        gate->cv.wait(lock, [&] { return gate->open; });
        if (host.size() < 5 || host.substr(host.size() - 5) != ".slow") return 0;
        *address = "203.0.113.9";
        return 1;
    });
    dlg->Move(660, 560);
    dlg->Show();
    registry.Add("157", dlg);
    for (int id : std::initializer_list<int>{kIdRouteAddress, kIdRouteAction, kIdRouteList, kIdRouteDelete, kIdRouteAdd, kIdRouteWait, 1059,
                   1162})
        AddControl(registry, id, dlg->GetControl(id));
    registry.AddAction("routes.add", [dlg] { dlg->OnAdd(); });
    registry.AddAction("routes.release", [gate] {
        std::lock_guard<std::mutex> lock(gate->m);
        gate->open = true;
        gate->cv.notify_all();
    });
    registry.AddState("routes", [dlg] {
        CReportList* list = dlg->GetList();
        std::string rows;
        for (long i = 0; i < list->GetItemCount(); ++i)
            rows += (i ? "|" : "") + Utf8(list->GetItemText(i, 0)) + "/" + Utf8(list->GetItemText(i, 1));
        return "busy=" + std::to_string(dlg->IsLookupRunning() ? 1 : 0) +
               " wait=" + std::to_string(dlg->GetControl(kIdRouteWait)->IsShown() ? 1 : 0) +
               " add=" + std::to_string(dlg->GetControl(kIdRouteAdd)->IsEnabled() ? 1 : 0) +
               " edit=" + std::to_string(dlg->GetControl(kIdRouteAddress)->IsEnabled() ? 1 : 0) + " rows=" + rows;
    });
    AddGlyphState(registry, "routes", [dlg] { return CollectTexts(dlg); });
}
