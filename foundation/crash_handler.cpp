#include "foundation/crash_handler.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#include "foundation/app_paths.h"
#include "foundation/os_version.h"

namespace {

// ---- What the handler needs, gathered at installation ----

template <size_t N>
void CopyText(char (&to)[N], const std::string& from) {
    size_t n = from.size() < N - 1 ? from.size() : N - 1;
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

struct Prepared {
    char exePath[4096];
    char version[32];
    char logDir[4096];
    char user[200];
    char os[1000];
    char company[400], product[400], description[400];
    uint16_t fileVersion[4], productVersion[4];
    long gmtOffset;  // seconds east of UTC
    int processors;
    int processorType;
};

Prepared g_prep;
std::atomic<int> g_armed{0};  // 1 while a crash may still be reported
alignas(16) char g_altStack[256 * 1024];

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP};

// ---- Async-signal-safe helpers ----

size_t Length(const char* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

void WriteAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
}

void DebugOutput(const char* text) {
    WriteAll(STDERR_FILENO, text, Length(text));
}

// Copies what can be read at `address`; returns the number of bytes read.
size_t ReadMemory(uintptr_t address, void* out, size_t size) {
    iovec local{out, size};
    iovec remote{reinterpret_cast<void*>(address), size};
    ssize_t n = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

struct CivilTime {
    int year, month, day, hour, minute, second;
};

// Local time of a moment, from the time-zone offset taken at installation
// (localtime_r is not safe in a signal handler).
CivilTime FromEpoch(long long t) {
    t += g_prep.gmtOffset;
    long long days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
    long long secs = t - days * 86400;
    long long z = days + 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    CivilTime c;
    c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    c.year = static_cast<int>(yoe + era * 400 + (c.month <= 2));
    c.hour = static_cast<int>(secs / 3600);
    c.minute = static_cast<int>(secs / 60 % 60);
    c.second = static_cast<int>(secs % 60);
    return c;
}

CivilTime LocalNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return FromEpoch(ts.tv_sec);
}

size_t Format(char* out, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
size_t Format(char* out, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    size_t n = FormatReportText(out, size, format, args);
    va_end(args);
    return n;
}

// ---- /proc/self/maps, read without allocating ----

struct Mapping {
    uintptr_t start, end;
    unsigned long long offset;
    char perms[5];
    const char* path;  // valid during the callback; "" for anonymous memory
};

uintptr_t ParseHex(const char*& p) {
    uintptr_t v = 0;
    while (true) {
        char c = *p;
        int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (d < 0) return v;
        v = v * 16 + static_cast<uintptr_t>(d);
        ++p;
    }
}

bool ParseMapping(char* line, Mapping* m) {
    const char* p = line;
    m->start = ParseHex(p);
    if (*p++ != '-') return false;
    m->end = ParseHex(p);
    if (*p++ != ' ') return false;
    for (int i = 0; i < 4; ++i) m->perms[i] = *p ? *p++ : '-';
    m->perms[4] = '\0';
    if (*p++ != ' ') return false;
    m->offset = ParseHex(p);
    // Skip the device and the inode.
    for (int field = 0; field < 2; ++field) {
        while (*p == ' ') ++p;
        while (*p && *p != ' ') ++p;
    }
    while (*p == ' ') ++p;
    m->path = p;
    return true;
}

char g_mapsChunk[65536];

// Calls visit(const Mapping&) for every mapping until it returns false.
template <class Visit>
void ForEachMapping(Visit visit) {
    int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    size_t have = 0;
    bool go = true;
    while (go) {
        ssize_t n = read(fd, g_mapsChunk + have, sizeof g_mapsChunk - 1 - have);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        have += static_cast<size_t>(n);
        size_t lineStart = 0;
        for (size_t i = 0; i < have && go; ++i) {
            if (g_mapsChunk[i] != '\n') continue;
            g_mapsChunk[i] = '\0';
            Mapping m;
            if (ParseMapping(g_mapsChunk + lineStart, &m)) go = visit(m);
            lineStart = i + 1;
        }
        std::memmove(g_mapsChunk, g_mapsChunk + lineStart, have - lineStart);
        have -= lineStart;
        if (have == sizeof g_mapsChunk - 1) have = 0;  // a line longer than the chunk: drop it
    }
    close(fd);
}

const char* BaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '/') base = p + 1;
    }
    return base;
}

