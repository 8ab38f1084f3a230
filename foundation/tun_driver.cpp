// Install and removal of the program's persistent TUN device, done by the
// process itself so that its file capabilities are the ones that count.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "foundation/program_log.h"
#include "foundation/system_helpers.h"
#include "platform/tun_device.h"

namespace {

void Report(int fd, const std::string& line) {
    AppendToProgramLog(line);
    if (fd < 0) return;
    std::string text = line + "\n";
    ssize_t ignored = write(fd, text.data(), text.size());
    (void)ignored;
}

}  // namespace

bool InstallTapDriver(const std::filesystem::path& /*programFolder*/, int stdoutFd) {
    // The device belongs to the user who runs the program.
    if (TunDevice_Create(kTunDeviceName, getuid())) return true;
    Report(stdoutFd, std::string("cannot make the TUN device ") + kTunDeviceName + ": " + std::strerror(errno));
    return false;
}

bool RemoveTapDriver(const std::filesystem::path& /*programFolder*/, bool force, int stdoutFd) {
    if (TunDevice_Delete(kTunDeviceName, force)) return true;
    Report(stdoutFd, std::string("cannot remove the TUN device ") + kTunDeviceName + ": " + std::strerror(errno));
    return false;
}
