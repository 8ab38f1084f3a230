#pragma once
// The program log's set-up at start: its file path (program folder/log/name)
// and the character-type locale. Nothing is written to the log.

#include <filesystem>

struct ProgramLogState {
    std::filesystem::path path;
    int setting1 = 0;
    int setting2 = 0;
    bool initialised = false;
};

// Prepares the log path programFolder/subFolder/fileName and keeps the two
// settings; sets LC_CTYPE from the environment (C.UTF-8 when that fails), so
// that the C library's multibyte conversions read UTF-8. Creates nothing.
void InitLogging(const std::filesystem::path& programFolder, const std::filesystem::path& subFolder,
                 const std::filesystem::path& fileName, int setting1, int setting2);

ProgramLogState GetProgramLogState();