// ---- Report sections ----

struct ExceptionRow {
    uint32_t code;
    const char* name;
};

constexpr ExceptionRow kExceptionNames[] = {
    {0x40010005, "a Control-C"},
    {0x40010008, "a Control-Break"},
    {0x80000002, "a Datatype Misalignment"},
    {0x80000003, "a Breakpoint"},
    {0xC0000005, "an Access Violation"},
    {0xC0000006, "an In Page Error"},
    {0xC0000017, "a No Memory"},
    {0xC000001D, "an Illegal Instruction"},
    {0xC0000025, "a Noncontinuable Exception"},
    {0xC0000026, "an Invalid Disposition"},
    {0xC000008C, "a Array Bounds Exceeded"},
    {0xC000008D, "a Float Denormal Operand"},
    {0xC000008E, "a Float Divide by Zero"},
    {0xC000008F, "a Float Inexact Result"},
    {0xC0000090, "a Float Invalid Operation"},
    {0xC0000091, "a Float Overflow"},
    {0xC0000092, "a Float Stack Check"},
    {0xC0000093, "a Float Underflow"},
    {0xC0000094, "an Integer Divide by Zero"},
    {0xC0000095, "an Integer Overflow"},
    {0xC0000096, "a Privileged Instruction"},
    {0xC00000FD, "a Stack Overflow"},
    {0xC0000142, "a DLL Initialization Failed"},
    {0xE06D7363, "a Microsoft C++ Exception"},
};

const char* SignalName(int sig) {
    switch (sig) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGILL:
            return "SIGILL";
        case SIGFPE:
            return "SIGFPE";
        case SIGABRT:
            return "SIGABRT";
        case SIGTRAP:
            return "SIGTRAP";
        default:
            return "no signal";
    }
}

void WriteSystemSection(ReportWriter& w) {
    CivilTime now = LocalNow();
    // The two-second resolution of the old file-time format the report keeps.
    w.WriteReportText("Error occurred at %d/%d/%d %02d:%02d:%02d.\r\n", now.month, now.day, now.year,
                      now.hour, now.minute, now.second & ~1);
    w.WriteReportText("%s, run by %s.\r\n", g_prep.exePath, g_prep.user);
    w.WriteReportText("Operating system:  %s.\r\n", g_prep.os);
    w.WriteReportText("%d processor(s), type %d.\r\n", g_prep.processors, g_prep.processorType);

    // Memory figures in MiB, rounded up.
    static char info[8192];
    unsigned long long totalKb = 0, availKb = 0, swapKb = 0, swapFreeKb = 0, vmKb = 0;
    auto readFile = [](const char* path) -> size_t {
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return 0;
        ssize_t n = read(fd, info, sizeof info - 1);
        close(fd);
        info[n > 0 ? n : 0] = '\0';
        return n > 0 ? static_cast<size_t>(n) : 0;
    };
    auto field = [](const char* name) -> unsigned long long {
        size_t len = Length(name);
        for (const char* p = info; *p; ++p) {
            if ((p == info || p[-1] == '\n') && std::strncmp(p, name, len) == 0) {
                p += len;
                while (*p == ' ' || *p == '\t') ++p;
                unsigned long long v = 0;
                while (*p >= '0' && *p <= '9') v = v * 10 + static_cast<unsigned>(*p++ - '0');
                return v;
            }
        }
        return 0;
    };
    if (readFile("/proc/meminfo")) {
        totalKb = field("MemTotal:");
        availKb = field("MemAvailable:");
        swapKb = field("SwapTotal:");
        swapFreeKb = field("SwapFree:");
    }
    if (readFile("/proc/self/status")) vmKb = field("VmSize:");
    auto mb = [](unsigned long long kb) {
        return static_cast<unsigned long long>((kb * 1024 + 0xFFFFF) >> 20);
    };
    // The user part of the address space: 128 TiB on x86_64 and arm64.
    const unsigned long long addressSpaceKb = sizeof(void*) == 8 ? (1ULL << 37) : (3ULL << 20);
    unsigned long long inUse = totalKb ? (totalKb - availKb) * 100 / totalKb : 0;
    w.WriteReportText("%llu%% memory in use.\r\n", inUse);
    w.WriteReportText("%llu MBytes physical memory.\r\n", mb(totalKb));
    w.WriteReportText("%llu MBytes physical memory free.\r\n", mb(availKb));
    w.WriteReportText("%llu MBytes paging file.\r\n", mb(swapKb));
    w.WriteReportText("%llu MBytes paging file free.\r\n", mb(swapFreeKb));
    w.WriteReportText("%llu MBytes user address space.\r\n", mb(addressSpaceKb));
    w.WriteReportText("%llu MBytes user address space free.\r\n", mb(addressSpaceKb - vmKb));
}

