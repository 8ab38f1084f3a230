#pragma once
// An environment variable set (or unset) for the life of the object, then
// restored.

#include <optional>
#include <string>

namespace testsupport {

class ScopedEnv {
public:
    // A null value unsets the variable.
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace testsupport
