#include "foundation/crash_handler.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <thread>

#include "foundation/app_paths.h"
#include "foundation/os_version.h"
#include "foundation/text_convert.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

// The report is UTF-16LE; tests read it as UTF-8.
std::string FromUtf16(const std::string& bytes) {
    std::wstring wide;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t u = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
            uint32_t lo = static_cast<unsigned char>(bytes[i + 2]) | static_cast<unsigned char>(bytes[i + 3])
                                                                         << 8;
            u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
            i += 2;
        }
        wide += static_cast<wchar_t>(u);
    }
    return WideToUtf8String(wide);
}

struct CrashRun {
    int signal = 0;
    pid_t pid = 0;
    std::vector<std::string> reportNames;
    std::string report;  // the first report, as UTF-8
    std::string dump;
};

// Runs `crash` in a child process with the handler installed and a program
// folder of its own, and collects what it left in "log".
CrashRun CrashInChild(const std::function<void()>& crash, bool withLogFolder = true,
                      const std::function<void()>& beforeCrash = nullptr) {
    TempDir dir("cendrow-crash");
    if (withLogFolder) std::filesystem::create_directories(dir / "log");
    std::fflush(nullptr);
    CrashRun run;
    run.pid = fork();
    if (run.pid == 0) {
        rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDERR_FILENO);
        InitAppPaths(dir / "cendrow");
        InstallCrashHandler();
        if (beforeCrash) beforeCrash();
        crash();
        _exit(0);
    }
    int status = 0;
    waitpid(run.pid, &status, 0);
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "log", ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("ERRORLOG-", 0) == 0) {
            run.reportNames.push_back(name);
            if (run.report.empty()) run.report = FromUtf16(ReadFile(entry.path()));
        }
        if (name.rfind("Dump-", 0) == 0) run.dump = ReadFile(entry.path());
    }
    return run;
}

#if defined(__x86_64__)
// Real faults, written in assembly so that the sanitizers' own checks do not
// catch them first.
void WriteToZero() {
    asm volatile("movl $1, 0" ::: "memory");
}
void ReadFrom16() {
    asm volatile("movl 0x10, %%eax" ::: "eax", "memory");
}
void DivideByZero() {
    asm volatile("xorl %%ecx, %%ecx\n\tmovl $1, %%eax\n\tcltd\n\tidivl %%ecx" ::: "eax", "ecx", "edx");
}
void Breakpoint() {
    asm volatile("int3");
}
#endif

void IllegalInstruction() {
    __builtin_trap();
}

volatile int g_recursionLimit = -1;  // never reached: the stack runs out first

int Recurse(int depth) {
    volatile char pad[4096];
    pad[0] = static_cast<char>(depth);
    if (depth == g_recursionLimit) return 0;
    return Recurse(depth + 1) + pad[0];
}

// True when `text` matches `pattern`, in which '#' stands for one digit.
bool Like(const std::string& text, const std::string& pattern) {
    if (text.size() != pattern.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (pattern[i] == '#' ? !isdigit(static_cast<unsigned char>(text[i])) : text[i] != pattern[i])
            return false;
    }
    return true;
}

// The line of `text` that starts with `start`, without its line end.
std::string LineStartingWith(const std::string& text, const std::string& start) {
    size_t at = text.find("\r\n" + start);
    if (at == std::string::npos) return {};
    at += 2;
    return text.substr(at, text.find("\r\n", at) - at);
}

}  // namespace

