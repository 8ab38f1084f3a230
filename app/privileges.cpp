#include "app/privileges.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/capabilities.h"
#include "platform/resolv_conf.h"
#include "platform/resolv_helper.h"
#include "platform/tun_device.h"

namespace {

bool MayWrite(const std::filesystem::path& path) {
    return faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

}  // namespace

std::vector<std::string> MissingTunnelPrivileges(const std::filesystem::path& programFolder) {
    if (Caps_IsRoot()) return {};
    std::vector<std::string> missing;
    if (!Caps_HasEffective(CAP_NET_ADMIN)) missing.push_back("CAP_NET_ADMIN is not in the effective set");
    // CAP_NET_ADMIN does not pass the device node's permission bits.
    if (!TunDevice_NodeUsable())
        missing.push_back(std::string("/dev/net/tun cannot be opened: ") + std::strerror(errno));
    if (ResolvConf_NeedsHelper()) {
        std::filesystem::path helper = ResolvHelper_PathIn(programFolder);
        if (access(helper.c_str(), X_OK) != 0 || !Caps_FileGrants(helper, CAP_DAC_OVERRIDE))
            missing.push_back("resolv.conf is not writable and " + helper.string() +
                              " is missing or lacks cap_dac_override");
    }
    return missing;
}

std::vector<std::filesystem::path> UnwritableProgramFolders(const std::filesystem::path& programFolder) {
    std::vector<std::filesystem::path> out;
    bool folderWritable = MayWrite(programFolder);
    for (const char* name : {"config", "log"}) {
        std::filesystem::path sub = programFolder / name;
        std::error_code ec;
        bool exists = std::filesystem::is_directory(sub, ec);
        if (exists ? !MayWrite(sub) : !folderWritable) out.push_back(sub);
    }
    return out;
}
