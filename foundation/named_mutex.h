#pragma once
// A named mutex that tells whether another holder of the name exists: an
// exclusive, non-blocking flock on a lock file in the runtime folder
// ($XDG_RUNTIME_DIR, else /tmp), held until the object goes away (or the
// process ends, whatever way it ends). The single-instance check of the
// program stands on it.

#include <filesystem>
#include <string>

class CNamedMutex {
public:
    explicit CNamedMutex(const wchar_t* name);
    ~CNamedMutex();
    CNamedMutex(const CNamedMutex&) = delete;
    CNamedMutex& operator=(const CNamedMutex&) = delete;

    // True when another holder (this process or another) had the name first.
    bool AlreadyExists() const { return alreadyExists_; }
    // The errno of a failed open of the lock file; 0 otherwise.
    int GetLastError() const { return lastError_; }
    // True when this object holds the name.
    bool IsOwner() const { return fd_ >= 0 && !alreadyExists_; }

    // The lock file that stands for `name`.
    static std::filesystem::path LockFilePath(const wchar_t* name);

private:
    int lastError_ = 0;
    int fd_ = -1;
    bool alreadyExists_ = false;
};