TEST(CrashHandler, ExceptionNamesAndSignalCodes) {
    EXPECT_STREQ(ExceptionName(0xC0000005), "an Access Violation");
    EXPECT_STREQ(ExceptionName(0xC00000FD), "a Stack Overflow");
    EXPECT_STREQ(ExceptionName(0xE06D7363), "a Microsoft C++ Exception");
    EXPECT_STREQ(ExceptionName(0x12345678), "an Unknown exception type");
    EXPECT_STREQ(ExceptionName(kExceptionFatalAppExit), "an Unknown exception type");

    struct Case {
        int signal, code;
        uint32_t expected;
    };
    const Case cases[] = {
        {SIGSEGV, SEGV_MAPERR, 0xC0000005}, {SIGBUS, BUS_ADRALN, 0x80000002},
        {SIGBUS, BUS_ADRERR, 0xC0000006},   {SIGILL, ILL_ILLOPN, 0xC000001D},
        {SIGILL, ILL_PRVOPC, 0xC0000096},   {SIGFPE, FPE_INTDIV, 0xC0000094},
        {SIGFPE, FPE_FLTDIV, 0xC000008E},   {SIGFPE, FPE_FLTINV, 0xC0000090},
        {SIGTRAP, 0, 0x80000003},           {SIGABRT, SI_TKILL, 0x40000015},
    };
    for (const auto& c : cases) EXPECT_EQ(ExceptionCodeForSignal(c.signal, c.code), c.expected) << c.signal;
}

namespace {
std::string Formatted(const char* format, ...) {
    char out[64];
    va_list args;
    va_start(args, format);
    FormatReportText(out, sizeof out, format, args);
    va_end(args);
    return out;
}
}  // namespace

TEST(CrashHandler, FormatsLikePrintf) {
    EXPECT_EQ(Formatted("%08x", 0xabcu), "00000abc");
    EXPECT_EQ(Formatted("%-10d|", 42), "42        |");
    EXPECT_EQ(Formatted("%d %d", -5, 0), "-5 0");
    EXPECT_EQ(Formatted("%05d", -42), "-0042");
    EXPECT_EQ(Formatted("%s|%s", "a", static_cast<const char*>(nullptr)), "a|(null)");
    EXPECT_EQ(Formatted("%016llx", 0xfedcba9876543210ull), "fedcba9876543210");
    EXPECT_EQ(Formatted("%lld", static_cast<long long>(INT64_MIN)), "-9223372036854775808");
    EXPECT_EQ(Formatted("%lu%%%c", 7ul, 'x'), "7%x");
    EXPECT_EQ(Formatted("%02x %X", 5u, 0xabu), "05 AB");
    EXPECT_EQ(Formatted("%5s|", "ab"), "   ab|");
    EXPECT_EQ(Formatted(std::string(100, 'a').c_str()), std::string(63, 'a'));  // cut to the buffer
}

TEST(CrashHandler, ReportTextReachesTheFileWholeAndInOrder) {
    TempDir dir;
    int fd = open((dir / "report").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    auto writer = std::make_unique<ReportWriter>(fd);
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        writer->WriteReportText("line %d \xC3\xA9\xF0\x9F\x98\x80\r\n", i);
        expected += "line " + std::to_string(i) + " \xC3\xA9\xF0\x9F\x98\x80\r\n";
    }
    writer->FlushReportText();
    close(fd);
    std::string bytes = ReadFile(dir / "report");
    EXPECT_EQ(bytes.substr(0, 4), std::string("l\0i\0", 4));  // UTF-16LE without a byte-order mark
    EXPECT_EQ(FromUtf16(bytes), expected);
}

