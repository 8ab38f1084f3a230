#include "app/process_names.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "foundation/ascii_case.h"
#include "foundation/text_convert.h"

namespace {

// The file name of the process's executable; empty when it cannot be read.
std::string ExeFileName(pid_t pid) {
    char link[64];
    snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(pid));
    char target[4096];
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return {};
    std::string path(target, static_cast<size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
        path.resize(path.size() - kDeleted.size());
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<pid_t> FindProcessesByExeName(const std::wstring& name) {
    std::vector<pid_t> out;
    if (name.empty()) return out;
    std::string wanted = WideToUtf8String(name);
    DIR* dir = opendir("/proc");
    if (!dir) return out;
    pid_t self = getpid();
    while (dirent* e = readdir(dir)) {
        char* end = nullptr;
        long pid = std::strtol(e->d_name, &end, 10);
        if (!end || *end != '\0' || pid <= 1 || pid == self) continue;
        std::string exe = ExeFileName(static_cast<pid_t>(pid));
        if (!exe.empty() && AsciiEqualsNoCase(exe, wanted)) out.push_back(static_cast<pid_t>(pid));
    }
    closedir(dir);
    return out;
}

int KillProcessesByExeName(const std::wstring& name) {
    int count = 0;
    for (pid_t pid : FindProcessesByExeName(name)) {
        if (kill(pid, SIGKILL) == 0) ++count;
    }
    return count;
}
