// Whole-file helpers of the system helpers.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "foundation/app_paths.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "platform/atomic_file.h"

namespace {

std::string ModeText(const wchar_t* mode) {
    return mode ? WideToUtf8String(mode) : std::string();
}

}  // namespace

int FileExists(const std::filesystem::path& path) {
    return !path.empty() && access(path.c_str(), F_OK) == 0 ? 1 : 0;
}

int FileExists(const std::wstring& path) {
    return FileExists(WideToPath(path));
}

int FileExists(const wchar_t* path) {
    return path ? FileExists(WideToPath(path)) : 0;
}

char* ReadFileToBuffer(const std::filesystem::path& path, const wchar_t* mode, size_t* size) {
    if (size) *size = 0;
    std::string openMode = ModeText(mode);
    if (path.empty() || openMode.empty()) return nullptr;
    std::FILE* f = std::fopen(path.c_str(), openMode.c_str());
    if (!f) return nullptr;
    // Read to the end rather than trust a length taken first: the file may
    // grow or shrink meanwhile, and some files report no length at all.
    size_t capacity = 0, length = 0;
    char* block = nullptr;
    bool failed = false;
    while (true) {
        if (capacity - length < 65536) {
            size_t grown = capacity ? capacity * 2 : 65536 + 1;
            char* bigger = static_cast<char*>(std::realloc(block, grown));
            if (!bigger) {
                failed = true;
                break;
            }
            block = bigger;
            capacity = grown;
        }
        size_t n = std::fread(block + length, 1, capacity - length - 1, f);
        length += n;
        if (n == 0) {
            failed = std::ferror(f) != 0;
            break;
        }
    }
    std::fclose(f);
    if (failed || length == 0) {
        std::free(block);
        return nullptr;
    }
    block[length] = '\0';
    if (size) *size = length;
    return block;
}

char* ReadFileToBuffer(const std::wstring& path, const wchar_t* mode, size_t* size) {
    return ReadFileToBuffer(WideToPath(path), mode, size);
}

char* ReadFileToBuffer(const wchar_t* path, const wchar_t* mode, size_t* size) {
    if (size) *size = 0;
    return path ? ReadFileToBuffer(WideToPath(path), mode, size) : nullptr;
}

bool WriteBufferToFile(const std::filesystem::path& path, const wchar_t* mode, const void* data,
                       size_t size) {
    std::string openMode = ModeText(mode);
    if (path.empty() || openMode.empty() || (!data && size > 0)) return false;
    std::string_view bytes(static_cast<const char*>(data ? data : ""), size);
    if (openMode[0] == 'w') return WriteFileAtomically(path, bytes);
    std::FILE* f = std::fopen(path.c_str(), openMode.c_str());
    if (!f) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fflush(f) == 0 && ok;
    ok = fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

bool WriteBufferToFile(const std::wstring& path, const wchar_t* mode, const void* data, size_t size) {
    return WriteBufferToFile(WideToPath(path), mode, data, size);
}

bool WriteBufferToFile(const wchar_t* path, const wchar_t* mode, const void* data, size_t size) {
    return path ? WriteBufferToFile(WideToPath(path), mode, data, size) : false;
}

int GetAppDataPath(std::wstring* out) {
    if (!out) return 0;
    std::filesystem::path folder = GetAppDataDir();
    if (folder.empty()) folder = FindUserDataHome();
    if (folder.empty()) return 0;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!std::filesystem::is_directory(folder, ec)) return 0;
    *out = PathToWide(folder);
    return 1;
}
