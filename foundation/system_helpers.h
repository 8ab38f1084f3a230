#pragma once
// Helpers over the operating system and over IPv4 address text that the whole
// program shares: address-text tests and masks, whole-file reads and writes,
// child processes and the processes of one executable, the program's TUN
// device, system queries, the free-port search and a bounded random integer.
//
// Processes are always named by their executable's full path (never by a bare
// name, which any program may carry), and commands run from an argument
// vector, never through a shell.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// ---- Address text ----

// 1 when the text contains ':' (taken as IPv6) or inet_addr accepts it (any
// form it parses: 1.2.3.4, 10.1, 0x7f.1, ...); 0 for null and otherwise.
// 255.255.255.255 is inet_addr's failure value and counts as no address.
int IsAddressText(const char* text);
// The same for wide text; an empty text is no address.
int IsAddressTextW(const std::wstring& text);

// 1 when inet_addr reads the text and its first octet is 127.
int IsLoopbackText(const std::wstring& text);
// 1 when the first byte of the address (network byte order) is 127.
int IsLoopbackInAddr(uint32_t addressNetworkOrder);

// 1 for a strict dotted quad: exactly four parts of 1 to 3 decimal digits,
// each at most 255, no leading zero (which inet_addr would read as octal), the
// first part not 0, nothing before or after. Such text is safe to hand to
// route and DNS configuration.
int IsValidIPv4W(const std::wstring& text);
int IsValidIPv4(const std::string& text);

// The IPv4 mask with `prefix` leading one bits, in network byte order. A
// prefix below 0 counts as 0 and one above 32 as 32 (a host mask, never a
// mask that would cover more than asked).
uint32_t PrefixToNetmask(int prefix);

// ---- Files ----
// Paths are UTF-8 (std::filesystem::path) or wide text.

// 1 when the file or folder exists.
int FileExists(const std::filesystem::path& path);
int FileExists(const std::wstring& path);
int FileExists(const wchar_t* path);

// The whole file in a block from malloc (the caller frees it with free) of its
// length + 1 bytes, the last one 0; *size (when given) gets the length. Null
// when an argument is null or empty, the file cannot be opened or read, or it
// is empty. `mode` is an fopen mode such as L"rb".
char* ReadFileToBuffer(const std::filesystem::path& path, const wchar_t* mode, size_t* size = nullptr);
char* ReadFileToBuffer(const std::wstring& path, const wchar_t* mode, size_t* size = nullptr);
char* ReadFileToBuffer(const wchar_t* path, const wchar_t* mode, size_t* size = nullptr);

// Writes `size` bytes. Modes that replace the file ("w...") replace it
// atomically (a temporary file, synced, then renamed), so a failure leaves the
// old file whole; append modes ("a...") append and sync. True when every byte
// reached the file; false on a null argument or any failure.
bool WriteBufferToFile(const std::filesystem::path& path, const wchar_t* mode, const void* data, size_t size);
bool WriteBufferToFile(const std::wstring& path, const wchar_t* mode, const void* data, size_t size);
bool WriteBufferToFile(const wchar_t* path, const wchar_t* mode, const void* data, size_t size);

// The user's application-data folder ($XDG_DATA_HOME, else ~/.local/share),
// created when missing; 1 on success.
int GetAppDataPath(std::wstring* out);

// ---- Processes ----

// Starts argv[0] (searched in PATH when it holds no '/') with the arguments,
// without a shell and without a terminal: standard input and error are
// /dev/null, standard output is `stdoutFd` or /dev/null when it is -1. The
// child inherits no other descriptor. `workDir`, when not empty, is its
// current folder. Returns the child's id, or -1 when it could not be started
// (the program could not be executed counts as not started).
pid_t StartProcessHidden(const std::vector<std::string>& argv, int stdoutFd = -1,
                         const std::filesystem::path& workDir = {});

// Waits for a child of this process to end, at most `timeoutMs` (-1: without
// limit). True when it ended (reaped); *status gets its wait status.
bool WaitProcess(pid_t pid, int timeoutMs, int* status = nullptr);

// Starts the command as StartProcessHidden does and waits without limit until
// it ends. 1 when it was started, 0 otherwise; *exitCode (when given) gets its
// exit code, or 128 + the signal that ended it.
int RunCommandHidden(const std::vector<std::string>& argv, int stdoutFd = -1, int* exitCode = nullptr);

// The full path of the executable that process `pid` runs, or empty (gone,
// not readable, a kernel thread). A deleted executable keeps its old path.
std::filesystem::path GetProcessExePath(pid_t pid);

// Appends the id of every running process whose executable is exactly the
// file `exePath` names (an absolute path; symbolic links in it are resolved).
// A bare name or relative path matches nothing. 1 when any was found.
int FindProcessesByName(const std::wstring& exePath, std::vector<pid_t>& out);

// Ends the process at once (SIGKILL). Ids of 0 and below (process groups, all
// processes) and this process itself are refused. 1 when the signal was sent.
// The caller reaps its own children (WaitProcess).
int KillProcessById(pid_t pid);

// Ends every process that FindProcessesByName finds for `exePath`; returns how
// many were signalled.
int KillProcessesByName(const std::wstring& exePath);

// ---- The program's TUN device (in place of the virtual adapter's driver) ----

// Name of the persistent TUN device the program installs and opens.
inline constexpr const char* kTunDeviceName = "cendrow";

// Install makes the persistent TUN device, owned by the calling user;
// remove clears its persistence (it disappears when its last user closes it);
// the forced removal deletes the link at once. Both act in the calling
// thread's network namespace, in this process (no child), and say why they
// failed in the program log and on `stdoutFd` when one is given.
// Install is true when afterwards the device exists as a TUN device (also
// when it was there before); remove is true when afterwards it is gone (a
// device that is still open survives the unforced removal). `programFolder`
// is kept for the callers' sake; nothing of the device lives there.
bool InstallTapDriver(const std::filesystem::path& programFolder, int stdoutFd = -1);
bool RemoveTapDriver(const std::filesystem::path& programFolder, bool force, int stdoutFd = -1);

// ---- System queries ----

// Version tests for code that differs between Windows versions: this system
// always counts as a recent one (Vista or later, Windows 7 or later, not Vista).
int IsVistaOrLater();
int IsVista();
int IsWin7OrLater();
// 1 on a 64-bit processor architecture (x86_64, aarch64, ...).
int Is64BitWindows();

// The screen size in pixels, as the window toolkit reports it once it has
// installed its source; 0 before that (no display known).
int GetScreenWidth();
int GetScreenHeight();
using ScreenSizeSource = bool (*)(int* width, int* height);
void SetScreenSizeSource(ScreenSizeSource source);

// 1 when the user-interface language is Simplified Chinese (locale id 2052).
int IsChineseUiLocale();

// |later - earlier| in seconds, never negative.
double AbsTimeDiff(int64_t a, int64_t b);

// The first local TCP port from 16666 upward, at most 100 tries, that no
// socket of this network namespace uses (any state, any address, IPv4 or
// IPv6); 0 when all are taken. When the connection tables cannot be read the
// first candidate is returned unchecked.
int FindFreeLocalPort();
// The same search over the given connection tables (files in the format of
// /proc/net/tcp).
int FindFreeLocalPortIn(const std::vector<std::filesystem::path>& tables);
// The local ports listed in one connection table's text.
std::vector<int> ParseTcpTableLocalPorts(std::string_view tableText);

// A uniformly distributed integer in 0..n inclusive (0 when n <= 0), from a
// Mersenne Twister seeded from the system's random device at every call.
int RandomInt(int n);
