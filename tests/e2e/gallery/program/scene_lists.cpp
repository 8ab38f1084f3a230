// The second toolkit scenes: log views, the group and icon combo boxes, the
// bitmap button, the owner-drawn menu and the tray icon.
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/panel.h>

#include <memory>
#include <thread>

#include "tests/e2e/gallery/program/gallery.h"
#include "ui/bmp_button.h"
#include "ui/combo_box_icon.h"
#include "ui/group_combo_box.h"
#include "ui/log_views.h"
#include "ui/qelt_menu.h"
#include "ui/tray_backend_wx.h"
#include "ui/wx_draw.h"

namespace {

// A chooser row in the program's look: the selected row filled with
// RGB(100,100,100) and white text, others white with black text.
class GalleryNodeItem : public CGroupComboBoxItem {
public:
    explicit GalleryNodeItem(const std::wstring& caption) : CGroupComboBoxItem(caption, nullptr, nullptr) {}
    void Draw(wxDC& dc, const DRAWITEMSTRUCT& dis) override {
        const bool selected = dis.itemState & ODS_SELECTED;
        const wxRect r = WxRect(dis.rcItem);
        dc.SetBrush(selected ? wxBrush(wxColour(100, 100, 100)) : *wxWHITE_BRUSH);
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.DrawRectangle(r);
        CScopedItemFont font(dc, 400);
        dc.SetTextForeground(selected ? *wxWHITE : *wxBLACK);
        DrawTextLine(dc, wxString(caption()), wxRect(r).Deflate(4, 0), wxALIGN_LEFT, true);
    }
};

// "[mm:ss]  " and one of the texts the scene logs, nothing more or less.
bool IsWholeLine(const std::string& l) {
    if (l.size() < 10 || l[0] != '[' || l[3] != ':' || l.compare(6, 3, "]  ") != 0) return false;
    const std::string text = l.substr(9);
    if (text == "progress in black" || text == "PASSED STEP IN GREEN" || text == "ERROR IN RED") return true;
    return text.size() > 3 && text[0] == 't' && (text[1] == 'a' || text[1] == 'b') && text[2] == '-' &&
           text.find_first_not_of("0123456789", 3) == std::string::npos;
}

std::string Utf8(const wxString& s) {
    return std::string(s.utf8_str());
}

}  // namespace

