#pragma once
// Undoing what a run that ended without its disconnect left behind: our
// tagged routes, our DNS servers in resolv.conf, a resolver of ours, and the
// TUN device left up. Runs at start, by the instance that holds the
// single-instance lock, before adapter discovery.

#include <filesystem>

// The backup of resolv.conf lives in the program folder's config folder.
std::filesystem::path ResolvConfBackupPath(const std::filesystem::path& programFolder);

void RecoverFromCrash(const std::filesystem::path& programFolder);
