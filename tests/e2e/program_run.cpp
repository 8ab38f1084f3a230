#include "tests/e2e/program_run.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "tests/support/program_dir.h"

namespace testsupport {

namespace {

// The calling thread acts as `uid` while the object lives. The raw system
// call changes this thread alone (glibc's wrapper would change every
// thread); the saved uid stays root, so root comes back.
class ThreadEffectiveUid {
public:
    explicit ThreadEffectiveUid(bool active) : active_(active) {
        if (active_ && syscall(SYS_setresuid, -1, ProgramRun::kUserId, -1) != 0)
            throw std::runtime_error("cannot act as the program's user");
    }
    ~ThreadEffectiveUid() {
        if (active_) syscall(SYS_setresuid, -1, 0, -1);
    }
    ThreadEffectiveUid(const ThreadEffectiveUid&) = delete;
    ThreadEffectiveUid& operator=(const ThreadEffectiveUid&) = delete;

private:
    bool active_;
};

std::filesystem::path SourceDir() {
    const char* source = std::getenv("CENDROW_SOURCE_DIR");
    return source ? source : ".";
}

void ChownTree(const std::filesystem::path& root, unsigned uid) {
    if (RunCommand({"chown", "-R", std::to_string(uid) + ":" + std::to_string(uid), root.string()}) != 0)
        throw std::runtime_error("chown failed on " + root.string());
}

// The bundle of CA certificates the system's TLS libraries trust.
constexpr const char* kSystemCaBundle = "/etc/ssl/certs/ca-certificates.crt";

// Whether others may open /dev/net/tun for reading and writing.
bool TunNodeOpenToOthers() {
    struct stat st {};
    return stat("/dev/net/tun", &st) == 0 && (st.st_mode & (S_IROTH | S_IWOTH)) == (S_IROTH | S_IWOTH);
}

}  // namespace

std::string ProgramRun::UserRunUnavailable() {
    if (geteuid() != 0) return "needs root to set file capabilities";
    for (const char* tool : {"setpriv", "setcap", "getcap", "unshare"})
        if (RunCommand({"sh", "-c", std::string("command -v ") + tool + " >/dev/null"}) != 0)
            return std::string(tool) + " is missing";
    std::filesystem::path tmp = std::filesystem::temp_directory_path();
    struct statvfs vfs {};
    if (statvfs(tmp.c_str(), &vfs) != 0) return "cannot examine " + tmp.string();
    if (vfs.f_flag & ST_NOSUID) return tmp.string() + " is mounted nosuid, which voids file capabilities";
    TempDir probe("cendrow-caps-probe");
    std::filesystem::path file = probe.path() / "probe";
    WriteFile(file, "");
    std::string shown;
    if (RunCommand({"setcap", "cap_net_admin+ep", file.string()}) != 0 ||
        RunCommand({"getcap", file.string()}, &shown) != 0 || shown.find("cap_net_admin") == std::string::npos)
        return tmp.string() + " does not keep security.capability";
    return {};
}

ProgramRun::ProgramRun(const std::string& netns, RunAs runAs)
    : netns_(netns), runAs_(runAs), dir_("cendrow-program") {
    program_ = dir_.path() / "program";
    std::filesystem::copy(BuiltProgramDir(), program_, std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(dir_.path() / "run");
    std::filesystem::permissions(dir_.path() / "run", std::filesystem::perms::owner_all);
    std::filesystem::create_directories(dir_.path() / "data");
    if (runAs_ == RunAs::kRoot) return;
    // The user reaches its folders through ours.
    std::filesystem::permissions(dir_.path(), std::filesystem::perms::owner_all |
                                                  std::filesystem::perms::group_read |
                                                  std::filesystem::perms::group_exec |
                                                  std::filesystem::perms::others_read |
                                                  std::filesystem::perms::others_exec);
    for (const char* folder : {"program", "run", "data"}) ChownTree(dir_.path() / folder, kUserId);
    // As a desktop user would: sudo scripts/install-caps.sh, the user's group 65534.
    if (RunCommand({"env", "SUDO_USER=" + std::to_string(kUserId), "bash",
                    (SourceDir() / "scripts" / "install-caps.sh").string(), program_.string()}) != 0)
        throw std::runtime_error("install-caps.sh failed");
    if (runAs_ == RunAs::kUserWithoutCaps) {
        for (const char* exe : {"cendrow", "cendrow-resolv"})
            if (RunCommand({"setcap", "-r", (program_ / exe).string()}) != 0)
                throw std::runtime_error("setcap -r failed");
    }
}

ProgramRun::~ProgramRun() {
    if (process_.pid() > 0 && process_.running()) process_.Stop(std::chrono::milliseconds(15000));
}

std::vector<std::string> ProgramRun::InNamespace(const std::vector<std::string>& env,
                                                 const std::vector<std::string>& argv) const {
    std::vector<std::string> full = {"ip", "netns", "exec", netns_, "env"};
    full.insert(full.end(), env.begin(), env.end());
    if (runAs_ != RunAs::kRoot) {
        // Never --no-new-privs: it voids file capabilities.
        for (std::string a : {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"}) full.push_back(a);
    }
    full.insert(full.end(), argv.begin(), argv.end());
    return full;
}

ChildProcess ProgramRun::Launch(const std::vector<std::string>& args, const std::string& logName) const {
    std::vector<std::string> program = {(program_ / "cendrow").string()};
    program.insert(program.end(), args.begin(), args.end());
    std::vector<std::string> env = {"-u", "CENDROW_HOST_GUARD", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                                    "XDG_RUNTIME_DIR=" + (dir_.path() / "run").string(),
                                    "XDG_DATA_HOME=" + (dir_.path() / "data").string()};
    if (!display_.empty()) env.push_back("DISPLAY=" + display_);
    env.insert(env.end(), env_.begin(), env_.end());
    std::vector<std::string> argv = InNamespace(env, program);
    // What the program alone sees differently is mounted in a mount
    // namespace of its own; the machine's nodes and files stay as they are.
    std::string mounts;
    const std::filesystem::path nodeDir = dir_.path() / "tun-node";
    if (runAs_ != RunAs::kRoot && !TunNodeOpenToOthers()) {
        // CAP_NET_ADMIN does not pass the node's mode bits: a node of our
        // own (0666) over /dev/net/tun.
        std::filesystem::create_directories(nodeDir);
        mounts += "mount -t tmpfs -o mode=755 cendrow-tun \"$0\"; mknod -m 666 \"$0/tun\" c 10 200; "
                  "mount --bind \"$0/tun\" /dev/net/tun; ";
    }
    if (!trustBundle_.empty()) mounts += "mount --bind \"$1\" " + std::string(kSystemCaBundle) + "; ";
    if (!mounts.empty()) {
        std::vector<std::string> wrap = {"unshare", "-m", "--propagation", "private", "sh", "-c",
                                         "set -e; " + mounts + "shift; exec \"$@\"", nodeDir.string(),
                                         trustBundle_.string()};
        argv.insert(argv.begin(), wrap.begin(), wrap.end());
    }
    return ChildProcess(argv, (dir_.path() / logName).string());
}

void ProgramRun::WriteProgramFile(const std::filesystem::path& relative, const std::string& text) const {
    const std::filesystem::path file = program_ / relative;
    std::filesystem::create_directories(file.parent_path());
    WriteFile(file, text);
    if (runAs_ == RunAs::kRoot) return;
    for (std::filesystem::path p = file; p != program_; p = p.parent_path())
        if (chown(p.c_str(), kUserId, kUserId) != 0) throw std::runtime_error("chown failed on " + p.string());
}

void ProgramRun::TrustCertificates(const std::filesystem::path& pemFile) {
    trustBundle_ = dir_.path() / "ca-certificates.crt";
    WriteFile(trustBundle_, ReadFile(kSystemCaBundle) + ReadFile(pemFile));
    std::filesystem::permissions(trustBundle_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                                   std::filesystem::perms::group_read |
                                                   std::filesystem::perms::others_read);
}

int ProgramRun::RunAsUser(const std::vector<std::string>& argv, std::string* out) const {
    return RunCommand(InNamespace({}, argv), out);
}

bool ProgramRun::Request(int command, const std::string& data, NSReply* reply, int timeoutMs) {
    ThreadEffectiveUid as(runAs_ != RunAs::kRoot);
    return SendChannelRequest(channelFolder(), command, data, reply, timeoutMs);
}

void ProgramRun::Start(const std::vector<std::string>& args) {
    process_ = Launch(args);
}

bool ProgramRun::WaitChannel(int seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        NSReply r;
        if (Request(NSCMD_NOP, "", &r, 2000)) return true;
        if (process_.pid() > 0 && !process_.running()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

NSReply ProgramRun::Ask(int command, const std::string& data) {
    NSReply r;
    if (!Request(command, data, &r, 10000)) return {-1, ""};
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
