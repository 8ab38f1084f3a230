// Untrusted file contents through the readers of the program's own files:
// INI files and the data-file containers. Checks the round trips that must
// hold: a key just written reads back, and a container just written decodes
// to what was written.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "foundation/file_builder.h"
#include "platform/atomic_file.h"
#include "platform/ini_file.h"

namespace {

// One folder per fuzzing process, removed at exit (kept alive for the exit handler).
const std::filesystem::path& Folder() {
    static const std::filesystem::path* folder = [] {
        std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
        auto* p = new std::filesystem::path(base / ("cendrow-fuzz-" + std::to_string(getpid())));
        std::filesystem::create_directories(*p);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(Folder(), ec);
        });
        return p;
    }();
    return *folder;
}

template <class Builder>
void ReadContainer(const std::filesystem::path& file) {
    Builder b(file);
    if (!b.Open(1, 0)) std::abort();
    const char* text = b.Read();
    if (text && text[b.GetPayloadLength()] != '\0') std::abort();
    if (!text && b.GetError() == FB_SUCCESS) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    auto file = Folder() / "input";
    if (!WriteFileAtomically(file, bytes)) std::abort();

    ReadContainer<CFileBuilder>(file);
    ReadContainer<CFileBuilderCompressBase64>(file);

    std::string value;
    IniReadValue(file, "basic", "username", &value);
    IniSectionNames(file);
    // The input's first line serves as section, key and value of a write.
    std::string first = bytes.substr(0, bytes.find('\n'));
    std::string section = first.substr(0, first.size() / 3);
    std::string key = first.substr(first.size() / 3, first.size() / 3);
    if (IniWriteValue(file, "basic", "fuzz", "written") &&
        (!IniReadValue(file, "basic", "fuzz", &value) || value != "written")) {
        std::abort();
    }
    IniWriteValue(file, section, key, "v");

    if (!bytes.empty()) {
        auto out = Folder() / "container";
        {
            CFileBuilderCompressBase64 w(out);
            if (!w.Open(0, 0) || w.Write(bytes.data(), bytes.size()) != FB_SUCCESS) std::abort();
        }
        CFileBuilderCompressBase64 r(out);
        r.Open(1, 0);
        const char* back = r.Read();
        if (!back || std::string(back, r.GetPayloadLength()) != bytes) std::abort();
    }
    return 0;
}
