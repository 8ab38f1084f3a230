#pragma once
// The privileges the program needs without being root: Linux capabilities
// asked of the kernel directly (capget, capset, prctl), no library.
//
//   CAP_NET_ADMIN         the TUN device, routes, addresses, link state
//   CAP_NET_RAW           ICMP ping through a raw socket
//   CAP_NET_BIND_SERVICE  the resolver on 127.0.0.1:53 (passed to it)
//   CAP_DAC_OVERRIDE      only the resolv.conf helper, never the program

#include <filesystem>

// True when the effective user is root.
bool Caps_IsRoot();

// Whether `cap` (a CAP_* number) is in the calling thread's effective set.
bool Caps_HasEffective(int cap);

// Whether the file's own capabilities (its security.capability attribute)
// grant `cap` effective at exec: in the permitted set with the effective flag.
bool Caps_FileGrants(const std::filesystem::path& file, int cap);

// Makes `cap` ambient for the children the calling thread starts while the
// object lives, so that a child without file capabilities (the resolver)
// keeps it across exec. Needs `cap` permitted; root needs nothing and gets
// nothing changed. Capability sets are per thread: other threads' children
// are unaffected, and the thread's sets are put back at the end.
class CapsAmbientScope {
public:
    explicit CapsAmbientScope(int cap);
    ~CapsAmbientScope();
    CapsAmbientScope(const CapsAmbientScope&) = delete;
    CapsAmbientScope& operator=(const CapsAmbientScope&) = delete;
    // False when the capability could not be passed on.
    bool ok() const { return ok_; }

private:
    int cap_;
    bool raised_ = false;
    bool ok_ = true;
};
