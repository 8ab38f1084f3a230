#include "tests/support/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "tests/support/temp_dir.h"

namespace testsupport {
namespace {

std::vector<char*> MakeArgv(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    for (const auto& a : argv) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& log_path) {
    if (argv.empty()) throw std::invalid_argument("empty argv");
    auto cargv = MakeArgv(argv);
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        // Own process group, so that Stop reaches helpers the server forks.
        setpgid(0, 0);
        int fd = log_path.empty() ? open("/dev/null", O_WRONLY)
                                  : open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            close(fd);
        }
        int in = open("/dev/null", O_RDONLY);
        if (in >= 0) {
            dup2(in, STDIN_FILENO);
            close(in);
        }
        execvp(cargv[0], cargv.data());
        _exit(127);
    }
    setpgid(pid, pid);
    pid_ = pid;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) Stop();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_), status_(other.status_) {
    other.pid_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        if (pid_ > 0) Stop();
        pid_ = other.pid_;
        status_ = other.status_;
        other.pid_ = -1;
    }
    return *this;
}

bool ChildProcess::running() {
    if (pid_ <= 0) return false;
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
        status_ = st;
        pid_ = -1;
        return false;
    }
    return r == 0;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0) {
        if (!running()) return status_;
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
}

int ChildProcess::Stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0) return status_;
    // Signal the child's own process group only: everything in it is ours.
    kill(-pid_, SIGTERM);
    kill(pid_, SIGTERM);
    if (Wait(grace) != -1 || pid_ <= 0) return status_;
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    int st = 0;
    while (waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
    }
    status_ = st;
    pid_ = -1;
    return status_;
}

int RunCommand(const std::vector<std::string>& argv, std::string* out) {
    if (argv.empty()) return -1;
    int pipefd[2] = {-1, -1};
    if (out && pipe(pipefd) != 0) return -1;
    auto cargv = MakeArgv(argv);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, STDIN_FILENO);
        if (out) {
            dup2(pipefd[1], STDOUT_FILENO);
            close(pipefd[0]);
            close(pipefd[1]);
        } else {
            dup2(devnull, STDOUT_FILENO);
        }
        dup2(devnull, STDERR_FILENO);
        execvp(cargv[0], cargv.data());
        _exit(127);
    }
    if (out) {
        close(pipefd[1]);
        char buf[4096];
        ssize_t n;
        while ((n = read(pipefd[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
            if (n > 0) out->append(buf, static_cast<size_t>(n));
        }
        close(pipefd[0]);
    }
    int st = 0;
    while (waitpid(pid, &st, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

bool ProcessGone(pid_t pid) {
    if (kill(pid, 0) != 0) return errno == ESRCH;
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t paren = stat.rfind(')');
    return paren != std::string::npos && stat.size() > paren + 2 && stat[paren + 2] == 'Z';
}

bool HaveProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string p = path ? path : "/usr/bin:/bin";
    p += ":/usr/sbin:/sbin";
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = p.find(':', start);
        if (end == std::string::npos) end = p.size();
        std::string candidate = p.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace testsupport