void WriteRegisters(ReportWriter& w, const ucontext_t* uc) {
    w.WriteReportText("\r\nContext:\r\n");
#if defined(__x86_64__)
    if (!uc) {
        w.WriteReportText("Registers unavailable.\r\n");
        return;
    }
    const greg_t* r = uc->uc_mcontext.gregs;
    auto u = [&](int i) { return static_cast<unsigned long long>(r[i]); };
    unsigned long long csgsfs = u(REG_CSGSFS);
    w.WriteReportText("RDI:    0x%016llx  RSI: 0x%016llx  RAX:   0x%016llx\r\n", u(REG_RDI), u(REG_RSI),
                      u(REG_RAX));
    w.WriteReportText("RBX:    0x%016llx  RCX: 0x%016llx  RDX:   0x%016llx\r\n", u(REG_RBX), u(REG_RCX),
                      u(REG_RDX));
    w.WriteReportText("RIP:    0x%016llx  RBP: 0x%016llx  SegCs: 0x%08llx\r\n", u(REG_RIP), u(REG_RBP),
                      csgsfs & 0xFFFF);
    w.WriteReportText("EFlags: 0x%08llx  RSP: 0x%016llx  SegSs: 0x%08llx\r\n", u(REG_EFL), u(REG_RSP),
                      (csgsfs >> 48) & 0xFFFF);
    w.WriteReportText("R8:     0x%016llx  R9:  0x%016llx  R10:   0x%016llx\r\n", u(REG_R8), u(REG_R9),
                      u(REG_R10));
    w.WriteReportText("R11:    0x%016llx  R12: 0x%016llx  R13:   0x%016llx\r\n", u(REG_R11), u(REG_R12),
                      u(REG_R13));
    w.WriteReportText("R14:    0x%016llx  R15: 0x%016llx\r\n", u(REG_R14), u(REG_R15));
#else
    (void)uc;
    w.WriteReportText("Registers unavailable.\r\n");
#endif
}

unsigned SegmentCs(const ucontext_t* uc) {
#if defined(__x86_64__)
    if (uc) return static_cast<unsigned>(uc->uc_mcontext.gregs[REG_CSGSFS] & 0xFFFF);
#endif
    (void)uc;
    return 0;
}

void WriteCodeBytes(ReportWriter& w, uintptr_t pc) {
    w.WriteReportText("\r\nBytes at CS:EIP:\r\n");
    for (int i = 0; i < 16; ++i) {
        unsigned char b;
        if (ReadMemory(pc + static_cast<uintptr_t>(i), &b, 1) == 1)
            w.WriteReportText("%02x ", b);
        else
            w.WriteReportText("?? ");
    }
}

uint32_t g_stackWords[3072];

