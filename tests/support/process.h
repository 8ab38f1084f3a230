#pragma once
// Child processes for tests: real servers started from an argument vector
// (never through a shell) and stopped by their own pid, whatever the outcome.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

class ChildProcess {
public:
    ChildProcess() = default;
    // Starts argv[0] (searched in PATH). Output goes to `log_path` when given,
    // else to /dev/null. Throws on failure to start.
    explicit ChildProcess(const std::vector<std::string>& argv, const std::string& log_path = "");
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // SIGTERM, then SIGKILL after the grace period; reaps the child. Returns its wait status.
    int Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));
    // Waits for the child to end by itself; -1 on timeout.
    int Wait(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    int status_ = 0;
};

// Runs a command to completion and returns its exit code (-1 when it could not run).
// Standard output is appended to `out` when given.
int RunCommand(const std::vector<std::string>& argv, std::string* out = nullptr);

// True when process `pid` no longer runs: gone, or a zombie that its
// (new) parent has not reaped yet.
bool ProcessGone(pid_t pid);

// True when the program can be found in PATH.
bool HaveProgram(const std::string& name);

}  // namespace testsupport
