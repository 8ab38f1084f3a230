#include "foundation/named_mutex.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "foundation/text_convert.h"

namespace {

socklen_t AbstractAddress(const std::string& abstract, sockaddr_un* sa) {
    std::memset(sa, 0, sizeof *sa);
    sa->sun_family = AF_UNIX;
    size_t n = std::min(abstract.size(), sizeof sa->sun_path - 1);
    std::memcpy(sa->sun_path + 1, abstract.data(), n);  // sun_path[0] stays NUL: abstract
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

}  // namespace

std::string CNamedMutex::AbstractName(const wchar_t* name) {
    // Names such as "Global\{...}" become one plain name.
    std::string out = "cendrow-";
    for (char c : WideToUtf8String(name ? name : L"")) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '_' || c == '.' || c == '{' || c == '}';
        out += plain ? c : '_';
    }
    return out;
}

CNamedMutex::CNamedMutex(const wchar_t* name) {
    std::string abstract = AbstractName(name);
    sockaddr_un sa;
    socklen_t len = AbstractAddress(abstract, &sa);
    // Close-on-exec: a child we start must not hold the name after we end.
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) {
        lastError_ = errno;
        return;
    }
    if (bind(fd_, reinterpret_cast<sockaddr*>(&sa), len) == 0) {
        if (listen(fd_, 16) == 0) return;
        lastError_ = errno;
    } else if (errno == EADDRINUSE) {
        alreadyExists_ = true;
        AskHolder(abstract);
    } else {
        lastError_ = errno;
    }
    close(fd_);
    fd_ = -1;
}

CNamedMutex::~CNamedMutex() {
    if (fd_ >= 0) close(fd_);
}

void CNamedMutex::AskHolder(const std::string& abstract) {
    sockaddr_un sa;
    socklen_t len = AbstractAddress(abstract, &sa);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    // A full queue (EAGAIN) or a holder that is not listening leaves the
    // holder unknown; the name is taken all the same.
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), len) == 0) {
        ucred cred{};
        socklen_t n = sizeof cred;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &n) == 0) {
            holderPid_ = cred.pid;
            holderUid_ = cred.uid;
        }
    }
    close(fd);
}

void CNamedMutex::DropCallers() {
    if (!IsOwner()) return;
    for (;;) {
        int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR) continue;
            return;
        }
        close(client);
    }
}
