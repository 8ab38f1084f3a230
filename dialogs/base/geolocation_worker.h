#pragma once
// The node dialogs' country lookup: one at a time on a thread of its own,
// resolving the server (host-name cache) and asking the geolocation service.
// The destructor raises the abort flag, which ends the service request at
// once, and joins; a name resolution cannot be cut short, so the join may
// wait the resolver's time-outs.

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "dialogs/base/message_id.h"

struct GeolocationResult {
    // The country row to select (-1 clears the selection); meaningful only
    // when `answered`.
    bool answered = false;
    int countryRow = -1;
    // The name did not resolve.
    DialogMessage message;
};

class CGeolocationWorker {
public:
    using Done = std::function<void(const GeolocationResult&)>;
    // Runs on the worker, last; the worker is idle again when it returns.
    explicit CGeolocationWorker(Done done) : done_(std::move(done)) {}
    ~CGeolocationWorker();
    CGeolocationWorker(const CGeolocationWorker&) = delete;
    CGeolocationWorker& operator=(const CGeolocationWorker&) = delete;

    // The trimmed server text, or empty when it is none to look up (empty,
    // or address text that is not a valid IPv4 address).
    static std::string LookupTarget(const std::wstring& server);
    // On leaving the server field: only a server that is not local.
    static bool ShouldLookUpOnLeave(const std::wstring& server);

    // Starts a lookup of the server unless one runs or there is nothing to
    // look up; true when started.
    bool Start(const std::wstring& server);
    bool IsIdle() const { return idle_.load(); }
    // Ends a running lookup as soon as it can and waits for its thread.
    void AbortAndJoin();

private:
    void Run(std::string server);

    Done done_;
    std::thread thread_;
    std::atomic<bool> idle_{true};
    std::atomic<bool> abort_{false};
};
