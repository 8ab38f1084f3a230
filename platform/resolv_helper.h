#pragma once
// The resolv.conf helper program (cendrow-resolv): the one piece that may
// write /etc/resolv.conf for a program run by the desktop user. It runs with
// its own file capability, so it trusts nothing from its caller: the file is
// fixed, every address is checked, and only nameserver lines change.
//
//   set A [B [C]]                       A..C dotted IPv4: they replace the
//                                       nameserver lines; the replaced
//                                       addresses go to standard output
//   restore --old [X ...] --ours A ...  puts X ... back, only while the
//                                       current nameservers are exactly A ...
//
// Exit status: 0 done; 1 reading or writing failed, or the host guard
// refused; 2 bad input (one line on standard error says why; nothing
// changed); 3 restore found other nameservers than ours (nothing changed).

#include <filesystem>
#include <string>
#include <vector>

inline constexpr int kResolvHelperMaxOldServers = 16;

// One run on `target` with the arguments after the program name; what goes
// to standard output and standard error lands in `out` and `err`.
int ResolvHelper_Run(const std::vector<std::string>& args, const std::filesystem::path& target, std::string* out,
                     std::string* err);

// The program's main: ResolvHelper_Run on /etc/resolv.conf.
int ResolvHelper_Main(int argc, char** argv);

// Where the program finds the helper: beside the executable.
std::filesystem::path ResolvHelper_PathIn(const std::filesystem::path& programFolder);
