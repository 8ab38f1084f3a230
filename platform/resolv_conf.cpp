#include "platform/resolv_conf.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <sstream>

#include "platform/atomic_file.h"
#include "platform/host_guard.h"

namespace {

constexpr const char* kBackupMagic = "resolv-backup 1";
constexpr const char* kMarker =
    "# nameservers set by Cendrow while connected; the original comes back at disconnect";
constexpr size_t kMaxServers = 3;  // the resolver reads no more
constexpr size_t kMaxFileSize = 1 << 20;

std::mutex g_mutex;
std::filesystem::path g_target = "/etc/resolv.conf";
std::filesystem::path g_backup;
std::filesystem::path g_helper;
constexpr const char* kHelperTarget = "/etc/resolv.conf";

// What the backup file records.
struct Backup {
    std::filesystem::path target;
    std::optional<std::string> original;  // none: the target did not exist
    std::string written;
};

void Log(const std::string& text) {
    std::fprintf(stderr, "resolv.conf: %s\n", text.c_str());
}

bool IsDottedIPv4(const std::string& s) {
    in_addr a{};
    // inet_pton takes exactly four decimal parts and refuses leading zeros.
    return !s.empty() && inet_pton(AF_INET, s.c_str(), &a) == 1;
}

// The file's bytes; none when it does not exist. False on any other failure.
bool ReadTarget(const std::filesystem::path& path, std::optional<std::string>* out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            out->reset();
            return true;
        }
        Log("cannot read " + path.string() + ": " + std::strerror(errno));
        return false;
    }
    std::string data;
    char buf[8192];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || data.size() + static_cast<size_t>(n) > kMaxFileSize) {
            close(fd);
            Log("cannot read " + path.string());
            return false;
        }
        if (n == 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    *out = std::move(data);
    return true;
}

// Truncates and rewrites the file through its own inode (creating it when
// missing), then syncs it.
bool WriteInPlace(const std::filesystem::path& path, const std::string& data) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        Log("cannot write " + path.string() + ": " + std::strerror(errno));
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Log("cannot write " + path.string() + ": " + std::strerror(errno));
            close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    bool ok = fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    return ok;
}

