// The account edition end to end, as root, on a virtual display of the
// test's own inside the app topology. The account service's stand-in
// listens on the app namespace's own 127.0.0.1 (it is made inside that
// namespace), and the namespace's system store (/etc/netns/<app>/ssl, which
// `ip netns exec` puts over /etc/ssl) holds the test's CA alone, for the
// account client and the web panel both. The program logs in by itself and
// the user does the rest with the mouse: the node and mode choosers, the
// CONNECT button, the tray icon and the menus.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/window/base/main_template.h"
#include "tests/e2e/app_window_fixture.h"
#include "tests/support/account_service.h"
#include "tests/support/net.h"
#include "tests/support/screenshot.h"
#include "tests/support/test_ca.h"

namespace {

using namespace apptopology;
using testsupport::AccountServiceStandIn;
using testsupport::HttpRequest;
using testsupport::HttpResponse;
using testsupport::Near;
using testsupport::Rgb;
using testsupport::Screenshot;
using testsupport::ToString;

// The colour of the service's page in the web panel.
const Rgb kPageColour{200, 40, 160};
// The latency cells: a node that answered within 100 ms, and one that never answered.
const Rgb kFastCell{50, 255, 56};
const Rgb kWhite{255, 255, 255};
constexpr const char* kDeadNodeHost = "10.198.78.3";  // routed to the proxy namespace, which has no such host

// One package of the account: a group with a Chinese name holding a node
// that does not answer and the topology's ss-server.
std::string ProxyListReply() {
    return std::string(R"({"errcode":0,"errmsg":"","proxylist":[
 {"paymentmethod":"alipay","paymentmethodname":"支付宝","billingcycle":"Monthly","nextduedate":"2027-03-31",
  "traffic_remaining":"8 GB","nodelist":[
   {"type":6,"port":8388,"name":"失联节点","hostname":")") +
           kDeadNodeHost + R"(","password":"x","method":"aes-256-gcm",
    "protocol":"origin","obfs":"plain","product_name":"香港专线"},
   {"type":6,"port":8388,"name":"东京 ss-server","hostname":")" +
           kNodeHost + R"(","password":")" + kSsPassword + R"(","method":"aes-256-gcm",
    "protocol":"origin","obfs":"plain","product_name":"香港专线"}
  ]}]})";
}

class AccountWindowTest : public AppWindowTest {
protected:
    void SetUp() override {
        AppWindowTest::SetUp();
        if (IsSkipped()) return;
        // Only the test's CA in the namespace's system store.
        ssl_ = "/etc/netns/" + topo_->app() + "/ssl";
        std::filesystem::create_directories(ssl_ / "certs");
        ca_.WriteCertificate(ssl_ / "certs" / "ca-certificates.crt");
        // Made in the app namespace: its listening socket and threads stay there.
        testsupport::NetNamespace::Scope inApp(topo_->app());
        service_ = std::make_unique<AccountServiceStandIn>(ca_.Issue({"127.0.0.1"}));
        service_->Override("allproxylist", [](const HttpRequest&, HttpResponse& r) { r.body = ProxyListReply(); });
        service_->ServeOneColourPage(kPageColour.r, kPageColour.g, kPageColour.b);
    }
    void TearDown() override {
        service_.reset();
        if (!ssl_.empty()) std::filesystem::remove_all(ssl_);
        AppWindowTest::TearDown();
    }

    // The program with the service configured and the account remembered
    // for automatic login; the mode chooser starts on the second mode.
    std::unique_ptr<ProgramRun> StartWithAccount() {
        auto run = std::make_unique<ProgramRun>(topo_->app());
        const std::filesystem::path config = run->programDir() / "config";
        std::filesystem::create_directories(config);
        testsupport::WriteFile(config / "services.ini", "[basic]\naccount_url=" + service_->BaseUrl() +
                                                            "\nca_file=/etc/ssl/certs/ca-certificates.crt\n");
        testsupport::WriteFile(config / "config.ini",
                               "[basic]\n" + testsupport::RememberedLogin("user+tag@example.com", "p&ss+w rd=\xC3\xBC", true) +
                                   "last_proxymode_index=1\n");
        StartWindowed({}, "", run.get());
        return run;
    }

