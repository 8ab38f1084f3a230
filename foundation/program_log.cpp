#include "foundation/program_log.h"

#include <clocale>
#include <cstdio>
#include <mutex>
#include <string>

#include "foundation/text_convert.h"
#include "foundation/text_format.h"

namespace {

std::mutex g_logMutex;
ProgramLogState g_log;

}  // namespace

void InitLogging(const std::filesystem::path& programFolder, const std::filesystem::path& subFolder,
                 const std::filesystem::path& fileName, int setting1, int setting2) {
    if (!std::setlocale(LC_CTYPE, "")) std::setlocale(LC_CTYPE, "C.UTF-8");
    std::lock_guard lock(g_logMutex);
    g_log.path = programFolder / subFolder / fileName;
    g_log.setting1 = setting1;
    g_log.setting2 = setting2;
    g_log.initialised = true;
}

ProgramLogState GetProgramLogState() {
    std::lock_guard lock(g_logMutex);
    return g_log;
}

bool AppendToProgramLog(std::string_view line) {
    std::lock_guard lock(g_logMutex);
    if (!g_log.initialised) return false;
    std::string text = WideToUtf8String(FormatLocalTime(nullptr, 0)) + " ";
    text.append(line);
    text += '\n';
    std::FILE* f = std::fopen(g_log.path.c_str(), "abe");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

void AppendToProgramLogOrStderr(std::string_view line) {
    if (AppendToProgramLog(line)) return;
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

std::string LogSafeText(std::string_view text, size_t maxBytes) {
    std::string out(text.substr(0, maxBytes));
    for (char& c : out) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = '?';
    }
    return out;
}
