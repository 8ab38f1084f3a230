// The node chooser beside a bare owner-drawn combo box with the same texts
// and a plain text draw (the ceiling): the time to fill each with N nodes in
// 40 groups, the time to page through each open list, and the p99 of a
// user-interface round trip that a thread posts every 2 ms meanwhile.
//
//   chooser_bench PROGRAM_DIR [N...]   (on a display; bench/chooser_bench.sh)
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/odcombo.h>
#include <wx/vlbox.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "dialogs/base/node_rows.h"
#include "dialogs/node_combo.h"
#include "foundation/app_paths.h"
#include "foundation/text_convert.h"
#include "nodes/node_info.h"
#include "nodes/node_mgr.h"

namespace {

using Clock = std::chrono::steady_clock;

double g_slowestPageMs = 0;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The ceiling: rows drawn as plain text, nothing else.
class BareCombo : public wxOwnerDrawnComboBox {
public:
    BareCombo(wxWindow* parent)
        : wxOwnerDrawnComboBox(parent, wxID_ANY, wxEmptyString, wxPoint(10, 60), wxSize(460, 26), 0, nullptr,
                               wxCB_READONLY) {}
    void OnDrawItem(wxDC& dc, const wxRect& rect, int item, int) const override {
        if (item >= 0) dc.DrawText(GetString(static_cast<unsigned>(item)), rect.x + 2, rect.y + 2);
    }
    wxCoord OnMeasureItem(size_t) const override { return 20; }
    wxCoord OnMeasureItemWidth(size_t) const override { return 400; }
};

// Round trips posted from a thread while the window works.
class RoundTrips {
public:
    void Start() {
        running_ = true;
        thread_ = std::thread([this] {
            while (running_) {
                const Clock::time_point sent = Clock::now();
                wxTheApp->CallAfter([this, sent] {
                    std::lock_guard<std::mutex> lock(m_);
                    samples_.push_back(Ms(Clock::now() - sent));
                });
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    double StopP99() {
        running_ = false;
        thread_.join();
        wxTheApp->ProcessPendingEvents();
        std::lock_guard<std::mutex> lock(m_);
        if (samples_.empty()) return 0;
        std::sort(samples_.begin(), samples_.end());
        const double p99 = samples_[std::min(samples_.size() - 1, samples_.size() * 99 / 100)];
        samples_.clear();
        return p99;
    }

private:
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::mutex m_;
    std::vector<double> samples_;
};

// Opens the list of `combo` (the time in `openMs`) and pages through it
// from the top to the end.
double PageThrough(wxOwnerDrawnComboBox* combo, double& openMs) {
    const Clock::time_point open = Clock::now();
    combo->Popup();
    wxYield();
    openMs = Ms(Clock::now() - open);
    auto* list = dynamic_cast<wxVListBox*>(combo->GetPopupControl()->GetControl());
    const Clock::time_point start = Clock::now();
    if (list) {
        list->ScrollToRow(0);
        while (list->ScrollPages(1)) {
            const Clock::time_point page = Clock::now();
            list->Update();
            wxYield();
            g_slowestPageMs = std::max(g_slowestPageMs, Ms(Clock::now() - page));
        }
    }
    const double ms = Ms(Clock::now() - start);
    combo->Dismiss();
    wxYield();
    return ms;
}

void FillNodes(int count) {
    CNodeMgr::ReleaseInstance();
    CNodeMgr* mgr = CNodeMgr::GetInstance();
    for (int i = 0; i < count; ++i) {
        NodeParams p;
        p.type = NodeTypeSSR;
        p.host = "node" + std::to_string(i) + ".example.net";
        p.port = 8388;
        p.password = "pw";
        p.method = "aes-256-gcm";
        p.group = "Group " + std::to_string(i % 40);
        if (i % 3 == 0) p.remarks = "Node " + std::to_string(i);
        CNodeInfo* node = mgr->AddNode(p);
        if (node) {
            node->latency = static_cast<uint32_t>(i % 500);
            node->countryIndex = i % 41;
        }
    }
}

class BenchApp : public wxApp {
public:
    bool OnInit() override {
        if (argc < 2) {
            std::fprintf(stderr, "usage: chooser_bench PROGRAM_DIR [N...]\n");
            return false;
        }
        InitAppPaths(std::filesystem::path(argv[1].ToStdString()) / "bench");
        for (int i = 2; i < argc; ++i) counts_.push_back(std::atoi(argv[i].c_str()));
        if (counts_.empty()) counts_ = {2000, 20000};
        frame_ = new wxFrame(nullptr, wxID_ANY, "chooser bench", wxPoint(0, 0), wxSize(500, 140));
        frame_->Show();
        CallAfter([this] { Run(); });
        return true;
    }

private:
    void Run() {
        std::printf("%-8s %-8s %10s %10s %10s %14s\n", "nodes", "combo", "fill_ms", "open_ms", "page_ms",
                    "roundtrip_p99");
        for (int n : counts_) {
            FillNodes(n);
            // The same texts for the ceiling: headers and node captions in chooser order.
            std::vector<wxString> texts;
            {
                GroupComboModel model;
                FillNodeRows(model, -1, [](const std::wstring& caption, int icon, CNodeInfo* node) {
                    return new CProxyListGroupComboBoxItemWithIcon(caption, icon, nullptr, node);
                });
                for (int r = 0; r < model.GetCount(); ++r) texts.emplace_back(model.GetItem(r)->caption());
            }
            Measure(n, "chooser", [this] {
                auto* c =
                    new CProxyListGroupComboBoxWithIcons(frame_, wxID_ANY, wxPoint(10, 10), wxSize(460, 26));
                return std::pair<wxOwnerDrawnComboBox*, std::function<void()>>(c, [c] { c->FillNodes(-1); });
            });
            Measure(n, "bare", [this, texts] {
                auto* c = new BareCombo(frame_);
                return std::pair<wxOwnerDrawnComboBox*, std::function<void()>>(c, [c, texts] {
                    c->Clear();
                    c->Append(std::vector<wxString>(texts));
                });
            });
        }
        std::fflush(stdout);
        CNodeMgr::ReleaseInstance();
        frame_->Destroy();
        ExitMainLoop();
    }

    template <typename Make>
    void Measure(int n, const char* name, Make make) {
        auto [combo, fill] = make();
        RoundTrips trips;
        trips.Start();
        const Clock::time_point start = Clock::now();
        fill();
        const double fillMs = Ms(Clock::now() - start);
        wxYield();
        double openMs = 0;
        const double pageMs = PageThrough(combo, openMs);
        const double p99 = trips.StopP99();
        std::printf("%-8d %-8s %10.1f %10.1f %10.1f %14.1f  slowest page %.1f\n", n, name, fillMs, openMs,
                    pageMs, p99, g_slowestPageMs);
        g_slowestPageMs = 0;
        std::fflush(stdout);
        combo->Destroy();
        wxYield();
    }

    wxFrame* frame_ = nullptr;
    std::vector<int> counts_;
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(BenchApp);

int main(int argc, char** argv) {
    return wxEntry(argc, argv);
}
