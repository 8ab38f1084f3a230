#include "foundation/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "foundation/app_paths.h"
#include "foundation/ini.h"
#include "foundation/named_mutex.h"
#include "foundation/program_log.h"
#include "foundation/services.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "platform/registry_store.h"
#include "tests/support/process.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;

namespace {

// Runs `body` in a child process; its result is the child's exit code.
int InChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

}  // namespace

TEST(Registry, KeysAndStringValues) {
    TempDir dir;
    std::filesystem::path store = dir / "registry";
    CRegistry reg(HKEY_LOCAL_MACHINE, store);
    EXPECT_FALSE(reg.Open(KEY_READ, L"SOFTWARE\\Cendrow"));
    EXPECT_EQ(reg.GetLastError(), 2);
    EXPECT_FALSE(std::filesystem::exists(store));  // a query writes nothing

    ASSERT_TRUE(reg.Create(L"SOFTWARE\\Cendrow"));
    EXPECT_EQ(reg.GetCurrentKeyPath(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Cendrow");
    ASSERT_TRUE(reg.WriteString(L"Install_dir", L"/opt/\u00C7endrow = [x]\nnext"));
    ASSERT_TRUE(reg.WriteString(L"", L"default value"));

    CRegistry again(HKEY_LOCAL_MACHINE, store);
    ASSERT_TRUE(again.Open(KEY_READ, L"software\\CENDROW"));  // case is ignored
    const wchar_t* text = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(again.Read(L"install_dir", &text, &size));
    EXPECT_STREQ(text, L"/opt/\u00C7endrow = [x]\nnext");
    EXPECT_EQ(size, (std::wcslen(text) + 1) * sizeof(wchar_t));
    ASSERT_TRUE(again.Read(L"", &text, nullptr));
    EXPECT_STREQ(text, L"default value");
    EXPECT_FALSE(again.Read(L"missing", &text, &size));
    EXPECT_EQ(again.GetLastError(), 2);
    ASSERT_TRUE(again.Read(L"Install_dir", nullptr, nullptr));
    EXPECT_EQ(again.GetLastError(), 0);

    // The key above was made too, and replacing a value keeps one copy.
    CRegistry parent(HKEY_LOCAL_MACHINE, store);
    EXPECT_TRUE(parent.Open(KEY_READ, L"SOFTWARE"));
    ASSERT_TRUE(again.WriteString(L"INSTALL_DIR", L"/second"));
    ASSERT_TRUE(again.Read(L"Install_dir", &text, nullptr));
    EXPECT_STREQ(text, L"/second");
    EXPECT_EQ(ReadFile(store).find("/opt"), std::string::npos);

    // Null names fail at once and keep the last error.
    EXPECT_FALSE(again.Read(nullptr, &text, &size));
    EXPECT_FALSE(again.WriteString(nullptr, L"x"));
    EXPECT_FALSE(again.Create(nullptr));
    EXPECT_EQ(again.GetLastError(), 0);
    EXPECT_FALSE(again.Create(L"bad\\\\path"));
    EXPECT_EQ(again.GetLastError(), 87);
}

TEST(Registry, StoredValuesOfOtherShapes) {
    TempDir dir;
    RegistryStore store(dir / "registry");
    const std::string key = "HKEY_LOCAL_MACHINE\\SYSTEM\\Adapters";
    ASSERT_EQ(store.CreateKey(key), kRegOk);
    ASSERT_EQ(store.SetValue(key, "List", {kRegMultiString, MakeMultiString({"eth0", "\u00FCber", "tun0"})}),
              kRegOk);
    ASSERT_EQ(store.SetValue(key, "Cut", {kRegMultiString, std::string("a\0\0b\0\0", 6)}), kRegOk);
    ASSERT_EQ(store.SetValue(key, "Bare", {kRegString, "no terminator"}), kRegOk);
    ASSERT_EQ(store.SetValue(key, "Padded", {kRegString, std::string("text\0junk", 9)}), kRegOk);
    ASSERT_EQ(store.SetValue(key, "Number", {kRegDword, std::string("\x2A\0\0\0", 4)}), kRegOk);

    CRegistry reg(HKEY_LOCAL_MACHINE, store.file());
    ASSERT_TRUE(reg.Open(KEY_READ, L"SYSTEM\\Adapters"));
    std::vector<std::wstring> texts{L"kept"};
    ASSERT_TRUE(reg.ReadMultiString(L"List", texts));
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"kept", L"eth0", L"\u00FCber", L"tun0"}));
    texts.clear();
    ASSERT_TRUE(reg.ReadMultiString(L"Cut", texts));  // up to the first empty text
    EXPECT_EQ(texts, std::vector<std::wstring>{L"a"});
    EXPECT_FALSE(reg.ReadMultiString(L"Bare", texts));
    EXPECT_EQ(reg.GetLastError(), kRegErrorUnsupportedType);

    const wchar_t* text = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(reg.Read(L"Bare", &text, &size));
    EXPECT_STREQ(text, L"no terminator");
    ASSERT_TRUE(reg.Read(L"Padded", &text, &size));
    EXPECT_STREQ(text, L"text");
    ASSERT_TRUE(reg.Read(L"Number", &text, &size));
    EXPECT_EQ(size, 4u);
    uint32_t number = 0;
    std::memcpy(&number, text, 4);
    EXPECT_EQ(number, 42u);

    // Every byte survives the file.
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    ASSERT_EQ(store.SetValue(key, "all=[bytes]\n%", {kRegBinary, bytes}), kRegOk);
    RegistryValue back;
    ASSERT_EQ(store.GetValue(key, "ALL=[BYTES]\n%", &back), kRegOk);
    EXPECT_EQ(back.type, kRegBinary);
    EXPECT_EQ(back.data, bytes);
    EXPECT_EQ(store.DeleteValue(key, "all=[bytes]\n%"), kRegOk);
    EXPECT_EQ(store.GetValue(key, "all=[bytes]\n%", &back), kRegNotFound);
    EXPECT_EQ(store.DeleteValue(key, "never there"), kRegOk);
    EXPECT_EQ(store.SetValue("HKEY_LOCAL_MACHINE\\Nope", "x", {kRegString, "y"}), kRegNotFound);
}