// Undoes our creation of a file that did not exist: the file itself goes,
// not a symbolic link that led to it.
bool RemoveCreated(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(path, ec);
    if (ec) return ec == std::errc::no_such_file_or_directory;
    if (unlink(real.c_str()) != 0 && errno != ENOENT) {
        Log("cannot remove " + real.string() + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

bool PutBack(const std::filesystem::path& path, const std::optional<std::string>& original) {
    return original ? WriteInPlace(path, *original) : RemoveCreated(path);
}

std::string EncodeBackup(const Backup& b) {
    std::string out = kBackupMagic;
    out += "\ntarget=" + b.target.string() + "\n";
    out += "original=" + (b.original ? std::to_string(b.original->size()) : std::string("absent")) + "\n";
    out += "written=" + std::to_string(b.written.size()) + "\n\n";
    if (b.original) out += *b.original;
    out += b.written;
    return out;
}

bool ParseSize(const std::string& text, size_t* out) {
    if (text.empty() || text.size() > 9) return false;
    size_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<size_t>(c - '0');
    }
    *out = v;
    return true;
}

// Splits off one line ending in '\n' from `data` at `*pos`.
bool NextLine(const std::string& data, size_t* pos, std::string* line) {
    size_t end = data.find('\n', *pos);
    if (end == std::string::npos) return false;
    *line = data.substr(*pos, end - *pos);
    *pos = end + 1;
    return true;
}

bool DecodeBackup(const std::string& data, Backup* b) {
    size_t pos = 0;
    std::string magic, target, original, written, blank;
    if (!NextLine(data, &pos, &magic) || magic != kBackupMagic) return false;
    if (!NextLine(data, &pos, &target) || target.rfind("target=", 0) != 0) return false;
    if (!NextLine(data, &pos, &original) || original.rfind("original=", 0) != 0) return false;
    if (!NextLine(data, &pos, &written) || written.rfind("written=", 0) != 0) return false;
    if (!NextLine(data, &pos, &blank) || !blank.empty()) return false;
    b->target = target.substr(7);
    if (b->target.empty() || !b->target.is_absolute()) return false;
    size_t originalSize = 0, writtenSize = 0;
    original = original.substr(9);
    bool absent = original == "absent";
    if (!absent && !ParseSize(original, &originalSize)) return false;
    if (!ParseSize(written.substr(8), &writtenSize)) return false;
    if (data.size() - pos != originalSize + writtenSize) return false;
    if (absent) {
        b->original.reset();
    } else {
        b->original = data.substr(pos, originalSize);
    }
    b->written = data.substr(pos + originalSize);
    return true;
}

enum class BackupState { kNone, kPresent, kBroken };

BackupState LoadBackup(Backup* b) {
    std::error_code ec;
    if (g_backup.empty() || !std::filesystem::exists(g_backup, ec)) return BackupState::kNone;
    std::string data;
    if (!ReadWholeFile(g_backup, &data) || !DecodeBackup(data, b)) {
        Log("the backup " + g_backup.string() + " cannot be read; it is set aside");
        return BackupState::kBroken;
    }
    return BackupState::kPresent;
}

bool DropBackup() {
    std::error_code ec;
    std::filesystem::remove(g_backup, ec);
    return !ec;
}

// Whether `target` is the machine's own resolver configuration: the same
// path once links are resolved, or the same file.
bool IsMachineResolvConf(const std::filesystem::path& target) {
    const std::filesystem::path machine = "/etc/resolv.conf";
    std::error_code ec1, ec2;
    if (std::filesystem::weakly_canonical(target, ec1) == std::filesystem::weakly_canonical(machine, ec2) &&
        !ec1 && !ec2)
        return true;
    struct stat a {
    }, b{};
    return stat(target.c_str(), &a) == 0 && stat(machine.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// Under the tests' host guard the machine's own file is never touched.
bool TargetAllowed(const std::filesystem::path& target) {
    if (target.empty() || !target.is_absolute() || target.string().find('\n') != std::string::npos)
        return false;
    if (HostGuard_IsEnabled() && IsMachineResolvConf(target)) {
        HostGuard_Refuses(0, ("a change of " + target.string()).c_str());
        return false;
    }
    return true;
}

// Whether the process may write `target`, or make it when it is missing.
bool Writable(const std::filesystem::path& target) {
    if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0) return true;
    if (errno != ENOENT) return false;
    std::filesystem::path folder = target.parent_path();
    return faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool NeedsHelperLocked(const std::filesystem::path& target) {
    return target == kHelperTarget && !Writable(target);
}

// Runs the helper with `args` and waits; its exit status (-1 when it could
// not run or did not end normally), its standard output in `out`.
int RunHelper(const std::vector<std::string>& args, std::string* out) {
    if (g_helper.empty()) {
        Log("cannot write " + std::string(kHelperTarget) + " and no helper is set");
        return -1;
    }
    std::vector<std::string> argv = {g_helper.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    pid_t pid = -1;
    int err = posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (err != 0) {
        close(pipeFds[0]);
        Log("cannot run " + g_helper.string() + ": " + std::strerror(err));
        return -1;
    }
    char buf[512];
    for (;;) {
        ssize_t n = read(pipeFds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (out->size() < 4096) out->append(buf, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The helper's exit statuses.
constexpr int kHelperDone = 0;
constexpr int kHelperBadInput = 2;
constexpr int kHelperNotOurs = 3;

ResolvConfResult RestoreThroughHelper(const Backup& b) {
    std::vector<std::string> args = {"restore", "--old"};
    for (const std::string& s : ResolvConf_ParseServers(b.original ? *b.original : std::string())) args.push_back(s);
    args.push_back("--ours");
    for (const std::string& s : ResolvConf_ParseServers(b.written)) args.push_back(s);
    std::string out;
    switch (RunHelper(args, &out)) {
        case kHelperDone:
            return DropBackup() ? ResolvConfResult::kOk : ResolvConfResult::kIoError;
        case kHelperNotOurs:
            Log(b.target.string() + " was changed by someone else since we wrote it; it is left as it is");
            return DropBackup() ? ResolvConfResult::kLeftAlone : ResolvConfResult::kIoError;
        case kHelperBadInput: {
            // The backup names addresses the helper refuses: it can never be
            // put back through it.
            Log("the helper refused the backup's nameservers; the backup is set aside");
            std::error_code ec;
            std::filesystem::rename(g_backup, g_backup.string() + ".broken", ec);
            return ResolvConfResult::kRefused;
        }
        default:
            Log("the helper could not put back " + b.target.string());
            return ResolvConfResult::kIoError;
    }
}

ResolvConfResult RestoreLocked() {
    Backup b;
    switch (LoadBackup(&b)) {
        case BackupState::kNone:
            return ResolvConfResult::kNothingToDo;
        case BackupState::kBroken: {
            std::error_code ec;
            std::filesystem::rename(g_backup, g_backup.string() + ".broken", ec);
            return ResolvConfResult::kIoError;
        }
        case BackupState::kPresent:
            break;
    }
    if (!TargetAllowed(b.target)) return ResolvConfResult::kRefused;
    if (NeedsHelperLocked(b.target)) return RestoreThroughHelper(b);
    std::optional<std::string> now;
    if (!ReadTarget(b.target, &now)) return ResolvConfResult::kIoError;
    if (!now || *now != b.written) {
        Log(b.target.string() + " was changed by someone else since we wrote it; it is left as it is");
        return DropBackup() ? ResolvConfResult::kLeftAlone : ResolvConfResult::kIoError;
    }
    if (!PutBack(b.target, b.original)) return ResolvConfResult::kIoError;
    return DropBackup() ? ResolvConfResult::kOk : ResolvConfResult::kIoError;
}

std::string Trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// The address of a "nameserver" line, or none for any other line.
std::optional<std::string> NameserverOf(const std::string& line) {
    std::istringstream in(line);
    std::string keyword, address;
    in >> keyword;
    if (keyword != "nameserver") return std::nullopt;
    in >> address;
    return address;
}

}  // namespace

void ResolvConf_SetTarget(const std::filesystem::path& target) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_target = target;
}

std::filesystem::path ResolvConf_GetTarget() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_target;
}

void ResolvConf_SetHelper(const std::filesystem::path& helper) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_helper = helper;
}

bool ResolvConf_NeedsHelper() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return NeedsHelperLocked(g_target);
}

void ResolvConf_SetBackupFile(const std::filesystem::path& backup) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_backup = backup;
}

std::filesystem::path ResolvConf_GetBackupFile() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_backup;
}

std::vector<std::string> ResolvConf_ParseServers(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::optional<std::string> ns = NameserverOf(line);
        if (ns && !ns->empty()) out.push_back(*ns);
    }
    return out;
}

namespace {

std::string Replace(const std::string& text, const std::vector<std::string>& servers, bool marked) {
    std::string ours = marked ? std::string(kMarker) + "\n" : std::string();
    for (const std::string& s : servers) ours += "nameserver " + s + "\n";
    std::string out;
    bool placed = false;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (Trimmed(line) == kMarker) continue;
        if (NameserverOf(line)) {
            if (!placed) out += ours;
            placed = true;
            continue;
        }
        out += line + "\n";
    }
    if (!placed) out += ours;
    return out;
}

}  // namespace

