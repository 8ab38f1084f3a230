#pragma once
// The program's start-up without a window, its main loop and its end.

// Runs the program; returns the process's exit code.
int RunApplication(int argc, char** argv);

// The single-instance lock's name.
inline constexpr const wchar_t* kSingleInstanceName =
    L"Global\\{_OSTREL-SINGLE_INSTANCE-{6B1E73D2-94C5-4F0A-A8E1-3C52D7F9B046}}";