void WriteStackSection(ReportWriter& w, uintptr_t sp) {
    w.WriteReportText("\r\n\r\nStack:\r\n");
    // The thread's stack ends where the mapping holding the stack pointer ends.
    uintptr_t top = 0;
    ForEachMapping([&](const Mapping& m) {
        if (sp >= m.start && sp < m.end) {
            top = m.end;
            return false;
        }
        return true;
    });
    size_t count = top > sp ? (top - sp) / 4 : 0;
    if (count > 3072) count = 3072;
    size_t readBytes = ReadMemory(sp, g_stackWords, count * 4);
    size_t readWords = readBytes / 4;
    WriteStackDump(w, sp, g_stackWords, readWords, readWords < count || top == 0);
}

struct Module {
    uintptr_t start, end;
    char path[1024];
};
Module g_modules[512];

void WriteModuleSection(ReportWriter& w) {
    w.WriteReportText("\r\n");
    size_t count = 0;
    uintptr_t lastBase = 0;
    ForEachMapping([&](const Mapping& m) {
        if (m.path[0] != '/') return true;
        if (count > 0 && std::strcmp(g_modules[count - 1].path, m.path) == 0) {
            g_modules[count - 1].end = m.end;
            return true;
        }
        if (m.offset != 0 || m.start <= lastBase) return true;
        if (count == sizeof g_modules / sizeof g_modules[0]) return false;
        lastBase = m.start;
        Module& mod = g_modules[count++];
        mod.start = m.start;
        mod.end = m.end;
        size_t n = Length(m.path);
        if (n >= sizeof mod.path) n = sizeof mod.path - 1;
        std::memcpy(mod.path, m.path, n);
        mod.path[n] = '\0';
        return true;
    });

    int number = 0;
    for (size_t i = 0; i < count; ++i) {
        const Module& mod = g_modules[i];
        char magic[4];
        if (ReadMemory(mod.start, magic, 4) != 4 || std::memcmp(magic,
                                                                "\x7f"
                                                                "ELF",
                                                                4) != 0)
            continue;
        w.WriteReportText("Module %d\r\n", ++number);
        w.WriteReportText("%s\r\n", mod.path);
        w.WriteReportText("Image Base: 0x%016llx  Image Size: 0x%08llx\r\n",
                          static_cast<unsigned long long>(mod.start),
                          static_cast<unsigned long long>(mod.end - mod.start));
        // Executables here carry neither a header checksum nor a link time.
        w.WriteReportText("Checksum:   0x%08x  Time Stamp: 0x%08x\r\n", 0u, 0u);
        struct stat st {};
        if (stat(mod.path, &st) == 0) {
            CivilTime t = FromEpoch(st.st_mtime);
            char when[64];
            Format(when, sizeof when, "%d/%d/%d %02d:%02d:%02d", t.month, t.day, t.year, t.hour, t.minute,
                   t.second);
            w.WriteReportText("File Size:  %-10lld  File Time:  %s\r\n", static_cast<long long>(st.st_size),
                              when);
        } else {
            w.WriteReportText("File Size:  %-10d  File Time:  %s\r\n", 0, "");
        }
        bool own = std::strcmp(mod.path, g_prep.exePath) == 0;
        const uint16_t zero[4] = {0, 0, 0, 0};
        const uint16_t* fv = own ? g_prep.fileVersion : zero;
        const uint16_t* pv = own ? g_prep.productVersion : zero;
        w.WriteReportText("Version Information:\r\n");
        w.WriteReportText("   Company:    %s\r\n", own ? g_prep.company : "");
        w.WriteReportText("   Product:    %s\r\n", own ? g_prep.product : "");
        w.WriteReportText("   FileDesc:   %s\r\n", own ? g_prep.description : "");
        w.WriteReportText("   FileVer:    %d.%d.%d.%d\r\n", fv[0], fv[1], fv[2], fv[3]);
        w.WriteReportText("   ProdVer:    %d.%d.%d.%d\r\n", pv[0], pv[1], pv[2], pv[3]);
        w.WriteReportText("\r\n");
    }
}

