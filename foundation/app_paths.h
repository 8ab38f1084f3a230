#pragma once
// Where the program keeps its files: the program folder (the executable's
// folder, holding config, log, temp and update) and the per-user data folder
// "ZentravData" under $XDG_DATA_HOME (default ~/.local/share).

#include <filesystem>

// Fixes the paths from /proc/self/exe and the environment. Returns 1.
int InitAppPaths();
// The same for an executable at `exePath` (tests use a temporary program folder).
int InitAppPaths(const std::filesystem::path& exePath);

// The program folder, without a trailing separator.
const std::filesystem::path& GetAppDir();
// The executable's full path.
const std::filesystem::path& GetExePath();
// The per-user application-data folder ($XDG_DATA_HOME, else ~/.local/share);
// empty when neither is known.
const std::filesystem::path& GetAppDataDir();

// $XDG_DATA_HOME, else ~/.local/share, read from the environment now; empty
// when neither is known.
std::filesystem::path FindUserDataHome();

// Creates "log", "config", "temp" and "update" in the program folder and, when
// the application-data folder is known, "ZentravData" and its "log" there.
// Existing folders are no error.
void CreateAppFolders();
