#include "foundation/os_version.h"

#include <sys/stat.h>
#include <sys/utsname.h>

#include "foundation/string_util.h"
#include "platform/atomic_file.h"

namespace {

// True when `path` is the file this process runs.
bool IsOwnExecutable(const std::filesystem::path& path) {
    struct stat self {
    }, other{};
    return !path.empty() && stat("/proc/self/exe", &self) == 0 && stat(path.c_str(), &other) == 0 &&
           self.st_dev == other.st_dev && self.st_ino == other.st_ino;
}

std::string Trimmed(std::string_view s) {
    std::string text(s);
    return TrimString(text, " \t\r");
}

}  // namespace

std::string OsReleaseValue(std::string_view text, std::string_view key) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos || Trimmed(line.substr(0, eq)) != key) continue;
        std::string raw = Trimmed(line.substr(eq + 1));
        if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front()) {
            std::string value;
            for (size_t i = 1; i + 1 < raw.size(); ++i) {
                if (raw[i] == '\\' && i + 2 < raw.size()) ++i;
                value += raw[i];
            }
            return value;
        }
        return raw;
    }
    return {};
}

std::string DescribeOperatingSystem(std::string_view osRelease, std::string_view sysname,
                                    std::string_view release, std::string_view version,
                                    std::string_view machine) {
    std::string distribution = OsReleaseValue(osRelease, "PRETTY_NAME");
    if (distribution.empty()) {
        distribution = OsReleaseValue(osRelease, "NAME");
        std::string v = OsReleaseValue(osRelease, "VERSION");
        if (!distribution.empty() && !v.empty()) distribution += " " + v;
    }
    std::string text = distribution;
    for (std::string_view part : {sysname, release, version}) {
        if (part.empty()) continue;
        if (!text.empty()) text += ' ';
        text += part;
    }
    if (!text.empty()) text += ' ';
    text += machine.find("64") != std::string_view::npos ? "x64" : "x32";
    return text;
}

CGetWindowsVer::CGetWindowsVer() {
    std::string osRelease;
    if (!ReadWholeFile("/etc/os-release", &osRelease)) ReadWholeFile("/usr/lib/os-release", &osRelease);
    utsname u{};
    if (uname(&u) != 0) {
        description_ = DescribeOperatingSystem(osRelease, "Linux", "", "", "");
        return;
    }
    description_ = DescribeOperatingSystem(osRelease, u.sysname, u.release, u.version, u.machine);
}

bool ReadModuleVersion(const std::filesystem::path& path, ModuleVersion* out) {
    *out = ModuleVersion{};
    if (!IsOwnExecutable(path)) return false;
    out->company = kProductName;
    out->product = kProductName;
    out->description = kProductName;
    for (int i = 0; i < 4; ++i) out->fileVersion[i] = out->productVersion[i] = kProductVersionParts[i];
    return true;
}

std::string GetProductVersionText(const std::filesystem::path& path, size_t maxChars) {
    std::string text = IsOwnExecutable(path) ? kProductVersion : "Unknown";
    return text.substr(0, maxChars);
}

void CFileVersionInfo::Clear() {
    *this = CFileVersionInfo();
}

bool ReadFileVersionInfo(const std::filesystem::path& path, CFileVersionInfo* info) {
    info->Clear();
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    info->lastModified = st.st_mtime;
    if (!IsOwnExecutable(path)) return false;
    info->companyName = info->productName = info->fileDescription = info->internalName = kProductName;
    info->originalFileName = path.filename().string();
    info->fileVersion = info->productVersion = kProductVersion;
    return true;
}
