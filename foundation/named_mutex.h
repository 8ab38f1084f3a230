#pragma once
// A named mutex that tells whether another holder of the name exists, and
// who holds it. The name is an abstract Unix socket address bound and
// listened on for as long as the object lives (or the process, whatever way
// it ends). Abstract addresses belong to the network namespace, like the
// routes, TUN device and resolv.conf that the single-instance check of the
// program protects, and no file of another user can stand in their way.
//
// A second comer connects to the holder's socket to learn its process and
// user through SO_PEERCRED; the holder drops such callers (DropCallers)
// whenever its descriptor turns readable.

#include <sys/types.h>

#include <string>

class CNamedMutex {
public:
    explicit CNamedMutex(const wchar_t* name);
    ~CNamedMutex();
    CNamedMutex(const CNamedMutex&) = delete;
    CNamedMutex& operator=(const CNamedMutex&) = delete;

    // True when another holder (this process or another) had the name first.
    bool AlreadyExists() const { return alreadyExists_; }
    // The errno of a failure to take or test the name; 0 otherwise.
    int GetLastError() const { return lastError_; }
    // True when this object holds the name.
    bool IsOwner() const { return fd_ >= 0 && !alreadyExists_; }
    // When another holds the name: its process and user, or 0 and
    // (uid_t)-1 when it could not be asked.
    pid_t GetHolderPid() const { return holderPid_; }
    uid_t GetHolderUid() const { return holderUid_; }

    // The holder's listening descriptor (-1 when not the owner), and the
    // call that accepts and closes whoever asked meanwhile.
    int GetFd() const { return IsOwner() ? fd_ : -1; }
    void DropCallers();

    // The abstract socket name (without its leading NUL) that stands for `name`.
    static std::string AbstractName(const wchar_t* name);

private:
    void AskHolder(const std::string& abstract);

    int lastError_ = 0;
    int fd_ = -1;
    bool alreadyExists_ = false;
    pid_t holderPid_ = 0;
    uid_t holderUid_ = static_cast<uid_t>(-1);
};
