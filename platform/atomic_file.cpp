#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>

namespace {

// The file a symbolic link points to is replaced, not the link itself.
std::filesystem::path ResolveTarget(const std::filesystem::path& target) {
    std::error_code ec;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(target, ec))) {
        auto resolved = std::filesystem::weakly_canonical(target, ec);
        if (!ec) return resolved;
    }
    return target;
}

// Creates an empty file of our own beside `target`, with the mode open()
// gives any new file, so that the umask and the folder's default ACL decide
// who may read it (a left-over of a crashed run is never reused).
int CreateTemporary(const std::filesystem::path& target, std::filesystem::path* temp) {
    static std::atomic<unsigned> serial{0};
    std::string prefix = "." + target.filename().string() + "." + std::to_string(getpid()) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = target.parent_path() / (prefix + std::to_string(serial++));
        int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *temp = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// Makes the rename itself durable.
bool SyncFolder(const std::filesystem::path& folder) {
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

}  // namespace

AtomicFileWriter::~AtomicFileWriter() {
    Abandon();
}

bool AtomicFileWriter::Open(const std::filesystem::path& target) {
    Abandon();
    if (target.empty() || !target.has_filename()) return false;
    target_ = ResolveTarget(target);
    failed_ = false;
    std::filesystem::path name;
    int fd = CreateTemporary(target_, &name);
    if (fd < 0) return false;
    // The file being replaced keeps its mode.
    struct stat st {};
    if (stat(target_.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);
    file_ = fdopen(fd, "wb");
    if (!file_) {
        close(fd);
        unlink(name.c_str());
        return false;
    }
    temp_ = std::move(name);
    return true;
}

bool AtomicFileWriter::Write(std::string_view data) {
    if (!file_ || failed_) return false;
    if (!data.empty() && std::fwrite(data.data(), 1, data.size(), file_) != data.size()) failed_ = true;
    return !failed_;
}

bool AtomicFileWriter::Commit(bool sync) {
    if (!file_) return false;
    bool ok = !failed_ && std::fflush(file_) == 0 && (!sync || fsync(fileno(file_)) == 0);
    ok = (std::fclose(file_) == 0) && ok;
    file_ = nullptr;
    if (ok) ok = std::rename(temp_.c_str(), target_.c_str()) == 0;
    if (!ok) {
        unlink(temp_.c_str());
    } else if (sync) {
        SyncFolder(target_.parent_path());
    }
    temp_.clear();
    return ok;
}

void AtomicFileWriter::Abandon() {
    if (!file_) return;
    std::fclose(file_);
    file_ = nullptr;
    unlink(temp_.c_str());
    temp_.clear();
}

bool WriteFileAtomically(const std::filesystem::path& target, std::string_view data) {
    AtomicFileWriter writer;
    return writer.Open(target) && writer.Write(data) && writer.Commit();
}

bool WriteFileAtomicallyUnsynced(const std::filesystem::path& target, std::string_view data) {
    AtomicFileWriter writer;
    return writer.Open(target) && writer.Write(data) && writer.Commit(false);
}

bool SyncFileAndFolder(const std::filesystem::path& file) {
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    return SyncFolder(file.parent_path()) && ok;
}

bool ReadWholeFile(const std::filesystem::path& path, std::string* data) {
    data->clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data->append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}
