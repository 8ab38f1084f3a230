// The node chooser (groups, flags, latency cells), the mode chooser (an icon
// per mode type), the country chooser (a flag per row) and a text combo.
#include <wx/vlbox.h>

#include "dialogs/base/node_rows.h"
#include "dialogs/node_combo.h"
#include "dialogs/pelmor_combos.h"
#include "foundation/app_paths.h"
#include "foundation/text_convert.h"
#include "netconfig/proxy_mode.h"
#include "nodes/node_info.h"
#include "nodes/node_mgr.h"
#include "tests/e2e/gallery/dialogs/scene_support.h"
#include "ui/skin_dialog.h"

namespace {

// The screen rectangle of row `i` of an open list, empty while it is closed.
wxRect RowRect(wxOwnerDrawnComboBox* combo, int i) {
    if (!combo->IsPopupShown()) return wxRect();
    auto* list = combo->GetPopupControl() ? dynamic_cast<wxVListBox*>(combo->GetPopupControl()->GetControl())
                                          : nullptr;
    if (!list || i < 0 || static_cast<size_t>(i) >= list->GetItemCount()) return wxRect();
    wxRect r = list->GetItemRect(static_cast<size_t>(i));
    r.SetPosition(list->ClientToScreen(r.GetPosition()));
    return r;
}

void AddCombo(gallery::Registry& registry, const std::string& name, wxOwnerDrawnComboBox* combo, int rows) {
    registry.Add(name, combo);
    registry.AddRect(name + ".popup", [combo] {
        wxWindow* w = combo->GetPopupWindow();
        return w && combo->IsPopupShown() ? w->GetScreenRect() : wxRect();
    });
    for (int i = 0; i < rows; ++i)
        registry.AddRect(name + ".row" + std::to_string(i), [combo, i] { return RowRect(combo, i); });
    registry.AddAction(name + ".open", [combo] { combo->Popup(); });
    registry.AddAction(name + ".close", [combo] { combo->Dismiss(); });
}

struct NodeSpec {
    const char* host;
    const char* remarks;
    const char* group;
    uint32_t latency;
    int country;
};

}  // namespace

GALLERY_SCENE(choosers) {
    using namespace gallery;
    CreateAppFolders();
    // Six latency classes, flags 0 to 5, a Chinese group and remarks.
    const NodeSpec specs[] = {
        {"a.example", "", "", 0, 0},
        {"b.example", "", "", 50, 1},
        {"c.example", "\xE4\xB8\x9C\xE4\xBA\xAC 1", "\xE9\xBB\x84\xE9\x87\x91\xE7\xBA\xBF\xE8\xB7\xAF", 150,
         2},
        {"d.example", "", "\xE9\xBB\x84\xE9\x87\x91\xE7\xBA\xBF\xE8\xB7\xAF", 250, 3},
        {"e.example", "Frankfurt", "Silver", 350, 4},
        {"f.example", "", "Silver", 450, 5},
    };
    CNodeMgr* mgr = CNodeMgr::GetInstance();
    std::vector<int> ids;
    for (const NodeSpec& s : specs) {
        NodeParams p;
        p.type = NodeTypeSSR;
        p.host = s.host;
        p.port = 8388;
        p.password = "pw";
        p.method = "aes-256-gcm";
        p.remarks = s.remarks;
        p.group = s.group;
        CNodeInfo* node = mgr->AddNode(p);
        if (!node) continue;
        node->latency = s.latency;
        node->countryIndex = s.country;
        ids.push_back(node->id);
    }
    // One mode of each type.
    const wchar_t* names[][2] = {{L"Global", L"\x5168\x5C40"},
                                 {L"Rules", L"\x89C4\x5219"},
                                 {L"Rules direct", L"\x89C4\x5219\x76F4\x8FDE"},
                                 {L"Browser", L"\x6D4F\x89C8\x5668"},
                                 {L"Browser PAC", L"\x6D4F\x89C8\x5668 PAC"}};
    CProxyModeMgr* modeMgr = CProxyModeMgr::GetInstance();
    for (int type = 0; type < 5; ++type) {
        auto mode = std::make_unique<CProxyMode>();
        mode->type = type;
        mode->nameEn = names[type][0];
        mode->nameCn = names[type][1];
        if (type == 1) mode->remarks = L"CN";
        modeMgr->AddModeIfNew(std::move(mode));
    }

    auto* dlg = new CSkinDialog(nullptr, wxID_ANY, "Choosers", wxSize(520, 230));
    dlg->Move(40, 420);
    wxPanel* p = dlg->GetClientPanel();
    p->SetBackgroundColour(*wxWHITE);
    auto* nodes = new CProxyListGroupComboBoxWithIcons(p, kIdNodeChooser, wxPoint(10, 10), wxSize(460, 26));
    nodes->FillNodes(ids.size() > 1 ? ids[1] : -1);
    auto* modes = new CComboBoxPelmorMode(p, kIdModeChooser, wxPoint(10, 60), wxSize(300, 26));
    modes->FillModes();
    auto* countries = new CComboBoxPelmorAddProxy(p, wxID_ANY, wxPoint(10, 110), wxSize(300, 26));
    countries->FillCountries();
    countries->SetSelection(0);
    auto* text = new CComboBoxPelmorText(p, wxID_ANY, wxPoint(10, 160), wxSize(300, 26));
    for (const wchar_t* t : {L"Text row", L"\x6587\x5B57\x884C"}) text->AddItem(t, 0);
    text->SetSelection(0);
    dlg->Show();

    AddCombo(registry, "nodes", nodes, nodes->model().GetCount());
    AddCombo(registry, "modes", modes, static_cast<int>(modes->GetCount()));
    AddCombo(registry, "countries", countries, 12);
    registry.Add("text", text);
    registry.AddState("nodes", [nodes] {
        const int sel = nodes->model().GetCurSel();
        return "rows=" + std::to_string(nodes->model().GetCount()) + " sel=" + std::to_string(sel) +
               " face=" + FaceTextOfRow(nodes->model(), sel, NodeAddressesHidden());
    });
    registry.AddState("modes", [modes] {
        std::string types;
        for (unsigned i = 0; i < modes->GetCount(); ++i)
            types += (i ? "," : "") + std::to_string(modes->RowIcon(static_cast<int>(i)));
        return "rows=" + std::to_string(modes->GetCount()) + " sel=" + std::to_string(modes->GetSelection()) +
               " types=" + types;
    });
    AddGlyphState(registry, "choosers", [dlg, nodes] {
        std::vector<ShownText> texts = CollectTexts(dlg);
        const std::string font = Utf8(nodes->GetFont().GetNativeFontInfoDesc());
        for (int r = 0; r < nodes->model().GetCount(); ++r)
            texts.push_back({FaceTextOfRow(nodes->model(), r, false), font});
        return texts;
    });
}
