// Child processes and the processes of one executable.
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"

namespace {

// The file execv should run for argv[0]: itself when it names a path,
// else the first executable match in PATH; empty when there is none.
std::string ResolveProgram(const std::string& program) {
    if (program.empty() || program.find('/') != std::string::npos) return program;
    const char* pathVar = std::getenv("PATH");
    std::string_view dirs = pathVar && pathVar[0] ? pathVar : "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin";
    while (true) {
        size_t colon = dirs.find(':');
        std::string dir(dirs.substr(0, colon));
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (colon == std::string_view::npos) return {};
        dirs.remove_prefix(colon + 1);
    }
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void ExecChild(const char* file, char* const* argv, int stdoutFd, const char* workDir,
                            int errFd) {
    int err = 0;
    int out = stdoutFd >= 0 ? fcntl(stdoutFd, F_DUPFD, 3) : -1;
    int devnull = open("/dev/null", O_RDWR);
    if (devnull < 0 || (stdoutFd >= 0 && out < 0)) {
        err = errno;
    } else if (dup2(devnull, STDIN_FILENO) < 0 || dup2(out >= 0 ? out : devnull, STDOUT_FILENO) < 0 ||
               dup2(devnull, STDERR_FILENO) < 0) {
        err = errno;
    } else if (workDir && chdir(workDir) != 0) {
        err = errno;
    }
    if (err == 0) {
        // Nothing of ours (sockets, lock files, the TUN device) reaches the child.
        if (errFd > 3) close_range(3, errFd - 1, 0);
        close_range(errFd + 1, ~0U, 0);
        sigset_t all;
        sigemptyset(&all);
        sigprocmask(SIG_SETMASK, &all, nullptr);
        signal(SIGPIPE, SIG_DFL);
        execv(file, argv);
        err = errno;
    }
    ssize_t ignored = write(errFd, &err, sizeof err);
    (void)ignored;
    _exit(127);
}

}  // namespace

pid_t StartProcessHidden(const std::vector<std::string>& argv, int stdoutFd,
                         const std::filesystem::path& workDir) {
    if (argv.empty() || argv[0].empty()) return -1;
    std::string file = ResolveProgram(argv[0]);
    if (file.empty()) return -1;
    std::vector<char*> cargv;
    for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    std::string dir = workDir.string();

    // The child reports a failed exec through this pipe; a successful exec closes it.
    int errPipe[2];
    if (pipe2(errPipe, O_CLOEXEC) != 0) return -1;
    if (errPipe[1] < 3) {
        // The child's standard descriptors must not land on it.
        int moved = fcntl(errPipe[1], F_DUPFD_CLOEXEC, 3);
        close(errPipe[1]);
        if (moved < 0) {
            close(errPipe[0]);
            return -1;
        }
        errPipe[1] = moved;
    }
    pid_t pid = fork();
    if (pid == 0)
        ExecChild(file.c_str(), cargv.data(), stdoutFd, dir.empty() ? nullptr : dir.c_str(), errPipe[1]);
    close(errPipe[1]);
    if (pid < 0) {
        close(errPipe[0]);
        return -1;
    }
    int childErr = 0;
    ssize_t n;
    do {
        n = read(errPipe[0], &childErr, sizeof childErr);
    } while (n < 0 && errno == EINTR);
    close(errPipe[0]);
    if (n > 0) {
        WaitProcess(pid, -1, nullptr);
        errno = childErr;
        return -1;
    }
    return pid;
}

bool WaitProcess(pid_t pid, int timeoutMs, int* status) {
    if (pid <= 0) return false;
    int st = 0;
    if (timeoutMs < 0) {
        pid_t r;
        do {
            r = waitpid(pid, &st, 0);
        } while (r < 0 && errno == EINTR);
        if (r != pid) return false;
        if (status) *status = st;
        return true;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid) {
            if (status) *status = st;
            return true;
        }
        if (r < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int RunCommandHidden(const std::vector<std::string>& argv, int stdoutFd, int* exitCode) {
    pid_t pid = StartProcessHidden(argv, stdoutFd);
    if (pid < 0) return 0;
    int status = 0;
    WaitProcess(pid, -1, &status);
    if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return 1;
}

std::filesystem::path GetProcessExePath(pid_t pid) {
    if (pid <= 0) return {};
    char buf[PATH_MAX + 1];
    std::string link = "/proc/" + std::to_string(pid) + "/exe";
    ssize_t n = readlink(link.c_str(), buf, PATH_MAX);
    if (n <= 0) return {};
    std::string path(buf, static_cast<size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() &&
        path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
        path.resize(path.size() - kDeleted.size());
    return path;
}

int FindProcessesByName(const std::wstring& exePath, std::vector<pid_t>& out) {
    std::filesystem::path target = WideToPath(exePath);
    if (!target.is_absolute()) return 0;
    std::error_code ec;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(target, ec);
    if (!ec) target = resolved;
    DIR* proc = opendir("/proc");
    if (!proc) return 0;
    bool found = false;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        long id = std::strtol(entry->d_name, &end, 10);
        if (id <= 0 || *end != '\0') continue;
        if (GetProcessExePath(static_cast<pid_t>(id)) == target) {
            out.push_back(static_cast<pid_t>(id));
            found = true;
        }
    }
    closedir(proc);
    return found ? 1 : 0;
}

int KillProcessById(pid_t pid) {
    if (pid <= 0 || pid == getpid()) return 0;
    return kill(pid, SIGKILL) == 0 ? 1 : 0;
}

int KillProcessesByName(const std::wstring& exePath) {
    std::vector<pid_t> ids;
    if (!FindProcessesByName(exePath, ids)) return 0;
    int ended = 0;
    for (pid_t id : ids) ended += KillProcessById(id);
    return ended;
}
