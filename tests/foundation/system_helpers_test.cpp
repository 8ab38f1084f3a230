#include "foundation/system_helpers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>

#include "foundation/text_convert.h"
#include "foundation/thread_locale.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/net.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Dotted(uint32_t networkOrder) {
    char buf[INET_ADDRSTRLEN];
    in_addr a{networkOrder};
    return inet_ntop(AF_INET, &a, buf, sizeof buf);
}

}  // namespace

TEST(AddressText, IsAddressTextFollowsInetAddr) {
    struct Case {
        const char* text;
        int expected;
    };
    const Case cases[] = {
        {"::1", 1},  {"fe80::1%eth0", 1}, {"1.2.3.4", 1},
        {"10.1", 1}, {"0x7f.1", 1},       {"host.example", 0},
        {"", 0},     {"1.2.3.4x", 0},     {"255.255.255.255", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsAddressText(c.text), c.expected) << c.text;
        EXPECT_EQ(IsAddressTextW(Utf8ToWideString(c.text)), c.expected) << c.text;
    }
    EXPECT_EQ(IsAddressText(nullptr), 0);
}

TEST(AddressText, StrictDottedQuad) {
    struct Case {
        const char* text;
        int expected;
    };
    const Case cases[] = {
        {"10.0.0.1", 1},
        {"1.2.3.4", 1},
        {"255.255.255.255", 1},
        {"1.0.0.0", 1},
        {"192.168.100.0", 1},
        {"0.1.2.3", 0},  // first part 0
        {"1.2.3.256", 0},
        {"1.2.3", 0},
        {"1.2.3.-1", 0},
        {"1.2.3.+4", 0},
        {"1..2.3.4", 0},  // an empty part
        {"1.2.3.4.", 0},
        {".1.2.3.4", 0},
        {"1.2.3.4.5", 0},
        {"1.2.3.4 anything", 0},  // trailing text
        {" 1.2.3.4", 0},
        {"1.2.3.4x", 0},
        {"01.2.3.4", 0},  // octal to inet_addr
        {"1.2.3.010", 0},
        {"1.2.3.0000", 0},
        {"1.2.3.00", 0},
        {"1.2.3.0", 1},
        {"1.2.3.1000", 0},
        {"0x1.2.3.4", 0},
        {"", 0},
        {"1.2.3.\xEF\xBC\x94", 0},  // a full-width digit
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsValidIPv4(c.text), c.expected) << c.text;
        EXPECT_EQ(IsValidIPv4W(Utf8ToWideString(c.text)), c.expected) << c.text;
    }
    EXPECT_EQ(IsValidIPv4W(std::wstring(L"1.2.3.4\0", 8)), 0);
}

