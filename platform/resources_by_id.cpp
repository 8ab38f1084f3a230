#include "platform/resources_by_id.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <system_error>

namespace {

struct ResourceType {
    const char* folder;
    const char* extension;
};

// The resource types the windows use, with the file format each is kept in.
constexpr ResourceType kTypes[] = {
    {"gif", ".gif"},
    {"bitmap", ".bmp"},
    {"icon", ".png"},
};

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

std::filesystem::path ResourceFilePath(const std::filesystem::path& programFolder, std::string_view type,
                                       int id) {
    if (id < 0) return {};
    for (const auto& t : kTypes) {
        if (SameNoCase(type, t.folder)) {
            return programFolder / "res" / t.folder / (std::to_string(id) + t.extension);
        }
    }
    return {};
}

bool LoadResourceBytes(const std::filesystem::path& programFolder, std::string_view type, int id,
                       std::string& out, size_t maxBytes) {
    out.clear();
    const std::filesystem::path path = ResourceFilePath(programFolder, type, id);
    if (path.empty()) return false;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size == 0 || size > maxBytes) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (out.size() != size) {
        out.clear();
        return false;
    }
    return true;
}

bool LoadStringResourceUtf8(const std::filesystem::path& programFolder, int id, std::string& out) {
    out.clear();
    if (id < 0) return false;
    std::ifstream in(programFolder / "res" / "strings.txt", std::ios::binary);
    if (!in) return false;
    const std::string key = std::to_string(id) + "\t";
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(key, 0) == 0) {
            out = line.substr(key.size());
            return true;
        }
    }
    return false;
}