    // The main window after the login: shown, its controls laid out.
    bool MainWindowUp(ProgramRun& run) {
        return run.WaitChannel(120) &&
               WaitUntil([&] { return VisibleProgramWindows() == 1 && ControlRect(run, kIdConnect).w > 0; },
                         std::chrono::seconds(60));
    }

    // Saves the screen as NAME.png in CENDROW_SCREENSHOT_DIR, when set.
    void SaveShot(const std::string& name) {
        const char* dir = std::getenv("CENDROW_SCREENSHOT_DIR");
        if (!dir || !*dir) return;
        testsupport::RunCommand({"import", "-display", display_.name(), "-window", "root",
                                 std::string(dir) + "/" + name + ".png"});
    }

    // The colour at the middle of an icon of the program folder's resources.
    static Rgb IconColour(ProgramRun& run, int id) {
        const Screenshot icon =
            Screenshot::Read(run.programDir() / "res" / "icon" / (std::to_string(id) + ".png"));
        return icon.At(icon.width() / 2, icon.height() / 2);
    }
    // Whether the tray shows icon `shown` and no trace of icon `other`,
    // looking only at the icon's own rectangle.
    bool TrayShows(const Rgb& shown, const Rgb& other) {
        const Rect icon = TrayIconRect();
        if (icon.w == 0) return false;
        const Screenshot s = display_.Shot();
        return s.Count(icon, shown, 30) > 10 && s.Count(icon, other, 30) == 0;
    }

    // A value of the settings file as the program saved it.
    static std::string SavedSetting(ProgramRun& run, const std::string& key) {
        std::istringstream in(ReadFile(run.programDir() / "config" / "config.ini"));
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
        }
        return {};
    }
    // The processes that run in the app namespace.
    static std::string NamespaceProcesses() {
        std::string pids;
        testsupport::RunCommand({"ip", "netns", "pids", topo_->app()}, &pids);
        return pids;
    }

    testsupport::TestCertificateAuthority ca_;
    std::filesystem::path ssl_;
    std::unique_ptr<AccountServiceStandIn> service_;
};

