#include "foundation/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "foundation/text_convert.h"

std::filesystem::path CNamedMutex::LockFilePath(const wchar_t* name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::filesystem::path folder = runtime && runtime[0] == '/' ? runtime : "/tmp";
    // Names such as "Global\{...}" become one safe file name.
    std::string file = "cendrow-";
    for (char c : WideToUtf8String(name ? name : L"")) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '_' || c == '.' || c == '{' || c == '}';
        file += plain ? c : '_';
    }
    return folder / (file + ".lock");
}

CNamedMutex::CNamedMutex(const wchar_t* name) {
    std::filesystem::path path = LockFilePath(name);
    // Close-on-exec: a child we start must not hold the name after we end.
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0 && errno == EACCES) fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd_ < 0) {
        lastError_ = errno;
        return;
    }
    while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) {
            alreadyExists_ = true;
        } else {
            lastError_ = errno;
        }
        break;
    }
}

CNamedMutex::~CNamedMutex() {
    if (fd_ >= 0) close(fd_);
}
