#include "app/startup.h"

#include <signal.h>

#include <memory>

#include "app/command_channel.h"
#include "app/connect_system_linux.h"
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
#include "foundation/text_convert.h"
#include "foundation/translate.h"
#include "netconfig/adapter_config.h"
#include "netconfig/local_host.h"
#include "netconfig/network_recovery.h"
#include "nodes/account/agent_config.h"
#include "nodes/account/service_config.h"
#include "platform/tun_device.h"
#include "proxy/proxy_service.h"

namespace {

// Asks the running instance through its channel; with no channel yet
// (it is still starting) nothing happens.
void AskRunningInstance(int command, const std::string& data) {
    NSReply reply;
    if (!SendChannelRequest(CNS::DefaultFolder(), command, data, &reply))
        AppendToProgramLog("no running instance answered on the command channel");
}

// What a run that ended without its disconnect (a crash, kill -9) left in
// the network: our routes, the DNS servers, the resolver, the TUN device up
// with our address.
void RecoverFromCrash() {
    StartUpRecovery r = RecoverNetworkAtStartUp(GetAppDir());
    if (r.routesRemoved > 0)
        AppendToProgramLog("start-up: removed " + std::to_string(r.routesRemoved) + " routes a crashed run left");
    if (r.dns == ResolvConfResult::kOk) AppendToProgramLog("start-up: restored resolv.conf");
    if (r.dns == ResolvConfResult::kLeftAlone)
        AppendToProgramLog("start-up: resolv.conf was changed since; left alone");
    if (r.resolverEnded) AppendToProgramLog("start-up: ended the resolver a crashed run left");
    if (TunDevice_Find(kTunDeviceName) == TunLookup::kFound) ResetTunDevice(Utf8ToWideString(kTunDeviceName));
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
    RecoverFromCrash();

    RegisterInstallDir(L"Cendrow", GetAppDir());
    SaveWorkDirToProfile(L"Cendrow", GetAppDir());
    AddFirewallException((GetAppDir() / "unbound" / "unbound").wstring().c_str(), L"Unbound");
    AddFirewallException(GetExePath().wstring().c_str(), L"Cendrow");
    InitLogging(GetAppDir(), "log", "Cendrow", 0, 1);
    InitTranslations(GetAppDir(), "vokt");
    LoadSettings();
    InitProxyService(GetAppDir().wstring());
    SetUdpRelayPort(7300);
    EnsureDhcpServiceRunning();

    CMainLoop loop;
    CLinuxConnectSystem system;
    app.SetTapAdapterCount(system.DetectNetworkAdapters());
    SetInterfaceMetrics();

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
