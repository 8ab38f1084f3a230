#pragma once
// The program's start-up without a window, its main loop and its end.

class IAppShell;

// Runs the program; returns the process's exit code. With a shell whose
// display opens, the shell runs the windows; otherwise the program runs
// without them.
int RunApplication(int argc, char** argv, IAppShell* shell = nullptr);

// The single-instance lock's name.
inline constexpr const wchar_t* kSingleInstanceName =
    L"Global\\{_OSTREL-SINGLE_INSTANCE-{6B1E73D2-94C5-4F0A-A8E1-3C52D7F9B046}}";
