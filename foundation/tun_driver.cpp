// Install and removal of the program's persistent TUN device.
#include "foundation/system_helpers.h"
#include "platform/tun_device.h"

std::vector<std::string> BuildInstallTapDriverCommand() {
    return {"ip", "tuntap", "add", "dev", kTunDeviceName, "mode", "tun"};
}

std::vector<std::string> BuildRemoveTapDriverCommand(bool force) {
    // "del" only clears the persistence: a device still open stays until it is
    // closed. Deleting the link removes it at once, whoever holds it.
    if (force) return {"ip", "link", "delete", "dev", kTunDeviceName};
    return {"ip", "tuntap", "del", "dev", kTunDeviceName, "mode", "tun"};
}

// The command's own exit code says little ("add" fails when the device is
// already there, "del" succeeds when it never was): the result is the state
// the command leaves.
bool InstallTapDriver(const std::filesystem::path& /*programFolder*/, int stdoutFd) {
    RunCommandHidden(BuildInstallTapDriverCommand(), stdoutFd);
    return TunDevice_Find(kTunDeviceName) == TunLookup::kFound;
}

bool RemoveTapDriver(const std::filesystem::path& /*programFolder*/, bool force, int stdoutFd) {
    RunCommandHidden(BuildRemoveTapDriverCommand(force), stdoutFd);
    return TunDevice_Find(kTunDeviceName) == TunLookup::kMissing;
}
