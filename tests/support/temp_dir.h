#pragma once
// A folder under the system temporary folder that is removed with everything
// in it when the object goes away.

#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "cendrow-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Whole-file helpers for fixtures.
std::string ReadFile(const std::filesystem::path& p);
void WriteFile(const std::filesystem::path& p, const std::string& bytes);

}  // namespace testsupport