TEST(Registry, SharedBetweenProcesses) {
    TempDir dir;
    std::filesystem::path store = dir / "registry";
    CRegistry reg(HKEY_LOCAL_MACHINE, store);
    ASSERT_TRUE(reg.Create(L"SOFTWARE\\Cendrow"));
    ASSERT_TRUE(reg.WriteString(L"Install_dir", L"/from/parent"));

    // A second process reads what the first wrote.
    EXPECT_EQ(InChild([&] {
                  CRegistry child(HKEY_LOCAL_MACHINE, store);
                  const wchar_t* text = nullptr;
                  return child.Open(KEY_READ, L"SOFTWARE\\Cendrow") &&
                                 child.Read(L"Install_dir", &text, nullptr) &&
                                 std::wcscmp(text, L"/from/parent") == 0
                             ? 0
                             : 1;
              }),
              0);

    // Two processes writing at once lose nothing.
    pid_t other = fork();
    if (other == 0) {
        CRegistry child(HKEY_LOCAL_MACHINE, store);
        child.Open(KEY_ALL_ACCESS, L"SOFTWARE\\Cendrow");
        for (int i = 0; i < 40; ++i) child.WriteString((L"child" + std::to_wstring(i)).c_str(), L"c");
        _exit(0);
    }
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(reg.WriteString((L"parent" + std::to_wstring(i)).c_str(), L"p"));
    int status = 0;
    waitpid(other, &status, 0);
    CRegistry check(HKEY_LOCAL_MACHINE, store);
    ASSERT_TRUE(check.Open(KEY_READ, L"SOFTWARE\\Cendrow"));
    for (int i = 0; i < 40; ++i) {
        EXPECT_TRUE(check.Read((L"child" + std::to_wstring(i)).c_str(), nullptr, nullptr)) << i;
        EXPECT_TRUE(check.Read((L"parent" + std::to_wstring(i)).c_str(), nullptr, nullptr)) << i;
    }
}

TEST(Registry, InstallFolderAndProfile) {
    TempDir dir;
    ScopedEnv dataHome("XDG_DATA_HOME", (dir / "data").c_str());
    InitAppPaths(dir / "program" / "cendrow");
    std::filesystem::path store = GetRegistryStorePath();
    EXPECT_EQ(store, dir / "data" / "ZentravData" / "registry");

    RegisterInstallDir(L"Cendrow", "/opt/Cendrow");
    CRegistry reg(HKEY_LOCAL_MACHINE);
    const wchar_t* text = nullptr;
    ASSERT_TRUE(reg.Open(KEY_READ, L"SOFTWARE\\Cendrow"));
    ASSERT_TRUE(reg.Read(L"Install_dir", &text, nullptr));
    EXPECT_STREQ(text, L"/opt/Cendrow");
    // The same folder again writes nothing.
    auto written = std::filesystem::last_write_time(store);
    std::string before = ReadFile(store);
    RegisterInstallDir(L"Cendrow", "/opt/Cendrow");
    EXPECT_EQ(std::filesystem::last_write_time(store), written);
    // Letter case matters in this system's paths.
    RegisterInstallDir(L"Cendrow", "/opt/cendrow");
    ASSERT_TRUE(reg.Read(L"Install_dir", &text, nullptr));
    EXPECT_STREQ(text, L"/opt/cendrow");
    RegisterInstallDir(nullptr, "/x");
    RegisterInstallDir(L"Cendrow", "");
    ASSERT_TRUE(reg.Read(L"Install_dir", &text, nullptr));
    EXPECT_STREQ(text, L"/opt/cendrow");

    std::filesystem::path profile = dir / "data" / "Cendrow" / "profile.ini";
    SaveWorkDirToProfile(L"Cendrow", "/opt/\u00C7endrow");
    EXPECT_EQ(CIni(profile).GetString(L"basic", L"work_directory", L"?"), L"/opt/\u00C7endrow");
    auto profileTime = std::filesystem::last_write_time(profile);
    SaveWorkDirToProfile(L"Cendrow", "/opt/\u00C7endrow");
    EXPECT_EQ(std::filesystem::last_write_time(profile), profileTime);
    SaveWorkDirToProfile(L"Cendrow", "/elsewhere");
    EXPECT_EQ(CIni(profile).GetString(L"basic", L"work_directory", L"?"), L"/elsewhere");
}

