// The program with its windows, on a virtual display of the test's own,
// inside the app topology: which window opens with and without a service,
// a hidden start shown by a second one, a quit while a dialog is open, a
// display that dies while connected, a machine that goes to sleep, and the
// windows of the desktop user (uid 65534 with the file capabilities).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "app/window/base/main_template.h"
#include "tests/e2e/app_window_fixture.h"
#include "tests/support/account_service.h"
#include "tests/support/test_ca.h"

namespace {

using namespace apptopology;
using testsupport::ChildProcess;
using testsupport::Rgb;
using testsupport::Screenshot;

// A system bus of the test's own, open to everyone: what logind would be
// on the machine is our stand-in on it.
class PrivateSystemBus {
public:
    PrivateSystemBus() : dir_("cendrow-bus") {
        socket_ = dir_.path() / "system_bus_socket";
        testsupport::WriteFile(dir_.path() / "bus.conf",
                               "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                               "<busconfig><type>system</type><listen>unix:path=" +
                                   socket_.string() +
                                   "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                   "<allow user=\"*\"/><allow own=\"*\"/><allow send_type=\"signal\"/>"
                                   "<allow send_type=\"method_call\"/><allow send_type=\"method_return\"/>"
                                   "<allow send_type=\"error\"/><allow receive_type=\"signal\"/>"
                                   "<allow receive_type=\"method_call\"/><allow receive_type=\"method_return\"/>"
                                   "<allow receive_type=\"error\"/></policy></busconfig>\n");
        daemon_ = ChildProcess({"dbus-daemon", "--nofork", "--config-file=" + (dir_.path() / "bus.conf").string()},
                               (dir_.path() / "daemon.log").string());
        WaitUntil([&] { return std::filesystem::exists(socket_); }, std::chrono::seconds(10));
    }
    bool Up() const { return std::filesystem::exists(socket_); }
    std::string Address() const { return "unix:path=" + socket_.string(); }

private:
    TempDir dir_;
    std::filesystem::path socket_;
    ChildProcess daemon_;
};

TEST_F(AppWindowTest, WithoutAServiceTheBaseWindowOpensAtOnce) {
    auto run = StartWindowed();
    EXPECT_TRUE(WaitUntil([&] { return VisibleProgramWindows() == 1; }, std::chrono::seconds(30)))
        << VisibleProgramWindows() << " windows\n" << run->Log();
    // The one window is the main window (its CONNECT button), not the login.
    EXPECT_TRUE(WaitUntil([&] { return Rects(*run).find("RECT 1122 ") != std::string::npos; },
                          std::chrono::seconds(10)))
        << Rects(*run);
    const std::string log = run->Log();
    EXPECT_EQ(log.find("runs without windows"), std::string::npos) << log;
    // The missing bus took one line.
    const std::string programLog = ReadFile(run->programDir() / "log" / "Cendrow");
    EXPECT_NE(programLog.find("suspend: no system bus"), std::string::npos) << programLog;
    run->Ask(NSCMD_QUIT);
    EXPECT_EQ(run->WaitExit(60), 0) << run->Log();
}

TEST_F(AppWindowTest, WithAServiceTheLoginComesFirstAndAStopSignalCancelsIt) {
    // A service nobody answers: the login waits for its user.
    auto run = std::make_unique<ProgramRun>(topo_->app());
    std::filesystem::create_directories(run->programDir() / "config");
    testsupport::WriteFile(run->programDir() / "config" / "services.ini",
                           "[basic]\naccount_url=https://127.0.0.1:9\n");
    const std::string before = topo_->Snapshot();
    StartWindowed({}, "", run.get());
    std::string names;
    EXPECT_TRUE(WaitUntil([&] { return VisibleProgramWindows(".") == 1; }, std::chrono::seconds(30)))
        << VisibleProgramWindows(".") << " windows: "
        << (display_.Xdo({"search", "--onlyvisible", "--name", ".", "getwindowname", "%@"}, &names), names)
        << run->Log();
    // The login: the main window has not laid out any control.
    EXPECT_EQ(Rects(*run), "");
    kill(run->process().pid(), SIGTERM);
    EXPECT_EQ(run->WaitExit(30), 0) << run->Log();
    EXPECT_EQ(topo_->Snapshot(), before);
}

TEST_F(AppWindowTest, AHiddenStartShowsNothingUntilASecondStart) {
    auto run = StartWindowed({"--hidewindow", "--hideicon"});
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(VisibleProgramWindows(), 0u);
    auto second = run->Launch({}, "second.log");
    const int status = second.Wait(std::chrono::seconds(30));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_TRUE(WaitUntil([&] { return VisibleProgramWindows() == 1; }, std::chrono::seconds(20))) << run->Log();
    run->Ask(NSCMD_QUIT);
    EXPECT_EQ(run->WaitExit(60), 0) << run->Log();
}

// A quit that comes while a modal dialog runs (here through the channel; the
// tray's "Exit" does the same from inside a login) closes the dialog and
// ends the program, however deep the loops are nested.
TEST_F(AppWindowTest, AQuitWhileAModalDialogIsOpenEndsTheProgram) {
    auto run = StartWindowed();
    ReportOnFailure report(*run);
    ASSERT_TRUE(WaitUntil([&] { return VisibleProgramWindows() == 1 && ControlRect(*run, kIdAddNode).w > 0; },
                          std::chrono::seconds(30)));
    // The add button's menu has three rows; the first opens the HTTP/SOCKS node dialog.
    const Rect add = ControlRect(*run, kIdAddNode);
    const Rect menu = ClickForPopup(*run, add.cx(), add.cy());
    ASSERT_GT(menu.w, 0) << "the add menu did not open";
    const auto [x, y] = RowMiddle(menu, 3, 0);
    ASSERT_TRUE(display_.ClickAt(x, y));
    ASSERT_TRUE(WaitUntil([&] { return VisibleProgramWindows(".") == 2; }, std::chrono::seconds(30)));
    EXPECT_EQ(run->Ask(NSCMD_QUIT).status, 0);
    EXPECT_EQ(run->WaitExit(60), 0);
    EXPECT_EQ(VisibleProgramWindows("."), 0u);
}

TEST_F(AppWindowTest, ADisplayThatDiesWhileConnectedLeavesTheNamespaceAsItWas) {
    auto run = StartWindowed();
    ASSERT_TRUE(WaitUntil([&] { return VisibleProgramWindows() == 1; }, std::chrono::seconds(30))) << run->Log();
    const std::string before = topo_->Snapshot();
    // The smart DNS preset: a resolver runs while connected.
    ASSERT_TRUE(Connect(*run, Node("1080", "5"), 0, kSmartDns)) << run->Log();
    ASSERT_TRUE(ResolverRuns());
    ASSERT_NE(topo_->Snapshot(), before);
    display_.Kill();
    EXPECT_EQ(run->WaitExit(60), 1) << run->Log();
    EXPECT_EQ(topo_->Snapshot(), before);
    EXPECT_FALSE(ResolverRuns());
    EXPECT_NE(ReadFile(run->programDir() / "log" / "Cendrow").find("display was lost"), std::string::npos);
}

TEST_F(AppWindowTest, GoingToSleepDisconnects) {
#ifndef LOGIND_STUB_EXE
    GTEST_SKIP() << "built without GIO";
#else
    if (!testsupport::HaveProgram("dbus-daemon")) GTEST_SKIP() << "dbus-daemon is not installed";
    PrivateSystemBus bus;
    ASSERT_TRUE(bus.Up());
    auto run = StartWindowed({}, bus.Address());
    const std::string before = topo_->Snapshot();
    ASSERT_TRUE(Connect(*run, Node("1080", "5"), 0)) << run->Log();
    TempDir stubDir("cendrow-logind");
    ChildProcess logind({"env", "DBUS_SYSTEM_BUS_ADDRESS=" + bus.Address(), LOGIND_STUB_EXE},
                        (stubDir.path() / "stub.log").string());
    EXPECT_TRUE(run->WaitState("disconnected", 60)) << ReadFile(stubDir.path() / "stub.log") << run->Log();
    logind.Stop();
    EXPECT_NE(ReadFile(run->programDir() / "log" / "Cendrow").find("going to sleep"), std::string::npos);
    run->Ask(NSCMD_QUIT);
    EXPECT_EQ(run->WaitExit(60), 0) << run->Log();
    EXPECT_EQ(topo_->Snapshot(), before);
#endif
}

// The desktop user's windows: the program as uid 65534 with the file
// capabilities, on the test's display through its socket file. Such a
// process runs in secure-execution mode: the loader drops LD_* and TMPDIR,
// GLib spawns no bus. The toolkit's warnings are faults here.
class AppWindowAsUserTest : public AppWindowTest {
protected:
    void SetUp() override {
        AppWindowTest::SetUp();
        if (IsSkipped()) return;
        const std::string why = ProgramRun::UserRunUnavailable();
        if (!why.empty()) GTEST_SKIP() << "cannot run as uid 65534 with file capabilities: " << why;
    }
    // The lines GLib, GTK or GDK print about a fault of their caller.
    static std::string ToolkitComplaints(const std::string& log) {
        std::string out;
        std::istringstream in(log);
        for (std::string line; std::getline(in, line);)
            for (const char* mark : {"CRITICAL", "GLib-", "Gtk-", "Gdk-"})
                if (line.find(mark) != std::string::npos) {
                    out += line + "\n";
                    break;
                }
        return out;
    }
    // The process runs as the user with the program's three capabilities.
    static void ExpectUserProcess(ProgramRun& run) {
        const std::string status = ReadFile("/proc/" + std::to_string(run.process().pid()) + "/status");
        EXPECT_NE(status.find("\nUid:\t65534\t65534\t65534\t65534\n"), std::string::npos) << status;
        EXPECT_NE(status.find("\nCapEff:\t0000000000003400\n"), std::string::npos) << status;
    }
    // Pixels of `colour` in `r` on the display now.
    int CountOnScreen(const Rect& r, const Rgb& colour, int tolerance) {
        return display_.Shot().Count(r, colour, tolerance);
    }
    // The program's exit after a quit, and nothing the toolkit complained of.
    static void QuitCleanly(ProgramRun& run) {
        EXPECT_EQ(run.Ask(NSCMD_QUIT).status, 0);
        EXPECT_EQ(run.WaitExit(60), 0) << run.Log();
        EXPECT_EQ(ToolkitComplaints(run.Log()), "") << run.Log();
    }

