// The node dialogs, the link popup, the batch dialog, the subscription
// dialogs and the proxy chooser, each shown without a main window. The
// scenes report the node list and the boxes shown; services.ini in the
// program folder may name a geolocation service.
#include <wx/frame.h>

#include "dialogs/dialog_add_from_link.h"
#include "dialogs/dialog_add_new_socks_proxy.h"
#include "dialogs/dialog_add_new_ssr_proxy.h"
#include "dialogs/dialog_batch_add_from_link.h"
#include "dialogs/dialog_ssr_subscriptions.h"
#include "dialogs/pelmor_combos.h"
#include "dialogs/report_list.h"
#include "foundation/app_paths.h"
#include "nodes/account/service_config.h"
#include "nodes/node_mgr.h"
#include "nodes/subscriptions.h"
#include "tests/e2e/gallery/dialogs/scene_support.h"
#include "ui/picture_ex.h"
#include "ui/skin_check_box.h"
#include "ui/skin_edit.h"

namespace {

std::string ResultOf(const wxDialog* dlg) {
    if (dlg->IsShown()) return "0";
    return dlg->GetReturnCode() == wxID_OK ? "1" : "2";
}

std::string NodeRecord(int id) {
    CNodeInfo* n = CNodeMgr::GetInstance()->FindNode(id);
    if (!n) return "none";
    return std::to_string(n->type) + "|" + n->host + "|" + std::to_string(n->port) + "|" + n->user + "|" +
           n->password + "|" + n->remarks + "|" + n->group + "|" + n->method + "|" + n->protocol + "|" + n->obfs +
           "|" + std::to_string(n->udpPort);
}

void AddControls(gallery::Registry& registry, CNodeDialogBase* dlg, std::initializer_list<int> ids) {
    for (int id : ids) gallery::AddControl(registry, id, dlg->GetControl(id));
}

// What both node dialogs report.
void AddNodeDialogState(gallery::Registry& registry, const std::string& name, CNodeDialogBase* dlg) {
    using gallery::Utf8;
    registry.AddState(name, [dlg] {
        auto* country = static_cast<CComboBoxPelmorAddProxy*>(dlg->GetControl(kIdNodeCountry));
        auto* password = static_cast<CSkinEdit*>(dlg->GetControl(kIdNodePassword));
        auto* busy = static_cast<CPictureEx*>(dlg->GetControl(kIdNodeBusy));
        return "result=" + ResultOf(dlg) + " id=" + std::to_string(dlg->GetNodeId()) +
               " activate=" + std::to_string(dlg->GetActivate()) + " country=" +
               std::to_string(country->GetSelection()) + " idle=" + std::to_string(dlg->IsLookupIdle() ? 1 : 0) +
               " busy=" + std::to_string(busy->IsShown() ? 1 : 0) + " playing=" +
               std::to_string(busy->IsPlaying() ? 1 : 0) + " plain=" +
               std::to_string(password->IsPasswordVisible() ? 1 : 0) + " nodes=" +
               std::to_string(CNodeMgr::GetInstance()->GetNodeCount()) +
               " record=" + NodeRecord(dlg->GetNodeId()) + " server=" +
               Utf8(static_cast<CSkinEdit*>(dlg->GetControl(kIdNodeServer))->GetValue());
    });
    registry.AddAction(name + ".ok", [dlg] {
        if (auto* s = dynamic_cast<CDialogAddNewSOCKSProxy*>(dlg)) s->OnOK();
        if (auto* s = dynamic_cast<CDialogAddNewSSRProxy*>(dlg)) s->OnOK();
    });
    registry.AddAction(name + ".geo", [dlg] { dlg->OnGetGeolocation(); });
    // Closing during a lookup: the worker is aborted and joined.
    // A hidden frame keeps the gallery running once the dialog is gone.
    registry.AddAction(name + ".close", [dlg] {
        new wxFrame(nullptr, wxID_ANY, "after the dialog");
        dlg->Destroy();
    });
    gallery::AddGlyphState(registry, name, [dlg] { return gallery::CollectTexts(dlg); });
    registry.AddState(name + ".labels", [dlg] {
        std::string out;
        for (int id : {1026, 1027, 1029, 1031, 1033, 1034, 1035, 1036, 1037, 1154, 1155, 1165, 1167, 1028, 1030}) {
            wxWindow* w = dlg->GetControl(id);
            auto* label = dynamic_cast<wxStaticText*>(w);
            if (!label) continue;
            out += " " + std::to_string(id) + "=" + Utf8(label->GetLabel());
        }
        return out;
    });
}

void Setup(gallery::Registry& registry) {
    CreateAppFolders();
    registry.AddState("alive", [] { return std::string("yes"); });
    LoadServiceConfig(GetAppDir());
    gallery::RecordBoxes(registry);
}

}  // namespace

GALLERY_SCENE(socks_dialog) {
    Setup(registry);
    auto* dlg = new CDialogAddNewSOCKSProxy(nullptr, 0);
    dlg->Move(40, 40);
    dlg->Show();
    registry.Add("134", dlg);
    AddControls(registry, dlg,
                {1, kIdNodeType, kIdNodeServer, kIdNodeGeolocation, kIdNodePort, kIdNodeUser, kIdNodePassword,
                 kIdNodeShowPassword, kIdNodeRemarks, 1030, kIdNodeCountry, kIdNodeBusy, kIdNodeRoute,
                 kIdNodeActivate, kIdNodeLinkButton});
    AddNodeDialogState(registry, "socks", dlg);
}

