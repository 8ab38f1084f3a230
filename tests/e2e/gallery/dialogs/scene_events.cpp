// The events dialog over the program folder's config/event.ini; message
// boxes are recorded.
#include <wx/listctrl.h>
#include <wx/odcombo.h>

#include "dialogs/dialog_events_mgr.h"
#include "foundation/app_paths.h"
#include "tests/e2e/gallery/dialogs/scene_support.h"
#include "ui/skin_edit.h"

GALLERY_SCENE(events) {
    using namespace gallery;
    CreateAppFolders();
    CEventMgr::GetInstance()->Load(GetAppDir().wstring().c_str());
    RecordBoxes(registry);
    auto* dlg = new CDialogEventsMgr(nullptr);
    dlg->Move(40, 40);
    dlg->Show();
    registry.Add("events", dlg);
    for (int id : {kIdEventsDelete, kIdEventsParam, kIdEventsActionType, kIdEventsGroup, kIdEventsEventType,
                   kIdEventsAdd, kIdEventsList})
        AddControl(registry, id, dlg->GetControl(id));
    auto* list = static_cast<wxListCtrl*>(dlg->GetControl(kIdEventsList));
    for (int i = 0; i < 4; ++i) {
        registry.AddRect("events.row" + std::to_string(i), [list, i] {
            wxRect r;
            if (i >= list->GetItemCount() || !list->GetItemRect(i, r)) return wxRect();
            r.SetPosition(list->ClientToScreen(r.GetPosition()));
            return r;
        });
    }
    registry.AddState("events", [dlg, list] {
        auto* eventType = static_cast<wxOwnerDrawnComboBox*>(dlg->GetControl(kIdEventsEventType));
        auto* actionType = static_cast<wxOwnerDrawnComboBox*>(dlg->GetControl(kIdEventsActionType));
        long selected = list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
        std::string rows;
        for (int i = 0; i < list->GetItemCount(); ++i)
            rows += (i ? "|" : "") + Utf8(list->GetItemText(i, 0) + "," + list->GetItemText(i, 1) + "," +
                                          list->GetItemText(i, 2));
        return "count=" + std::to_string(list->GetItemCount()) + " selected=" + std::to_string(selected) +
               " delete=" + std::to_string(dlg->GetControl(kIdEventsDelete)->IsEnabled() ? 1 : 0) +
               " event=" + std::to_string(eventType->GetSelection()) +
               " action=" + std::to_string(actionType->GetSelection()) + " param=" +
               Utf8(static_cast<CSkinEdit*>(dlg->GetControl(kIdEventsParam))->GetValue()) + " rows=" + rows;
    });
    registry.AddAction("events.add", [dlg] { dlg->OnAdd(); });
    AddGlyphState(registry, "events", [dlg] { return CollectTexts(dlg); });
}
