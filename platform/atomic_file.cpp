#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

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

// Makes the rename itself durable.
void SyncFolder(const std::filesystem::path& folder) {
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
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
    std::filesystem::path folder = target_.parent_path();
    std::string tmpl =
        (folder / ("." + target_.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    // mkostemp makes the file private; keep the mode of the file being replaced.
    struct stat st {};
    mode_t mode = 0644;
    if (stat(target_.c_str(), &st) == 0) mode = st.st_mode & 07777;
    fchmod(fd, mode);
    file_ = fdopen(fd, "wb");
    if (!file_) {
        close(fd);
        unlink(name.data());
        return false;
    }
    temp_ = name.data();
    return true;
}

bool AtomicFileWriter::Write(std::string_view data) {
    if (!file_ || failed_) return false;
    if (!data.empty() && std::fwrite(data.data(), 1, data.size(), file_) != data.size()) failed_ = true;
    return !failed_;
}

bool AtomicFileWriter::Commit() {
    if (!file_) return false;
    bool ok = !failed_ && std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
    ok = (std::fclose(file_) == 0) && ok;
    file_ = nullptr;
    if (ok) ok = std::rename(temp_.c_str(), target_.c_str()) == 0;
    if (!ok) {
        unlink(temp_.c_str());
    } else {
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