// The dump in place of a minidump, all integers little-endian:
//   "CDMP", u32 version 1, u32 exception code, i32 signal, i32 signal code,
//   u64 fault address, u64 pc, u64 sp,
//   u32 size of the register block, the block (the signal context's
//   general registers, as the kernel saved them),
//   u64 stack address (sp), u32 size, the stack bytes that could be read
//   (at most 64 KiB from sp upward),
//   then to the end of the file the text of /proc/self/maps.
alignas(16) char g_dumpStack[65536];

void WriteDump(int fd, const CrashInfo& info) {
    auto put32 = [&](uint32_t v) { WriteAll(fd, &v, 4); };
    auto put64 = [&](uint64_t v) { WriteAll(fd, &v, 8); };
    WriteAll(fd, "CDMP", 4);
    put32(1);
    put32(info.code);
    put32(static_cast<uint32_t>(info.signal));
    put32(static_cast<uint32_t>(info.signalCode));
    put64(info.faultAddress);
    put64(info.pc);
    put64(info.sp);
    if (info.context) {
        put32(static_cast<uint32_t>(sizeof info.context->uc_mcontext.gregs));
        WriteAll(fd, info.context->uc_mcontext.gregs, sizeof info.context->uc_mcontext.gregs);
    } else {
        put32(0);
    }
    size_t n = 0;
    uintptr_t top = 0;
    ForEachMapping([&](const Mapping& m) {
        if (info.sp >= m.start && info.sp < m.end) {
            top = m.end;
            return false;
        }
        return true;
    });
    if (top > info.sp) {
        size_t want = top - info.sp < sizeof g_dumpStack ? top - info.sp : sizeof g_dumpStack;
        n = ReadMemory(info.sp, g_dumpStack, want);
    }
    put64(info.sp);
    put32(static_cast<uint32_t>(n));
    WriteAll(fd, g_dumpStack, n);
    int maps = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps >= 0) {
        ssize_t r;
        while ((r = read(maps, g_mapsChunk, sizeof g_mapsChunk)) > 0)
            WriteAll(fd, g_mapsChunk, static_cast<size_t>(r));
        close(maps);
    }
}

// ---- Handlers ----

void HandleSignal(int sig, siginfo_t* si, void* uc) {
    CrashInfo info;
    info.signal = sig;
    info.signalCode = si ? si->si_code : 0;
    info.faultAddress = si ? reinterpret_cast<uintptr_t>(si->si_addr) : 0;
    info.context = static_cast<const ucontext_t*>(uc);
#if defined(__x86_64__)
    if (info.context) {
        info.pc = static_cast<uintptr_t>(info.context->uc_mcontext.gregs[REG_RIP]);
        info.sp = static_cast<uintptr_t>(info.context->uc_mcontext.gregs[REG_RSP]);
        // Bit 1 of the page-fault error code: the access was a write.
        info.writeAccess = (info.context->uc_mcontext.gregs[REG_ERR] & 2) != 0;
    }
#endif
    info.code = ExceptionCodeForSignal(sig, info.signalCode);
    // A fault just below the stack pointer is the stack running out.
    if (sig == SIGSEGV && info.sp && info.faultAddress + 65536 >= info.sp &&
        info.faultAddress < info.sp + 4096)
        info.code = kExceptionStackOverflow;
    TopLevelExceptionFilter(info);
    // Die of the same signal, as without the handler.
    signal(sig, SIG_DFL);
    raise(sig);
}

void HandleTerminate() {
    static ucontext_t context;
    getcontext(&context);
    CrashInfo info;
    info.code = kExceptionCppException;
    info.signal = 0;
    info.context = &context;
    info.pc = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
    info.sp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    TopLevelExceptionFilter(info);
    std::abort();
}