GALLERY_SCENE(ssr_dialog) {
    Setup(registry);
    auto* dlg = new CDialogAddNewSSRProxy(nullptr, 0);
    dlg->Move(40, 40);
    dlg->Show();
    registry.Add("208", dlg);
    AddControls(registry, dlg,
                {1, kIdNodeLinkButton, kIdNodeServer, kIdNodeGeolocation, kIdNodePort, kIdNodePassword,
                 kIdNodeShowPassword, kIdNodeCipher, kIdNodeProtocol, kIdNodeProtocolParam, kIdNodeObfs,
                 kIdNodeObfsParam, kIdNodeRemarks, 1195, kIdNodeCountry, kIdNodeBusy, kIdNodeRoute,
                 kIdNodeActivate, 1034, 1035, 1036, 1037});
    AddNodeDialogState(registry, "ssr", dlg);
    CDialogAddFromLink* popup = dlg->GetLinkPopup();
    registry.AddRect("popup", [popup] { return popup->IsShown() ? popup->GetScreenRect() : wxRect(); });
    registry.AddRect("popup.edit", [popup] { return popup->IsShown() ? popup->GetEdit()->GetScreenRect() : wxRect(); });
    registry.AddState("popup", [popup] { return "shown=" + std::to_string(popup->IsShown() ? 1 : 0); });
    registry.AddState("ssr.form", [dlg] {
        SsrProxyForm f = dlg->ReadForm();
        return "cipher=" + std::to_string(f.cipherRow) + " protocol=" + std::to_string(f.protocolRow) +
               " obfs=" + std::to_string(f.obfsRow) + " port=" + gallery::Utf8(f.port) +
               " protoparam=" + std::to_string(dlg->GetControl(kIdNodeProtocolParam)->IsEnabled() ? 1 : 0) +
               " obfsparam=" + std::to_string(dlg->GetControl(kIdNodeObfsParam)->IsEnabled() ? 1 : 0);
    });
}

GALLERY_SCENE(batch_add) {
    Setup(registry);
    auto* dlg = new CDialogBatchAddFromLink(nullptr);
    dlg->Move(40, 40);
    dlg->Show();
    registry.Add("209", dlg);
    gallery::AddControl(registry, 1032, dlg->GetClientPanel()->FindWindow(1032));
    gallery::AddControl(registry, 1033, dlg->GetClientPanel()->FindWindow(1033));
    gallery::AddControl(registry, 1, dlg->GetClientPanel()->FindWindow(wxID_OK));
    registry.AddState("batch", [dlg] {
        return "result=" + ResultOf(dlg) + " added=" + std::to_string(dlg->GetAddedCount()) +
               " nodes=" + std::to_string(CNodeMgr::GetInstance()->GetNodeCount());
    });
    registry.AddAction("batch.add", [dlg] { dlg->OnAdd(); });
    gallery::AddGlyphState(registry, "batch", [dlg] { return gallery::CollectTexts(dlg); });
}

GALLERY_SCENE(subscriptions) {
    Setup(registry);
    LoadSubscriptions();
    // Nodes for the chooser.
    for (const char* host : {"a.example", "b.example"}) {
        NodeParams p;
        p.type = NodeTypeSocks5;
        p.host = host;
        p.port = 1080;
        CNodeMgr::GetInstance()->AddNode(p);
    }
    auto* dlg = new CDialogSSRSubscriptions(nullptr);
    dlg->Move(40, 40);
    dlg->Show();
    registry.Add("230", dlg);
    for (int id : {kIdSubUrl, kIdSubFrequency, kIdSubParams, kIdSubAdd, kIdSubList, kIdSubDelete, kIdSubEdit,
                   kIdSubSelectProxy, kIdSubRemoveProxy, kIdSubProxyText, kIdSubGroupBox})
        gallery::AddControl(registry, id, dlg->GetControl(id));
    CReportList* list = dlg->GetList();
    registry.Add("rows", list->GetRowWindow());
    registry.AddState("rowheight", [list] {
        wxRect r;
        return "h=" + std::to_string(list->GetItemCount() > 0 && list->GetItemRect(0, r) ? r.height : 0);
    });
    registry.AddState("subs", [dlg, list] {
        return "rows=" + std::to_string(list->GetItemCount()) + " sel=" + std::to_string(list->GetSelectedRow()) +
               " delete=" + std::to_string(dlg->GetControl(kIdSubDelete)->IsEnabled() ? 1 : 0) +
               " edit=" + std::to_string(dlg->GetControl(kIdSubEdit)->IsEnabled() ? 1 : 0) +
               " changed=" + std::to_string(dlg->IsChanged()) +
               " groups=" + std::to_string(GetSubscriptionGroups().size());
    });
    registry.AddAction("subs.add", [dlg] { dlg->OnAdd(); });
    gallery::AddGlyphState(registry, "subs", [dlg] { return gallery::CollectTexts(dlg); });
}
