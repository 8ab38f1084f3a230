// The mode editor for a new mode and the mode management list, over a
// program folder whose rules folder holds one built-in mode and one mode of
// the user.
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <filesystem>

#include "dialogs/dialog_add_new_proxy_mode.h"
#include "dialogs/dialog_proxy_mode_management.h"
#include "dialogs/report_list.h"
#include "foundation/app_paths.h"
#include "netconfig/proxy_mode.h"
#include "tests/e2e/gallery/dialogs/scene_support.h"
#include "ui/skin_edit.h"

namespace gallery {

// The modes both mode scenes show: the three built-in ones and a file mode.
void PrepareModes() {
    CreateAppFolders();
    std::filesystem::create_directories(GetAppDir() / "rules");
    static bool prepared = false;
    if (prepared) return;
    prepared = true;
    CProxyModeMgr* mgr = CProxyModeMgr::GetInstance();
    mgr->LoadModes(GetAppDir(), 1);
    mgr->SaveMode(L"Office.rules", ProxyModeRules, L"Office", L"\x529E\x516C\x5BA4", 0, 0, L"10.0.0.0/8", 1, 0, 0,
                  L"LAN", 0, GetAppDir());
}

}  // namespace gallery

GALLERY_SCENE(modeeditor) {
    using namespace gallery;
    PrepareModes();
    RecordBoxes(registry);
    auto* dlg = new CDialogAddNewProxyMode(nullptr, nullptr);
    dlg->Move(460, 280);
    dlg->Show();
    registry.Add("247", dlg);
    for (int id : std::initializer_list<int>{kIdModeNameEn, kIdModeNameCn, kIdModeRules, kIdModeSave, kIdModeRemarks, kIdModeCounter,
                   kIdModeAction, kIdModeDns, 1206, 1207, 1208, 1209, 1162, 1163})
        AddControl(registry, id, dlg->GetControl(id));
    registry.AddAction("modeeditor.save", [dlg] { dlg->OnSave(); });
    registry.AddState("modeeditor", [dlg] {
        const wxString rules = dlg->GetRulesEditor()->GetValue();
        return "shown=" + std::to_string(dlg->IsShown() ? 1 : 0) +
               " counter=" + Utf8(dlg->GetControl(kIdModeCounter)->GetLabel()) +
               " rulesChars=" + std::to_string(rules.length()) +
               " modes=" + std::to_string(CProxyModeMgr::GetInstance()->GetModes().size());
    });
    registry.AddState("labels.modeeditor", [dlg] {
        std::string out;
        for (int id : std::initializer_list<int>{1206, 1207, 1162, 1163, 1209, kIdModeCounter})
            out += std::to_string(id) + "=" + Utf8(dlg->GetControl(id)->GetLabel()) + "\t";
        return out;
    });
    AddGlyphState(registry, "modeeditor", [dlg] { return CollectTexts(dlg); });
}

GALLERY_SCENE(modes) {
    using namespace gallery;
    PrepareModes();
    RecordBoxes(registry);
    auto* dlg = new CDialogProxyModeManagement(nullptr);
    dlg->Move(20, 470);
    dlg->Show();
    registry.Add("246", dlg);
    for (int id : std::initializer_list<int>{kIdModeAdd, kIdModeEdit, kIdModeDelete, kIdModeList}) AddControl(registry, id, dlg->GetControl(id));
    CReportList* list = dlg->GetList();
    for (long row = 0; row < 4; ++row) {
        registry.AddRect("modes.row" + std::to_string(row), [list, row] {
            wxRect r;
            if (row >= list->GetItemCount() || !list->GetItemRect(row, r)) return wxRect();
            r.SetPosition(list->ClientToScreen(r.GetPosition()));
            return r;
        });
    }
    registry.AddState("modes", [dlg, list] {
        std::string rows;
        for (long i = 0; i < list->GetItemCount(); ++i) rows += (i ? "|" : "") + Utf8(list->GetItemText(i, 0));
        return "rows=" + rows + " sel=" + std::to_string(list->GetSelectedRow()) +
               " edit=" + std::to_string(dlg->GetControl(kIdModeEdit)->IsEnabled() ? 1 : 0) +
               " delete=" + std::to_string(dlg->GetControl(kIdModeDelete)->IsEnabled() ? 1 : 0);
    });
    AddGlyphState(registry, "modes", [dlg] { return CollectTexts(dlg); });
}