std::string ResolvConf_ReplaceServers(const std::string& text, const std::vector<std::string>& servers) {
    return Replace(text, servers, true);
}

std::string ResolvConf_PutBackServers(const std::string& text, const std::vector<std::string>& servers) {
    return Replace(text, servers, false);
}

ResolvConfResult ResolvConf_SetServers(const std::vector<std::string>& servers) {
    if (servers.empty() || servers.size() > kMaxServers) return ResolvConfResult::kBadAddress;
    for (const std::string& s : servers) {
        if (!IsDottedIPv4(s)) {
            Log("refused the server address \"" + s + "\"");
            return ResolvConfResult::kBadAddress;
        }
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_backup.empty() || !TargetAllowed(g_target)) return ResolvConfResult::kRefused;

    Backup previous;
    BackupState state = LoadBackup(&previous);
    if (state == BackupState::kBroken) return ResolvConfResult::kIoError;
    if (state == BackupState::kPresent && previous.target != g_target) {
        // The servers went to another file last time: that one comes back first.
        ResolvConfResult r = RestoreLocked();
        if (r != ResolvConfResult::kOk && r != ResolvConfResult::kLeftAlone) return r;
        state = BackupState::kNone;
    }

    std::optional<std::string> now;
    if (!ReadTarget(g_target, &now)) return ResolvConfResult::kIoError;
    Backup next;
    next.target = g_target;
    // A second change keeps the first original, unless someone else has
    // rewritten the file meanwhile: then theirs is the one to come back.
    next.original =
        (state == BackupState::kPresent && now && *now == previous.written) ? previous.original : now;
    next.written = ResolvConf_ReplaceServers(now ? *now : std::string(), servers);

    if (!WriteFileAtomically(g_backup, EncodeBackup(next))) {
        Log("cannot write the backup " + g_backup.string());
        return ResolvConfResult::kIoError;
    }
    if (NeedsHelperLocked(g_target)) {
        std::vector<std::string> args = {"set"};
        args.insert(args.end(), servers.begin(), servers.end());
        std::string replaced;
        int status = RunHelper(args, &replaced);
        if (status == kHelperDone) {
            // Record what the file holds now, should it differ from our text.
            std::optional<std::string> after;
            if (ReadTarget(g_target, &after) && after && *after != next.written) {
                next.written = *after;
                WriteFileAtomically(g_backup, EncodeBackup(next));
            }
            return ResolvConfResult::kOk;
        }
        // The helper changed nothing; an earlier original of ours stays recorded.
        if (state == BackupState::kPresent && now && *now == previous.written) {
            WriteFileAtomically(g_backup, EncodeBackup(previous));
        } else {
            DropBackup();
        }
        Log("the helper did not set the nameservers (status " + std::to_string(status) + ")");
        return status == kHelperBadInput ? ResolvConfResult::kRefused : ResolvConfResult::kIoError;
    }
    if (!WriteInPlace(g_target, next.written)) {
        // Leave the target as it was before this call, and the backup with it:
        // it still holds an earlier original of ours, or nothing is ours.
        if (PutBack(g_target, now)) {
            if (next.original != now && now) {
                next.written = *now;
                WriteFileAtomically(g_backup, EncodeBackup(next));
            } else {
                DropBackup();
            }
        }
        return ResolvConfResult::kIoError;
    }
    return ResolvConfResult::kOk;
}