    // The ring of the tray icon while disconnected (the strip is trayer's
    // light grey, the display black), and trayer's strip along the bottom.
    static constexpr Rgb kTrayRing{130, 130, 130};
    static constexpr Rect kTrayStrip{0, 1024 - 30, 1280, 30};
};

TEST_F(AppWindowAsUserTest, TheBaseWindowAndItsTrayIconShow) {
    ProgramRun run(topo_->app(), RunAs::kUser);
    StartWindowed({}, "", &run);
    ASSERT_TRUE(run.WaitChannel()) << run.Log();
    ExpectUserProcess(run);
    EXPECT_TRUE(WaitUntil([&] { return VisibleProgramWindows() == 1; }, std::chrono::seconds(30)))
        << VisibleProgramWindows() << " windows\n" << run.Log();
    // The main window, laid out: its CONNECT button.
    EXPECT_TRUE(WaitUntil([&] { return ControlRect(run, 1122).w > 0; }, std::chrono::seconds(10))) << Rects(run);
    EXPECT_TRUE(WaitUntil([&] { return CountOnScreen(kTrayStrip, kTrayRing, 6) > 50; }, std::chrono::seconds(20)))
        << "no tray icon in trayer's strip\n" << run.Log();
    QuitCleanly(run);
}

TEST_F(AppWindowAsUserTest, WithTheAccountServiceTheLoginPassesAndTheWebPanelLoads) {
    // The service's stand-in listens inside the app namespace, where the
    // program reaches it on 127.0.0.1.
    testsupport::TestCertificateAuthority ca;
    std::unique_ptr<testsupport::AccountServiceStandIn> service;
    {
        testsupport::NetNamespace::Scope inApp(topo_->app());
        service = std::make_unique<testsupport::AccountServiceStandIn>(ca.Issue({"127.0.0.1"}));
    }
    // The page the web panel shows: one colour from edge to edge.
    const Rgb page{208, 32, 192};
    service->ServeOneColourPage(page.r, page.g, page.b);
    const std::string email = "desk@example.com", password = "user's secret";
    service->SetAccount(email, password);

    ProgramRun run(topo_->app(), RunAs::kUser);
    TempDir caDir("cendrow-user-ca");
    ca.WriteCertificate(caDir / "ca.pem");
    run.WriteProgramFile("config/account-ca.pem", testsupport::ReadFile(caDir / "ca.pem"));
    run.WriteProgramFile("config/services.ini", "[basic]\naccount_url=" + service->BaseUrl() +
                                                   "\nca_file=config/account-ca.pem\naccount_timeout=20\n");
    // Remembered with the automatic login: the login window logs in alone.
    run.WriteProgramFile("config/config.ini", "[basic]\n" + testsupport::RememberedLogin(email, password, true));
    run.TrustCertificates(caDir / "ca.pem");
    StartWindowed({}, "", &run);
    // The channel opens with the main window, after the login.
    ASSERT_TRUE(run.WaitChannel()) << run.Log();
    ExpectUserProcess(run);
    const std::vector<std::string> commands = service->Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[0], "login");
    EXPECT_EQ(commands[1], "allproxylist");
    EXPECT_EQ(service->Problems(), std::vector<std::string>{});
    EXPECT_TRUE(WaitUntil([&] { return VisibleProgramWindows() == 1; }, std::chrono::seconds(30)))
        << VisibleProgramWindows() << " windows\n" << run.Log();
    // The page came over the service's TLS and fills the panel.
    Rect panel;
    ASSERT_TRUE(WaitUntil([&] { return (panel = ControlRect(run, 131)).w > 50 && panel.h > 50; },
                          std::chrono::seconds(30)))
        << Rects(run);
    EXPECT_TRUE(WaitUntil([&] { return CountOnScreen(panel, page, 8) > panel.w * panel.h * 9 / 10; },
                          std::chrono::seconds(30)))
        << CountOnScreen(panel, page, 8) << " of " << panel.w * panel.h << " pixels\n" << run.Log();
    size_t pages = 0;
    for (const testsupport::HttpRequest& r : service->server().Requests())
        pages += r.method == "GET" && r.path == "/ad2.html" && r.tls;
    EXPECT_GE(pages, 1u);
    EXPECT_TRUE(WaitUntil([&] { return CountOnScreen(kTrayStrip, kTrayRing, 6) > 50; }, std::chrono::seconds(20)))
        << "no tray icon in trayer's strip";
    QuitCleanly(run);
}


}  // namespace
