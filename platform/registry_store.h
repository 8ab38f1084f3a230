#pragma once
// A small typed key-value store in one file, in place of the Windows
// registry: keys are paths whose parts are separated by backslashes
// ("HKEY_LOCAL_MACHINE", "SOFTWARE", "Cendrow" make one key), each holding
// named values of a type and some bytes. Key paths
// and value names are compared without regard to ASCII case.
//
// Every operation reads the file afresh and every change rewrites it
// atomically, under an exclusive lock on a lock file beside it, so several
// processes may use one store at once and a crash never leaves it half
// written. The file is text: "[key path]" lines, each followed by
// "name=type:data" lines, with '%', '=', '[', ']' and control bytes of names,
// paths and data written as %XX.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// Value types, numbered as the registry numbers them.
enum RegistryValueType : uint32_t {
    kRegNone = 0,
    kRegString = 1,
    kRegExpandString = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegMultiString = 7,
};

// Results, numbered as the Win32 error codes callers keep.
enum RegistryResult : int {
    kRegOk = 0,
    kRegNotFound = 2,           // ERROR_FILE_NOT_FOUND
    kRegAccessDenied = 5,       // ERROR_ACCESS_DENIED: the store cannot be read or written
    kRegInvalidParameter = 87,  // ERROR_INVALID_PARAMETER
};

struct RegistryValue {
    uint32_t type = kRegNone;
    // Strings are UTF-8 without a terminator; a multi-string holds each text
    // followed by a zero byte, then one more zero byte; a DWORD is 4 bytes,
    // little-endian.
    std::string data;
};

class RegistryStore {
public:
    explicit RegistryStore(std::filesystem::path file) : file_(std::move(file)) {}

    const std::filesystem::path& file() const { return file_; }

    // kRegOk when the key exists.
    int OpenKey(std::string_view keyPath) const;
    // Creates the key and every missing key above it; kRegOk when it exists afterwards.
    int CreateKey(std::string_view keyPath) const;
    int GetValue(std::string_view keyPath, std::string_view name, RegistryValue* value) const;
    // The key must exist.
    int SetValue(std::string_view keyPath, std::string_view name, const RegistryValue& value) const;
    // kRegOk also when the value was not there; kRegNotFound when the key is missing.
    int DeleteValue(std::string_view keyPath, std::string_view name) const;

private:
    std::filesystem::path file_;
};

// The bytes of a multi-string value holding `texts` (none of them empty).
std::string MakeMultiString(const std::vector<std::string>& texts);
