#include "app/startup.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_shell.h"
#include "app/command_channel.h"
#include "app/connect_system_linux.h"
#include "app/halvern_app.h"
#include "app/headless_view.h"
#include "app/main_core.h"
#include "app/main_loop.h"
#include "app/privileges.h"
#include "foundation/app_paths.h"
#include "foundation/crash_handler.h"
#include "foundation/message_box.h"
#include "foundation/named_mutex.h"
#include "foundation/program_log.h"
#include "foundation/registry.h"
#include "foundation/services.h"
#include "foundation/settings.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "foundation/translate.h"
#include "netconfig/adapter_config.h"
#include "netconfig/local_host.h"
#include "netconfig/network_recovery.h"
#include "nodes/account/agent_config.h"
#include "nodes/account/service_config.h"
#include "platform/atomic_file.h"
#include "platform/tun_device.h"
#include "proxy/proxy_service.h"

namespace {

// A line for the person who started the program as well as for the log.
void Tell(const std::string& line) {
    AppendToProgramLog(line);
    std::fprintf(stderr, "%s\n", line.c_str());
}

// Asks the running instance through the channel in `folder`; with no
// channel yet (it is still starting) nothing happens. 1 when it answered.
int AskRunningInstance(int command, const std::string& data, const std::filesystem::path& folder) {
    NSReply reply;
    if (SendChannelRequest(folder, command, data, &reply)) return 1;
    AppendToProgramLog("no running instance answered on the command channel");
    return 0;
}

// The channel folder of a process of ours, from its environment: another
// start of the same user may have another XDG_RUNTIME_DIR.
std::filesystem::path ChannelFolderOf(pid_t pid) {
    std::string environ;
    if (pid <= 0 || !ReadWholeFile("/proc/" + std::to_string(pid) + "/environ", &environ)) return {};
    static constexpr std::string_view kName = "XDG_RUNTIME_DIR=";
    for (size_t at = 0; at < environ.size();) {
        size_t end = environ.find('\0', at);
        if (end == std::string::npos) end = environ.size();
        std::string entry = environ.substr(at, end - at);
        if (entry.rfind(kName, 0) == 0) return CNS::FolderFor(entry.c_str() + kName.size());
        at = end + 1;
    }
    return CNS::FolderFor(nullptr);
}

std::string UserName(uid_t uid) {
    if (uid == static_cast<uid_t>(-1)) return "unknown";
    passwd pw{};
    passwd* found = nullptr;
    char buffer[1024];
    if (getpwuid_r(uid, &pw, buffer, sizeof buffer, &found) == 0 && found) return found->pw_name;
    return "uid " + std::to_string(uid);
}

// Another instance holds this network namespace: say who, show it when it
// is ours to reach, and end with a failure status.
int RefuseSecondInstance(const CNamedMutex& single) {
    if (!single.AlreadyExists()) {
        Tell(std::string("Cendrow cannot start: the single-instance lock could not be taken (") +
             std::strerror(single.GetLastError()) + ").");
        return 2;
    }
    pid_t pid = single.GetHolderPid();
    uid_t uid = single.GetHolderUid();
    std::string who = pid > 0 ? "process " + std::to_string(pid) + ", user " + UserName(uid) : "process unknown";
    Tell("Cendrow is already running in this network namespace (" + who + ").");
    if (uid != getuid()) {
        Tell("That instance belongs to another user; this program cannot reach it.");
        return 1;
    }
    if (!AskRunningInstance(CMD_SHOW_HIDE_WINDOW, "on", CNS::DefaultFolder())) {
        std::filesystem::path theirs = ChannelFolderOf(pid);
        if (theirs.empty() || theirs == CNS::DefaultFolder() || !AskRunningInstance(CMD_SHOW_HIDE_WINDOW, "on", theirs))
            Tell("That instance did not answer on its command channel.");
    }
    return 1;
}

// What a run that ended without its disconnect (a crash, kill -9) left in
// the network: our routes, the DNS servers, the resolver, the TUN device up
// with our address. Returns what was repaired, one line each.
std::vector<std::string> RecoverFromCrash() {
    StartUpRecovery r = RecoverNetworkAtStartUp(GetAppDir());
    std::vector<std::string> lines;
    if (r.routesRemoved > 0)
        lines.push_back("Start-up: removed " + std::to_string(r.routesRemoved) + " routes an earlier run left");
    if (r.dns == ResolvConfResult::kOk) lines.push_back("Start-up: put back the DNS configuration an earlier run changed");
    if (r.dns == ResolvConfResult::kLeftAlone)
        lines.push_back("Start-up: the DNS configuration was changed by someone else since an earlier run; left alone");
    if (r.resolverEnded) lines.push_back("Start-up: ended the resolver an earlier run left");
    if (TunDevice_Find(kTunDeviceName) == TunLookup::kFound) ResetTunDevice(Utf8ToWideString(kTunDeviceName));
    for (const std::string& line : lines) Tell(line);
    return lines;
}

// Routes through the tunnel win over those through the local connection.
void SetInterfaceMetrics() {
    const AdapterSettings& a = GetSettings()->adapter;
    for (const auto& [name, metric] : {std::pair{a.tap_connection_name, 1}, {a.local_connection_name, 100}}) {
        if (name.empty()) continue;
        SetInterfaceMetricV4(name, metric, -1);
        SetInterfaceMetricV6(name, metric, -1);
    }
}

// False, after saying so, when the user cannot write the program folder's
// config or log folder.
bool RefuseUnwritableProgramFolder() {
    std::vector<std::filesystem::path> folders = UnwritableProgramFolders(GetAppDir());
    if (folders.empty()) return true;
    InitTranslations(GetAppDir(), "vokt");
    std::string text = Translate(kProgramFolderNotWritable);
    for (const auto& folder : folders) text += "\n" + folder.string();
    AppMessageBox(text.c_str(), MB_OK | MB_ICONERROR);
    return false;
}

}  // namespace

