#include "app/startup.h"

#include <signal.h>

#include <memory>

#include "app/command_channel.h"
#include "app/connect_system_linux.h"
#include "app/crash_recovery.h"
#include "app/halvern_app.h"
#include "app/headless_view.h"
#include "app/main_core.h"
#include "app/main_loop.h"
#include "foundation/app_paths.h"
#include "foundation/crash_handler.h"
#include "foundation/named_mutex.h"
#include "foundation/program_log.h"
#include "foundation/registry.h"
#include "foundation/services.h"
#include "foundation/settings.h"
#include "foundation/system_helpers.h"
#include "foundation/translate.h"
#include "netconfig/local_host.h"
#include "nodes/account/agent_config.h"
#include "nodes/account/service_config.h"
#include "platform/resolv_conf.h"
#include "proxy/proxy_service.h"

namespace {

// Asks the running instance through its channel; with no channel yet
// (it is still starting) nothing happens.
void AskRunningInstance(int command, const std::string& data) {
    NSReply reply;
    if (!SendChannelRequest(CNS::DefaultFolder(), command, data, &reply))
        AppendToProgramLog("no running instance answered on the command channel");
}

}  // namespace

int RunApplication(int argc, char** argv) {
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
    parser->onQuitAll = [] { AskRunningInstance(1, ""); };
    if (parser->Parse(argc, argv) && !parser->GetContinue()) return 0;
    CreateAppFolders();
    LoadAgentConfig(GetAppDir());
    LoadServiceConfig(GetAppDir());

    CNamedMutex single(kSingleInstanceName);
    if (single.AlreadyExists()) {
        AskRunningInstance(9, "on");
        return 0;
    }
    // Only the instance that holds the lock repairs what a crash left.
    RecoverFromCrash(GetAppDir());

    RegisterInstallDir(L"Cendrow", GetAppDir());
    SaveWorkDirToProfile(L"Cendrow", GetAppDir());
    AddFirewallException((GetAppDir() / "unbound" / "unbound").wstring().c_str(), L"Unbound");
    AddFirewallException(GetExePath().wstring().c_str(), L"Cendrow");
    InitLogging(GetAppDir(), "log", "Cendrow", 0, 1);
    InitTranslations(GetAppDir(), "vokt");
    LoadSettings();
    InitProxyService(GetAppDir().wstring());
    SetUdpRelayPort(7300);
    ResolvConf_SetBackupFile(ResolvConfBackupPath(GetAppDir()));

    CMainLoop loop;
    CLinuxConnectSystem system;
    app.SetTapAdapterCount(system.DetectNetworkAdapters());

    CHeadlessView view;
    int code = 0;
    {
        DialogOstrelBase core(&loop, &view, &system);
        loop.WatchSignals({SIGTERM, SIGINT, SIGHUP}, [&core](int) { core.Exit(1); });
        core.StartServices();
        core.OnDeferredInitMessage(0);
        CNSTAP channel(&core, &system);
        if (!channel.Start(&loop, CNS::DefaultFolder()))
            AppendToProgramLog("channel: not opened; the program cannot be driven");
        code = loop.Run();
        channel.Stop();
        if (!core.IsExiting()) core.Exit(1);
    }
    return code;
}
