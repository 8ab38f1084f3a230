// Batch add of 5,000 share links (ss, ssr and the program's own scheme, one
// in ten malformed, about 1 MB) beside CNodeMgr::AddNodeFromLink looped on
// the same pieces; then the proxy chooser filled with those nodes beside a
// bare report-view wxListCtrl given the same row texts.
//
//   link_import_bench PROGRAM_DIR   (on a display; bench/link_import_bench.sh)
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/listctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "dialogs/base/link_import.h"
#include "dialogs/base/subscriptions_core.h"
#include "dialogs/dialog_ssr_subscriptions.h"
#include "dialogs/report_list.h"
#include "foundation/app_paths.h"
#include "foundation/base64.h"
#include "foundation/text_convert.h"
#include "nodes/node_mgr.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string UrlSafe(std::string b64) {
    for (char& c : b64) c = c == '+' ? '-' : c == '/' ? '_' : c;
    while (!b64.empty() && b64.back() == '=') b64.pop_back();
    return b64;
}

std::wstring BatchText(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        const std::string host = "h" + std::to_string(i) + ".example";
        const std::string remarks = "node " + std::to_string(i) + std::string(80, 'r');
        const std::string r64 = UrlSafe(Base64Encode(remarks.data(), remarks.size()));
        std::string link;
        if (i % 10 == 9) {
            link = "ssr://" + host + ":notaport:origin:rc4-md5:plain:eA/?remarks=" + r64;
        } else if (i % 3 == 0) {
            const std::string user = "aes-256-gcm:password" + std::to_string(i);
            link = "ss://" + UrlSafe(Base64Encode(user.data(), user.size())) + "@" + host + ":8388#" +
                   std::string(60, 'x');
        } else if (i % 3 == 1) {
            link = "ssr://" + host + ":443:auth_chain_a:chacha20:tls1.2_ticket_auth:" +
                   UrlSafe(Base64Encode("pw", 2)) + "/?remarks=" + r64 + "&group=" + UrlSafe(Base64Encode("G", 1));
        } else {
            link = "xvantor://user" + std::string(60, 'u') + ":none:pw" + std::to_string(i) + "@5:" + host + ":1080";
        }
        text += link;
        text += i % 2 ? "\r\n" : ", ";
    }
    return Utf8ToWideString(text);
}

template <typename F>
double Best(int runs, F f) {
    double best = 1e18;
    for (int r = 0; r < runs; ++r) best = std::min(best, f());
    return best;
}

class BenchApp : public wxApp {
public:
    bool OnInit() override {
        InitAppPaths(std::string(wxApp::argv[1].utf8_str()) + "/cendrow");
        const std::wstring text = BatchText(5000);
        std::printf("batch text: %zu bytes\n", WideToUtf8String(text).size());

        int added = 0;
        const double batch = Best(5, [&] {
            CNodeMgr::ReleaseInstance();
            const auto t = Clock::now();
            added = BatchAddLinks(text).added;
            return Ms(Clock::now() - t);
        });
        const std::vector<std::string> pieces = SplitBatchLinks(text);
        int looped = 0;
        const double loop = Best(5, [&] {
            CNodeMgr::ReleaseInstance();
            looped = 0;
            const auto t = Clock::now();
            for (const std::string& piece : pieces)
                if (CNodeMgr::GetInstance()->AddNodeFromLink(piece)) ++looped;
            return Ms(Clock::now() - t);
        });
        std::printf("batch add: %.1f ms (%d added), AddNodeFromLink loop: %.1f ms (%d added), ratio %.2f (goal <= 1.2)\n",
                    batch, added, loop, looped, batch / loop);

        // The chooser's fill beside a bare list given the same texts.
        auto* frame = new wxFrame(nullptr, wxID_ANY, "bench", wxPoint(0, 0), wxSize(600, 500));
        frame->Show();
        std::vector<std::wstring> rows;
        for (CNodeInfo* node : CNodeMgr::GetInstance()->GetNodes()) rows.push_back(ProxyChooserRowText(*node, false));
        auto* bare = new wxListCtrl(frame, wxID_ANY, wxPoint(0, 0), wxSize(600, 500),
                                    wxLC_REPORT | wxLC_SINGLE_SEL | wxLC_HRULES | wxLC_VRULES);
        bare->AppendColumn("Proxy", wxLIST_FORMAT_LEFT, 560);
        const double plain = Best(5, [&] {
            const auto t = Clock::now();
            bare->DeleteAllItems();
            long i = 0;
            for (const std::wstring& row : rows) {
                bare->InsertItem(i, row);
                bare->SetItemPtrData(i, static_cast<wxUIntPtr>(i));
                ++i;
            }
            bare->Update();
            return Ms(Clock::now() - t);
        });
        bare->Destroy();
        auto* chooser = new CDialogSelectProxy(frame);
        chooser->Show();
        const double fill = Best(5, [&] {
            const auto t = Clock::now();
            chooser->Fill();
            chooser->GetList()->Update();
            return Ms(Clock::now() - t);
        });
        std::printf("chooser fill of %zu nodes: %.1f ms, bare wxListCtrl: %.1f ms, ratio %.2f (goal <= 1.5)\n",
                    rows.size(), fill, plain, fill / plain);
        chooser->Destroy();
        frame->Destroy();
        // Ends through the loop, so the run's exit status is a success.
        CallAfter([this] { ExitMainLoop(); });
        return true;
    }
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(BenchApp);

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: link_import_bench PROGRAM_DIR\n");
        return 2;
    }
    return wxEntry(argc, argv);
}
