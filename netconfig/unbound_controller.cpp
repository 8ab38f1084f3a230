#include "netconfig/unbound_controller.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <random>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "foundation/program_log.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "platform/atomic_file.h"
#include "platform/capabilities.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kServiceTemplate = "template-service.conf";
constexpr const char* kServiceConf = "service.conf";
constexpr const char* kZoneFolder = "forward-zone";
constexpr const char* kZoneConf = "forward-zone.conf";
constexpr const char* kZoneUnsynced = "forward-zone.conf.unsynced";
constexpr const char* kStateFile = "unbound.state";

constexpr int kStartTimeoutMs = 5000;
constexpr int kStopGraceMs = 2000;

void Log(const std::string& text) {
    AppendToProgramLogOrStderr("[CUnboundController] " + text);
}

struct Placeholder {
    std::string_view name;
    std::string_view value;
};

// Every placeholder of `fills`, in one pass over the text and into one
// buffer: forward-zone templates hold tens of thousands of them. All begin
// with "<@-"; a value is never searched again, so a folder name that happens
// to hold a placeholder stays as it is.
std::string FillTemplate(std::string_view text, std::initializer_list<Placeholder> fills) {
    static constexpr std::string_view kMark = "<@-";
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    size_t pos = 0;
    size_t at = text.find(kMark);
    while (at != std::string_view::npos) {
        const Placeholder* hit = nullptr;
        for (const Placeholder& f : fills) {
            if (text.compare(at, f.name.size(), f.name) == 0) {
                hit = &f;
                break;
            }
        }
        if (!hit) {
            at = text.find(kMark, at + 1);
            continue;
        }
        out.append(text.substr(pos, at - pos));
        out.append(hit->value);
        pos = at + hit->name.size();
        at = text.find(kMark, pos);
    }
    out.append(text.substr(pos));
    return out;
}

// The template's text, or empty when it is missing or empty.
std::string ReadTemplate(const fs::path& path) {
    std::string data;
    if (!ReadWholeFile(path, &data)) return {};
    return data;
}

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

void Remove(const fs::path& p) {
    std::error_code ec;
    fs::remove(p, ec);
}

bool HasQuoteOrBreak(std::string_view s) {
    return s.find_first_of("\"\r\n") != std::string_view::npos;
}

// Empty, or a dotted IPv4 address the resolver will send queries to.
bool IsForwardAddress(const std::string& a) {
    return a.empty() || (IsValidIPv4(a) && !IsLoopbackText(Utf8ToWideString(a)));
}

// ---- The state file: which resolver a run started ----

// Start time of a process in clock ticks since boot (field 22 of its stat
// file), which tells a process from a later one that reuses its id; 0 when
// it is gone.
unsigned long long ProcessStartTime(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return 0;
    size_t paren = stat.rfind(')');
    if (paren == std::string::npos) return 0;
    std::istringstream fields(stat.substr(paren + 2));
    std::string field;
    // Fields from the state (3rd) on; the start time is the 22nd.
    for (int i = 3; i <= 22 && fields >> field; ++i) {
        if (i == 3 && field == "Z") return 0;  // ended, waiting to be reaped
        if (i == 22) return std::strtoull(field.c_str(), nullptr, 10);
    }
    return 0;
}

struct ResolverRecord {
    pid_t pid = -1;
    unsigned long long start_time = 0;
    fs::path exe;
};

// Called once the child has executed the resolver, so that /proc shows it.
bool WriteRecord(const fs::path& file, pid_t pid) {
    fs::path exe = GetProcessExePath(pid);
    unsigned long long started = ProcessStartTime(pid);
    if (exe.empty() || started == 0) return false;
    // After a system crash the process it names is gone: never worth a wait for the disk.
    return WriteFileAtomicallyUnsynced(
        file, std::to_string(pid) + " " + std::to_string(started) + " " + exe.string() + "\n");
}

bool ReadRecord(const fs::path& file, ResolverRecord* r) {
    std::string text;
    if (!ReadWholeFile(file, &text)) return false;
    std::istringstream in(text);
    long pid = 0;
    if (!(in >> pid >> r->start_time) || pid <= 1) return false;
    std::string exe;
    in.get();
    if (!std::getline(in, exe) || exe.empty()) return false;
    r->pid = static_cast<pid_t>(pid);
    r->exe = exe;
    return true;
}

