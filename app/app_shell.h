#pragma once
// What runs the program once start-up has prepared the machine (the steps
// up to the interface metrics): the windowless run, or a shell with windows
// that the program's main passes in. Both run the same core.

#include <functional>
#include <string>
#include <vector>

class CMainLoop;
class CNamedMutex;
class DialogOstrelBase;
class IConnectSystem;
class IMainWindowView;

struct AppRunContext {
    CMainLoop* loop = nullptr;
    IConnectSystem* system = nullptr;
    CNamedMutex* single = nullptr;
    // What start-up repaired, one line each, for the action log.
    std::vector<std::string> repairs;
    // The privileges the tunnel modes lack; empty when none.
    std::vector<std::string> missingPrivileges;
    // What a stop signal (SIGTERM, SIGINT, SIGHUP) does now; the shell and
    // the core change it as the run goes on. Runs on the loop.
    std::function<void()> onStop;
};

class IAppShell {
public:
    virtual ~IAppShell() = default;
    // Opens the display; false (after logging why) runs the program without windows.
    virtual bool Open(int argc, char** argv) = 0;
    // Runs the program until its end; the process's exit code.
    virtual int Run(AppRunContext& ctx) = 0;
};

// The steps of a run around the core, whatever shows it.
struct CoreHooks {
    // The core is built: its services start and its deferred step runs
    // (a window attaches itself, starts them and shows itself first).
    std::function<void(DialogOstrelBase&)> attach;
    // Runs the loop until the end; the exit code.
    std::function<int()> run;
    // The core has exited: windows go before it does.
    std::function<void()> detach;
};

// Builds the core on `view`, attaches it, opens the command channel, runs,
// and ends with the core's exit; the exit code of `run`.
int RunCore(AppRunContext& ctx, IMainWindowView* view, const CoreHooks& hooks);
