#include "platform/open_url.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

extern char** environ;

namespace {

std::mutex g_mutex;
std::string g_program;      // empty: "xdg-open"
std::vector<pid_t> g_late;  // openers still running when we stopped waiting

constexpr int kSuccess = 33;
constexpr int kNotFound = 2;
constexpr int kNoAssociation = 31;
constexpr int kOutOfResources = 0;
constexpr int kOtherFailure = 1;

// How long the user-interface thread waits for the opener. xdg-open normally
// hands the address to a running browser and ends; on desktops where it runs
// the browser itself, we stop waiting, count that as opened and reap the
// process later.
constexpr auto kWaitLimit = std::chrono::seconds(3);

void ReapLate() {
    for (auto it = g_late.begin(); it != g_late.end();) {
        int status = 0;
        const pid_t r = waitpid(*it, &status, WNOHANG);
        if (r == *it || (r < 0 && errno == ECHILD)) {
            it = g_late.erase(it);
        } else {
            ++it;
        }
    }
}

bool StartsWithNoCase(const std::string& s, const char* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= s.size() || std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
    }
    return true;
}

int MapExit(int status) {
    if (WIFEXITED(status)) {
        switch (WEXITSTATUS(status)) {
            case 0:
                return kSuccess;
            case 2:
                return kNotFound;
            case 3:
                return kNoAssociation;
            case 127:  // the exec in the child failed
                return kNotFound;
            default:
                return kOtherFailure;
        }
    }
    return kOtherFailure;
}

}  // namespace

bool IsOpenableUrl(const std::string& url) {
    size_t rest = 0;
    if (StartsWithNoCase(url, "http://")) {
        rest = 7;
    } else if (StartsWithNoCase(url, "https://")) {
        rest = 8;
    } else {
        return false;
    }
    if (url.size() <= rest) return false;
    for (unsigned char c : url) {
        if (c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

void SetUrlOpenerProgram(const std::string& program) {
    std::lock_guard lock(g_mutex);
    g_program = program;
}

int OpenUrl(const std::string& url) {
    if (!IsOpenableUrl(url)) return kNoAssociation;

    std::lock_guard lock(g_mutex);
    ReapLate();
    const std::string program = g_program.empty() ? "xdg-open" : g_program;

    // The address is one argument; "--" is not used because xdg-open takes
    // exactly one operand and treats it as a file or URL.
    std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>(url.c_str()), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The opener gets default signal handling and its own process group, so
    // that a browser it starts is not tied to our terminal's signals.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc == ENOENT || rc == EACCES || rc == ENOEXEC) return kNotFound;
    if (rc != 0) return kOutOfResources;

    const auto until = std::chrono::steady_clock::now() + kWaitLimit;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return MapExit(status);
        if (r < 0 && errno != EINTR) return kOtherFailure;
        if (std::chrono::steady_clock::now() >= until) {
            g_late.push_back(pid);
            return kSuccess;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
