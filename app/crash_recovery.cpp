#include "app/crash_recovery.h"

#include "app/connect_system_linux.h"
#include "foundation/program_log.h"
#include "foundation/system_helpers.h"
#include "netconfig/route_table.h"
#include "netconfig/unbound_controller.h"
#include "platform/resolv_conf.h"

std::filesystem::path ResolvConfBackupPath(const std::filesystem::path& programFolder) {
    return programFolder / "config" / "resolv.conf.backup";
}

void RecoverFromCrash(const std::filesystem::path& programFolder) {
    int routes = RemoveLeftoverRoutes();
    if (routes > 0) AppendToProgramLog("start-up: removed " + std::to_string(routes) + " routes a crashed run left");
    ResolvConf_SetBackupFile(ResolvConfBackupPath(programFolder));
    if (ResolvConf_HasBackup()) {
        ResolvConfResult r = ResolvConf_Restore();
        AppendToProgramLog(r == ResolvConfResult::kOk ? "start-up: restored resolv.conf"
                                                      : "start-up: resolv.conf was changed since; left alone");
    }
    if (CUnboundController::EndLeftoverResolver(programFolder / "unbound"))
        AppendToProgramLog("start-up: ended the resolver a crashed run left");
    ResetTunDevice(kTunDeviceName);
}