TEST(AddressText, Loopback) {
    struct Case {
        const wchar_t* text;
        int expected;
    };
    const Case cases[] = {
        {L"127.0.0.1", 1}, {L"127.255.1.2", 1}, {L"127.1", 1}, {L"0x7f.1", 1}, {L"128.0.0.1", 0},
        {L"1.127.0.0", 0}, {L"localhost", 0},   {L"", 0},      {L"::1", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(IsLoopbackText(c.text), c.expected) << WideToUtf8String(c.text);
    EXPECT_EQ(IsLoopbackInAddr(inet_addr("127.0.0.9")), 1);
    EXPECT_EQ(IsLoopbackInAddr(inet_addr("10.0.0.127")), 0);
}

TEST(AddressText, PrefixToNetmask) {
    struct Case {
        int prefix;
        const char* mask;
    };
    const Case cases[] = {
        {0, "0.0.0.0"},          {1, "128.0.0.0"},          {8, "255.0.0.0"},        {17, "255.255.128.0"},
        {24, "255.255.255.0"},   {31, "255.255.255.254"},   {32, "255.255.255.255"}, {-1, "0.0.0.0"},
        {33, "255.255.255.255"}, {1000, "255.255.255.255"},
    };
    for (const auto& c : cases) EXPECT_EQ(Dotted(PrefixToNetmask(c.prefix)), c.mask) << c.prefix;
}

TEST(FileHelpers, ReadFileToBuffer) {
    TempDir dir;
    WriteFile(dir / "empty", "");
    WriteFile(dir / "three", "abc");
    std::string binary("a\0b\xff", 4);
    WriteFile(dir / "\xE5\x90\x8D\xE5\x89\x8D.bin", binary);

    EXPECT_EQ(ReadFileToBuffer(dir / "empty", L"rb"), nullptr);
    EXPECT_EQ(ReadFileToBuffer(dir / "missing", L"rb"), nullptr);
    EXPECT_EQ(ReadFileToBuffer(dir / "three", nullptr), nullptr);
    EXPECT_EQ(ReadFileToBuffer(static_cast<const wchar_t*>(nullptr), L"rb"), nullptr);

    size_t size = 99;
    char* three = ReadFileToBuffer(dir / "three", L"rb", &size);
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::memcmp(three, "abc", 4), 0);  // the terminating zero too
    std::free(three);

    // A wide path with non-ASCII characters, binary contents.
    std::wstring wide = PathToWide(dir.path()) + L"/\u540D\u524D.bin";
    char* bin = ReadFileToBuffer(wide, L"rb", &size);
    ASSERT_NE(bin, nullptr);
    EXPECT_EQ(std::string(bin, size), binary);
    EXPECT_EQ(bin[size], '\0');
    std::free(bin);

    // Files that report no length read whole.
    char* status = ReadFileToBuffer(std::filesystem::path("/proc/self/status"), L"r", &size);
    ASSERT_NE(status, nullptr);
    EXPECT_GT(size, 0u);
    EXPECT_NE(std::string(status, size).find("Pid:"), std::string::npos);
    std::free(status);

    EXPECT_EQ(FileExists(dir / "three"), 1);
    EXPECT_EQ(FileExists(dir.path()), 1);
    EXPECT_EQ(FileExists(wide), 1);
    EXPECT_EQ(FileExists(dir / "missing"), 0);
    EXPECT_EQ(FileExists(static_cast<const wchar_t*>(nullptr)), 0);
}

TEST(FileHelpers, WriteBufferToFileReportsTheOutcome) {
    TempDir dir;
    EXPECT_TRUE(WriteBufferToFile(dir / "out", L"wb", "hello", 5));
    EXPECT_EQ(ReadFile(dir / "out"), "hello");
    EXPECT_TRUE(WriteBufferToFile(dir / "out", L"ab", " world", 6));
    EXPECT_EQ(ReadFile(dir / "out"), "hello world");
    EXPECT_TRUE(WriteBufferToFile(dir / "out", L"wb", "x", 1));
    EXPECT_EQ(ReadFile(dir / "out"), "x");
    EXPECT_TRUE(WriteBufferToFile(dir / "empty", L"wb", nullptr, 0));
    EXPECT_EQ(ReadFile(dir / "empty"), "");

    // Failures are failures.
    EXPECT_FALSE(WriteBufferToFile(dir / "no-folder" / "out", L"wb", "x", 1));
    EXPECT_FALSE(WriteBufferToFile(dir / "out" / "below-a-file", L"ab", "x", 1));
    EXPECT_FALSE(WriteBufferToFile(dir / "out", nullptr, "x", 1));
    EXPECT_FALSE(WriteBufferToFile(dir / "out", L"wb", nullptr, 1));
    EXPECT_FALSE(WriteBufferToFile(static_cast<const wchar_t*>(nullptr), L"wb", "x", 1));

    // A full disk: the write fails and the old contents stay whole.
    std::string big(1 << 20, 'b');
    {
        testsupport::FileSizeLimit limit(64 * 1024);
        ASSERT_TRUE(limit.active());
        EXPECT_FALSE(WriteBufferToFile(dir / "out", L"wb", big.data(), big.size()));
        EXPECT_FALSE(WriteBufferToFile(dir / "appended", L"ab", big.data(), big.size()));
    }
    EXPECT_EQ(ReadFile(dir / "out"), "x");
}

TEST(FileHelpers, GetAppDataPathCreatesTheFolder) {
    TempDir dir;
    std::filesystem::path home = dir / "data home";
    testsupport::ScopedEnv env("XDG_DATA_HOME", home.c_str());
    std::wstring out;
    // Takes the folder fixed at start-up when there is one; here none was fixed
    // for this temporary home, so compare with what it reports.
    ASSERT_EQ(GetAppDataPath(&out), 1);
    EXPECT_TRUE(std::filesystem::is_directory(WideToPath(out)));
    EXPECT_EQ(GetAppDataPath(nullptr), 0);
}

namespace {

// Runs a command with its standard output captured in a file.
std::string RunCaptured(const std::vector<std::string>& argv, int* exitCode, int* started,
                        const std::filesystem::path& workDir = {}) {
    TempDir dir;
    int fd = open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    EXPECT_GE(fd, 0);
    if (workDir.empty()) {
        *started = RunCommandHidden(argv, fd, exitCode);
    } else {
        pid_t pid = StartProcessHidden(argv, fd, workDir);
        *started = pid > 0;
        int status = 0;
        if (pid > 0) {
            EXPECT_TRUE(WaitProcess(pid, -1, &status));
        }
        *exitCode = WEXITSTATUS(status);
    }
    close(fd);
    return ReadFile(dir / "out");
}

}  // namespace

TEST(Processes, RunCommandHidden) {
    int code = -1, started = 0;
    EXPECT_EQ(RunCaptured({"echo", "hello", "two words"}, &code, &started), "hello two words\n");
    EXPECT_EQ(started, 1);
    EXPECT_EQ(code, 0);

    // No shell: metacharacters are plain arguments.
    EXPECT_EQ(RunCaptured({"echo", "$HOME;", "`id`", "|", "x"}, &code, &started), "$HOME; `id` | x\n");

    RunCaptured({"false"}, &code, &started);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(code, 1);

    // Standard error goes nowhere visible; standard output still arrives.
    EXPECT_EQ(RunCaptured({"sh", "-c", "echo err >&2; echo out"}, &code, &started), "out\n");

    // Only the standard descriptors reach the child (ls holds one more for the folder it lists).
    std::string fds = RunCaptured({"ls", "/proc/self/fd"}, &code, &started);
    EXPECT_EQ(fds, "0\n1\n2\n3\n");

    TempDir cwd;
    EXPECT_EQ(RunCaptured({"pwd"}, &code, &started, cwd.path()), cwd.path().string() + "\n");

    // What cannot be started is reported as such.
    EXPECT_EQ(RunCommandHidden({"/nonexistent/program"}), 0);
    EXPECT_EQ(RunCommandHidden({"no-such-program-cendrow"}), 0);
    EXPECT_EQ(RunCommandHidden({}), 0);
    EXPECT_EQ(StartProcessHidden({"true"}, -1, cwd / "missing-folder"), -1);

    // Killed by a signal: 128 + the signal.
    RunCommandHidden({"sh", "-c", "kill -9 $$"}, -1, &code);
    EXPECT_EQ(code, 128 + 9);
}

TEST(Processes, FoundAndEndedByFullPathOnly) {
    // Two programs named "sleep": the system's and a copy of our own.
    TempDir dir;
    std::filesystem::path system = std::filesystem::canonical("/usr/bin/sleep");
    std::filesystem::path copy = dir / "sleep";
    std::filesystem::copy_file(system, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_all);

    pid_t theirs = StartProcessHidden({system.string(), "30"});
    pid_t ours = StartProcessHidden({copy.string(), "30"});
    ASSERT_GT(theirs, 0);
    ASSERT_GT(ours, 0);

    EXPECT_EQ(GetProcessExePath(ours), copy);
    EXPECT_EQ(GetProcessExePath(getpid()), std::filesystem::read_symlink("/proc/self/exe"));
    EXPECT_TRUE(GetProcessExePath(0).empty());

    std::vector<pid_t> found;
    EXPECT_EQ(FindProcessesByName(PathToWide(copy), found), 1);
    EXPECT_EQ(found, std::vector<pid_t>{ours});

    // A bare name or relative path finds nothing, whatever runs.
    found.clear();
    EXPECT_EQ(FindProcessesByName(L"sleep", found), 0);
    EXPECT_EQ(FindProcessesByName(L"SLEEP", found), 0);
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(KillProcessesByName(L"sleep"), 0);

    // A path through a symbolic link names the same executable.
    std::filesystem::create_symlink(dir.path(), dir / "link");
    EXPECT_EQ(FindProcessesByName(PathToWide(dir / "link" / "sleep"), found), 1);

    EXPECT_EQ(KillProcessesByName(PathToWide(copy)), 1);
    int status = 0;
    ASSERT_TRUE(WaitProcess(ours, 5000, &status));
    EXPECT_TRUE(WIFSIGNALED(status));
    // The other program of the same name is untouched.
    EXPECT_FALSE(WaitProcess(theirs, 100, &status));
    EXPECT_EQ(KillProcessesByName(PathToWide(copy)), 0);

    EXPECT_EQ(KillProcessById(theirs), 1);
    EXPECT_TRUE(WaitProcess(theirs, 5000, &status));
}

TEST(Processes, KillRefusesGroupsAndItself) {
    EXPECT_EQ(KillProcessById(0), 0);
    EXPECT_EQ(KillProcessById(-1), 0);
    EXPECT_EQ(KillProcessById(-getpid()), 0);
    EXPECT_EQ(KillProcessById(getpid()), 0);
}

TEST(FreeLocalPort, SearchOverConnectionTables) {
    const std::string heading =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";
    auto row = [](int port) {
        char line[200];
        std::snprintf(
            line, sizeof line,
            "   0: 0100007F:%04X 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 "
            "1234 1 0000000000000000 100 0 0 10 0\n",
            port);
        return std::string(line);
    };
    auto row6 = [](int port) {
        char line[200];
        std::snprintf(line, sizeof line,
                      "   1: 00000000000000000000000000000000:%04x 00000000000000000000000001000000:D431 01 "
                      "00000000:00000000 00:00000000 00000000     0        0 99 1\n",
                      port);
        return std::string(line);
    };
    TempDir dir;
    auto table = [&](const std::string& name, const std::string& rows) {
        WriteFile(dir / name, heading + rows);
        return dir / name;
    };
    std::string all;
    for (int p = 16666; p < 16766; ++p) all += row(p);

    struct Case {
        std::vector<std::filesystem::path> tables;
        int expected;
    };
    const Case cases[] = {
        {{table("none", "")}, 16666},
        {{table("other", row(80) + row(16665))}, 16666},
        {{table("first", row(16666))}, 16667},
        {{table("v4", row(16666) + row(16667)), table("v6", row6(16668))}, 16669},
        {{table("all", all)}, 0},
        {{table("all-but-last", all.substr(0, all.rfind("   0:")))}, 16765},
        {{dir / "unreadable"}, 16666},
    };
    for (const auto& c : cases) EXPECT_EQ(FindFreeLocalPortIn(c.tables), c.expected) << c.tables[0];

    EXPECT_EQ(ParseTcpTableLocalPorts(heading + row(0x4142) + "garbage\n   7: 0100007F:ZZZZ\n" + row6(65535)),
              (std::vector<int>{0x4142, 65535}));
    EXPECT_TRUE(ParseTcpTableLocalPorts("").empty());
}

TEST(FreeLocalPort, SeesTheKernelsSockets) {
    int port = 0;
    int fd = testsupport::ListenLoopback(&port);
    ASSERT_GE(fd, 0);
    std::string text = ReadFile("/proc/thread-self/net/tcp");
    auto ports = ParseTcpTableLocalPorts(text);
    close(fd);
    EXPECT_NE(std::find(ports.begin(), ports.end(), port), ports.end()) << text;
    int found = FindFreeLocalPort();
    EXPECT_TRUE(found == 0 || (found >= 16666 && found < 16766)) << found;
}

TEST(SystemQueries, TimeAndVersions) {
    struct Case {
        int64_t a, b;
        double expected;
    };
    const Case cases[] = {
        {10, 3, 7.0},
        {3, 10, 7.0},
        {5, 5, 0.0},
        {-20, 5, 25.0},
        {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(), 18446744073709551615.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AbsTimeDiff(c.a, c.b), c.expected) << c.a << " " << c.b;
        EXPECT_EQ(AbsTimeDiff(c.b, c.a), c.expected);
    }
    EXPECT_EQ(IsVistaOrLater(), 1);
    EXPECT_EQ(IsWin7OrLater(), 1);
    EXPECT_EQ(IsVista(), 0);
    EXPECT_EQ(Is64BitWindows(), sizeof(void*) == 8 ? 1 : 0);
}

namespace {
bool FixedScreen(int* w, int* h) {
    *w = 1920;
    *h = 1080;
    return true;
}
}  // namespace

TEST(SystemQueries, ScreenSizeFromItsSource) {
    EXPECT_EQ(GetScreenWidth(), 0);
    SetScreenSizeSource(&FixedScreen);
    EXPECT_EQ(GetScreenWidth(), 1920);
    EXPECT_EQ(GetScreenHeight(), 1080);
    SetScreenSizeSource(nullptr);
    EXPECT_EQ(GetScreenHeight(), 0);
}

TEST(SystemQueries, ChineseUiLocale) {
    testsupport::ScopedEnv language("LANGUAGE", nullptr);
    testsupport::ScopedEnv all("LC_ALL", nullptr);
    testsupport::ScopedEnv messages("LC_MESSAGES", nullptr);
    {
        testsupport::ScopedEnv lang("LANG", "zh_CN.UTF-8");
        EXPECT_EQ(IsChineseUiLocale(), 1);
        SetThreadLocale(1033);
        EXPECT_EQ(IsChineseUiLocale(), 0);
        SetThreadLocale(kLocaleUserDefault);
    }
    unsetenv("LANGUAGE");
    testsupport::ScopedEnv lang("LANG", "en_US.UTF-8");
    EXPECT_EQ(IsChineseUiLocale(), 0);
    SetThreadLocale(2052);
    EXPECT_EQ(IsChineseUiLocale(), 1);
    EXPECT_STREQ(std::getenv("LANGUAGE"), "zh_CN");
    SetThreadLocale(0);
    EXPECT_EQ(GetThreadLocale(), kLocaleChineseSimplified);  // LANGUAGE still asks for it
    unsetenv("LANGUAGE");
    EXPECT_EQ(GetThreadLocale(), kLocaleEnglishUS);
}

TEST(SystemQueries, LocaleNames) {
    struct Case {
        const char* name;
        uint32_t lcid;
    };
    const Case cases[] = {
        {"zh_CN.UTF-8", 2052}, {"zh_CN", 2052}, {"zh_TW.Big5", 1028},  {"zh", 2052}, {"de_DE@euro", 1031},
        {"de", 1031},          {"de_AT", 1031}, {"en_US.UTF-8", 1033}, {"C", 0},     {"C.UTF-8", 0},
        {"POSIX", 0},          {"", 0},         {"xx_YY", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(LcidFromLocaleName(c.name), c.lcid) << c.name;
    EXPECT_EQ(LocaleNameFromLcid(2052), "zh_CN");
    EXPECT_EQ(LocaleNameFromLcid(1031), "de_DE");
    EXPECT_EQ(LocaleNameFromLcid(99), "");
}

TEST(RandomInt, CoversItsRangeOnly) {
    for (int i = 0; i < 50; ++i) EXPECT_EQ(RandomInt(0), 0);
    EXPECT_EQ(RandomInt(-5), 0);
    std::set<int> seen;
    for (int i = 0; i < 2000; ++i) {
        int v = RandomInt(6);
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 6);
        seen.insert(v);
    }
    EXPECT_EQ(seen.size(), 7u);
    int big = RandomInt(std::numeric_limits<int>::max());
    EXPECT_GE(big, 0);
}