TEST(Registry, DesktopExecQuoting) {
    struct Case {
        std::string path, exec;
    };
    const Case cases[] = {
        {"/opt/cendrow/cendrow", "\"/opt/cendrow/cendrow\""},
        {"/opt/my programs/cendrow", "\"/opt/my programs/cendrow\""},
        {"/opt/a\"b/c", "\"/opt/a\\\\\"b/c\""},
        {"/opt/$HOME/`x`", "\"/opt/\\\\$HOME/\\\\`x\\\\`\""},
        {"/opt/back\\slash", "\"/opt/back\\\\\\\\slash\""},
        {"/opt/100%/c", "\"/opt/100%%/c\""},
        {"/opt/\u00E9t\u00E9/c", "\"/opt/\u00E9t\u00E9/c\""},
    };
    for (const auto& c : cases) EXPECT_EQ(DesktopExecValue(c.path), c.exec) << c.path;
}

TEST(Registry, AutoStartEntry) {
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").c_str());
    std::filesystem::path entry = dir / "config" / "autostart" / "Cendrow.desktop";
    EXPECT_EQ(GetAutostartFolder(), dir / "config" / "autostart");

    // Removing what is not there is no error.
    EXPECT_TRUE(SetAutoStart(L"Cendrow", false, nullptr));
    ASSERT_TRUE(SetAutoStart(L"Cendrow", true, L"/opt/my programs/cendrow"));
    std::string text = ReadFile(entry);
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=\"/opt/my programs/cendrow\"\n"), std::string::npos);
    ASSERT_TRUE(SetAutoStart(L"Cendrow", true, L"/opt/cendrow"));
    EXPECT_NE(ReadFile(entry).find("\nExec=\"/opt/cendrow\"\n"), std::string::npos);
    EXPECT_TRUE(SetAutoStart(L"Cendrow", false, L"/opt/cendrow"));
    EXPECT_FALSE(std::filesystem::exists(entry));

    EXPECT_FALSE(SetAutoStart(L"Cendrow", true, nullptr));
    EXPECT_FALSE(SetAutoStart(L"Cendrow", true, L""));
    EXPECT_FALSE(SetAutoStart(L"Cendrow", true, L"/opt/x\nExec=/bin/evil"));
    EXPECT_FALSE(SetAutoStart(L"../escape", true, L"/opt/cendrow"));
    EXPECT_FALSE(SetAutoStart(L"", true, L"/opt/cendrow"));
    EXPECT_FALSE(SetAutoStart(nullptr, true, L"/opt/cendrow"));
    EXPECT_FALSE(std::filesystem::exists(entry));
}