void Prepare() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    CopyText(g_prep.exePath, ec ? std::string("Unknown") : exe.string());
    CopyText(g_prep.version, ec ? std::string("Unknown") : GetProductVersionText(exe, 29));
    std::filesystem::path folder = GetAppDir().empty() ? exe.parent_path() : GetAppDir();
    CopyText(g_prep.logDir, (folder / "log").string());
    passwd pw{};
    passwd* found = nullptr;
    char buf[4096];
    std::string user = "Unknown";
    if (getpwuid_r(geteuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_name)
        user = found->pw_name;
    CopyText(g_prep.user, user);
    CopyText(g_prep.os, CGetWindowsVer().GetDescription());
    ModuleVersion mv;
    ReadModuleVersion(exe, &mv);
    CopyText(g_prep.company, mv.company);
    CopyText(g_prep.product, mv.product);
    CopyText(g_prep.description, mv.description);
    std::memcpy(g_prep.fileVersion, mv.fileVersion, sizeof mv.fileVersion);
    std::memcpy(g_prep.productVersion, mv.productVersion, sizeof mv.productVersion);
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    g_prep.gmtOffset = local.tm_gmtoff;
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    g_prep.processors = cpus > 0 ? static_cast<int>(cpus) : 1;
#if defined(__x86_64__)
    g_prep.processorType = 8664;
#elif defined(__i386__)
    g_prep.processorType = 586;
#else
    g_prep.processorType = 0;
#endif
}

}  // namespace

uint32_t ExceptionCodeForSignal(int signal, int signalCode) {
    switch (signal) {
        case SIGSEGV:
            return kExceptionAccessViolation;
        case SIGBUS:
            return signalCode == BUS_ADRALN ? 0x80000002 : 0xC0000006;
        case SIGILL:
            return signalCode == ILL_PRVOPC || signalCode == ILL_PRVREG ? 0xC0000096 : 0xC000001D;
        case SIGFPE:
            switch (signalCode) {
                case FPE_INTDIV:
                    return 0xC0000094;
                case FPE_INTOVF:
                    return 0xC0000095;
                case FPE_FLTDIV:
                    return 0xC000008E;
                case FPE_FLTOVF:
                    return 0xC0000091;
                case FPE_FLTUND:
                    return 0xC0000093;
                case FPE_FLTRES:
                    return 0xC000008F;
                case FPE_FLTSUB:
                    return 0xC000008C;
                default:
                    return 0xC0000090;
            }
        case SIGTRAP:
            return kExceptionBreakpoint;
        case SIGABRT:
            return kExceptionFatalAppExit;
        default:
            return 0;
    }
}

const char* ExceptionName(uint32_t code) {
    for (const auto& row : kExceptionNames) {
        if (row.code == code) return row.name;
    }
    return "an Unknown exception type";
}