// The recorded process, only while it is still that process.
bool IsRecordedProcess(const ResolverRecord& r) {
    return r.start_time != 0 && ProcessStartTime(r.pid) == r.start_time && GetProcessExePath(r.pid) == r.exe;
}

// ---- Whether our child serves 127.0.0.1:53 ----

// Socket inodes of the UDP sockets bound to 127.0.0.1:53 in the process's
// network namespace.
std::set<std::string> LoopbackDnsSocketInodes(pid_t pid) {
    std::set<std::string> out;
    std::ifstream in("/proc/" + std::to_string(pid) + "/net/udp");
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string slot, local, remote, st, queues, timer, retr, uid, timeout, inode;
        if (!(f >> slot >> local >> remote >> st >> queues >> timer >> retr >> uid >> timeout >> inode))
            continue;
        if (local == "0100007F:0035") out.insert(inode);
    }
    return out;
}

// Whether the process itself holds the socket that 127.0.0.1:53 reaches, so
// that an answer cannot come from someone else's server.
bool OwnsLoopbackDnsSocket(pid_t pid) {
    std::set<std::string> inodes = LoopbackDnsSocketInodes(pid);
    if (inodes.empty()) return false;
    std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* d = opendir(dir.c_str());
    if (!d) return false;
    bool found = false;
    while (dirent* e = readdir(d)) {
        char target[128];
        std::string link = dir + "/" + e->d_name;
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        std::string_view t(target, static_cast<size_t>(n));
        if (t.size() > 9 && t.substr(0, 8) == "socket:[" && t.back() == ']' &&
            inodes.count(std::string(t.substr(8, t.size() - 9)))) {
            found = true;
            break;
        }
    }
    closedir(d);
    return found;
}

}  // namespace

bool ResolverAnswersLocalhost(int timeoutMs) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(53);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    uint16_t id = static_cast<uint16_t>(std::random_device{}());
    const unsigned char query[] = {static_cast<unsigned char>(id >> 8),
                                   static_cast<unsigned char>(id & 0xff),
                                   0x01,
                                   0x00,  // recursion desired
                                   0,
                                   1,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,  // one question
                                   9,
                                   'l',
                                   'o',
                                   'c',
                                   'a',
                                   'l',
                                   'h',
                                   'o',
                                   's',
                                   't',
                                   0,
                                   0,
                                   1,
                                   0,
                                   1};  // A, IN
    bool ok = false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
        send(fd, query, sizeof query, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof query)) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            pollfd p{fd, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0) break;
            unsigned char reply[512];
            ssize_t n = recv(fd, reply, sizeof reply, 0);
            if (n < 0) break;  // refused: nobody listens
            if (n < 12 || reply[0] != query[0] || reply[1] != query[1]) continue;
            bool isAnswer = (reply[2] & 0x80) != 0;
            int rcode = reply[3] & 0x0f;
            int answers = (reply[6] << 8) | reply[7];
            ok = isAnswer && rcode == 0 && answers > 0;
            break;
        }
    }
    close(fd);
    return ok;
}

