#include "foundation/registry.h"

#include <cstdlib>
#include <cstring>
#include <system_error>

#include "foundation/app_paths.h"
#include "foundation/ini.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "platform/atomic_file.h"
#include "platform/registry_store.h"

namespace {

const char* RootName(HKEY_ROOT root) {
    return root == HKEY_ROOT::kCurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

}  // namespace

std::filesystem::path GetRegistryStorePath() {
    std::filesystem::path home = GetAppDataDir();
    if (home.empty()) home = FindUserDataHome();
    if (home.empty()) return {};
    return home / "ZentravData" / "registry";
}

CRegistry::CRegistry(HKEY_ROOT root) : CRegistry(root, GetRegistryStorePath()) {}

CRegistry::CRegistry(HKEY_ROOT root, std::filesystem::path storeFile)
    : store_(std::move(storeFile)), keyPath_(RootName(root)) {}

bool CRegistry::Fail(int error) {
    lastError_ = error;
    return false;
}

bool CRegistry::Create(const wchar_t* subKey) {
    if (!subKey || store_.empty()) return false;
    std::string path = keyPath_ + "\\" + WideToUtf8String(subKey);
    if (int r = RegistryStore(store_).CreateKey(path)) return Fail(r);
    keyPath_ = path;
    lastError_ = 0;
    return true;
}

bool CRegistry::Open(uint32_t /*access*/, const wchar_t* subKey) {
    if (!subKey || store_.empty()) return false;
    std::string path = keyPath_ + "\\" + WideToUtf8String(subKey);
    if (int r = RegistryStore(store_).OpenKey(path)) return Fail(r);
    keyPath_ = path;
    lastError_ = 0;
    return true;
}

bool CRegistry::WriteString(const wchar_t* name, const wchar_t* text) {
    if (!name || store_.empty()) return false;
    RegistryValue value{kRegString, WideToUtf8String(text ? text : L"")};
    if (int r = RegistryStore(store_).SetValue(keyPath_, WideToUtf8String(name), value)) return Fail(r);
    lastError_ = 0;
    return true;
}

bool CRegistry::Read(const wchar_t* name, const wchar_t** text, uint32_t* byteSize) {
    if (!name || store_.empty()) return false;
    valueBuffer_.clear();
    RegistryValue value;
    if (int r = RegistryStore(store_).GetValue(keyPath_, WideToUtf8String(name), &value)) return Fail(r);
    uint32_t size;
    if (value.type == kRegString || value.type == kRegExpandString) {
        // A value stored without its terminator still reads as terminated text.
        std::wstring wide = Utf8ToWideString(value.data.substr(0, value.data.find('\0')));
        valueBuffer_.assign(wide.begin(), wide.end());
        valueBuffer_.push_back(L'\0');
        size = static_cast<uint32_t>(valueBuffer_.size() * sizeof(wchar_t));
    } else {
        size = static_cast<uint32_t>(value.data.size());
        valueBuffer_.assign((value.data.size() + sizeof(wchar_t) - 1) / sizeof(wchar_t) + 1, L'\0');
        std::memcpy(valueBuffer_.data(), value.data.data(), value.data.size());
    }
    if (text) *text = valueBuffer_.data();
    if (byteSize) *byteSize = size;
    lastError_ = 0;
    return true;
}

bool CRegistry::ReadMultiString(const wchar_t* name, std::vector<std::wstring>& texts) {
    if (!name || store_.empty()) return false;
    RegistryValue value;
    if (int r = RegistryStore(store_).GetValue(keyPath_, WideToUtf8String(name), &value)) return Fail(r);
    if (value.type != kRegMultiString) return Fail(kRegErrorUnsupportedType);
    size_t pos = 0;
    while (pos < value.data.size()) {
        size_t end = value.data.find('\0', pos);
        if (end == std::string::npos) end = value.data.size();
        if (end == pos) break;
        texts.push_back(Utf8ToWideString(value.data.substr(pos, end - pos)));
        pos = end + 1;
    }
    lastError_ = 0;
    return true;
}

void RegisterInstallDir(const wchar_t* productKey, const std::filesystem::path& programFolder) {
    if (!productKey || programFolder.empty()) return;
    CRegistry reg(HKEY_LOCAL_MACHINE);
    if (!reg.Create((L"SOFTWARE\\" + std::wstring(productKey)).c_str())) return;
    std::wstring folder = PathToWide(programFolder);
    const wchar_t* stored = nullptr;
    // Paths differ when their letters differ in case on this system.
    if (reg.Read(L"Install_dir", &stored, nullptr) && stored && folder == stored) return;
    reg.WriteString(L"Install_dir", folder.c_str());
}

void SaveWorkDirToProfile(const wchar_t* productFolder, const std::filesystem::path& programFolder) {
    if (!productFolder || !productFolder[0] || programFolder.empty()) return;
    std::wstring dataFolder;
    if (!GetAppDataPath(&dataFolder)) return;
    std::filesystem::path folder = WideToPath(dataFolder) / WideToPath(productFolder);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    CIni profile(folder / "profile.ini");
    std::wstring wanted = PathToWide(programFolder);
    if (profile.IsKeyExist(L"basic", L"work_directory") &&
        profile.GetString(L"basic", L"work_directory", L"") == wanted)
        return;
    profile.WriteString(L"basic", L"work_directory", wanted.c_str());
}

std::filesystem::path GetAutostartFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return std::filesystem::path(config) / "autostart";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::filesystem::path(home) / ".config" / "autostart";
    return {};
}

std::string DesktopExecValue(const std::string& path) {
    // Quoting of the Exec key: inside double quotes, '"', '`', '$' and '\'
    // take a backslash; then the value as a whole escapes '\' again, and '%'
    // is doubled so that it is no field code.
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (char c : quoted) {
        if (c == '\\')
            value += "\\\\";
        else if (c == '%')
            value += "%%";
        else
            value += c;
    }
    return value;
}

bool SetAutoStart(const wchar_t* name, bool enable, const wchar_t* command) {
    if (!name || !name[0] || std::wcschr(name, L'/') || std::wcscmp(name, L".") == 0 ||
        std::wcscmp(name, L"..") == 0)
        return false;
    std::filesystem::path folder = GetAutostartFolder();
    if (folder.empty()) return false;
    std::filesystem::path entry = folder / (WideToUtf8String(name) + ".desktop");
    std::error_code ec;
    if (!enable) {
        std::filesystem::remove(entry, ec);
        return !ec;
    }
    if (!command || !command[0]) return false;
    std::string path = WideToUtf8String(command);
    std::string shownName = WideToUtf8String(name);
    if (path.find_first_of("\r\n") != std::string::npos ||
        shownName.find_first_of("\r\n") != std::string::npos)
        return false;
    std::filesystem::create_directories(folder, ec);
    std::string text = "[Desktop Entry]\nType=Application\nName=" + shownName +
                       "\nExec=" + DesktopExecValue(path) +
                       "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    return WriteFileAtomically(entry, text);
}
