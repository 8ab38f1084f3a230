// The main window with recording stand-ins for the machine: "mainbase" is
// the base window (no account service), "mainagent" the account edition
// (config/services.ini names a service that is never reached). Nodes come
// from a package as the account service delivers them; the program's loop
// is served from a timer. One scene per gallery process: both share the
// program's managers.
#include <wx/timer.h>

#include <cstdlib>
#include <memory>

#include "app/halvern_app.h"
#include "app/main_core.h"
#include "app/main_loop.h"
#include "app/window/agent_dialog_ostrel.h"
#include "dialogs/node_combo.h"
#include "dialogs/testing_current_node_dlg.h"
#include "foundation/app_paths.h"
#include "foundation/settings.h"
#include "foundation/text_convert.h"
#include "nodes/account/agent_download_proxy.h"
#include "nodes/account/service_config.h"
#include "nodes/node_mgr.h"
#include "tests/app/app_fakes.h"
#include "tests/e2e/gallery/dialogs/scene_support.h"
#include "ui/base/tray_icon.h"
#include "ui/log_views.h"
#include "ui/qelt_menu.h"

namespace {

// Lives until the process ends, after the windows (the core goes last).
struct MainWindowRig {
    CMainLoop loop;
    apptest::RecordingSystem system;
    std::unique_ptr<DialogOstrelBase> core;
    wxTimer pump;
};

MainWindowRig& Rig() {
    static MainWindowRig* rig = new MainWindowRig;
    return *rig;
}

// A package of the account service: two groups, one with a Chinese name.
const char* kPackage = R"({"errcode":0,"proxylist":[{"nextduedate":"2031-12-31","traffic_remaining":"12 GB",
  "nodelist":[
   {"type":5,"name":"Tokyo","hostname":"jp.example","port":1080,"password":"x","method":"m","group_name":"Asia"},
   {"type":5,"name":"Osaka","hostname":"os.example","port":1080,"password":"x","method":"m","group_name":"Asia"},
   {"type":5,"name":"\u4e0a\u6d77","hostname":"sh.example","port":1080,"password":"x","method":"m",
    "group_name":"\u4e2d\u56fd"}]}]})";

std::string Items(DialogOstrelWindow* wnd, MainMenu menu) {
    std::string out;
    for (const MenuItemSpec& item : wnd->MenuItems(menu)) {
        if (!out.empty()) out += "|";
        out += item.grayed ? "(" + item.text + ")" : item.text;
    }
    return out;
}

