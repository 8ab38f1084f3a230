#pragma once
// Opens a web address in the user's browser through xdg-open, started from an
// argument vector (never a shell). Only http and https addresses are opened.
//
// The result follows the shell's convention that callers test: a value above
// 32 is success; 32 or less is a failure code:
//   2   xdg-open is not installed (or could not be started), or it reported
//       that the address does not exist;
//   31  no application handles the address (xdg-open's exit 3), or the
//       address is not http or https;
//   0   the process could not be created;
//   1   any other failure of xdg-open (its exit codes 1 and 4, a signal).

#include <string>

int OpenUrl(const std::string& url);

// True for an address that OpenUrl will hand over: "http://" or "https://"
// (in any case) followed by something, and no control characters.
bool IsOpenableUrl(const std::string& url);

// The program OpenUrl starts; tests and the gallery may point it elsewhere.
// Empty restores "xdg-open" (searched in PATH).
void SetUrlOpenerProgram(const std::string& program);
