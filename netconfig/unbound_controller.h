#pragma once
// The local resolver behind the smart-DNS preset: Debian's unbound, copied
// into the program folder's "unbound" folder, run as our child on
// 127.0.0.1:53. It sends the names of the forward-zone file to a domestic DNS
// service and everything else to a remote one. The controller writes the two
// configuration files from their templates, starts the resolver, tells
// whether it runs and ends it.
//
// Only the resolver this program started is ever signalled: our child, or
// one a crashed run left, known by the pid, start time and executable that
// the state file in the unbound folder records.
//
// Files in the unbound folder: "unbound" (the resolver), "template-service.conf",
// "service.conf" (generated), "forward-zone/<template>" and
// "forward-zone/forward-zone.conf" (generated), "unbound.state".
//
// Only forward-zone.conf outlives the run (service.conf goes at every program
// start, the state file names a process that a system crash ends), so only it
// is synced to disk. Its megabytes are synced in the background while the
// resolver reads them; "forward-zone/forward-zone.conf.unsynced", on disk
// before the file's new name is, says that the sync has not finished, and the
// file is then written again rather than reused.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <thread>

#include "foundation/named_lock.h"
#include "foundation/singleton.h"

inline constexpr const char* kResolverExeName = "unbound";

// One query for "localhost." (A) to 127.0.0.1:53 from the calling thread's
// namespace; true on an answer with at least one record.
bool ResolverAnswersLocalhost(int timeoutMs);

class CUnboundController : public CSingleton<CUnboundController> {
public:
    // The unbound folder becomes "<folder>/unbound" and a left-over service.conf
    // goes. 0, changing nothing, for an empty folder or one whose path holds a
    // quote or a line break (it is written quoted into the configuration).
    int SetBaseDirectory(const std::wstring& programFolder);
    const std::filesystem::path& GetUnboundFolder() const { return folder_; }

    // Each address empty or a dotted IPv4 address outside 127.0.0.0/8 (the
    // resolver never queries loopback); otherwise 0 and nothing changes. A
    // change deletes both generated files so that the next start writes them.
    int SetForwardAddresses(const std::wstring& remotePrimary, const std::wstring& remoteSecondary,
                            const std::wstring& domesticPrimary, const std::wstring& domesticSecondary);
    // A plain file name in the "forward-zone" folder; an empty one is ignored
    // (1), any other that is no plain file name refused (0). A change deletes
    // the generated forward-zone file.
    int SetForwardZoneTemplate(const std::wstring& fileName);

    // 1 when forward-zone.conf exists afterwards. An existing file is kept,
    // unless the sync to disk of the one written last never finished.
    int GenerateForwardZoneConf();
    // 1 when service.conf exists or was written. An existing file is kept.
    int GenerateServiceConf();
    int GenerateConfigFiles();
    // 1 when the resolver, service.conf and forward-zone.conf all exist.
    int FilesExist() const;

    // Ends a resolver of ours, writes missing configuration and starts the
    // resolver; 1 once it answers on 127.0.0.1:53 (at most 5 s). On 0 nothing
    // of ours runs.
    int Start();
    // Ends our resolver (SIGTERM, then SIGKILL, then reaped) and one a crashed
    // run left; returns 1.
    int KillAll();
    // 1 while our child lives and answers on 127.0.0.1:53.
    int IsRunning();

    void DeleteServiceConf();
    void DeleteForwardZoneConf();

    // Ends a resolver that a crashed run left, known by the state file in
    // `unboundFolder`; 1 when one was ended.
    static int EndLeftoverResolver(const std::filesystem::path& unboundFolder);

    // The pid of our running resolver, or -1.
    pid_t GetChildPid();

    std::filesystem::path ServiceConfPath() const;
    std::filesystem::path ForwardZoneConfPath() const;
    std::filesystem::path ResolverPath() const;

private:
    friend class CSingleton<CUnboundController>;
    CUnboundController() = default;
    ~CUnboundController() override;

    void EndChild();
    bool ChildAlive();
    // Waits for the background sync of a forward-zone.conf just written.
    void FinishZoneSync();

    CNamedLock lock_{L"Unspecific", 0};
    std::filesystem::path folder_;
    std::wstring zone_template_ = L"template.china-list.conf";
    std::string remote_primary_ = "8.8.8.8";
    std::string remote_secondary_ = "8.8.4.4";
    std::string domestic_primary_ = "119.29.29.29";
    std::string domestic_secondary_ = "119.28.28.28";
    pid_t child_ = -1;
    std::thread zoneSync_;
};