void BuildMainWindow(gallery::Registry& registry, bool account) {
    using namespace gallery;
    CreateAppFolders();
    LoadServiceConfig(GetAppDir());
    LoadSettings();
    RecordBoxes(registry);
    MainWindowRig& rig = Rig();
    GetApp().SetTapAdapterCount(rig.system.DetectNetworkAdapters());
    CAgentDownloadProxy::GetInstance()->ParseProxyList(kPackage);
    DialogOstrelWindow* wnd = account ? new CAgentDialogOstrel(nullptr) : new DialogOstrelWindow(nullptr);
    rig.core = std::make_unique<DialogOstrelBase>(&rig.loop, wnd, &rig.system);
    rig.core->SetNodeProber([](CNodeInfo*, const std::atomic<int>&) {});
    wnd->Move(60, 30);
    wnd->AttachCore(rig.core.get());
    rig.pump.Bind(wxEVT_TIMER, [](wxTimerEvent&) { Rig().loop.RunPending(); });
    rig.pump.Start(20);

    registry.Add("main", wnd, [wnd] {
        DialogOstrelBase* core = wnd->GetCore();
        const NOTIFYICONDATAW& tray = wnd->GetTrayIcon()->data();
        const wxWindow* traffic = wnd->GetControl(133);
        return "shown=" + std::to_string(wnd->IsShown() ? 1 : 0) +
               " loaded=" + std::to_string(core && core->IsDataLoaded() ? 1 : 0) +
               " exiting=" + std::to_string(core && core->IsExiting() ? 1 : 0) +
               " menu=" + std::to_string(wnd->IsMenuOpen() ? 1 : 0) +
               " nodes=" + std::to_string(static_cast<CProxyListGroupComboBoxWithIcons*>(wnd->GetControl(1124))->GetCount()) +
               " traffic=" + std::to_string(traffic && traffic->IsShown() ? 1 : 0) +
               " tip=" + WideToUtf8String(tray.szTip) +
               " status=" + Utf8(wnd->GetStatusEdit()->GetValue());
    });
    for (const auto& [id, window] : std::map<int, wxWindow*>{
             {1124, wnd->GetControl(1124)}, {1020, wnd->GetControl(1020)}, {1122, wnd->GetControl(1122)},
             {1017, wnd->GetControl(1017)}, {1145, wnd->GetControl(1145)}, {1024, wnd->GetControl(1024)},
             {1142, wnd->GetControl(1142)}, {1016, wnd->GetControl(1016)}, {1119, wnd->GetControl(1119)},
             {1127, wnd->GetControl(1127)}, {1148, wnd->GetControl(1148)}, {1071, wnd->GetControl(1071)}}) {
        AddControl(registry, id, window);
    }
    if (account) {
        for (int id : {1198, 1199, 1200, 1201, 1202, 1203, 1204}) AddControl(registry, id, wnd->GetControl(id));
        registry.AddState("lines", [wnd] {
            return "line1=" + Utf8(wnd->GetControl(1203)->GetLabel()) +
                   " line2=" + Utf8(wnd->GetControl(1204)->GetLabel());
        });
    }
    registry.AddState("menus", [wnd] {
        return "tray=" + Items(wnd, MainMenu::kTray) + " popup=" + Items(wnd, MainMenu::kPopup) +
               " exit=" + Items(wnd, MainMenu::kExit);
    });
    // Each opens its menu at the pointer and waits in it.
    registry.AddAction("main.exitmenu", [wnd, account] { wnd->OnCommand(account ? 1202 : 1119); });
    registry.AddAction("main.popup", [wnd, account] { wnd->OnCommand(account ? 1201 : 1016); });
    registry.AddAction("main.cancelmenu", [wnd] { wnd->CancelMenu(); });
    registry.AddAction("main.delete", [wnd] { wnd->OnCommand(1145); });
    // A SOCKS 5 node on 127.0.0.1 whose server never answers (its port in
    // CENDROW_GALLERY_SILENT_PORT), chosen and put under test.
    registry.AddAction("main.testsilent", [wnd] {
        const char* port = std::getenv("CENDROW_GALLERY_SILENT_PORT");
        if (!port) return;
        NodeParams params;
        params.type = NodeTypeSocks5;
        params.host = "127.0.0.1";
        params.port = static_cast<uint16_t>(std::atoi(port));
        params.remarks = "Silent";
        CNodeInfo* node = CNodeMgr::GetInstance()->AddNode(params);
        if (!node) return;
        wnd->GetCore()->OnNodeAdded(true, node->id);
        wnd->OnCommand(1142);
    });
    registry.AddState("nodetest", [wnd] {
        CTestingCurrentNodeDlg* test = wnd->GetTestWindow();
        return "running=" + std::to_string(test ? test->RunningTests() : 0) +
               " lines=" + std::to_string(test ? test->GetLog()->GetNumberOfLines() : 0);
    });
    registry.AddAction("main.close", [wnd] { wnd->Close(); });
    registry.AddAction("main.show", [wnd] { wnd->OnCommand(kCmdShowWindow); });
    AddGlyphState(registry, "main", [wnd] { return CollectTexts(wnd); });
}

}  // namespace

GALLERY_SCENE(mainbase) {
    BuildMainWindow(registry, false);
}

GALLERY_SCENE(mainagent) {
    BuildMainWindow(registry, true);
}
