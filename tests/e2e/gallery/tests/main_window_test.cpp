// The main window in the dialog gallery on the virtual display: the base
// window without an account service and the account edition, their places
// (also as the window writes them for CENDROW_WINDOW_RECTS), pictures,
// menus, hiding to the tray, and every text in Simplified Chinese.
//
// With CENDROW_SCREENSHOT_DIR set, each test leaves its screenshots there.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/e2e/gallery/tests/gallery_driver.h"
#include "tests/support/process.h"

using namespace gallerytest;

namespace {

const char* kChineseLanguage = "[basic]\nselected=1\nlang1=Chinese,2052\n";
// A service nobody answers on: the account edition runs, nothing leaves the machine.
const char* kServices = "[basic]\naccount_url=https://127.0.0.1:9\naccount_timeout=1\n";
const Rgb kDisconnectedCore{120, 120, 130};

void SaveShot(const std::string& name) {
    const char* dir = std::getenv("CENDROW_SCREENSHOT_DIR");
    if (!dir || !*dir) return;
    Xdo({"mousemove", "1270", "1010"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    testsupport::RunCommand({"import", "-window", "root", "-crop", "600x620+40+10", std::string(dir) + "/" + name + ".png"});
}

// The RECT lines the window wrote, by control id.
std::map<std::string, Rect> ReadRectFile(const std::string& path) {
    std::map<std::string, Rect> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string word, name;
        Rect r;
        if (words >> word >> name >> r.x >> r.y >> r.w >> r.h && word == "RECT") out[name] = r;
    }
    return out;
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { setenv("CENDROW_WINDOW_RECTS", rectFile.c_str(), 1); }
    void TearDown() override { unsetenv("CENDROW_WINDOW_RECTS"); }
    bool Loaded(Gallery& g) {
        return WaitFor([&] { return g.StateHas("main", "loaded=1"); }, std::chrono::seconds(20));
    }

    testsupport::TempDir dir{"cendrow-main-window"};
    std::string rectFile = (dir.path() / "rects").string();
};

TEST_F(MainWindow, BaseWindowWithoutService) {
    REQUIRE_DISPLAY();
    Gallery g({"mainbase"}, {}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    ASSERT_TRUE(Loaded(g)) << g.State("main");
    EXPECT_TRUE(g.StateHas("main", "nodes=5")) << "two group headers, three nodes: " << g.State("main");
    EXPECT_NE(g.State("main").find("tip=Cendrow 2.6 Disconnected"), std::string::npos) << g.State("main");
    EXPECT_TRUE(g.StateHas("main", "traffic=1")) << "the traffic panel: " << g.State("main");
    // "Logout" grayed without a service; "Exit" enabled once loaded.
    EXPECT_NE(g.State("menus").find("exit=(Logout)|Exit"), std::string::npos) << g.State("menus");
    EXPECT_NE(g.State("menus").find("tray=Show main window...|Settings...|Events management...|Exit"), std::string::npos)
        << g.State("menus");

    // The written places: the base buttons, no account controls, the status line along the bottom.
    ASSERT_TRUE(WaitFor([&] { return ReadRectFile(rectFile).count("1124") != 0; }));
    const auto written = ReadRectFile(rectFile);
    for (const char* id : {"1124", "1020", "1122", "1016", "1127", "1119", "1148", "1071", "1017", "1142"})
        EXPECT_EQ(written.count(id), 1u) << id;
    for (const char* id : {"1198", "1203", "131", "1021", "1046"}) EXPECT_EQ(written.count(id), 0u) << id;
    g.RefreshRects();
    for (const char* id : {"1124", "1122", "1119"}) {
        EXPECT_EQ(written.at(id).x, g.rect(id).x) << id;
        EXPECT_EQ(written.at(id).y, g.rect(id).y) << id;
    }
    // Rows in order, buttons right-aligned with one right margin.
    const Rect node = g.rect("1124"), test = g.rect("1142"), exit = g.rect("1119"), connect = g.rect("1122");
    EXPECT_EQ(test.x + test.w, exit.x + exit.w);
    EXPECT_LT(node.x + node.w, g.rect("1017").x);
    EXPECT_GT(g.rect("1020").y, node.y + node.h - 1);
    EXPECT_GE(exit.y, connect.y + connect.h);
    EXPECT_LE(g.rect("1071").y + g.rect("1071").h, g.rect("main").y + g.rect("main").h);

    // The disconnected picture: its grey core in the logo square.
    const Rect logo = g.rect("1148");
    EXPECT_EQ(logo.w, 128);
    const Screenshot s = TakeScreenshot();
    EXPECT_TRUE(Near(s.At(logo.cx(), logo.cy()), kDisconnectedCore, 12)) << ToString(s.At(logo.cx(), logo.cy()));
    SaveShot("main-base-en");

    // The exit button's menu at the pointer; cancelled, nothing happens.
    MoveTo(exit.cx(), exit.cy());
    g.Command("act main.exitmenu");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("main", "menu=1"); })) << g.State("main");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    SaveShot("main-base-exitmenu-en");
    g.Command("act main.cancelmenu");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("main", "menu=0"); })) << g.State("main");
    EXPECT_TRUE(g.StateHas("main", "exiting=0"));

    // Closing hides the window into the tray; the tray's command shows it again.
    g.Command("act main.close");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("main", "shown=0"); })) << g.State("main");
    EXPECT_TRUE(g.StateHas("main", "exiting=0"));
    g.Command("act main.show");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("main", "shown=1"); })) << g.State("main");
}

