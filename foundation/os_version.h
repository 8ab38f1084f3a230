#pragma once
// What the crash report says about the machine and about the program's own
// files: a one-line description of the operating system (from uname and
// /etc/os-release), and version information of a file. Executables here carry
// no version resource; the program's own executable reports the version the
// build gives it, every other file none.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

// The program's version, fixed at build time.
inline constexpr const char* kProductVersion = "2.6.0.0";
inline constexpr uint16_t kProductVersionParts[4] = {2, 6, 0, 0};
inline constexpr const char* kProductName = "Cendrow";

class CGetWindowsVer {
public:
    // Reads the system's name, release and processor architecture.
    CGetWindowsVer();
    virtual ~CGetWindowsVer() = default;
    // "<distribution> <kernel name> <release> <version> x64|x32", e.g.
    // "Debian GNU/Linux 12 (bookworm) Linux 6.1.0-18-amd64 #1 SMP ... x64".
    const std::string& GetDescription() const { return description_; }

private:
    std::string description_;
};

// The description from the text of /etc/os-release and uname's fields. The
// distribution is PRETTY_NAME, else NAME and VERSION, else the kernel name alone.
std::string DescribeOperatingSystem(std::string_view osRelease, std::string_view sysname,
                                    std::string_view release, std::string_view version,
                                    std::string_view machine);

// One value of os-release text (quotes and backslash escapes removed); empty when missing.
std::string OsReleaseValue(std::string_view osRelease, std::string_view key);

// A file's version information as the crash report lists it.
struct ModuleVersion {
    std::string company, product, description;
    uint16_t fileVersion[4] = {0, 0, 0, 0};
    uint16_t productVersion[4] = {0, 0, 0, 0};
};

// True (and `out` filled) for the program's own executable; false, with
// empty texts and zero versions, for any other file.
bool ReadModuleVersion(const std::filesystem::path& path, ModuleVersion* out);

// The file's product version text, "Unknown" when it has none; at most
// `maxChars` characters.
std::string GetProductVersionText(const std::filesystem::path& path, size_t maxChars = 29);

// Every string of a file's version information, and its last change.
class CFileVersionInfo {
public:
    virtual ~CFileVersionInfo() = default;
    virtual void Clear();

    std::string companyName, fileDescription, fileVersion, internalName, legalCopyright, originalFileName,
        productName, productVersion, comments, legalTrademarks, privateBuild, specialBuild;
    std::time_t lastModified = 0;
};

// True when the file carries version information (the program's own
// executable); the modification time is filled whenever the file exists.
bool ReadFileVersionInfo(const std::filesystem::path& path, CFileVersionInfo* info);
