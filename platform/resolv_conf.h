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
// All functions are safe to call from several threads.

#include <filesystem>
#include <string>
#include <vector>

// Where servers are written; "/etc/resolv.conf" until set.
void ResolvConf_SetTarget(const std::filesystem::path& target);
std::filesystem::path ResolvConf_GetTarget();

// The backup file. Without one (empty path) no change is made.
void ResolvConf_SetBackupFile(const std::filesystem::path& backup);
std::filesystem::path ResolvConf_GetBackupFile();

enum class ResolvConfResult {
    kOk,           // written, or restored
    kNothingToDo,  // restore: no backup
    kLeftAlone,    // restore: the target was changed by someone else since; kept as it is
    kBadAddress,   // no server, more than three, or one that is not a dotted IPv4 address
    kRefused,      // no backup file set, or the host guard forbids the target
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
