#pragma once
// A full disk for the length of a scope: files of this process cannot grow
// past the limit, and writes beyond it fail (SIGXFSZ is ignored meanwhile).

#include <sys/resource.h>

#include <csignal>

namespace testsupport {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool active() const { return active_; }

private:
    struct rlimit saved_ {};
    void (*oldHandler_)(int) = SIG_DFL;
    bool active_ = false;
};

}  // namespace testsupport