size_t FormatReportText(char* out, size_t size, const char* format, va_list args) {
    if (size == 0) return 0;
    size_t n = 0;
    auto put = [&](char c) {
        if (n + 1 < size) out[n++] = c;
    };
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            put(*p);
            continue;
        }
        ++p;
        bool left = false, zero = false;
        for (;; ++p) {
            if (*p == '-')
                left = true;
            else if (*p == '0')
                zero = true;
            else
                break;
        }
        int width = 0;
        while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
        int longs = 0;
        while (*p == 'l') {
            ++longs;
            ++p;
        }
        if (*p == 'z') {
            longs = 2;
            ++p;
        }
        char digits[32];
        const char* text = digits;
        size_t len = 0;
        switch (*p) {
            case '%':
                put('%');
                continue;
            case 'c':
                digits[0] = static_cast<char>(va_arg(args, int));
                len = 1;
                break;
            case 's':
                text = va_arg(args, const char*);
                if (!text) text = "(null)";
                len = Length(text);
                break;
            case 'd':
            case 'u':
            case 'x':
            case 'X': {
                unsigned long long v;
                bool negative = false;
                if (*p == 'd') {
                    long long s = longs >= 2   ? va_arg(args, long long)
                                  : longs == 1 ? va_arg(args, long)
                                               : va_arg(args, int);
                    negative = s < 0;
                    v = negative ? 0ULL - static_cast<unsigned long long>(s)
                                 : static_cast<unsigned long long>(s);
                } else {
                    v = longs >= 2   ? va_arg(args, unsigned long long)
                        : longs == 1 ? va_arg(args, unsigned long)
                                     : va_arg(args, unsigned);
                }
                unsigned base = (*p == 'x' || *p == 'X') ? 16 : 10;
                const char* set = *p == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
                char rev[24];
                size_t r = 0;
                do {
                    rev[r++] = set[v % base];
                    v /= base;
                } while (v);
                if (negative) digits[len++] = '-';
                // Zero padding goes between the sign and the digits.
                if (zero && !left) {
                    while (len + r < static_cast<size_t>(width) && len < sizeof digits - r - 1)
                        digits[len++] = '0';
                }
                while (r) digits[len++] = rev[--r];
                break;
            }
            default:
                // An unknown conversion is written as it stands.
                put('%');
                if (*p) put(*p);
                if (!*p) --p;
                continue;
        }
        size_t pad = static_cast<size_t>(width) > len ? static_cast<size_t>(width) - len : 0;
        if (!left)
            for (size_t i = 0; i < pad; ++i) put(' ');
        for (size_t i = 0; i < len; ++i) put(text[i]);
        if (left)
            for (size_t i = 0; i < pad; ++i) put(' ');
    }
    out[n] = '\0';
    return n;
}

size_t ReportWriter::WriteReportTextV(const char* format, va_list args) {
    if (length_ > 7168) FlushReportText();
    char piece[1025];
    size_t n = FormatReportText(piece, sizeof piece, format, args);
    std::memcpy(buffer_ + length_, piece, n);
    length_ += n;
    return length_;
}

size_t ReportWriter::WriteReportText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    size_t n = WriteReportTextV(format, args);
    va_end(args);
    return n;
}

void ReportWriter::FlushReportText() {
    // UTF-8 in the buffer, UTF-16LE in the file; ill-formed bytes become U+FFFD.
    unsigned char out[2048];
    size_t o = 0;
    auto unit = [&](uint32_t u) {
        if (o + 2 > sizeof out) {
            WriteAll(fd_, out, o);
            o = 0;
        }
        out[o++] = static_cast<unsigned char>(u & 0xFF);
        out[o++] = static_cast<unsigned char>(u >> 8);
    };
    size_t i = 0;
    while (i < length_) {
        unsigned char b = static_cast<unsigned char>(buffer_[i]);
        uint32_t cp;
        size_t more;
        if (b < 0x80) {
            cp = b;
            more = 0;
        } else if ((b & 0xE0) == 0xC0 && b >= 0xC2) {
            cp = b & 0x1F;
            more = 1;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            more = 2;
        } else if ((b & 0xF8) == 0xF0 && b <= 0xF4) {
            cp = b & 0x07;
            more = 3;
        } else {
            cp = 0xFFFD;
            more = 0;
        }
        ++i;
        for (size_t k = 0; k < more; ++k, ++i) {
            if (i >= length_ || (static_cast<unsigned char>(buffer_[i]) & 0xC0) != 0x80) {
                cp = 0xFFFD;
                break;
            }
            cp = cp << 6 | (static_cast<unsigned char>(buffer_[i]) & 0x3F);
        }
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xD800 | (cp >> 10));
            unit(0xDC00 | (cp & 0x3FF));
        } else {
            unit(cp);
        }
    }
    WriteAll(fd_, out, o);
    length_ = 0;
}

