#pragma once
// The whole program as a process for end-to-end tests: a temporary program
// folder with a copy of the built one, started inside a network namespace,
// and a client of its command channel. It runs as root, or as the desktop
// user would: uid 65534 with the file capabilities scripts/install-caps.sh
// gives (or without them).

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command_channel.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace testsupport {

enum class RunAs {
    kRoot,
    kUser,             // uid and gid 65534, the executables' capabilities set
    kUserWithoutCaps,  // the same folder with no capabilities on its files
};

class ProgramRun {
public:
    static constexpr unsigned kUserId = 65534;

    // Why the program cannot run as the user here (the temporary folder's
    // mount drops set-id bits or file capabilities, or a tool is missing);
    // empty when it can.
    static std::string UserRunUnavailable();

    // Copies the built program folder into a temporary one; nothing runs yet.
    // As the user: the folder and its runtime folders belong to 65534, the
    // two executables root:65534 0750, set up by scripts/install-caps.sh.
    explicit ProgramRun(const std::string& netns, RunAs runAs = RunAs::kRoot);
    ~ProgramRun();

    // The display the program opens its windows on (":N"); none by default,
    // whatever this process's environment holds.
    void SetDisplay(const std::string& display) { display_ = display; }
    // More variables of its environment ("NAME=value").
    void AddEnv(const std::string& assignment) { env_.push_back(assignment); }
    // A file of the program folder (its folders made), the program's user's
    // as the rest of the folder.
    void WriteProgramFile(const std::filesystem::path& relative, const std::string& text) const;
    // The machine's CA bundle, as the program alone sees it, also holds the
    // certificates of `pemFile`: what a service with a publicly trusted
    // certificate is to the system's TLS (the web view's), with the test's CA.
    void TrustCertificates(const std::filesystem::path& pemFile);

    // Starts the program (extra arguments after the executable) inside the
    // namespace, without the tests' host guard, which would refuse every
    // change in the namespace it starts in.
    // Its output goes to `logName` in the temporary folder.
    ChildProcess Launch(const std::vector<std::string>& args = {}, const std::string& logName = "output.log") const;
    void Start(const std::vector<std::string>& args = {});
    // Waits until the channel answers; false after `seconds`.
    bool WaitChannel(int seconds = 60);
    // One request; status -1 and an empty text when no reply came.
    NSReply Ask(int command, const std::string& data = "");
    // Polls the state until it is `state`; false after `seconds`.
    bool WaitState(const std::string& state, int seconds);
    // The program ends by itself within `seconds`: its exit code, or -1.
    int WaitExit(int seconds);
    void Kill9();
    // Runs `argv` in the namespace as the program's user; its exit code.
    int RunAsUser(const std::vector<std::string>& argv, std::string* out = nullptr) const;

    ChildProcess& process() { return process_; }
    const std::filesystem::path& programDir() const { return program_; }
    std::filesystem::path channelFolder() const { return dir_.path() / "run" / "cendrow"; }
    std::string Log() const;

private:
    // The program's side of the channel checks that the peer is its user.
    bool Request(int command, const std::string& data, NSReply* reply, int timeoutMs);
    // `ip netns exec` and, as the user, setpriv in front of `argv`.
    std::vector<std::string> InNamespace(const std::vector<std::string>& env,
                                         const std::vector<std::string>& argv) const;

    std::string netns_;
    RunAs runAs_;
    std::string display_;
    std::vector<std::string> env_;
    std::filesystem::path trustBundle_;
    TempDir dir_;
    std::filesystem::path program_;
    ChildProcess process_;
};

}  // namespace testsupport
