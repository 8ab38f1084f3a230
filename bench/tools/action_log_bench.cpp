// The action-log window opening on N lines (construction, the text set in
// one call, shown and laid out) beside a bare multi-line text control in a
// plain dialog given the same text in one call (the ceiling). Median of
// several rounds each.
//
//   action_log_bench PROGRAM_DIR [LINES] [ROUNDS]  (on a display; bench/action_log_bench.sh)
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "dialogs/dialog_show_logs.h"
#include "foundation/app_paths.h"
#include "ui/base/skin_settings.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::vector<std::wstring> Lines(int n) {
    std::vector<std::wstring> lines;
    lines.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        lines.push_back(L"12:00:" + std::to_wstring(i % 60) + L" Step " + std::to_wstring(i) +
                        L": connecting through the node \x8282\x70B9 " + std::to_wstring(i * 7));
    return lines;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

class BenchApp : public wxApp {
public:
    bool OnInit() override {
        if (argc < 2) {
            std::fprintf(stderr, "usage: action_log_bench PROGRAM_DIR [LINES] [ROUNDS]\n");
            return false;
        }
        InitAppPaths(std::filesystem::path(argv[1].ToStdString()) / "bench");
        SetSkinDirectory((GetAppDir() / "skins").wstring().c_str());
        LoadSkin(L"default");
        if (argc > 2) lines_ = std::atoi(argv[2].c_str());
        if (argc > 3) rounds_ = std::atoi(argv[3].c_str());
        CallAfter([this] { Run(); });
        return true;
    }

private:
    // One opening: build, show, let it lay out and paint, close.
    double Open(const std::function<wxDialog*()>& make) {
        const Clock::time_point start = Clock::now();
        wxDialog* dlg = make();
        dlg->Show();
        dlg->Update();
        wxYield();
        const double ms = Ms(Clock::now() - start);
        dlg->Destroy();
        wxYield();
        return ms;
    }

    void Run() {
        const std::vector<std::wstring> lines = Lines(lines_);
        std::wstring joined;
        for (const std::wstring& l : lines) joined += l + L"\n";
        std::vector<double> window, bare;
        for (int r = 0; r < rounds_; ++r) {
            window.push_back(Open([&] { return new CDialogShowLogs(lines, nullptr); }));
            bare.push_back(Open([&] {
                auto* dlg = new wxDialog(nullptr, wxID_ANY, "bare", wxDefaultPosition, wxSize(446, 330));
                auto* text = new wxTextCtrl(dlg, wxID_ANY, wxEmptyString, wxPoint(0, 0), wxSize(444, 328),
                                            wxTE_MULTILINE | wxTE_READONLY | wxTE_RICH2);
                text->SetValue(wxString(joined));
                return dlg;
            }));
        }
        const double w = Median(window), b = Median(bare);
        std::printf("lines %d, rounds %d\n", lines_, rounds_);
        std::printf("%-22s %10.1f ms\n%-22s %10.1f ms\nratio %.2f (goal: at most 1.30)\n", "action-log window", w,
                    "bare text control", b, b > 0 ? w / b : 0);
        std::fflush(stdout);
        ExitMainLoop();
    }

    int lines_ = 10000;
    int rounds_ = 5;
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(BenchApp);

int main(int argc, char** argv) {
    return wxEntry(argc, argv);
}
