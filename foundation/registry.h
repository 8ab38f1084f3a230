#pragma once
// The registry the program keeps its install folder in, read and written
// through CRegistry: on this system a typed key-value store in the per-user
// data folder ("ZentravData/registry"), see platform/registry_store.h. Also
// the other records start-up leaves for the user: the install folder, the
// per-user profile file and the automatic start at logon (an XDG autostart
// entry).

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Root keys, as the registry names them; each is the first segment of a key path.
enum class HKEY_ROOT { kLocalMachine, kCurrentUser };
inline constexpr HKEY_ROOT HKEY_LOCAL_MACHINE = HKEY_ROOT::kLocalMachine;
inline constexpr HKEY_ROOT HKEY_CURRENT_USER = HKEY_ROOT::kCurrentUser;

// Access masks callers pass; the store knows no rights of its own.
inline constexpr uint32_t KEY_READ = 0x20019;
inline constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

// The store CRegistry uses: "registry" in the per-user data folder.
std::filesystem::path GetRegistryStorePath();

class CRegistry {
public:
    explicit CRegistry(HKEY_ROOT root);
    // For tests: the same over another store file.
    CRegistry(HKEY_ROOT root, std::filesystem::path storeFile);
    virtual ~CRegistry() = default;

    // Creates the sub-key (and any missing key above it) below the current
    // key and makes it current.
    bool Create(const wchar_t* subKey);
    // Makes an existing sub-key current.
    bool Open(uint32_t access, const wchar_t* subKey);
    // A string value (REG_SZ).
    bool WriteString(const wchar_t* name, const wchar_t* text);
    // The value into a buffer this object owns until the next read: string
    // values as wide text, other types as their bytes followed by zero bytes.
    // *byteSize gets the size of that text with its terminator, or the data size.
    bool Read(const wchar_t* name, const wchar_t** text, uint32_t* byteSize);
    // Appends the texts of a multi-string value, up to its first empty text.
    bool ReadMultiString(const wchar_t* name, std::vector<std::wstring>& texts);

    // The code of the last failure (2 not found, 5 store unusable, 87 bad
    // argument, 1630 wrong type); 0 after a success.
    int GetLastError() const { return lastError_; }
    const std::string& GetCurrentKeyPath() const { return keyPath_; }

private:
    bool Fail(int error);

    std::filesystem::path store_;
    std::string keyPath_;
    int lastError_ = 0;
    std::vector<wchar_t> valueBuffer_;
};

inline constexpr int kRegErrorUnsupportedType = 1630;

// Writes "Install_dir" under HKEY_LOCAL_MACHINE\SOFTWARE\<productKey> when it
// is missing or differs from `programFolder`. Failures are silent.
void RegisterInstallDir(const wchar_t* productKey, const std::filesystem::path& programFolder);

// Writes [basic] work_directory of "<data folder>/<productFolder>/profile.ini"
// when it is missing or differs from `programFolder`.
void SaveWorkDirToProfile(const wchar_t* productFolder, const std::filesystem::path& programFolder);

// The automatic start at logon: an autostart entry "<name>.desktop" in
// $XDG_CONFIG_HOME/autostart (default ~/.config/autostart) that runs
// `command` (the executable's full path, quoted as one argument). Disabling
// removes the entry (a missing one is no error). False for an empty name or
// one holding '/', a command with a line break, or an entry that cannot be
// written or removed.
bool SetAutoStart(const wchar_t* name, bool enable, const wchar_t* command);
// The folder those entries live in.
std::filesystem::path GetAutostartFolder();
// The Exec value that runs `path` with no arguments, quoted and escaped as
// desktop entries require.
std::string DesktopExecValue(const std::string& path);
