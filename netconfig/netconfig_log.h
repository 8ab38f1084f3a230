#pragma once
// One line for the program log about routes, modes and rules files (to
// stderr when no program log is set up, as in tests and tools).

#include <string_view>

void NetconfigLog(std::string_view line);
