#include "netconfig/network_recovery.h"

#include "foundation/system_helpers.h"
#include "netconfig/netconfig_log.h"
#include "netconfig/route_table.h"
#include "netconfig/unbound_controller.h"
#include "platform/resolv_helper.h"
#include "platform/tun_device.h"

namespace {

int TunDown() {
    if (TunDevice_Find(kTunDeviceName) != TunLookup::kFound) return 0;
    if (TunDevice_SetDown(kTunDeviceName)) return 1;
    NetconfigLog("The TUN device could not be set down");
    return 0;
}

bool DnsBack(ResolvConfResult r) {
    return r == ResolvConfResult::kOk || r == ResolvConfResult::kNothingToDo || r == ResolvConfResult::kLeftAlone;
}

}  // namespace

std::filesystem::path DnsBackupPath(const std::filesystem::path& programFolder) {
    return programFolder / "config" / "resolv.conf.saved";
}

void UseDnsBackupIn(const std::filesystem::path& programFolder) {
    ResolvConf_SetBackupFile(DnsBackupPath(programFolder));
    ResolvConf_SetHelper(ResolvHelper_PathIn(programFolder));
}

int UndoTunnelConfiguration() {
    ResolvConfResult dns = ResolvConf_Restore();
    if (!DnsBack(dns)) NetconfigLog("The DNS configuration could not be put back");
    CUnboundController::GetInstance()->KillAll();
    int down = TunDown();
    return DnsBack(dns) && (down || TunDevice_Find(kTunDeviceName) != TunLookup::kFound) ? 1 : 0;
}

StartUpRecovery RecoverNetworkAtStartUp(const std::filesystem::path& programFolder) {
    StartUpRecovery r;
    r.routesRemoved = RemoveLeftoverRoutes();
    UseDnsBackupIn(programFolder);
    r.dns = ResolvConf_Restore();
    if (r.dns == ResolvConfResult::kOk) NetconfigLog("DNS configuration of an earlier run put back");
    if (r.dns == ResolvConfResult::kLeftAlone)
        NetconfigLog("DNS configuration changed by someone else since an earlier run; left as it is");
    r.resolverEnded = CUnboundController::EndLeftoverResolver(programFolder / "unbound");
    r.tunDown = TunDown();
    return r;
}
