#include "foundation/program_log.h"

#include <clocale>
#include <mutex>

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
