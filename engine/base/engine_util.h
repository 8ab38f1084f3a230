#pragma once
// Small string and file helpers of the engine's argument processing, and the
// udpgw packet size limit. Heap results are released with free().

#include <cstddef>
#include <cstdint>

// A heap copy of `str`; null for a null text or when out of memory.
char* Engine_StrDup(const char* str);
// The `count` texts joined in order; null on overflow or out of memory.
char* Engine_JoinStrings(size_t count, const char* const* texts);
// The whole file in a heap buffer (not terminated); null on failure.
uint8_t* Engine_ReadPasswordFile(const char* path, size_t* out_len);

// Largest udpgw packet for a UDP MTU: the MTU plus 3 header bytes and an
// IPv6 address with port (18); -1 for a negative MTU or on overflow.
int UdpGw_PacketMtu(int udp_mtu);