GALLERY_SCENE(lists) {
    auto* frame = new wxFrame(nullptr, wxID_ANY, "Lists", wxDefaultPosition, wxSize(560, 460),
                              wxBORDER_NONE | wxFRAME_NO_TASKBAR);
    auto* p = new wxPanel(frame);
    p->SetBackgroundColour(*wxWHITE);

    // Log views.
    auto* log = new CTestingLogRichedit(p, wxID_ANY, wxPoint(10, 10), wxSize(300, 150), wxTE_READONLY);
    log->Init();
    log->SetShowTime(true);
    log->AddLog(L"progress in black", 1);
    log->AddLog(L"PASSED STEP IN GREEN", 2);
    log->AddLog(L"ERROR IN RED", 3);
    registry.Add("log", log, [log] {
        // Every line of the text, whole: "[mm:ss]  text".
        const wxString text = log->GetValue();
        int lines = 0, whole = 0;
        for (const wxString& l : wxSplit(text, '\n', 0)) {
            if (l.empty()) continue;
            ++lines;
            whole += IsWholeLine(Utf8(l)) ? 1 : 0;
        }
        return "lines=" + std::to_string(lines) + " whole=" + std::to_string(whole);
    });
    registry.AddAction("log.flood", [log] {
        // Two threads at once; the control outlives them (joined here).
        auto writer = [log](char tag) {
            for (int i = 0; i < 300; ++i) {
                const std::wstring text = std::wstring(L"t") + wchar_t(tag) + L"-" + std::to_wstring(i);
                log->AddLog(text.c_str(), i % 3 + 1);
            }
        };
        std::thread a(writer, 'a'), b(writer, 'b');
        a.join();
        b.join();
    });

    auto* edit = new CEditEx(p, wxID_ANY, "ss://first ss://second", wxPoint(320, 10), wxSize(220, 26));
    registry.Add("editex", edit, [edit] {
        long from = 0, to = 0;
        edit->GetSelection(&from, &to);
        return "sel=" + std::to_string(from) + "-" + std::to_string(to) + " len=" +
               std::to_string(edit->GetLastPosition()) + " value=" + Utf8(edit->GetValue()).substr(0, 8);
    });

    // Group combo box.
    auto* combo = new CGroupComboBox(p, wxID_ANY, wxPoint(320, 50), wxSize(220, 26));
    combo->SetMinVisible(8);
    combo->SetRowHeight(20);
    const int asia = combo->AddGroup(new CGroupComboBoxHeader(L"Asia", true));
    const int europe = combo->AddGroup(new CGroupComboBoxHeader(L"Europe", true));
    combo->AddGroup(new CGroupComboBoxHeader(L"Empty", false));
    for (const wchar_t* c : {L"Tokyo", L"Osaka", L"Seoul"}) combo->AddItem(new GalleryNodeItem(c), asia);
    for (const wchar_t* c : {L"Paris", L"Berlin"}) combo->AddItem(new GalleryNodeItem(c), europe);
    combo->SelectItem(3);  // Tokyo, the last row of Asia
    auto changes = std::make_shared<int>(0);
    combo->Bind(wxEVT_COMBOBOX, [changes](wxCommandEvent&) { ++*changes; });
    registry.Add("combo", combo, [combo, changes] {
        const auto& m = combo->model();
        return "sel=" + std::to_string(m.GetCurSel()) + " text=" + Utf8(wxString(m.GetWindowText())) +
               " dropped=" + std::to_string(m.IsDropped() ? 1 : 0) + " changes=" + std::to_string(*changes);
    });
    registry.AddRect("combo.popup", [combo] {
        wxWindow* w = combo->GetPopupWindow();
        return w && combo->IsPopupShown() ? w->GetScreenRect() : wxRect();
    });

    // Icon combo box.
    auto* icons = new CComboBoxIcon(p, wxID_ANY, wxPoint(320, 90), wxSize(220, 26));
    icons->LoadIcons(153);
    icons->LoadIcons(153);
    for (const wchar_t* c : {L"Global", L"Rules", L"Browser"}) icons->AddItem(c, 0);
    icons->SetSelection(1);
    registry.Add("iconcombo", icons, [icons] {
        return "images=" + std::to_string(icons->GetImageList() ? icons->GetImageList()->GetImageCount() : 0);
    });

    // Bitmap buttons.
    auto* bmp = new CBmpButton(p, wxID_ANY, "Smart DNS", wxPoint(320, 130));
    bmp->SetBitmap(240, true);
    auto* bmpOff = new CBmpButton(p, wxID_ANY, "Off", wxPoint(420, 130));
    bmpOff->SetBitmap(240, true);
    bmpOff->Enable(false);
    auto clicks = std::make_shared<int>(0);
    bmp->Bind(wxEVT_BUTTON, [clicks](wxCommandEvent&) { ++*clicks; });
    registry.Add("bmp", bmp, [bmp, clicks] {
        return "row=" + std::to_string(bmp->ShownRow()) + " clicks=" + std::to_string(*clicks) +
               " w=" + std::to_string(bmp->GetSize().x) + " h=" + std::to_string(bmp->GetSize().y);
    });
    registry.Add("bmp.disabled", bmpOff);

    // What lives as long as the frame: the menu and its images, the tray icon.
    struct Holder {
        wxImageList images{16, 16, true, 1};
        QeltMenu menu;
        std::unique_ptr<CTrayIcon> tray;
    };
    auto* holder = new Holder;
    frame->Bind(wxEVT_DESTROY, [holder, frame](wxWindowDestroyEvent& e) {
        if (e.GetEventObject() == frame) delete holder;
        e.Skip();
    });

    // Owner-drawn menu, opened by an action at a fixed place.
    holder->images.Add(ToWxBitmap(LoadPictureResource("bitmap", 153)), *wxWHITE);
    wxImageList* menuImages = &holder->images;
    QeltMenu* menu = &holder->menu;
    QeltMenu::SetMenuDrawMode(1);
    menu->AppendMenu(0, 101, L"Connect\tCtrl+K", menuImages, 0);
    menu->AppendMenu(0, 102, L"Test node", menuImages, 3);
    menu->AppendMenu(0, 0, L"ignored", nullptr, -1);
    menu->AppendMenu(MF_GRAYED, 103, L"Disabled item, the widest", menuImages, 4);
    menu->AppendMenu(MF_CHECKED, 104, L"Checked item", nullptr, -1);
    menu->AppendMenu(0, 105, L"Exit", menuImages, 11);
    auto menuResult = std::make_shared<int>(-1);
    auto menuEvents = std::make_shared<int>(0);
    frame->Bind(wxEVT_MENU, [menuEvents](wxCommandEvent& e) { *menuEvents = e.GetId(); });
    registry.AddAction("menu.open", [menu, frame, menuResult] {
        *menuResult = menu->TrackPopupMenu(TPM_RETURNCMD, 700, 300, frame);
    });
    registry.AddAction("menu.notify", [menu, frame] { menu->TrackPopupMenu(0, 700, 300, frame); });
    registry.Add("menu", frame, [menu, menuResult, menuEvents] {
        return "open=" + std::to_string(menu->IsTracking() ? 1 : 0) + " result=" + std::to_string(*menuResult) +
               " event=" + std::to_string(*menuEvents);
    });
    registry.AddRect("menu.popup", [menu] {
        wxWindow* w = menu->GetPopupWindow();
        return w ? w->GetScreenRect() : wxRect();
    });

    // Tray icon 128 with its tooltip.
    holder->tray = std::make_unique<CTrayIcon>(128, MakeWxTrayBackend());
    CTrayIcon* tray = holder->tray.get();
    tray->SetNotificationWnd(frame, 2025);
    tray->SetIcon(128);
    // The mouse messages the icon sent to its window, in order.
    auto trayNotes = std::make_shared<std::string>();
    frame->Bind(EVT_TRAY_NOTIFY, [trayNotes](wxCommandEvent& e) {
        *trayNotes += (trayNotes->empty() ? "" : ",") + std::to_string(e.GetExtraLong());
    });
    registry.Add("tray", frame, [tray, trayNotes] {
        return "shown=" + std::to_string(tray->IsShown() ? 1 : 0) + " notes=" + *trayNotes +
               " tip=" + Utf8(wxString(tray->data().szTip));
    });
    registry.AddAction("tray.remove", [tray] { tray->SetIcon(0); });

    frame->Move(40, 480);
    frame->Show();
}
