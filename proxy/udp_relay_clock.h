#pragma once
// The whole-second clock of the UDP relay's idle time-outs. Tests put a
// clock of their own in its place.

#include <cstdint>

int64_t UdpRelayNow();
// Null restores the system clock.
void SetUdpRelayClock(int64_t (*now)());