// The automatic login fills the window from the service; the user picks the
// node that answers and the global mode, connects, fetches through the
// node, disconnects from the window brought back by the tray icon, and
// exits through the exit button's menu: the namespace is as it was.
TEST_F(AccountWindowTest, AutologinThenConnectAndDisconnectByMouse) {
    const std::string before = topo_->Snapshot();
    auto run = StartWithAccount();
    ReportOnFailure report(*run);
    ASSERT_TRUE(MainWindowUp(*run));
    EXPECT_EQ(service_->Commands(), (std::vector<std::string>{"login", "allproxylist"}));
    EXPECT_EQ(service_->Problems(), std::vector<std::string>{});

    // The service's page fills the web panel.
    const Rect web = ControlRect(*run, kIdWebPanel);
    ASSERT_GT(web.w * web.h, 0) << Rects(*run);
    EXPECT_TRUE(WaitUntil([&] { return display_.Shot().Count(web, kPageColour, 8) > web.w * web.h * 9 / 10; },
                          std::chrono::seconds(60)))
        << "the web panel at " << ToString(web) << " shows "
        << ToString(display_.Shot().At(web.cx(), web.cy()));
    bool pageAsked = false;
    for (const HttpRequest& req : service_->server().Requests()) pageAsked |= req.path == "/ad2.html" && req.tls;
    EXPECT_TRUE(pageAsked);

    // Both nodes are in; the node that answers has its latency.
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::string nodes = run->Ask(NSCMD_GETPROXIES).text;
            return nodes.find(std::string(",") + kDeadNodeHost + ",0,") != std::string::npos &&
                   nodes.find(std::string(",") + kNodeHost + ",0,") == std::string::npos &&
                   nodes.find(std::string(",") + kNodeHost + ",") != std::string::npos;
        },
        std::chrono::seconds(60)))
        << run->Ask(NSCMD_GETPROXIES).text;
    SaveShot("account-main");

    // The node list: the group's header, then its two nodes; the latency
    // cell of the node that answered is green, the other one's white.
    const std::vector<std::string> windows = WindowsOf(*run);
    const Rect nodeCombo = ControlRect(*run, kIdNodeCombo);
    const Rect list = ClickForPopup(*run, nodeCombo.cx(), nodeCombo.cy());
    ASSERT_GT(list.w, 0) << "the node list did not open";
    SaveShot("account-node-list");
    const Screenshot shot = display_.Shot();
    int fast = -1, dead = -1;
    for (int row = 1; row < 3; ++row) {
        const Rect r = ListRow(list, 3, row);
        const Rect cell{r.x + r.w - r.w / 10, r.y + 2, r.w / 10 - 1, r.h - 4};
        const int area = cell.w * cell.h;
        if (shot.Count(cell, kFastCell, 8) > area / 2) fast = row;
        if (shot.Count(cell, kWhite, 8) > area / 2 && shot.Count(r, kFastCell, 8) == 0) dead = row;
    }
    ASSERT_NE(fast, -1) << "no green latency cell in the list at " << ToString(list);
    ASSERT_NE(dead, -1) << "no white latency cell in the list at " << ToString(list);
    const auto [nodeX, nodeY] = RowMiddle(list, 3, fast);
    ASSERT_TRUE(display_.ClickAt(nodeX, nodeY));
    ASSERT_TRUE(PopupGone(*run, windows));
    // The closed chooser shows the node with its green cell.
    EXPECT_TRUE(WaitUntil([&] { return display_.Shot().Count(nodeCombo, kFastCell, 8) > 20; },
                          std::chrono::seconds(20)));

    // The mode list starts on the second mode; the first is the global one.
    const std::string modes = run->Ask(NSCMD_GETPROXYMODES).text;
    const int modeCount = static_cast<int>(std::count(modes.begin(), modes.end(), '|'));
    ASSERT_GE(modeCount, 2) << modes;
    ASSERT_NE(modes.find("0,Global wide|"), std::string::npos) << modes;
    EXPECT_EQ(SavedSetting(*run, "last_proxymode_index"), "1");
    const Rect modeCombo = ControlRect(*run, kIdModeCombo);
    const Rect modeList = ClickForPopup(*run, modeCombo.cx(), modeCombo.cy());
    ASSERT_GT(modeList.w, 0) << "the mode list did not open";
    const auto [modeX, modeY] = RowMiddle(modeList, modeCount, 0);
    ASSERT_TRUE(display_.ClickAt(modeX, modeY));
    ASSERT_TRUE(PopupGone(*run, windows));
    EXPECT_TRUE(WaitUntil([&] { return SavedSetting(*run, "last_proxymode_index") == "0"; },
                          std::chrono::seconds(20)));

    // CONNECT: the window goes to the tray, whose icon turns from 228 to 128.
    const Rgb connectedIcon = IconColour(*run, 128), disconnectedIcon = IconColour(*run, 228);
    ASSERT_TRUE(WaitUntil([&] { return TrayShows(disconnectedIcon, connectedIcon); }, std::chrono::seconds(20)))
        << "tray icon at " << ToString(TrayIconRect());
    const Rect connect = ControlRect(*run, kIdConnect);
    ASSERT_TRUE(display_.ClickAt(connect.cx(), connect.cy()));
    ASSERT_TRUE(run->WaitState("connected", 120));
    EXPECT_TRUE(WaitUntil([&] { return VisibleProgramWindows() == 0; }, std::chrono::seconds(30)));
    EXPECT_TRUE(WaitUntil([&] { return TrayShows(connectedIcon, disconnectedIcon); }, std::chrono::seconds(30)));
    SaveShot("account-connected");
    const std::string during = topo_->Snapshot();
    EXPECT_TRUE(HasRoute(during, "0.0.0.0/1", "dev cendrow")) << during;
    EXPECT_TRUE(HasRoute(during, kNodeHost, "via 10.198.76.2")) << during;
    EXPECT_TRUE(topo_->Fetch());
    EXPECT_TRUE(ResolverRuns());

    // The tray icon's click brings the window back; DISCONNECT.
    const Rect tray = TrayIconRect();
    ASSERT_TRUE(display_.ClickAt(tray.cx(), tray.cy()));
    ASSERT_TRUE(WaitUntil([&] { return VisibleProgramWindows() == 1; }, std::chrono::seconds(30)));
    const Rect disconnect = ControlRect(*run, kIdConnect);
    ASSERT_TRUE(display_.ClickAt(disconnect.cx(), disconnect.cy()));
    ASSERT_TRUE(run->WaitState("disconnected", 120));
    EXPECT_TRUE(WaitUntil([&] { return topo_->Snapshot() == before && !ResolverRuns(); }, std::chrono::seconds(60)))
        << topo_->Snapshot();
    EXPECT_TRUE(WaitUntil([&] { return TrayShows(disconnectedIcon, connectedIcon); }, std::chrono::seconds(30)));

    // The exit button's menu: "Logout", "Exit".
    const Rect exitButton = ControlRect(*run, kIdAccountExit);
    const Rect menu = ClickForPopup(*run, exitButton.cx(), exitButton.cy());
    ASSERT_GT(menu.w, 0) << "the exit menu did not open";
    SaveShot("account-exit-menu");
    const auto [exitX, exitY] = RowMiddle(menu, 2, 1);
    ASSERT_TRUE(display_.ClickAt(exitX, exitY));
    EXPECT_EQ(run->WaitExit(120), 0);
    EXPECT_EQ(topo_->Snapshot(), before);
    EXPECT_FALSE(ResolverRuns());
    EXPECT_TRUE(WaitUntil([] { return NamespaceProcesses().empty(); }, std::chrono::seconds(30)))
        << NamespaceProcesses();
}

