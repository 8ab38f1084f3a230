#pragma once
// What the program needs from the machine to run as the desktop user, and
// the messages when it lacks it. Root has everything; otherwise the
// executable's file capabilities (scripts/install-caps.sh) give it
// CAP_NET_ADMIN, and the resolv.conf helper beside it writes the DNS servers.

#include <filesystem>
#include <string>
#include <vector>

// Message ids, translated where shown.
inline constexpr const char* kTunnelPrivilegesMissing =
    "Network privileges are missing: proxy modes based on the virtual network card are not available. Run "
    "scripts/install-caps.sh as root to grant them.";
inline constexpr const char* kTunnelPrivilegesRefused =
    "This program may not change the network: proxy modes based on the virtual network card are not "
    "available.\nRun \"sudo scripts/install-caps.sh PROGRAM_FOLDER\" once and start the program again, or use "
    "Web Browser mode.";
inline constexpr const char* kProgramFolderNotWritable =
    "Cendrow cannot write its program folder. Make the folder and its config and log folders writable by the "
    "user who runs the program.";

// What tunnel modes lack, one text per missing piece (empty: nothing).
std::vector<std::string> MissingTunnelPrivileges(const std::filesystem::path& programFolder);

// The folders of the program folder the user cannot write (made when
// missing): config and log, or the program folder itself.
std::vector<std::filesystem::path> UnwritableProgramFolders(const std::filesystem::path& programFolder);
