#pragma once
// The program log's set-up at start: its file path (program folder/log/name)
// and the character-type locale; and the lines the message box leaves there.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

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

// Appends one line, after the local time, to the log that InitLogging
// prepared (its folder must exist); false when there is none or it cannot be
// written.
bool AppendToProgramLog(std::string_view line);

// The same line, to standard error when no program log is set up or it
// cannot be written (tests and tools run without one).
void AppendToProgramLogOrStderr(std::string_view line);

// Text from outside (a field typed by a user, read from a file or sent by a
// peer) as it may stand inside a log line: control characters become '?'
// and the text is cut at `maxBytes`.
std::string LogSafeText(std::string_view text, size_t maxBytes = 80);