TEST(Services, StandInsNeverAct) {
    TempDir dir;
    std::filesystem::create_directories(dir / "log");
    InitLogging(dir.path(), "log", "Cendrow", 0, 1);

    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    EXPECT_FALSE(SetServiceRunning(SERVICE_ALL_ACCESS, nullptr, L"Dhcp", true, true));
    EXPECT_FALSE(SetServiceRunning(SERVICE_ALL_ACCESS, manager, nullptr, true, true));
    EXPECT_FALSE(ControlServiceStartType(nullptr, manager, true));
    EXPECT_EQ(OpenServiceW(manager, L"", SERVICE_ALL_ACCESS), nullptr);

    // A service this machine does not have: nothing to compare, success.
    EXPECT_EQ(QueryServiceRunning(L"cendrow-no-such-service"), -1);
    EXPECT_TRUE(SetServiceRunning(SERVICE_ALL_ACCESS, manager, L"cendrow-no-such-service", true, true));
    // Names that are no unit name never reach a command.
    EXPECT_EQ(QueryServiceRunning(L"x; reboot"), -1);
    std::string log = ReadFile(dir / "log" / "Cendrow");
    EXPECT_NE(log.find("service cendrow-no-such-service: state unknown here; left to the system"),
              std::string::npos)
        << log;

    // The DHCP client answers from the machine's state when it can be read.
    int dhcp = QueryServiceRunning(L"Dhcp");
    EXPECT_EQ(SetServiceRunning(SERVICE_ALL_ACCESS, manager, L"Dhcp", true, true), dhcp != 0);
    EXPECT_TRUE(CloseServiceHandle(manager));

    EXPECT_EQ(AddFirewallException(L"/opt/cendrow/unbound/unbound", L"Unbound"), S_OK);
    EXPECT_EQ(AddFirewallException(L"", L"Cendrow"), E_INVALIDARG);
    EXPECT_EQ(AddFirewallException(L"/opt/cendrow/cendrow", nullptr), E_INVALIDARG);
    EXPECT_NE(ReadFile(dir / "log" / "Cendrow").find("firewall: nothing to authorise for Unbound"),
              std::string::npos);
}

// A name of this test process's own: abstract socket names are shared by
// everything in the network namespace, other test runs included.
std::wstring MutexName(const std::string& what) {
    return L"Global\\{_OSTREL-TEST-" + Utf8ToWideString(what) + L"-" + std::to_wstring(getpid()) + L"}";
}

TEST(NamedMutex, OneHolderAcrossProcesses) {
    std::wstring owned = MutexName("one");
    const wchar_t* name = owned.c_str();
    EXPECT_EQ(CNamedMutex::AbstractName(L"Global\\{_OSTREL-SINGLE_INSTANCE-{0A1B}}"),
              "cendrow-Global_{_OSTREL-SINGLE_INSTANCE-{0A1B}}");

    auto childSees = [&] { return InChild([&] { return CNamedMutex(name).AlreadyExists() ? 1 : 0; }); };
    EXPECT_EQ(childSees(), 0);
    {
        CNamedMutex first(name);
        EXPECT_FALSE(first.AlreadyExists());
        EXPECT_TRUE(first.IsOwner());
        EXPECT_EQ(first.GetLastError(), 0);
        CNamedMutex again(name);  // this process again
        EXPECT_TRUE(again.AlreadyExists());
        EXPECT_FALSE(again.IsOwner());
        EXPECT_EQ(again.GetHolderPid(), getpid());
        EXPECT_EQ(again.GetHolderUid(), getuid());
        EXPECT_FALSE(CNamedMutex(MutexName("another").c_str()).AlreadyExists());
        EXPECT_EQ(childSees(), 1);
        // Those who asked are dropped, and the name stays held.
        first.DropCallers();
        EXPECT_EQ(childSees(), 1);
    }
    EXPECT_EQ(childSees(), 0);

    // A holder that dies, however it dies, lets go; while it lives, it is named.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = fork();
    if (holder == 0) {
        // Played by another user where we can: the lock is theirs all the same.
        if (geteuid() == 0 && setresuid(65534, 65534, 65534) != 0) _exit(1);
        CNamedMutex mine(name);
        (void)!write(ready[1], mine.IsOwner() ? "1" : "0", 1);
        pause();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_EQ(c, '1');
    {
        CNamedMutex second(name);
        EXPECT_TRUE(second.AlreadyExists());
        EXPECT_EQ(second.GetHolderPid(), holder);
        EXPECT_EQ(second.GetHolderUid(), geteuid() == 0 ? 65534u : getuid());
    }
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_FALSE(CNamedMutex(name).AlreadyExists());
    close(ready[0]);
    close(ready[1]);
}

TEST(NamedMutex, ProgramsWeStartDoNotKeepTheName) {
    // Started by a plain fork and exec that closes nothing, a child that
    // outlives our hold must not keep the name.
    std::wstring name = MutexName("exec");
    testsupport::ChildProcess sleeper;
    {
        CNamedMutex held(name.c_str());
        ASSERT_TRUE(held.IsOwner());
        sleeper = testsupport::ChildProcess({"sleep", "30"});
        // Until it has run exec, the child still shares our descriptor.
        for (int i = 0; i < 500 && GetProcessExePath(sleeper.pid()).filename() != "sleep"; ++i) usleep(10000);
        ASSERT_EQ(GetProcessExePath(sleeper.pid()).filename(), "sleep");
    }
    EXPECT_TRUE(sleeper.running());
    EXPECT_FALSE(CNamedMutex(name.c_str()).AlreadyExists());
}
