#pragma once
// DNS servers in place of per-adapter DNS settings. Here DNS is machine-wide
// (or namespace-wide): the servers go into the resolver configuration file,
// /etc/resolv.conf unless another target is set, and everything is undone.
//
// - The target is rewritten in place (truncated and written through the same
//   inode), never replaced by rename, so that symbolic links and bind mounts
//   (`ip netns exec` binds /etc/netns/<ns>/resolv.conf over /etc/resolv.conf)
//   keep working.
// - Only "nameserver" lines change: ours replace the old ones where the first
//   of them stood; search, options and every other line stay.
// - Before the first change, a backup file (set by the caller; it lives in the
//   program folder) records the target's path, its original bytes or that it
//   did not exist, and the bytes we wrote. Restoring puts the original back,
//   unless the target no longer holds what we wrote (someone else has changed
//   it since: then it is left alone), and removes the backup. A backup left by
//   a crash is restored the same way at the next start.
//
// - When the process may not write the target (a desktop user and a
//   root-owned /etc/resolv.conf), the helper program set below does the
//   writing: `set A [B [C]]` and `restore --old ... --ours ...`. The backup
//   stays ours; restoring through the helper puts the original nameservers
//   back only while the current ones are exactly those we set. The helper
//   reaches only /etc/resolv.conf, so other targets must be writable.
//
// All functions are safe to call from several threads.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Where servers are written; "/etc/resolv.conf" until set.
void ResolvConf_SetTarget(const std::filesystem::path& target);
std::filesystem::path ResolvConf_GetTarget();

// The backup file. Without one (empty path) no change is made.
void ResolvConf_SetBackupFile(const std::filesystem::path& backup);
std::filesystem::path ResolvConf_GetBackupFile();

// The resolv.conf helper program; without one (empty path) an unwritable
// target fails as an I/O error.
void ResolvConf_SetHelper(const std::filesystem::path& helper);
// Whether changing the target now needs the helper: the process cannot
// write it (or make it), and it is /etc/resolv.conf.
bool ResolvConf_NeedsHelper();

enum class ResolvConfResult {
    kOk,           // written, or restored
    kNothingToDo,  // restore: no backup
    kLeftAlone,    // restore: the target was changed by someone else since; kept as it is
    kBadAddress,   // no server, more than three, or one that is not a dotted IPv4 address
    kRefused,      // no backup file set, the host guard forbids the target, or the helper refused
    kIoError,      // reading or writing failed; the target was left or put back as it was
};

// Makes `servers` (one to three dotted IPv4 addresses) the target's
// nameservers. Nothing is changed unless every address is valid.
ResolvConfResult ResolvConf_SetServers(const std::vector<std::string>& servers);

// Puts back what the backup records (see above).
ResolvConfResult ResolvConf_Restore();

// True while a backup exists (our servers are in place, or a crash left them).
bool ResolvConf_HasBackup();

// The nameserver addresses of the target as it is now, in file order.
std::vector<std::string> ResolvConf_CurrentServers();
// The machine's own servers: those of the original the backup keeps while it
// exists, else those of the target.
std::vector<std::string> ResolvConf_OriginalServers();

// The nameserver addresses of resolver-configuration text, in order.
std::vector<std::string> ResolvConf_ParseServers(const std::string& text);
// `text` with its nameserver lines replaced by one line per server.
std::string ResolvConf_ReplaceServers(const std::string& text, const std::vector<std::string>& servers);

// `text` with its nameserver lines replaced by `servers` as they were
// before ours (no marker line; none at all for an empty list).
std::string ResolvConf_PutBackServers(const std::string& text, const std::vector<std::string>& servers);

// Shared with the helper program.
// A dotted IPv4 address, as inet_pton takes it.
bool ResolvConf_IsDottedIPv4(const std::string& s);
// A nameserver address a resolv.conf may hold: dotted IPv4, or IPv6 with an
// optional "%scope" (an interface name or number).
bool ResolvConf_IsNameserverAddress(const std::string& s);
// The file's bytes; none when it does not exist. False on another failure.
bool ResolvConf_ReadFile(const std::filesystem::path& path, std::optional<std::string>* out);
// Truncates and rewrites the file through its own inode (made when
// missing), then syncs it.
bool ResolvConf_WriteInPlace(const std::filesystem::path& path, const std::string& data);