// A node is deleted while its test waits on a server that never answers:
// the test stops and ends before the record goes, so nothing writes its
// result into a freed record (the sanitizer would end the gallery).
TEST_F(MainWindow, DeletingANodeUnderTestStopsTheTestFirst) {
    REQUIRE_DISPLAY();
    const int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(silent, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof at;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(listen(silent, 16), 0);
    ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&at), &len), 0);
    setenv("CENDROW_GALLERY_SILENT_PORT", std::to_string(ntohs(at.sin_port)).c_str(), 1);
    Gallery g({"mainbase"}, {}, DIALOG_GALLERY_EXE);
    unsetenv("CENDROW_GALLERY_SILENT_PORT");
    ASSERT_TRUE(g.running());
    ASSERT_TRUE(Loaded(g)) << g.State("main");
    g.Command("act main.testsilent");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("nodetest", "running=1"); })) << g.State("nodetest");
    pollfd reached{silent, POLLIN, 0};
    ASSERT_EQ(poll(&reached, 1, 20000), 1) << "the test never reached the silent server";
    const std::string before = g.State("main");
    g.Command("act main.delete");
    EXPECT_TRUE(g.StateHas("nodetest", "running=0")) << "the delete went ahead of the test's end";
    EXPECT_NE(g.State("main"), before) << "the node is still listed";
    // Longer than the test's own wait for an answer: a test left running
    // would write its result now.
    std::this_thread::sleep_for(std::chrono::seconds(12));
    EXPECT_TRUE(g.StateHas("nodetest", "running=0")) << g.State("nodetest");
    close(silent);
}

TEST_F(MainWindow, AccountEditionLinesAndButtonRow) {
    REQUIRE_DISPLAY();
    Gallery g({"mainagent"}, {{"config/services.ini", kServices}}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    ASSERT_TRUE(Loaded(g)) << g.State("main");
    ASSERT_TRUE(WaitFor([&] { return g.State("lines").find("Traffic remaining: 12 GB") != std::string::npos; }))
        << g.State("lines");
    EXPECT_NE(g.State("lines").find("line2=Expiration: 2031-12-31"), std::string::npos) << g.State("lines");
    EXPECT_NE(g.State("menus").find("exit=Logout|Exit"), std::string::npos) << g.State("menus");
    EXPECT_TRUE(g.StateHas("main", "traffic=0")) << "no traffic panel: " << g.State("main");

    g.RefreshRects();
    const Rect win = g.rect("main");
    const Rect first = g.rect("1198"), last = g.rect("1202");
    const int clientLeft = g.rect("1071").x, clientWidth = g.rect("1071").w;
    const int margin = first.x - clientLeft;
    EXPECT_GT(margin, 0);
    EXPECT_EQ(clientLeft + clientWidth - (last.x + last.w), margin) << "equal outer margins";
    EXPECT_EQ(g.rect("1199").x - (first.x + first.w), 2 * margin) << "gaps of twice the margin";
    EXPECT_GT(first.y, g.rect("1204").y + g.rect("1204").h);
    EXPECT_GT(g.rect("1203").y, g.rect("1122").y + g.rect("1122").h);
    EXPECT_LT(last.y + last.h, g.rect("1071").y);
    EXPECT_LT(win.x, first.x);

    ASSERT_TRUE(WaitFor([&] { return ReadRectFile(rectFile).count("1203") != 0; }));
    const auto written = ReadRectFile(rectFile);
    for (const char* id : {"1198", "1202", "1203", "1204", "131", "1124", "1122"})
        EXPECT_EQ(written.count(id), 1u) << id;
    for (const char* id : {"1016", "1127", "1119", "1148", "1021", "1022"}) EXPECT_EQ(written.count(id), 0u) << id;
    SaveShot("main-agent-en");
    MoveTo(g.rect("1201").cx(), g.rect("1201").cy());
    g.Command("act main.popup");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("main", "menu=1"); })) << g.State("main");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    SaveShot("main-agent-popup-en");
    g.Command("act main.cancelmenu");
}

TEST_F(MainWindow, EveryTextInChineseHasItsGlyphs) {
    REQUIRE_DISPLAY();
    for (const char* scene : {"mainbase", "mainagent"}) {
        SCOPED_TRACE(scene);
        std::map<std::string, std::string> files = {{"config/language.ini", kChineseLanguage}};
        if (std::string(scene) == "mainagent") files["config/services.ini"] = kServices;
        Gallery g({scene}, files, DIALOG_GALLERY_EXE);
        ASSERT_TRUE(g.running());
        ASSERT_TRUE(Loaded(g)) << g.State("main");
        const std::string glyphs = g.State("main.glyphs");
        EXPECT_NE(glyphs.find(" unknown=0"), std::string::npos) << glyphs;
        // "Exit" of the exit menu is translated.
        EXPECT_NE(g.State("menus").find("\xE9\x80\x80\xE5\x87\xBA"), std::string::npos) << g.State("menus");
        SaveShot(std::string(scene) + "-zh");
        const Rect exit = g.rect(std::string(scene) == "mainagent" ? "1202" : "1119");
        MoveTo(exit.cx(), exit.cy());
        g.Command("act main.popup");
        ASSERT_TRUE(WaitFor([&] { return g.StateHas("main", "menu=1"); })) << g.State("main");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        SaveShot(std::string(scene) + "-popup-zh");
        g.Command("act main.cancelmenu");
    }
}

}  // namespace