namespace {

// Ends a process that is not our child: SIGTERM, then SIGKILL; waits until it is gone.
void EndForeignProcess(const ResolverRecord& r) {
    kill(r.pid, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopGraceMs);
    while (IsRecordedProcess(r) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (IsRecordedProcess(r)) KillProcessById(r.pid);
    deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopGraceMs);
    while (IsRecordedProcess(r) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace

CUnboundController::~CUnboundController() {
    KillAll();
    FinishZoneSync();
}

void CUnboundController::FinishZoneSync() {
    if (zoneSync_.joinable()) zoneSync_.join();
}

fs::path CUnboundController::ServiceConfPath() const {
    return folder_.empty() ? fs::path() : folder_ / kServiceConf;
}

fs::path CUnboundController::ForwardZoneConfPath() const {
    return folder_.empty() ? fs::path() : folder_ / kZoneFolder / kZoneConf;
}

fs::path CUnboundController::ResolverPath() const {
    return folder_.empty() ? fs::path() : folder_ / kResolverExeName;
}

int CUnboundController::SetBaseDirectory(const std::wstring& programFolder) {
    if (programFolder.empty()) return 0;
    fs::path folder = WideToPath(programFolder) / "unbound";
    if (HasQuoteOrBreak(folder.string())) {
        Log("refused the folder " + folder.string() + ": it holds a quote or a line break");
        return 0;
    }
    CNamedLockGuard guard(&lock_);
    folder_ = folder;
    DeleteServiceConf();
    return 1;
}

int CUnboundController::SetForwardAddresses(const std::wstring& remotePrimary,
                                            const std::wstring& remoteSecondary,
                                            const std::wstring& domesticPrimary,
                                            const std::wstring& domesticSecondary) {
    std::string values[4] = {WideToAnsiString(remotePrimary), WideToAnsiString(remoteSecondary),
                             WideToAnsiString(domesticPrimary), WideToAnsiString(domesticSecondary)};
    for (const std::string& v : values) {
        if (!IsForwardAddress(v)) {
            Log("refused the forward address \"" + v + "\"");
            return 0;
        }
    }
    CNamedLockGuard guard(&lock_);
    bool changed = values[0] != remote_primary_ || values[1] != remote_secondary_ ||
                   values[2] != domestic_primary_ || values[3] != domestic_secondary_;
    remote_primary_ = values[0];
    remote_secondary_ = values[1];
    domestic_primary_ = values[2];
    domestic_secondary_ = values[3];
    if (changed) {
        DeleteServiceConf();
        DeleteForwardZoneConf();
    }
    return 1;
}

int CUnboundController::SetForwardZoneTemplate(const std::wstring& fileName) {
    if (fileName.empty()) return 1;
    std::string name = WideToUtf8String(fileName);
    if (name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos || HasQuoteOrBreak(name)) {
        Log("refused the forward-zone template name \"" + name + "\"");
        return 0;
    }
    CNamedLockGuard guard(&lock_);
    if (fileName != zone_template_) {
        zone_template_ = fileName;
        DeleteForwardZoneConf();
    }
    return 1;
}

int CUnboundController::GenerateForwardZoneConf() {
    CNamedLockGuard guard(&lock_);
    if (zone_template_.empty() || folder_.empty() || domestic_primary_.empty()) return 0;
    FinishZoneSync();
    fs::path out = ForwardZoneConfPath();
    fs::path unsynced = folder_ / kZoneFolder / kZoneUnsynced;
    if (Exists(out) && !Exists(unsynced)) return 1;
    std::string text = ReadTemplate(folder_ / kZoneFolder / WideToPath(zone_template_));
    if (text.empty()) return Exists(out) ? 1 : 0;
    text = FillTemplate(text, {{"<@-forward-addr1-@>", domestic_primary_},
                               {"<@-forward-addr2-@>",
                                domestic_secondary_.empty() ? domestic_primary_ : domestic_secondary_}});
    if (!WriteFileAtomically(unsynced, "")) {
        // No marker: the file is synced before it is used, as any other.
        if (!WriteFileAtomically(out, text)) Log("cannot write " + out.string());
    } else if (!WriteFileAtomicallyUnsynced(out, text)) {
        Log("cannot write " + out.string());
        Remove(unsynced);
    } else {
        auto sync = [out, unsynced] {
            if (SyncFileAndFolder(out)) Remove(unsynced);
        };
        try {
            zoneSync_ = std::thread(sync);
        } catch (const std::system_error&) {
            sync();  // no thread to spare: the start waits for the disk
        }
    }
    return Exists(out) ? 1 : 0;
}

int CUnboundController::GenerateServiceConf() {
    CNamedLockGuard guard(&lock_);
    if (folder_.empty() || remote_primary_.empty()) return 0;
    fs::path out = ServiceConfPath();
    if (Exists(out)) return 1;
    std::string text = ReadTemplate(folder_ / kServiceTemplate);
    if (text.empty()) return 0;
    const std::string directory = folder_.string();
    const std::string zoneFile = ForwardZoneConfPath().string();
    text = FillTemplate(text, {{"<@-directory-@>", directory},
                               {"<@-forward-addr1-@>", remote_primary_},
                               {"<@-forward-addr2-@>", remote_secondary_.empty() ? remote_primary_ : remote_secondary_},
                               {"<@-forward-zone-file-@>", zoneFile}});
    // Deleted at every program start, so never relied on after a system crash.
    if (!WriteFileAtomicallyUnsynced(out, text)) {
        Log("cannot write " + out.string());
        return 0;
    }
    return 1;
}

int CUnboundController::GenerateConfigFiles() {
    if (!GenerateForwardZoneConf()) return 0;
    return GenerateServiceConf();
}

int CUnboundController::FilesExist() const {
    if (folder_.empty()) return 0;
    return Exists(ResolverPath()) && Exists(ServiceConfPath()) && Exists(ForwardZoneConfPath()) ? 1 : 0;
}

void CUnboundController::DeleteServiceConf() {
    CNamedLockGuard guard(&lock_);
    if (!folder_.empty()) Remove(ServiceConfPath());
}

void CUnboundController::DeleteForwardZoneConf() {
    CNamedLockGuard guard(&lock_);
    FinishZoneSync();
    if (folder_.empty()) return;
    Remove(ForwardZoneConfPath());
    Remove(folder_ / kZoneFolder / kZoneUnsynced);
}

bool CUnboundController::ChildAlive() {
    if (child_ <= 0) return false;
    int status = 0;
    if (WaitProcess(child_, 0, &status)) {
        Log("the resolver (pid " + std::to_string(child_) + ") has ended");
        child_ = -1;
        Remove(folder_ / kStateFile);
        return false;
    }
    return true;
}

pid_t CUnboundController::GetChildPid() {
    CNamedLockGuard guard(&lock_);
    return ChildAlive() ? child_ : -1;
}

void CUnboundController::EndChild() {
    if (child_ <= 0) return;
    kill(child_, SIGTERM);
    if (!WaitProcess(child_, kStopGraceMs, nullptr)) {
        KillProcessById(child_);
        WaitProcess(child_, -1, nullptr);
    }
    child_ = -1;
}

int CUnboundController::EndLeftoverResolver(const fs::path& unboundFolder) {
    fs::path state = unboundFolder / kStateFile;
    ResolverRecord r;
    if (!ReadRecord(state, &r)) {
        Remove(state);
        return 0;
    }
    int ended = 0;
    if (r.pid != getpid() && IsRecordedProcess(r)) {
        Log("ending the resolver a previous run left (pid " + std::to_string(r.pid) + ")");
        EndForeignProcess(r);
        ended = 1;
    }
    Remove(state);
    return ended;
}

int CUnboundController::KillAll() {
    CNamedLockGuard guard(&lock_);
    EndChild();
    if (!folder_.empty()) EndLeftoverResolver(folder_);
    return 1;
}

int CUnboundController::IsRunning() {
    CNamedLockGuard guard(&lock_);
    return ChildAlive() && OwnsLoopbackDnsSocket(child_) && ResolverAnswersLocalhost(1000) ? 1 : 0;
}

int CUnboundController::Start() {
    CNamedLockGuard guard(&lock_);
    KillAll();
    if (!GenerateConfigFiles() || !FilesExist()) {
        Log("the resolver's files are not complete in " + folder_.string());
        return 0;
    }
    std::vector<std::string> argv = {ResolverPath().string(), "-c", ServiceConfPath().string()};
    pid_t pid;
    {
        // Port 53 without root: the resolver gets this one capability
        // from us (ambient across its exec), nothing else.
        CapsAmbientScope bindService(CAP_NET_BIND_SERVICE);
        if (!bindService.ok()) Log("cannot pass CAP_NET_BIND_SERVICE on to the resolver");
        pid = StartProcessHidden(argv, -1, folder_);
    }
    if (pid < 0) {
        Log(std::string("cannot start the resolver: ") + std::strerror(errno));
        return 0;
    }
    child_ = pid;
    if (!WriteRecord(folder_ / kStateFile, pid)) Log("cannot record the resolver in " + folder_.string());

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!ChildAlive()) {
            Log("the resolver ended at its start");
            return 0;
        }
        if (OwnsLoopbackDnsSocket(pid) && ResolverAnswersLocalhost(200)) return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Log("the resolver did not answer on 127.0.0.1:53 in time; it is ended");
    KillAll();
    return 0;
}
