#pragma once
// Crash reports. Once installed, a fault (SIGSEGV, SIGBUS, SIGILL, SIGFPE,
// SIGTRAP), an abort (SIGABRT) or an exception that nothing catches writes a
// plain-text report "log/ERRORLOG-<id>.LOG" and a small dump
// "log/Dump-<id>.dmp" into the program folder, and the process then dies of
// the same signal as it would have without the handler. Only the first crash
// of a process is reported. Nothing is shown to the user.
//
// Everything that is not safe inside a signal handler (paths, user name,
// system description, time zone) is gathered when the handler is installed;
// the handler itself only formats into static buffers and makes system calls.
// Memory it reports on (code bytes, stack words, module headers) is read with
// process_vm_readv, so an unreadable address is reported, never faulted on.

#include <ucontext.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// Installs the handlers for the process (on an alternate stack for the
// calling thread, so that its stack overflows are reported too) and prepares
// what the report needs. Call early, after the program folder is fixed.
void InstallCrashHandler();

// What the handler knows about one crash.
struct CrashInfo {
    uint32_t code = 0;  // the exception code, as the name table knows it
    int signal = 0;
    int signalCode = 0;
    uintptr_t faultAddress = 0;
    bool writeAccess = false;  // for access violations
    uintptr_t pc = 0;
    uintptr_t sp = 0;
    const ucontext_t* context = nullptr;  // registers; may be null
};

// Writes the report and the dump for `info`; returns 1, or 0 without writing
// anything when a crash was already reported (or the handler is not installed).
int TopLevelExceptionFilter(const CrashInfo& info);

// Exception codes, and the code a signal stands for.
inline constexpr uint32_t kExceptionAccessViolation = 0xC0000005;
inline constexpr uint32_t kExceptionStackOverflow = 0xC00000FD;
inline constexpr uint32_t kExceptionCppException = 0xE06D7363;
inline constexpr uint32_t kExceptionBreakpoint = 0x80000003;
inline constexpr uint32_t kExceptionFatalAppExit = 0x40000015;  // abort(); not in the name table
uint32_t ExceptionCodeForSignal(int signal, int signalCode);
// "an Access Violation", ..., "an Unknown exception type".
const char* ExceptionName(uint32_t code);

// The report text: formatted into a buffer of 8192 bytes (UTF-8), written to
// the file as UTF-16LE once more than 7168 bytes are waiting, and at the end.
// Formats take %s, %c, %%, and %d/%u/%x with l/ll, a width, '0' and '-'.
class ReportWriter {
public:
    explicit ReportWriter(int fd) : fd_(fd) {}
    // Appends the formatted text (at most 1024 bytes a call); returns the
    // number of bytes waiting.
    size_t WriteReportText(const char* format, ...) __attribute__((format(printf, 2, 3)));
    size_t WriteReportTextV(const char* format, va_list args);
    void FlushReportText();

private:
    int fd_;
    char buffer_[8192];
    size_t length_ = 0;
};

// Formats like snprintf for the conversions ReportWriter takes; always
// terminates; returns the length written.
size_t FormatReportText(char* out, size_t size, const char* format, va_list args);

// The stack section's lines for `words` read from `address` upward: four
// words a line after the line's address, padding for missing words, then the
// words as characters. `readFailed` ends the section with its fault line.
void WriteStackDump(ReportWriter& writer, uintptr_t address, const uint32_t* words, size_t count,
                    bool readFailed);
