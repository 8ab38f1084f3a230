#pragma once
// What the UDP relay loop asks of the engine's address values.

#include "engine/base/baddr.h"

// True when the address is IPv4 or IPv6 and its port is 53.
bool BAddr_IsDnsPort(const BAddr* addr);
// True when both are IPv4, or both IPv6, with the same address bytes and
// port; addresses of any other type are never equal.
bool BAddr_Equals(const BAddr* a, const BAddr* b);