// "Logout" hides the window and runs the login again, which logs in by
// itself; while the service keeps that login waiting, the tray icon's menu
// ends the program: the login stops, and the program ends with status 0,
// leaving no route and no process behind.
TEST_F(AccountWindowTest, TheTraysExitDuringTheLogoutsLoginEndsTheProgram) {
    const std::string before = topo_->Snapshot();
    auto run = StartWithAccount();
    ReportOnFailure report(*run);
    ASSERT_TRUE(MainWindowUp(*run));
    // Loaded (the tray's "Exit" is grayed until then): both nodes are in.
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::string nodes = run->Ask(NSCMD_GETPROXIES).text;
            return std::count(nodes.begin(), nodes.end(), '|') == 2;
        },
        std::chrono::seconds(60)))
        << run->Ask(NSCMD_GETPROXIES).text;
    auto logins = [&] {
        const std::vector<std::string> commands = service_->Commands();
        return std::count(commands.begin(), commands.end(), "login");
    };
    ASSERT_EQ(logins(), 1);
    // From now on a login gets no answer.
    service_->Override("login", [](const HttpRequest&, HttpResponse& r) { r.mode = HttpResponse::Mode::kSilent; });

    // The exit button's menu: "Logout", "Exit".
    const Rect exitButton = ControlRect(*run, kIdAccountExit);
    const Rect exitMenu = ClickForPopup(*run, exitButton.cx(), exitButton.cy());
    ASSERT_GT(exitMenu.w, 0) << "the exit menu did not open";
    const int rowHeight = (exitMenu.h - 2) / 2;
    const auto [logoutX, logoutY] = RowMiddle(exitMenu, 2, 0);
    ASSERT_TRUE(display_.ClickAt(logoutX, logoutY));
    // The main window goes, the login comes and asks the service.
    ASSERT_TRUE(WaitUntil([&] { return logins() == 2; }, std::chrono::seconds(60)));
    EXPECT_TRUE(WaitUntil([&] { return VisibleProgramWindows() == 0 && VisibleProgramWindows(".") == 1; },
                          std::chrono::seconds(30)));
    SaveShot("logout-login");

    // The tray icon's menu, its rows as high as the exit menu's; "Exit" is the last.
    const Rect tray = TrayIconRect();
    ASSERT_GT(tray.w, 0);
    const Rect trayMenu = ClickForPopup(*run, tray.cx(), tray.cy(), 3);
    ASSERT_GT(trayMenu.w, 0) << "the tray menu did not open";
    SaveShot("logout-tray-menu");
    const int rows = (trayMenu.h - 2) / rowHeight;
    ASSERT_GE(rows, 3) << ToString(trayMenu);
    const auto [exitX, exitY] = RowMiddle(trayMenu, rows, rows - 1);
    ASSERT_TRUE(display_.ClickAt(exitX, exitY));
    EXPECT_EQ(run->WaitExit(120), 0);
    EXPECT_EQ(topo_->Snapshot(), before);
    EXPECT_TRUE(WaitUntil([] { return NamespaceProcesses().empty(); }, std::chrono::seconds(30)))
        << NamespaceProcesses();
}

}  // namespace
