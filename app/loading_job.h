#pragma once
// The start-up data job, shared by the loading panel's worker and the
// headless run: the edition's feature switches, then, with load flag 0x10,
// the proxy modes (unless the command line says not to or the edition does
// not load rules at start). Runs on a worker thread; touches no window.

#include <functional>

inline constexpr int kLoadFlagModes = 0x10;

// `say` shows a message line (may be empty). Returns 1.
int RunLoadingJob(int loadFlags, const std::function<void(const char*)>& say);