void WriteStackDump(ReportWriter& w, uintptr_t address, const uint32_t* words, size_t count,
                    bool readFailed) {
    for (size_t i = 0; i < count; i += 4) {
        w.WriteReportText("0x%016llx: ", static_cast<unsigned long long>(address + i * 4));
        size_t inLine = count - i < 4 ? count - i : 4;
        for (size_t k = 0; k < inLine; ++k) w.WriteReportText("%08x ", words[i + k]);
        for (size_t k = inLine; k < 4; ++k) w.WriteReportText("         ");
        char chars[17];
        size_t c = 0;
        for (size_t k = 0; k < inLine; ++k) {
            for (int byte = 0; byte < 4; ++byte) {
                unsigned char b = static_cast<unsigned char>(words[i + k] >> (8 * byte));
                chars[c++] = b >= 32 && b <= 126 ? static_cast<char>(b) : '.';
            }
        }
        chars[c] = '\0';
        w.WriteReportText("%s\r\n", chars);
    }
    if (readFailed)
        w.WriteReportText("Exception encountered during stack dump.\r\n");
    else
        w.WriteReportText("\r\n");
}

int TopLevelExceptionFilter(const CrashInfo& info) {
    if (g_armed.exchange(0) == 0) return 0;

    CivilTime now = LocalNow();
    static char id[128], reportPath[4300], dumpPath[4300];
    Format(id, sizeof id, "V%s-T%04d%02d%02d-%02d%02d%02d-P%ld-T%ld", g_prep.version, now.year, now.month,
           now.day, now.hour, now.minute, now.second, static_cast<long>(getpid()),
           static_cast<long>(syscall(SYS_gettid)));
    Format(reportPath, sizeof reportPath, "%s/ERRORLOG-%s.LOG", g_prep.logDir, id);
    Format(dumpPath, sizeof dumpPath, "%s/Dump-%s.dmp", g_prep.logDir, id);

    // The report may quote memory (stack words): only the user may read it.
    int fd = open(reportPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_SYNC, 0600);
    if (fd < 0) {
        DebugOutput("Error creating exception report\r\n");
    } else {
        static ReportWriter writer(-1);
        writer = ReportWriter(fd);
        const char* module = "Unknown";
        static char moduleName[1024];
        ForEachMapping([&](const Mapping& m) {
            if (info.pc >= m.start && info.pc < m.end) {
                if (m.path[0]) {
                    Format(moduleName, sizeof moduleName, "%s", BaseName(m.path));
                    module = moduleName;
                }
                return false;
            }
            return true;
        });
        writer.WriteReportText("%s caused %s (0x%08x) \r\nin module %s at %04x:%016llx.\r\n\r\n",
                               g_prep.exePath, ExceptionName(info.code), info.code, module,
                               SegmentCs(info.context), static_cast<unsigned long long>(info.pc));
        if (info.signal)
            writer.WriteReportText("Signal %d (%s), code %d.\r\n", info.signal, SignalName(info.signal),
                                   info.signalCode);
        WriteSystemSection(writer);
        if (info.code == kExceptionAccessViolation)
            writer.WriteReportText("%s location %016llx caused an access violation.\r\n",
                                   info.writeAccess ? "Write to" : "Read from",
                                   static_cast<unsigned long long>(info.faultAddress));
        WriteRegisters(writer, info.context);
        WriteCodeBytes(writer, info.pc);
        WriteStackSection(writer, info.sp);
        WriteModuleSection(writer);
        writer.WriteReportText("\r\n===== [end of %s] =====\r\n", "ERRORLOG");
        writer.FlushReportText();
        close(fd);
    }

    int dump = open(dumpPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_SYNC, 0600);
    if (dump >= 0) {
        DebugOutput("writing minidump\r\n");
        WriteDump(dump, info);
        close(dump);
    }
    return 1;
}

void InstallCrashHandler() {
    Prepare();
    stack_t alt{};
    alt.ss_sp = g_altStack;
    alt.ss_size = sizeof g_altStack;
    sigaltstack(&alt, nullptr);
    struct sigaction sa {};
    sa.sa_sigaction = &HandleSignal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : kSignals) sigaction(sig, &sa, nullptr);
    std::set_terminate(&HandleTerminate);
    g_armed.store(1);
}