int RunApplication(int argc, char** argv, IAppShell* shell) {
    // Before any thread starts: the stop signals reach only the main loop's signalfd.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stopSignals, s);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    InstallCrashHandler();
    InitAppPaths();
    CHalvernApp& app = GetApp();
    CTapCommandLineParser* parser = app.GetCommandLineParser();
    parser->onInstallDriver = [] { InstallTapDriver(GetAppDir()); };
    parser->onUninstallDriver = [] { RemoveTapDriver(GetAppDir(), true); };
    parser->onQuitAll = [] { AskRunningInstance(NSCMD_QUIT, "", CNS::DefaultFolder()); };
    if (parser->Parse(argc, argv) && !parser->GetContinue()) return 0;
    // Before anything is written: a folder the user cannot write would
    // fail piece by piece later.
    if (!RefuseUnwritableProgramFolder()) return 1;
    CreateAppFolders();
    // Early, so that a refused second start and the repairs below are logged.
    InitLogging(GetAppDir(), "log", "Cendrow", 0, 1);
    LoadAgentConfig(GetAppDir());
    LoadServiceConfig(GetAppDir());

    // One instance per network namespace, whoever starts it: only the one
    // that holds the lock repairs what a crash left.
    CNamedMutex single(kSingleInstanceName);
    if (!single.IsOwner()) return RefuseSecondInstance(single);
    std::vector<std::string> repairs = RecoverFromCrash();

    RegisterInstallDir(L"Cendrow", GetAppDir());
    SaveWorkDirToProfile(L"Cendrow", GetAppDir());
    AddFirewallException((GetAppDir() / "unbound" / "unbound").wstring().c_str(), L"Unbound");
    AddFirewallException(GetExePath().wstring().c_str(), L"Cendrow");
    InitTranslations(GetAppDir(), "vokt");
    LoadSettings();
    InitProxyService(GetAppDir().wstring());
    SetUdpRelayPort(7300);
    EnsureDhcpServiceRunning();

    CMainLoop loop;
    CLinuxConnectSystem system;
    app.SetTapAdapterCount(system.DetectNetworkAdapters());
    SetInterfaceMetrics();

    AppRunContext ctx;
    ctx.loop = &loop;
    ctx.system = &system;
    ctx.single = &single;
    ctx.repairs = std::move(repairs);
    ctx.missingPrivileges = MissingTunnelPrivileges(GetAppDir());
    if (!ctx.missingPrivileges.empty()) app.SetNetworkPrivilegeMissing(1);
    ctx.onStop = [&loop] { loop.Quit(1); };
    loop.WatchSignals({SIGTERM, SIGINT, SIGHUP}, [&ctx](int) {
        if (ctx.onStop) ctx.onStop();
    });

    if (shell) {
        if (shell->Open(argc, argv)) return shell->Run(ctx);
        Tell("No display could be opened; Cendrow runs without windows.");
    }
    CHeadlessView view;
    CoreHooks hooks;
    hooks.attach = [](DialogOstrelBase& core) {
        core.StartServices();
        core.OnDeferredInitMessage(0);
    };
    hooks.run = [&loop] { return loop.Run(); };
    return RunCore(ctx, &view, hooks);
}

int RunCore(AppRunContext& ctx, IMainWindowView* view, const CoreHooks& hooks) {
    CMainLoop& loop = *ctx.loop;
    DialogOstrelBase core(&loop, view, ctx.system);
    for (const std::string& line : ctx.repairs) core.AppendActionLog(Utf8ToWideString(line));
    if (!ctx.missingPrivileges.empty()) {
        std::string line = "Start-up: tunnel modes are off:";
        for (size_t i = 0; i < ctx.missingPrivileges.size(); ++i)
            line += (i ? "; " : " ") + ctx.missingPrivileges[i];
        Tell(line + ". Run scripts/install-caps.sh as root to grant the privileges.");
        core.SetStatusText(Utf8ToWideString(Translate(kTunnelPrivilegesMissing)));
    }
    std::function<void()> previousStop = ctx.onStop;
    ctx.onStop = [&core] { core.Exit(1); };
    CNamedMutex* single = ctx.single;
    if (single) loop.WatchFd(single->GetFd(), [single] { single->DropCallers(); });
    if (hooks.attach) hooks.attach(core);
    CNSTAP channel(&core, ctx.system);
    if (!channel.Start(&loop, CNS::DefaultFolder()))
        AppendToProgramLog("channel: not opened; the program cannot be driven");
    int code = hooks.run ? hooks.run() : 0;
    if (single) loop.UnwatchFd(single->GetFd());
    channel.Stop();
    if (!core.IsExiting()) core.Exit(1);
    if (hooks.detach) hooks.detach();
    ctx.onStop = previousStop;
    return code;
}
