#pragma once
// The whole program as a process for end-to-end tests: a temporary program
// folder with a copy of the built one, started inside a network namespace,
// and a client of its command channel.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command_channel.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace testsupport {

class ProgramRun {
public:
    // Copies the built program folder into a temporary one; nothing runs yet.
    explicit ProgramRun(const std::string& netns);
    ~ProgramRun();

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

    ChildProcess& process() { return process_; }
    const std::filesystem::path& programDir() const { return program_; }
    std::filesystem::path channelFolder() const { return dir_.path() / "run" / "cendrow"; }
    std::string Log() const;

private:
    std::string netns_;
    TempDir dir_;
    std::filesystem::path program_;
    ChildProcess process_;
};

}  // namespace testsupport