TEST(CrashHandler, StackDumpLines) {
    TempDir dir;
    int fd = open((dir / "stack").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    auto writer = std::make_unique<ReportWriter>(fd);
    const uint32_t words[] = {0x64636261, 0x00000041, 0x7e7f2021, 0xffffffff, 0x44434241, 0x0a0d4a49};
    WriteStackDump(*writer, 0x7ffd1000, words, 6, false);
    WriteStackDump(*writer, 0x1000, words, 2, true);
    writer->FlushReportText();
    close(fd);
    std::string nine(9, ' ');
    EXPECT_EQ(FromUtf16(ReadFile(dir / "stack")),
              "0x000000007ffd1000: 64636261 00000041 7e7f2021 ffffffff abcdA...! .~....\r\n"
              "0x000000007ffd1010: 44434241 0a0d4a49 " +
                  nine + nine +
                  "ABCDIJ..\r\n"
                  "\r\n"
                  "0x0000000000001000: 64636261 00000041 " +
                  nine + nine +
                  "abcdA...\r\n"
                  "Exception encountered during stack dump.\r\n");
}

TEST(CrashHandler, NothingBeforeInstallation) {
    CrashInfo info;
    info.code = kExceptionBreakpoint;
    EXPECT_EQ(TopLevelExceptionFilter(info), 0);
}

#if defined(__x86_64__)

TEST(CrashHandler, AccessViolationReport) {
    CrashRun run = CrashInChild(&WriteToZero);
    EXPECT_EQ(run.signal, SIGSEGV);  // the process still dies of its fault
    ASSERT_EQ(run.reportNames.size(), 1u);
    const std::string& r = run.report;
    std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();

    // File name: version, local date and time, process and thread.
    std::string pid = std::to_string(run.pid);
    EXPECT_TRUE(Like(run.reportNames[0], "ERRORLOG-V2.6.0.0-T########-######-P" + pid + "-T" + pid + ".LOG"))
        << run.reportNames[0];
    EXPECT_EQ(r.rfind(exe + " caused an Access Violation (0xc0000005) \r\nin module " +
                          std::filesystem::path(exe).filename().string() + " at 0033:",
                      0),
              0u)
        << r.substr(0, 300);
    EXPECT_NE(r.find("Signal 11 (SIGSEGV), code 1.\r\n"), std::string::npos);
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 1;
    EXPECT_EQ(
        std::sscanf(LineStartingWith(r, "Error occurred at ").c_str(), "Error occurred at %d/%d/%d %d:%d:%d.",
                    &month, &day, &year, &hour, &minute, &second),
        6);
    EXPECT_EQ(second % 2, 0);  // two-second resolution
    EXPECT_GE(year, 2024);
    EXPECT_NE(r.find(", run by "), std::string::npos);
    EXPECT_NE(r.find("Operating system:  " + CGetWindowsVer().GetDescription() + ".\r\n"), std::string::npos);
    EXPECT_NE(r.find(" processor(s), type 8664.\r\n"), std::string::npos);
    EXPECT_NE(r.find("% memory in use.\r\n"), std::string::npos);
    EXPECT_NE(r.find(" MBytes physical memory.\r\n"), std::string::npos);
    EXPECT_NE(r.find("Write to location 0000000000000000 caused an access violation.\r\n"),
              std::string::npos);
    EXPECT_NE(r.find("\r\nContext:\r\nRDI:    0x"), std::string::npos);
    // The faulting instruction: movl $1, 0.
    EXPECT_NE(r.find("\r\nBytes at CS:EIP:\r\nc7 04 25 00 00 00 00 01 00 00 00 "), std::string::npos);

    // The stack: consecutive lines of four words, to the top of the stack or 12 KiB.
    size_t stack = r.find("\r\n\r\nStack:\r\n");
    ASSERT_NE(stack, std::string::npos);
    unsigned long long previous = 0;
    int lines = 0;
    for (size_t at = stack + 12; r.compare(at, 2, "0x") == 0; ++lines) {
        size_t end = r.find("\r\n", at);
        std::string one = r.substr(at, end - at);
        EXPECT_EQ(one.size(), 2u + 16 + 2 + 36 + 16) << one;  // address, four words, their characters
        EXPECT_EQ(one.substr(18, 2), ": ") << one;
        unsigned long long address = std::stoull(one.substr(2, 16), nullptr, 16);
        if (previous) {
            EXPECT_EQ(address, previous + 16);
        }
        previous = address;
        at = end + 2;
    }
    EXPECT_GT(lines, 8);
    EXPECT_LE(lines, 768);

    EXPECT_NE(r.find("Module 1\r\n" + exe + "\r\nImage Base: 0x"), std::string::npos);
    EXPECT_NE(r.find("   ProdVer:    2.6.0.0\r\n"), std::string::npos);
    EXPECT_NE(r.find("libc.so.6\r\n"), std::string::npos);
    const std::string end = "\r\n===== [end of ERRORLOG] =====\r\n";
    ASSERT_GT(r.size(), end.size());
    EXPECT_EQ(r.substr(r.size() - end.size()), end);

    ASSERT_GE(run.dump.size(), 48u);
    EXPECT_EQ(run.dump.substr(0, 4), "CDMP");
    uint32_t version, code, signal;
    std::memcpy(&version, run.dump.data() + 4, 4);
    std::memcpy(&code, run.dump.data() + 8, 4);
    std::memcpy(&signal, run.dump.data() + 12, 4);
    EXPECT_EQ(version, 1u);
    EXPECT_EQ(code, 0xC0000005u);
    EXPECT_EQ(signal, static_cast<uint32_t>(SIGSEGV));
    EXPECT_NE(run.dump.find("[stack]"), std::string::npos);  // the mappings close the dump
}

TEST(CrashHandler, EachKindOfCrash) {
    struct Case {
        const char* what;
        std::function<void()> crash;
        int signal;
        const char* caused;
    };
    const Case cases[] = {
        {"read", &ReadFrom16, SIGSEGV, "caused an Access Violation (0xc0000005)"},
        {"divide", &DivideByZero, SIGFPE, "caused an Integer Divide by Zero (0xc0000094)"},
        {"ud2", &IllegalInstruction, SIGILL, "caused an Illegal Instruction (0xc000001d)"},
        {"int3", &Breakpoint, SIGTRAP, "caused a Breakpoint (0x80000003)"},
        {"abort", [] { std::abort(); }, SIGABRT, "caused an Unknown exception type (0x40000015)"},
        // On a thread of its own, where nothing (not even the test framework) catches it.
        {"uncaught", [] { std::thread([] { throw std::runtime_error("nobody catches this"); }).join(); },
         SIGABRT, "caused a Microsoft C++ Exception (0xe06d7363)"},
        {"recursion", [] { Recurse(0); }, SIGSEGV, "caused a Stack Overflow (0xc00000fd)"},
    };
    for (const auto& c : cases) {
        CrashRun run = CrashInChild(c.crash);
        EXPECT_EQ(run.signal, c.signal) << c.what;
        EXPECT_EQ(run.reportNames.size(), 1u) << c.what;
        EXPECT_NE(run.report.find(c.caused), std::string::npos)
            << c.what << ": " << run.report.substr(0, 200);
        EXPECT_NE(run.report.find("===== [end of ERRORLOG] ====="), std::string::npos) << c.what;
    }
    CrashRun read = CrashInChild(&ReadFrom16);
    EXPECT_NE(read.report.find("Read from location 0000000000000010 caused an access violation.\r\n"),
              std::string::npos);
}

TEST(CrashHandler, OnlyTheFirstCrashIsReported) {
    // A report is under way (written by hand here) when the real fault comes.
    CrashRun run = CrashInChild(&WriteToZero, true, [] {
        CrashInfo first;
        first.code = kExceptionBreakpoint;
        first.sp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
        if (TopLevelExceptionFilter(first) != 1) _exit(3);
    });
    EXPECT_EQ(run.signal, SIGSEGV);
    ASSERT_EQ(run.reportNames.size(), 1u);
    EXPECT_NE(run.report.find("caused a Breakpoint"), std::string::npos);
    EXPECT_EQ(run.report.find("Access Violation"), std::string::npos);
}

TEST(CrashHandler, NoLogFolderNoFiles) {
    CrashRun run = CrashInChild(&WriteToZero, false);
    EXPECT_EQ(run.signal, SIGSEGV);
    EXPECT_TRUE(run.reportNames.empty());
    EXPECT_TRUE(run.dump.empty());
}

#endif
