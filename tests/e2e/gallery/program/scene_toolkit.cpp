// The first toolkit scenes: a skinned dialog with a Chinese caption holding
// every skinned and self-drawn control in its steady states, and an
// unskinned dialog.
#include <wx/panel.h>

#include <memory>

#include "tests/e2e/gallery/program/gallery.h"
#include "ui/button_vorn.h"
#include "ui/dialog_loading_page.h"
#include "ui/hyperlink.h"
#include "ui/picture_ex.h"
#include "ui/skin_button.h"
#include "ui/skin_check_box.h"
#include "ui/skin_dialog.h"
#include "ui/skin_edit.h"
#include "ui/xcolor_static.h"

namespace {

std::string Flag(const char* key, bool v) {
    return std::string(key) + "=" + (v ? "1" : "0");
}

// Receives the link's notification instead of a browser.
class LinkTarget : public wxEvtHandler {
public:
    LinkTarget() {
        Bind(EVT_HYPERLINK_NOTIFY, [this](wxCommandEvent& e) {
            ++count;
            last = e.GetString().ToStdString() + " " + std::to_string(e.GetInt()) + " " +
                   std::to_string(e.GetId());
        });
    }
    int count = 0;
    std::string last;
};

}  // namespace

GALLERY_SCENE(skinned) {
    auto* dlg =
        new CSkinDialog(nullptr, wxID_ANY, wxString::FromUTF8("Cendrow 设置 — 皮肤"), wxSize(470, 420),
                        wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX | wxMAXIMIZE_BOX);
    wxPanel* p = dlg->GetClientPanel();

    auto* button = new CSkinButton(p, wxID_ANY, "Connect", wxPoint(10, 10), wxSize(90, 26));
    auto* disabled = new CSkinButton(p, wxID_ANY, "Disabled", wxPoint(110, 10), wxSize(90, 26));
    disabled->Enable(false);
    auto clicks = std::make_shared<int>(0);
    button->Bind(wxEVT_BUTTON, [clicks](wxCommandEvent&) { ++*clicks; });
    registry.Add("button.normal", button, [button, clicks] {
        return Flag("hover", button->IsHovered()) + " " + Flag("pushed", button->IsPushed()) +
               " clicks=" + std::to_string(*clicks);
    });
    registry.Add("button.disabled", disabled);

    auto* unchecked =
        new CSkinCheckBox(p, wxID_ANY, "Start with the system", wxPoint(10, 50), wxSize(150, 20));
    auto* checked = new CSkinCheckBox(p, wxID_ANY, "Remember me", wxPoint(170, 50), wxSize(140, 20));
    checked->SetCheckState(2);
    auto* checkOff = new CSkinCheckBox(p, wxID_ANY, "Unavailable", wxPoint(320, 50), wxSize(140, 20));
    checkOff->SetCheck(1);
    checkOff->Enable(false);
    auto checkClicks = std::make_shared<int>(0);
    unchecked->Bind(wxEVT_CHECKBOX, [checkClicks](wxCommandEvent&) { ++*checkClicks; });
    registry.Add("check.unchecked", unchecked, [unchecked, checkClicks] {
        return Flag("hover", unchecked->IsHovered()) + " " + Flag("pushed", unchecked->IsPushed()) + " " +
               Flag("checked", unchecked->IsChecked()) + " clicks=" + std::to_string(*checkClicks);
    });
    registry.Add("check.checked", checked);
    registry.Add("check.disabled", checkOff);

    auto* edit = new CSkinEdit(p, wxID_ANY, "node.example", wxPoint(10, 80), wxSize(140, 24));
    auto* readOnly =
        new CSkinEdit(p, wxID_ANY, "read only", wxPoint(160, 80), wxSize(140, 24), wxTE_READONLY);
    auto* editOff = new CSkinEdit(p, wxID_ANY, "disabled", wxPoint(310, 80), wxSize(140, 24));
    editOff->Enable(false);
    auto* password = new CSkinEdit(p, wxID_ANY, "secret", wxPoint(10, 112), wxSize(140, 24), wxTE_PASSWORD);
    registry.Add("edit.normal", edit, [edit] { return Flag("hover", edit->IsHovered()); });
    registry.Add("edit.readonly", readOnly);
    registry.Add("edit.disabled", editOff);
    registry.Add("edit.password", password);

    auto* link = new CHyperLink(p, wxID_ANY, "http://example.invalid/account", "", wxPoint(160, 116));
    auto* target = new LinkTarget;
    link->SetNotifyTarget(target, 3543);
    link->Bind(wxEVT_DESTROY, [target](wxWindowDestroyEvent& e) {
        delete target;
        e.Skip();
    });
    registry.Add("link", link, [link, target] {
        return Flag("hover", link->IsHovered()) + " " + Flag("visited", link->IsVisited()) +
               " notified=" + std::to_string(target->count) + " last=" + target->last;
    });

    auto* icon = new CButtonVorn(p, wxID_ANY, "Add", wxPoint(10, 150), wxSize(110, 28));
    icon->SetIcon(149, 0, 150);
    icon->SetBtnCursor(wxCursor(wxCURSOR_HAND));
    auto* iconOff = new CButtonVorn(p, wxID_ANY, "Add", wxPoint(130, 150), wxSize(110, 28));
    iconOff->SetIcon(149, 0, CButtonVorn::kGreyCopy);
    iconOff->Enable(false);
    auto* iconTest = new CButtonVorn(p, wxID_ANY, "", wxPoint(250, 150), wxSize(28, 28));
    iconTest->SetIcon(159);
    auto iconClicks = std::make_shared<int>(0);
    icon->Bind(wxEVT_BUTTON, [iconClicks](wxCommandEvent&) { ++*iconClicks; });
    registry.Add("icon.normal", icon, [icon, iconClicks] {
        return Flag("hover", icon->IsHovered()) + " " + Flag("pushed", icon->IsPushed()) +
               " entry=" + std::to_string(icon->ShownIconEntry()) + " clicks=" + std::to_string(*iconClicks);
    });
    registry.Add("icon.disabled", iconOff,
                 [iconOff] { return "entry=" + std::to_string(iconOff->ShownIconEntry()); });
    registry.Add("icon.only", iconTest);

    auto* picture = new CPictureEx(p, wxID_ANY, wxPoint(10, 190));
    picture->LoadResource(225, "GIF", true);
    registry.Add("picture", picture, [picture] {
        return Flag("playing", picture->IsPlaying()) + " frames=" + std::to_string(picture->FrameCount());
    });

    auto* colour = new CXColorStatic(p, wxID_ANY, "A colour static whose text wraps at word boundaries",
                                     wxPoint(80, 190), wxSize(200, 44));
    colour->SetTextColor(RGB(200, 0, 0));
    colour->SetBackgroundColor(RGB(255, 255, 210));
    auto* colourLine = new CXColorStatic(p, wxID_ANY, "One centred line", wxPoint(290, 190), wxSize(170, 44),
                                         wxALIGN_CENTRE_HORIZONTAL | wxALIGN_CENTRE_VERTICAL);
    colourLine->SetTextColor(RGB(0, 0, 160));
    colourLine->SetBackgroundColor(RGB(220, 255, 220));
    registry.Add("colour.wrapped", colour,
                 [colour] { return "lines=" + std::to_string(colour->Lines().size()); });
    registry.Add("colour.line", colourLine,
                 [colourLine] { return "lines=" + std::to_string(colourLine->Lines().size()); });

    auto* loading = new CDialogLoadingPage(p, 225);
    loading->SetSize(10, 250, 300, 150);
    registry.Add("loading", loading);
    registry.Add("loading.picture", loading->picture());
    registry.Add("loading.text", loading->text());

    registry.Add("skinned", dlg, [dlg] {
        return Flag("skinned", dlg->IsSkinned()) + " " + Flag("zoomed", dlg->IsZoomed()) + " " +
               Flag("shown", dlg->IsShown());
    });
    registry.Add("skinned.client", p);
    registry.AddRect("skinned.close", [dlg] { return dlg->GetSysButtonRect(kSysClose); });
    registry.AddRect("skinned.maximize", [dlg] { return dlg->GetSysButtonRect(kSysMaximize); });
    registry.AddRect("skinned.minimize", [dlg] { return dlg->GetSysButtonRect(kSysMinimize); });
    // A caption that reaches the system buttons, and one of a single letter.
    registry.AddAction("skinned.retitle.long", [dlg] { dlg->SetTitle(wxString(40, 'M')); });
    registry.AddAction("skinned.retitle.short", [dlg] { dlg->SetTitle("M"); });
    dlg->Move(40, 40);
    dlg->Show();
}

GALLERY_SCENE(unskinned) {
    // No caption: the dialog keeps the system's frame and its client size.
    auto* dlg = new CSkinDialog(nullptr, wxID_ANY, "Plain", wxSize(300, 200), wxSYSTEM_MENU | wxCLOSE_BOX);
    wxPanel* p = dlg->GetClientPanel();
    auto* button = new CSkinButton(p, wxID_ANY, "OK", wxPoint(10, 10), wxSize(90, 26));
    registry.Add("unskinned", dlg, [dlg] { return Flag("skinned", dlg->IsSkinned()); });
    registry.Add("unskinned.client", p);
    registry.Add("unskinned.button", button);
    dlg->Move(600, 40);
    dlg->Show();
}
