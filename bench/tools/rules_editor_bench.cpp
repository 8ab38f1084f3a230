// The mode editor with 10,000 rule lines beside a bare multi-line text
// control given the same text (the ceiling): the time to open a mode, the
// time for 200 typed characters with the line counter, and the time to
// save, against parsing and saving the rules directly.
//
//   rules_editor_bench PROGRAM_DIR   (on a display; bench/rules_editor_bench.sh)
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "dialogs/dialog_add_new_proxy_mode.h"
#include "foundation/app_paths.h"
#include "foundation/message_box.h"
#include "foundation/text_convert.h"
#include "netconfig/proxy_mode.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLines = 10000;
constexpr int kRounds = 5;
constexpr int kTyped = 200;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double TimeMs(const std::function<void()>& fn) {
    const Clock::time_point start = Clock::now();
    fn();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::wstring RulesText() {
    std::wstring text;
    for (int i = 0; i < kLines; ++i)
        text += L"10." + std::to_wstring(i / 256) + L"." + std::to_wstring(i % 256) + L".0/24\r\n";
    return text;
}

void Settle() {
    for (int i = 0; i < 3; ++i) wxYield();
}

void Report(const char* what, double ours, double ceiling, double limit) {
    const double ratio = ceiling > 0 ? ours / ceiling : 0;
    std::printf("%-34s %9.2f ms  ceiling %9.2f ms  ratio %.2f (goal <= %.1f) %s\n", what, ours, ceiling, ratio,
                limit, ratio <= limit ? "ok" : "OVER");
}

class BenchApp : public wxApp {
public:
    bool OnInit() override {
        if (argc < 2) return false;
        InitAppPaths(std::filesystem::path(argv[1].ToStdString()) / "bench");
        CreateAppFolders();
        std::filesystem::create_directories(GetAppDir() / "rules");
        SetMessageBoxSink([](const std::wstring& text, const std::wstring&, unsigned) {
            std::fprintf(stderr, "box: %s\n", WideToUtf8String(text).c_str());
            return IDOK;
        });
        CallAfter([this] {
            Run();
            ExitMainLoop();
        });
        return true;
    }

private:
    void Run() {
        const std::wstring text = RulesText();
        CProxyModeMgr* mgr = CProxyModeMgr::GetInstance();
        mgr->LoadModes(GetAppDir(), 1);
        mgr->SaveMode(L"Big.rules", ProxyModeRules, L"Big", L"Big", 0, 0, text, 1, 0, 0, L"", 0);
        CProxyMode* mode = mgr->FindModeByPath(PathToWide(GetAppDir() / "rules" / "Big.rules"));
        if (!mode) return;

        std::vector<double> open, bareOpen, type, bareType, save, directSave;
        for (int round = 0; round < kRounds; ++round) {
            CDialogAddNewProxyMode* editor = nullptr;
            open.push_back(TimeMs([&] {
                editor = new CDialogAddNewProxyMode(mode, nullptr);
                editor->Show();
                Settle();
            }));
            wxDialog* bare = nullptr;
            wxTextCtrl* bareText = nullptr;
            bareOpen.push_back(TimeMs([&] {
                bare = new wxDialog(nullptr, wxID_ANY, "bare", wxDefaultPosition, wxSize(420, 460));
                bareText = new wxTextCtrl(bare, wxID_ANY, wxEmptyString, wxDefaultPosition, wxSize(400, 400),
                                          wxTE_MULTILINE | wxTE_DONTWRAP | wxVSCROLL);
                std::wstring formatted;
                mode->FormatRules(formatted);
                bareText->ChangeValue(wxString(formatted));
                bareText->SetInsertionPointEnd();
                bare->Show();
                Settle();
            }));
            type.push_back(TimeMs([&] {
                for (int i = 0; i < kTyped; ++i) editor->GetRulesEditor()->WriteText(i % 20 == 19 ? "\n" : "1");
                Settle();
            }));
            bareType.push_back(TimeMs([&] {
                for (int i = 0; i < kTyped; ++i) bareText->WriteText(i % 20 == 19 ? "\n" : "1");
                Settle();
            }));
            editor->Destroy();
            bare->Destroy();
            Settle();

            const std::wstring name = L"Saved" + std::to_wstring(round);
            save.push_back(TimeMs([&] {
                CDialogAddNewProxyModeCore core(nullptr);
                ProxyModeForm form;
                form.nameEn = name;
                form.rules = text;
                form.actionRow = 1;
                core.Save(form);
            }));
            directSave.push_back(TimeMs([&] {
                CProxyMode parsed;
                parsed.ParseRules(WideToUtf8String(text));
                mgr->SaveMode(L"Direct" + std::to_wstring(round) + L".rules", ProxyModeRules, L"Direct" + name,
                              L"Direct" + name, 0, 0, text, 1, 0, 0, L"", 0);
            }));
        }
        std::printf("Mode editor with %d rule lines, median of %d rounds:\n", kLines, kRounds);
        Report("open a mode", Median(open), Median(bareOpen), 1.5);
        Report("200 typed characters", Median(type), Median(bareType), 1.2);
        Report("save", Median(save), Median(directSave), 1.5);
    }
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(BenchApp);

int main(int argc, char** argv) { return wxEntry(argc, argv); }
