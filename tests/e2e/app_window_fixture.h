#pragma once
// The program with its windows, on a virtual display of the test's own
// (Xvfb with trayer), inside the app topology: its start on that display,
// its windows as xdotool finds them, and the places of the main window's
// controls as its test hook writes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/app_topology_fixture.h"
#include "tests/e2e/private_display.h"
#include "tests/support/screenshot.h"

namespace apptopology {

using testsupport::PrivateDisplay;
using testsupport::Rect;

inline bool WaitUntil(const std::function<bool()>& ready, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return ready();
}

class AppWindowTest : public AppConnectTest {
protected:
    void SetUp() override {
        AppConnectTest::SetUp();
        if (IsSkipped()) return;
        if (display_.name().empty()) GTEST_SKIP() << display_.Why();
        display_.StartTrayer();
    }

    // The program on the test's display. No system bus unless one is
    // given; `prepared`: a run whose folder the test has filled, started
    // without waiting for its channel (a login may come first).
    std::unique_ptr<ProgramRun> StartWindowed(const std::vector<std::string>& args = {},
                                              const std::string& busAddress = "", ProgramRun* prepared = nullptr) {
        auto owned = prepared ? nullptr : std::make_unique<ProgramRun>(topo_->app());
        ProgramRun* run = prepared ? prepared : owned.get();
        run->SetDisplay(display_.name());
        run->AddEnv("DBUS_SYSTEM_BUS_ADDRESS=" +
                    (busAddress.empty() ? "unix:path=" + (run->programDir() / "no-bus").string() : busAddress));
        run->AddEnv("CENDROW_WINDOW_RECTS=" + (run->programDir() / "temp" / "rects.txt").string());
        // As the gallery runs its windows: a fixed theme and language, and
        // the system libraries' own leaks and faults set aside. The
        // suppression lists go into the program folder, which a run as the
        // desktop user can read wherever the source tree is.
        const char* source = std::getenv("CENDROW_SOURCE_DIR");
        const std::filesystem::path gallery = std::filesystem::path(source ? source : ".") / "tests/e2e/gallery";
        for (const char* list : {"lsan.supp", "ubsan.supp"})
            run->WriteProgramFile(std::filesystem::path("temp") / list, ReadFile(gallery / list));
        const std::string lists = (run->programDir() / "temp").string() + "/";
        const char* ubsan = std::getenv("UBSAN_OPTIONS");
        for (const std::string& assignment :
             {std::string("GTK_THEME=Adwaita"), std::string("LANG=C.UTF-8"), std::string("NO_AT_BRIDGE=1"),
              "LSAN_OPTIONS=suppressions=" + lists + "lsan.supp:print_suppressions=0",
              "UBSAN_OPTIONS=" + std::string(ubsan && *ubsan ? std::string(ubsan) + ":" : "") +
                  "suppressions=" + lists + "ubsan.supp"})
            run->AddEnv(assignment);
        run->Start(args);
        // The channel opens with the main window; the login comes before it.
        if (!prepared) {
            EXPECT_TRUE(run->WaitChannel()) << run->Log();
        }
        return owned;
    }
    // The visible windows whose title matches, that are windows, not the
    // tray icon's small plug (which bears the program's name too).
    size_t VisibleProgramWindows(const std::string& title = "^Cendrow$") {
        size_t n = 0;
        for (const std::string& id : display_.VisibleWindows(title)) {
            const Rect r = display_.WindowRect(id);
            if (r.w >= 100 && r.h >= 100) ++n;
        }
        return n;
    }
    // The tray icon: the small visible window of the program's name, with
    // its place on the screen; empty while there is none.
    Rect TrayIconRect() {
        for (const std::string& id : display_.VisibleWindows("^Cendrow$")) {
            const Rect r = display_.WindowRect(id);
            if (r.w > 0 && r.w < 100 && r.h > 0 && r.h < 100) return r;
        }
        return {};
    }
    // The main window's control rectangles, as its test hook writes them.
    static std::string Rects(ProgramRun& run) { return ReadFile(run.programDir() / "temp" / "rects.txt"); }
    // The rectangle of one control (by its template id); empty while the
    // window reports none.
    static Rect ControlRect(ProgramRun& run, int id) {
        std::istringstream in(Rects(run));
        for (std::string line; std::getline(in, line);) {
            std::istringstream words(line);
            std::string word;
            int control = 0;
            Rect r;
            if (words >> word >> control >> r.x >> r.y >> r.w >> r.h && word == "RECT" && control == id) return r;
        }
        return {};
    }
    // The program's visible windows (xdotool's ids).
    std::vector<std::string> WindowsOf(ProgramRun& run) {
        std::string out;
        display_.Xdo({"search", "--onlyvisible", "--pid", std::to_string(run.process().pid())}, &out);
        std::vector<std::string> ids;
        std::istringstream in(out);
        for (std::string id; in >> id;) ids.push_back(id);
        return ids;
    }
    // Clicks `button` at (x, y) and returns the popup that opens: a visible
    // window of the program's that was not there before. Empty when none
    // opened.
    Rect ClickForPopup(ProgramRun& run, int x, int y, int button = 1) {
        const std::vector<std::string> before = WindowsOf(run);
        EXPECT_TRUE(display_.ClickAt(x, y, button));
        Rect popup;
        WaitUntil(
            [&] {
                for (const std::string& id : WindowsOf(run)) {
                    if (std::find(before.begin(), before.end(), id) != before.end()) continue;
                    const Rect r = display_.WindowRect(id);
                    if (r.w > 10 && r.h > 10) popup = r;
                }
                return popup.w > 0;
            },
            std::chrono::seconds(20));
        return popup;
    }
    // Waits until no popup opened by ClickForPopup is left: the program's
    // windows are `windows` again.
    bool PopupGone(ProgramRun& run, const std::vector<std::string>& windows) {
        return WaitUntil([&] { return WindowsOf(run) == windows; }, std::chrono::seconds(20));
    }
    // The middle of row `row` of `rows` equal rows filling a popup (a list
    // or a menu) inside its one-pixel outline.
    static std::pair<int, int> RowMiddle(const Rect& popup, int rows, int row) {
        const int height = (popup.h - 2) / rows;
        return {popup.x + popup.w / 3, popup.y + 1 + row * height + height / 2};
    }
    // One row of a list popup, inside the outline.
    static Rect ListRow(const Rect& popup, int rows, int row) {
        const int height = (popup.h - 2) / rows;
        return {popup.x + 1, popup.y + 1 + row * height, popup.w - 2, height};
    }

    // What the program said: its output and its log.
    static std::string Report(ProgramRun& run) {
        return "--- output ---\n" + run.Log() + "--- log ---\n" + ReadFile(run.programDir() / "log" / "Cendrow");
    }
    // Prints the program's report when the test has failed by the time it goes.
    class ReportOnFailure {
    public:
        explicit ReportOnFailure(ProgramRun& run) : run_(run) {}
        ~ReportOnFailure() {
            if (::testing::Test::HasFailure()) std::cerr << Report(run_);
        }
        ReportOnFailure(const ReportOnFailure&) = delete;
        ReportOnFailure& operator=(const ReportOnFailure&) = delete;

    private:
        ProgramRun& run_;
    };

    PrivateDisplay display_;
};

}  // namespace apptopology
