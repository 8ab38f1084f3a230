#include "app/shell/windowed_shell.h"

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/glib/logind_watch.h"
#include "app/glib/main_loop_source.h"
#include "app/main_core.h"
#include "app/main_loop.h"
#include "app/shell/display_loss.h"
#include "app/view_guard.h"
#include "app/window/agent_dialog_ostrel.h"
#include "app/window/main_window.h"
#include "dialogs/dialog_login.h"
#include "dialogs/worker_wait.h"
#include "foundation/app_paths.h"
#include "foundation/program_log.h"
#include "nodes/account/service_config.h"
#include "ui/base/skin_settings.h"
#include "ui/qelt_menu.h"
#include "ui/message_box_sink.h"

namespace {

class CShellApp : public wxApp {
public:
    bool OnInit() override {
        // The main window hides to the tray: closing it must not end the program.
        SetExitOnFrameDelete(false);
        return true;
    }
};

void Tell(const std::string& line) {
    AppendToProgramLog(line);
    std::fprintf(stderr, "%s\n", line.c_str());
}

// Open modal dialogs end the way their cancel ends them (a job they run
// stops first), innermost first.
void EndModalDialogs() {
    std::vector<wxDialog*> modal;
    for (wxWindow* w : wxTopLevelWindows) {
        auto* dialog = wxDynamicCast(w, wxDialog);
        if (dialog && dialog->IsModal()) modal.push_back(dialog);
    }
    for (auto it = modal.rbegin(); it != modal.rend(); ++it) (*it)->Close();
}

// Step 21. A stop signal meanwhile cancels it.
int RunLogin(AppRunContext& ctx) {
    std::function<void()> previousStop = ctx.onStop;
    ctx.onStop = &EndModalDialogs;
    const int result = CDialogLogin::RunModal(nullptr);
    ctx.onStop = previousStop;
    return result;
}

// Ends the toolkit's main loop, also from inside a nested one (a modal
// dialog, a menu, a wait that serves events): ExitMainLoop does nothing
// unless the main loop is the active one, and the quit would be lost. The
// nested loops end as they will and the main loop then ends at once. The
// application holds its main loop only while that runs.
void ExitToolkitLoop() {
    if (!wxTheApp) return;
    if (wxEventLoopBase* main = wxTheApp->GetMainLoop()) main->ScheduleExit(0);
}

}  // namespace

bool HasAccountService() {
    const ServiceConfig config = GetServiceConfig();
    return !config.accountBaseUrl.empty() || !config.accountFallbackUrl.empty();
}

CWindowedShell::~CWindowedShell() {
    if (opened_) wxEntryCleanup();
}

bool CWindowedShell::Open(int argc, char** argv) {
    // The tray is XEmbed, which only X11 has (Xwayland on a Wayland desktop).
    setenv("GDK_BACKEND", "x11", 1);
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        Tell("windows: DISPLAY is not set");
        return false;
    }
    wxApp::SetInstance(new CShellApp);
    argc_ = argc;
    if (!wxEntryStart(argc_, argv)) {
        Tell(std::string("windows: the display ") + display + " could not be opened");
        return false;
    }
    opened_ = true;
    if (!wxTheApp->CallOnInit()) {
        Tell("windows: the toolkit did not start");
        return false;
    }
    // After GDK's own, which would end the process at once.
    InstallDisplayLossHandler(nullptr);
    InstallWxMessageBoxSink();
    return true;
}

int CWindowedShell::Run(AppRunContext& ctx) {
    CMainLoop& loop = *ctx.loop;
    // Timers, signals, the channel and posted tasks run inside GTK's loop,
    // also inside its modal loops.
    CMainLoopSource source(&loop);
    // Quit closes open menus and modal dialogs, then the toolkit's loop.
    loop.SetQuitHook([](int) {
        QeltMenu::CancelAllTracking();
        EndModalDialogs();
        ExitToolkitLoop();
    });
    loop.SetNestedRunner(&RunEventsUntil);

    // Step 20.
    SetSkinDirectory((GetAppDir() / "skins").wstring().c_str());
    LoadSkin(L"default");

    const bool account = HasAccountService();
    int code = 0;
    if (!account || RunLogin(ctx) == wxID_OK) {
        // Step 22: the main window, modeless (it hides to the tray).
        DialogOstrelWindow* window = account ? new CAgentDialogOstrel(nullptr) : new DialogOstrelWindow(nullptr);
        CViewGuard guard(window);
        DialogOstrelBase* running = nullptr;
        CLogindWatch sleepWatch;
        SetDisplayLossAction([&] {
            guard.CutOff();
            loop.SetQuitHook(nullptr);
            loop.SetNestedRunner(nullptr);
            if (running) running->ExitWithoutWindow();
        });
        CoreHooks hooks;
        hooks.attach = [&](DialogOstrelBase& core) {
            running = &core;
            // Its tray icon, the local services, the edition's controls; it
            // shows itself unless "hidewindow", and its first show runs the
            // deferred start-up load.
            window->AttachCore(&core);
            // Going to sleep ends the connection, as the end of the session does.
            sleepWatch.Start([&core] { core.OnEndSession(); });
        };
        hooks.run = [&] {
            if (!loop.IsQuitting()) wxTheApp->OnRun();
            return loop.Finish();
        };
        hooks.detach = [&] {
            // The windows go before the core, which releases what they read.
            sleepWatch.Stop();
            delete window;
            guard.CutOff();
            SetDisplayLossAction(nullptr);
            running = nullptr;
        };
        code = RunCore(ctx, &guard, hooks);
    } else {
        loop.Finish();
    }
    loop.SetQuitHook(nullptr);
    loop.SetNestedRunner(nullptr);
    source.Detach();
    UninstallWxMessageBoxSink();
    return code;
}
