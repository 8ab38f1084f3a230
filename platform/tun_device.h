#pragma once
// The TUN device in place of the TAP-Windows adapter: a persistent TUN
// interface made beforehand (as the adapter is installed beforehand), opened
// through /dev/net/tun in the calling thread's network namespace so that the
// process reads and writes bare IP packets. Nothing here creates or deletes a
// device.

#include <string>

enum class TunLookup {
    kFound,
    kMissing,  // no interface of that name
    kNotTun,   // the interface exists but is not a TUN-mode tun device
};

// Whether `name` is an existing TUN-mode device in this namespace.
TunLookup TunDevice_Find(const std::string& name);

// Attaches to the existing persistent device `name` with IFF_TUN | IFF_NO_PI;
// returns a non-blocking, close-on-exec descriptor, or -1 with errno set
// (ENODEV when there is no such device).
int TunDevice_Open(const std::string& name);

// The interface's MTU, or -1.
int TunDevice_GetMtu(const std::string& name);

// Sets the interface up (the link's "media connected"); 1 or 0.
int TunDevice_SetUp(const std::string& name);
