#include "tests/e2e/program_run.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "tests/support/program_dir.h"

namespace testsupport {

ProgramRun::ProgramRun(const std::string& netns) : netns_(netns), dir_("cendrow-program") {
    program_ = dir_.path() / "program";
    std::filesystem::copy(BuiltProgramDir(), program_, std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(dir_.path() / "run");
    std::filesystem::permissions(dir_.path() / "run", std::filesystem::perms::owner_all);
    std::filesystem::create_directories(dir_.path() / "data");
}

ProgramRun::~ProgramRun() {
    if (process_.pid() > 0 && process_.running()) process_.Stop(std::chrono::milliseconds(15000));
}

ChildProcess ProgramRun::Launch(const std::vector<std::string>& args, const std::string& logName) const {
    std::vector<std::string> argv = {"ip",
                                     "netns",
                                     "exec",
                                     netns_,
                                     "env",
                                     "-u",
                                     "CENDROW_HOST_GUARD",
                                     "XDG_RUNTIME_DIR=" + (dir_.path() / "run").string(),
                                     "XDG_DATA_HOME=" + (dir_.path() / "data").string(),
                                     (program_ / "cendrow").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return ChildProcess(argv, (dir_.path() / logName).string());
}

void ProgramRun::Start(const std::vector<std::string>& args) {
    process_ = Launch(args);
}

bool ProgramRun::WaitChannel(int seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        NSReply r;
        if (SendChannelRequest(channelFolder(), NSCMD_NOP, "", &r, 2000)) return true;
        if (process_.pid() > 0 && !process_.running()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

NSReply ProgramRun::Ask(int command, const std::string& data) {
    NSReply r;
    if (!SendChannelRequest(channelFolder(), command, data, &r, 10000)) return {-1, ""};
    return r;
}

bool ProgramRun::WaitState(const std::string& state, int seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (Ask(NSCMD_GETSTATE).text == state) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
}

int ProgramRun::WaitExit(int seconds) {
    int status = process_.Wait(std::chrono::seconds(seconds));
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void ProgramRun::Kill9() {
    kill(process_.pid(), SIGKILL);
    process_.Wait(std::chrono::seconds(10));
}

std::string ProgramRun::Log() const {
    return ReadFile(dir_.path() / "output.log");
}

}  // namespace testsupport
