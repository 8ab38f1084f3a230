#pragma once
// Processes by executable file name, for the connect and disconnect events:
// the name the user typed is compared, ignoring ASCII case, with the file
// name of each process's executable (/proc/<pid>/exe). This process and
// pid 1 never match.

#include <sys/types.h>

#include <string>
#include <vector>

// The ids of the matching processes.
std::vector<pid_t> FindProcessesByExeName(const std::wstring& name);
// Ends every matching process at once (SIGKILL); returns how many were signalled.
int KillProcessesByExeName(const std::wstring& name);
