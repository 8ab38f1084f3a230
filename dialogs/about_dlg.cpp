#include "dialogs/about_dlg.h"

#include <wx/sizer.h>
#include <wx/stattext.h>

#include "dialogs/base/about_core.h"
#include "dialogs/base/dialog_units.h"
#include "foundation/translate.h"
#include "ui/hyperlink.h"

namespace {

// Template 100.
const wxSize kClientSize(DialogUnitsToPixelsX(201), DialogUnitsToPixelsY(173));

}  // namespace

CAboutDlg::CAboutDlg(wxWindow* parent) : CSkinDialog(parent, 100, wxEmptyString, kClientSize) {
    wxPanel* p = GetClientPanel();
    p->SetBackgroundColour(*wxWHITE);
    auto* outer = new wxBoxSizer(wxVERTICAL);
    auto* name = new wxStaticText(p, wxID_ANY, "Cendrow");
    name->SetFont(name->GetFont().Bold().Scaled(1.4f));
    outer->Add(name, 0, wxALL, 14);

    auto* grid = new wxFlexGridSizer(2, 6, 10);
    grid->AddGrowableCol(1);
    auto label = [&](const char* text) {
        grid->Add(new wxStaticText(p, wxID_ANY, text), 0, wxALIGN_CENTER_VERTICAL);
    };
    label("Version:");
    version_ = new wxStaticText(p, 1013, "2.6");
    grid->Add(version_, 0, wxALIGN_CENTER_VERTICAL);
    label("Build Time:");
    buildTime_ = new wxStaticText(p, 1014, wxString::FromUTF8(AboutBuildText()));
    grid->Add(buildTime_, 0, wxALIGN_CENTER_VERTICAL);

    const std::vector<AboutLink> links = AboutLinks();
    label("Website:");
    auto* social = new wxBoxSizer(wxHORIZONTAL);
    for (size_t i = 0; i < links.size() && i < 5; ++i) {
        const AboutLink& link = links[i];
        // The site shows its address; the others their names.
        auto* control = new CHyperLink(p, link.id, wxString(link.tooltip));
        control->SetBkColor(RGB(255, 255, 255));
        control->SetURL(wxString(link.url), wxString(link.tooltip));
        control->Show(link.shown);
        links_[i] = control;
        if (i == 0) {
            grid->Add(control, 0, wxALIGN_CENTER_VERTICAL);
        } else {
            social->Add(control, 0, wxRIGHT, 12);
        }
    }
    grid->AddSpacer(0);
    grid->Add(social);
    label("Skype:");
    skype_ = new wxTextCtrl(p, 1116, "ferrik", wxDefaultPosition, wxDefaultSize, wxTE_READONLY);
    grid->Add(skype_, 1, wxEXPAND);
    label("E-mail:");
    // No contact address is published.
    mail_ = new wxTextCtrl(p, 1004, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxTE_READONLY);
    grid->Add(mail_, 1, wxEXPAND);
    outer->Add(grid, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 14);
    p->SetSizer(outer);
    p->Layout();
    FitClientArea();
    SetTitle(wxString::FromUTF8(Translate("About")));
}

wxWindow* CAboutDlg::GetControl(int id) const {
    switch (id) {
        case 1013:
            return version_;
        case 1014:
            return buildTime_;
        case 1116:
            return skype_;
        case 1004:
            return mail_;
        default:
            for (CHyperLink* link : links_)
                if (link && link->GetId() == id) return link;
            return nullptr;
    }
}
