#include "foundation/app_paths.h"

#include <cstdlib>
#include <system_error>

namespace {

// Set once at start-up, read-only afterwards.
std::filesystem::path g_exePath;
std::filesystem::path g_appDir;
std::filesystem::path g_appDataDir;

constexpr const char* kUserFolder = "ZentravData";

}  // namespace

std::filesystem::path FindUserDataHome() {
    // Relative values are ignored, as the XDG rules ask.
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::filesystem::path(home) / ".local" / "share";
    return {};
}

int InitAppPaths() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return InitAppPaths(exe);
}

int InitAppPaths(const std::filesystem::path& exePath) {
    g_exePath = exePath;
    g_appDir = exePath.parent_path();
    g_appDataDir = FindUserDataHome();
    return 1;
}

const std::filesystem::path& GetAppDir() {
    return g_appDir;
}

const std::filesystem::path& GetExePath() {
    return g_exePath;
}

const std::filesystem::path& GetAppDataDir() {
    return g_appDataDir;
}

void CreateAppFolders() {
    std::error_code ec;
    if (!g_appDir.empty()) {
        for (const char* name : {"log", "config", "temp", "update"}) {
            std::filesystem::create_directory(g_appDir / name, ec);
        }
    }
    if (!g_appDataDir.empty()) {
        std::filesystem::create_directories(g_appDataDir / kUserFolder / "log", ec);
    }
}
