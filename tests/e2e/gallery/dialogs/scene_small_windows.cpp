// The small windows around a connection: the traffic panel on figures the
// scene sets, the current-node test window beside a main window at the
// screen's right edge (its tests are stand-ins that log a few lines), the
// about box with links the scene sets, and the action-log window with and
// without lines, and on a log longer than it shows ("actionlog.long": its
// state names the lines at the top and at the bottom of the view).
#include <wx/arrstr.h>
#include <wx/settings.h>
#include <wx/stattext.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "dialogs/about_dlg.h"
#include "dialogs/dialog_show_logs.h"
#include "dialogs/dialog_traffic.h"
#include "dialogs/testing_current_node_dlg.h"
#include "foundation/app_paths.h"
#include "nodes/edition/vantor_authorization.h"
#include "platform/open_url.h"
#include "tests/e2e/gallery/dialogs/scene_support.h"
#include "ui/hyperlink.h"
#include "ui/log_views.h"

namespace {

std::string RectWords(const wxRect& r) {
    return "x=" + std::to_string(r.x) + " y=" + std::to_string(r.y) + " w=" + std::to_string(r.width) +
           " h=" + std::to_string(r.height);
}

wxRect ScreenRect(wxWindow* w, const PixRect& r) {
    const wxPoint at = w->ClientToScreen(wxPoint(r.x, r.y));
    return wxRect(at.x, at.y, r.width, r.height);
}

class SceneSource : public ITrafficSource {
public:
    bool ReadFigures(TrafficFigures* out) override {
        std::lock_guard<std::mutex> lock(mutex);
        *out = figures;
        return true;
    }
    std::mutex mutex;
    TrafficFigures figures{L"1.46 K", L"0 B/s", 3};
};

// Logs the lines of a passing TCP step and a failing UDP step; a node on
// port 9 takes its time (a stopped run ends it early).
class SceneTester : public CTestingBase {
public:
    SceneTester(TestLogCallback cb, void* user, int option) : CTestingBase(cb, user, option) {}
    bool RunTest(CNodeInfo* node, int udp) override {
        Log(kTestLogInfo, "Testing started.");
        for (int i = 0; node && node->port == 9 && i < 1000 && !TestStopRequested(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (udp) return LogOutcome(false, "UDP relay...Passed!", "UDP relay...Unpassed!");
        LogOutcome(true, "TCP transmission...Passed!", "TCP transmission...UnPassed!");
        LogFormat(kTestLogPassed, "Latency : %d ms", 42);
        return true;
    }
};

int CountLines(const wxString& text) {
    int n = 0;
    for (wxUniChar c : text)
        if (c == '\n') ++n;
    return n;
}

}  // namespace

GALLERY_SCENE(traffic) {
    using namespace gallery;
    auto source = std::make_unique<SceneSource>();
    SceneSource* figures = source.get();
    auto* frame = new CSkinDialog(nullptr, wxID_ANY, "Traffic", wxSize(420, 64), 0);
    frame->Move(40, 40);
    auto* panel = new CDialogTraffic(frame->GetClientPanel(), wxPoint(0, 0), wxSize(420, 64), std::move(source));
    frame->Show();
    registry.Add("traffic", panel, [panel] {
        const TrafficFigures& f = panel->GetFigures();
        return "ticks=" + std::to_string(panel->GetTickCount()) + " connections=" + std::to_string(f.connections);
    });
    for (int i = 0; i < 3; ++i) {
        registry.AddRect("traffic.label" + std::to_string(i),
                         [panel, i] { return ScreenRect(panel, LayoutTrafficPanel(420, 64).labels[i]); });
        registry.AddRect("traffic.value" + std::to_string(i),
                         [panel, i] { return ScreenRect(panel, LayoutTrafficPanel(420, 64).values[i]); });
    }
    registry.AddAction("traffic.change", [figures] {
        std::lock_guard<std::mutex> lock(figures->mutex);
        ++figures->figures.connections;
    });
    AddGlyphState(registry, "traffic", [frame] { return CollectTexts(frame); });
}

GALLERY_SCENE(nodetest) {
    using namespace gallery;
    const int screen = wxSystemSettings::GetMetric(wxSYS_SCREEN_X);
    auto* main = new CSkinDialog(nullptr, wxID_ANY, "Main", wxSize(300, 380));
    main->Move(screen - main->GetSize().x, 20);
    main->Show();
    // A quick node and a slow one (port 9); nodes live as long as the program.
    static CNodeInfo quick, slow;
    for (CNodeInfo* n : {&quick, &slow}) {
        n->type = NodeTypeSSR;
        n->host = "127.0.0.1";
    }
    quick.port = 8388;
    slow.port = 9;
    auto* dlg = new CTestingCurrentNodeDlg(main, [](int, TestLogCallback cb, void* user, int option) {
        return std::unique_ptr<CTestingBase>(new SceneTester(cb, user, option));
    });
    registry.Add("main", main);
    registry.AddRect("nodetest", [dlg] { return dlg->IsShown() ? dlg->GetScreenRect() : wxRect(); });
    registry.AddRect("nodetest.log", [dlg] { return dlg->IsShown() ? dlg->GetLog()->GetScreenRect() : wxRect(); });
    registry.AddRect("nodetest.close", [dlg] { return dlg->GetSysButtonRect(0); });
    registry.AddState("nodetest", [dlg, screen] {
        return "flag=" + std::to_string(dlg->IsShownFlag()) + " shown=" + std::to_string(dlg->IsShown() ? 1 : 0) +
               " lines=" + std::to_string(CountLines(dlg->GetLog()->GetValue())) +
               " running=" + std::to_string(dlg->RunningTests()) + " screen=" + std::to_string(screen) + " " +
               RectWords(dlg->GetScreenRect());
    });
    // What the main window's test command does.
    auto start = [dlg, main](CNodeInfo* node) {
        dlg->SetSize(main->GetScreenRect().GetRight() + 1, main->GetScreenPosition().y, dlg->GetSize().x,
                     main->GetSize().y);
        dlg->ShowWindow(SW_SHOW);
        dlg->DockBeside(main);
        dlg->ClearNodes();
        dlg->AddNode(node);
        dlg->StartTest(kNodeTestTcpThenUdp, true);
    };
    registry.AddAction("nodetest.start", [start] { start(&quick); });
    registry.AddAction("nodetest.startslow", [start] { start(&slow); });
    AddGlyphState(registry, "nodetest", [dlg] { return CollectTexts(dlg); });
}

GALLERY_SCENE(about) {
    using namespace gallery;
    const std::filesystem::path program = GetAppDir();
    if (std::filesystem::exists(program / "xdg-open")) SetUrlOpenerProgram((program / "xdg-open").string());
    CVantorAuthorization* edition = CVantorAuthorization::GetInstance();
    edition->SetLink(CVantorAuthorization::kWebsite, "https://cendrow.example/site");
    edition->SetLink(CVantorAuthorization::kTelegramGroup, "https://t.example/group");
    auto* dlg = new CAboutDlg();
    dlg->Move(40, 140);
    dlg->Show();
    registry.Add("about", dlg);
    for (int id : {1013, 1014, 1015, 1047, 1048, 1054, 1055, 1116, 1004}) AddControl(registry, id, dlg->GetControl(id));
    registry.AddState("about", [dlg] {
        std::string out = "title=" + Utf8(dlg->GetTitle()) + " build=" +
                          Utf8(static_cast<wxStaticText*>(dlg->GetControl(1014))->GetLabel());
        for (int id : {1015, 1047, 1048, 1054, 1055})
            out += " " + std::to_string(id) + "=" + std::to_string(dlg->GetControl(id)->IsShown() ? 1 : 0);
        return out;
    });
    AddGlyphState(registry, "about", [dlg] { return CollectTexts(dlg); });
}

GALLERY_SCENE(actionlog) {
    using namespace gallery;
    const std::vector<std::wstring> lines = {L"\x6B63\x5728\x8FDE\x63A5\x2026", L"Connected.",
                                             L"\x5DF2\x65AD\x5F00\x8FDE\x63A5\x3002"};
    auto* full = new CDialogShowLogs(lines, nullptr);
    full->Move(20, 140);
    full->Show();
    auto* empty = new CDialogShowLogs({}, nullptr);
    empty->Move(20, 560);
    empty->Show();
    registry.Add("actionlog", full);
    registry.Add("actionlog.text", full->GetText());
    registry.Add("actionlog.empty", empty);
    for (auto [name, dlg] : {std::pair<std::string, CDialogShowLogs*>{"actionlog", full}, {"actionlog.empty", empty}}) {
        CDialogShowLogs* d = dlg;
        registry.AddState(name, [d] {
            return "title=" + Utf8(d->GetTitle()) + " lines=" + std::to_string(CountLines(d->GetText()->GetValue())) +
                   " first=" + Utf8(d->GetText()->GetLineText(0));
        });
    }
    AddGlyphState(registry, "actionlog", [full] { return CollectTexts(full); });

    std::vector<std::wstring> many;
    for (int i = 1; i < 300; ++i) many.push_back(L"Step " + std::to_wstring(i) + L": connecting\x2026");
    many.push_back(L"\x6700\x540E The newest line");
    auto* longer = new CDialogShowLogs(many, nullptr);
    longer->Move(500, 140);
    longer->Show();
    registry.Add("actionlog.long", longer);
    registry.Add("actionlog.long.text", longer->GetText());
    registry.AddState("actionlog.long", [longer] {
        wxTextCtrl* text = longer->GetText();
        const int height = text->GetClientSize().y;
        long column = 0, top = -1, bottom = -1;
        text->HitTest(wxPoint(8, 4), &column, &top);
        text->HitTest(wxPoint(8, height - 4), &column, &bottom);
        return "lines=" + std::to_string(CountLines(text->GetValue())) + " top=" + std::to_string(top) +
               " bottom=" + std::to_string(bottom) + " last=" + Utf8(text->GetLineText(299));
    });
}

// The test window with the real node tests, for a run inside the node-test
// lab's app namespace: the nodes come from CENDROW_LAB_NODES
// ("type:host:port[:password:method]" joined by ";"); "lab.line<i>" is the
// place of log line i, "lab.line<i>" state its text.
GALLERY_SCENE(nodetestlab) {
    using namespace gallery;
    static std::vector<std::unique_ptr<CNodeInfo>> nodes;
    const char* spec = std::getenv("CENDROW_LAB_NODES");
    wxArrayString rows = wxSplit(spec ? spec : "", ';');
    for (const wxString& row : rows) {
        wxArrayString f = wxSplit(row, ':');
        if (f.size() < 3) continue;
        auto node = std::make_unique<CNodeInfo>();
        node->type = wxAtoi(f[0]);
        node->host = f[1].ToStdString();
        node->port = static_cast<uint16_t>(wxAtoi(f[2]));
        if (f.size() >= 5) {
            node->password = f[3].ToStdString();
            node->method = f[4].ToStdString();
            node->protocol = "origin";
            node->obfs = "plain";
        }
        nodes.push_back(std::move(node));
    }
    auto* dlg = new CTestingCurrentNodeDlg(nullptr);
    dlg->SetSize(40, 40, 560, 800);
    dlg->ShowWindow(SW_SHOW);
    CTestingLogRichedit* log = dlg->GetLog();
    registry.Add("lab", dlg, [dlg, log] {
        return "running=" + std::to_string(dlg->RunningTests()) +
               " lines=" + std::to_string(CountLines(log->GetValue()));
    });
    registry.AddAction("lab.start", [dlg] {
        dlg->ClearNodes();
        for (auto& n : nodes) dlg->AddNode(n.get());
        dlg->StartTest(kNodeTestTcpThenUdp, true);
    });
    for (int i = 0; i < 40; ++i) {
        registry.AddRect("lab.line" + std::to_string(i), [log, i] {
            if (i >= log->GetNumberOfLines()) return wxRect();
            const wxPoint at = log->PositionToCoords(log->XYToPosition(0, i));
            if (at == wxDefaultPosition) return wxRect();
            const wxPoint screen = log->ClientToScreen(at);
            return wxRect(screen.x, screen.y, log->GetClientSize().x - at.x, log->GetCharHeight());
        });
        registry.AddState("lab.line" + std::to_string(i), [log, i] { return "text=" + Utf8(log->GetLineText(i)); });
    }
}
