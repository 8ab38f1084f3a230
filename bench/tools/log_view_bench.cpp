// How fast a log view takes lines. Under a display (Xvfb), in one run:
//   ceiling: the same lines appended to a bare wxTextCtrl on the window's
//            thread, one AppendText each;
//   log:     the lines added through CTestingLogRichedit::AddLog from a
//            worker thread (time prefix on, levels 1 to 3);
// and, during the log flood, the round trip of a call posted to the window's
// thread every 2 ms (p50, p99, max).
//   log_view_bench [lines]
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "ui/log_views.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

class BenchApp : public wxApp {
public:
    bool OnInit() override {
        if (argc > 1) lines_ = std::max(1, std::atoi(argv[1].mb_str()));
        frame_ = new wxFrame(nullptr, wxID_ANY, "bench", wxPoint(0, 0), wxSize(900, 700));
        bare_ = new wxTextCtrl(frame_, wxID_ANY, "", wxPoint(0, 0), wxSize(440, 680), wxTE_MULTILINE | wxTE_RICH2);
        log_ = new CTestingLogRichedit(frame_, wxID_ANY, wxPoint(450, 0), wxSize(440, 680), wxTE_READONLY);
        log_->Init();
        log_->SetShowTime(true);
        frame_->Show();
        CallAfter([this] { RunCeiling(); });
        return true;
    }

private:
    std::wstring Line(int i) const { return L"node test step " + std::to_wstring(i) + L": connected, 42 ms"; }

    void RunCeiling() {
        const auto start = Clock::now();
        for (int i = 0; i < lines_; ++i) bare_->AppendText(wxString(L"[12:34]  " + Line(i) + L"\n"));
        bare_->ShowPosition(bare_->GetLastPosition());
        wxYield();
        ceiling_ = Clock::now() - start;
        CallAfter([this] { RunLog(); });
    }

    void RunLog() {
        start_ = Clock::now();
        done_ = false;
        worker_ = std::thread([this] {
            for (int i = 0; i < lines_; ++i) log_->AddLog(Line(i).c_str(), i % 3 + 1);
            CallAfter([this] { LogDone(); });
        });
        prober_ = std::thread([this] {
            while (!done_.load()) {
                const auto posted = Clock::now();
                CallAfter([this, posted] {
                    std::lock_guard<std::mutex> lock(mutex_);
                    trips_.push_back(Clock::now() - posted);
                });
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }

    void LogDone() {
        // Until every line is in the text (deliveries come in batches).
        while (log_->GetNumberOfLines() - 1 < lines_) {
            log_->Flush();
            wxYield();
        }
        const auto took = Clock::now() - start_;
        done_ = true;
        worker_.join();
        prober_.join();
        wxYield();
        std::vector<Clock::duration> trips;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            trips = trips_;
        }
        std::sort(trips.begin(), trips.end());
        auto pct = [&](double p) {
            if (trips.empty()) return 0.0;
            return Seconds(trips[std::min(trips.size() - 1, static_cast<size_t>(p * trips.size()))]) * 1000;
        };
        const long shown = log_->GetNumberOfLines();
        std::printf("lines                 %d\n", lines_);
        std::printf("ceiling (bare, UI)    %.3f s  %.1f us/line  %.0f lines/s\n", Seconds(ceiling_),
                    Seconds(ceiling_) * 1e6 / lines_, lines_ / Seconds(ceiling_));
        std::printf("log view (worker)     %.3f s  %.1f us/line  %.0f lines/s  (%.0f %% of the ceiling's rate)\n",
                    Seconds(took), Seconds(took) * 1e6 / lines_, lines_ / Seconds(took),
                    100.0 * Seconds(ceiling_) / Seconds(took));
        std::printf("lines in the log view %ld\n", shown - 1);
        std::printf("UI round trip during the flood: %zu probes, p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                    trips.size(), pct(0.50), pct(0.99), pct(1.0));
        std::fflush(stdout);
        frame_->Destroy();
    }

    int lines_ = 10000;
    wxFrame* frame_ = nullptr;
    wxTextCtrl* bare_ = nullptr;
    CTestingLogRichedit* log_ = nullptr;
    Clock::duration ceiling_{};
    Clock::time_point start_;
    std::thread worker_, prober_;
    std::atomic<bool> done_{false};
    std::mutex mutex_;
    std::vector<Clock::duration> trips_;
};

}  // namespace

wxIMPLEMENT_APP(BenchApp);