ResolvConfResult ResolvConf_Restore() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return RestoreLocked();
}

bool ResolvConf_HasBackup() {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::error_code ec;
    return !g_backup.empty() && std::filesystem::exists(g_backup, ec);
}

std::vector<std::string> ResolvConf_CurrentServers() {
    std::filesystem::path target = ResolvConf_GetTarget();
    std::optional<std::string> now;
    if (!ReadTarget(target, &now) || !now) return {};
    return ResolvConf_ParseServers(*now);
}

std::vector<std::string> ResolvConf_OriginalServers() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        Backup b;
        if (LoadBackup(&b) == BackupState::kPresent)
            return b.original ? ResolvConf_ParseServers(*b.original) : std::vector<std::string>{};
    }
    return ResolvConf_CurrentServers();
}

bool ResolvConf_IsDottedIPv4(const std::string& s) {
    return IsDottedIPv4(s);
}

bool ResolvConf_IsNameserverAddress(const std::string& s) {
    if (IsDottedIPv4(s)) return true;
    size_t percent = s.find('%');
    std::string address = s.substr(0, percent);
    in6_addr a{};
    if (address.empty() || inet_pton(AF_INET6, address.c_str(), &a) != 1) return false;
    if (percent == std::string::npos) return true;
    std::string scope = s.substr(percent + 1);
    // An interface name (at most 15 bytes) or index.
    if (scope.empty() || scope.size() > 15) return false;
    for (char c : scope) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                  c == '_' || c == '.';
        if (!ok) return false;
    }
    return true;
}

bool ResolvConf_ReadFile(const std::filesystem::path& path, std::optional<std::string>* out) {
    return ReadTarget(path, out);
}

bool ResolvConf_WriteInPlace(const std::filesystem::path& path, const std::string& data) {
    return WriteInPlace(path, data);
}
