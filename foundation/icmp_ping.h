#pragma once
// ICMP echo ("ping") of a proxy server to measure its round-trip time, and a
// blocking host-name resolution to a dotted IPv4 text. The echo goes out on a
// raw ICMP socket of its own per call, so it needs the right to open one (the
// program runs as root); many calls may run at once on different threads.

#include <cstddef>
#include <cstdint>
#include <string>

struct PingResult {
    uint32_t address = 0;      // replying address, network byte order
    uint32_t roundTripMs = 0;  // milliseconds
};

// Nothing needs loading here: always true. Kept for the callers' order of calls.
bool IcmpLoad();

// Sends one echo request with `payloadSize` bytes of 'E' and waits at most
// `timeoutMs` for its reply. `host` is a dotted IPv4 address or a host name
// (resolved first; inet_addr's failure value 255.255.255.255 is resolved as a
// name too). True only when exactly the request's own reply came back with
// the payload intact (replies with a wrong checksum are not taken for it);
// then `result` is filled, and otherwise left untouched.
// On failure errno says why: EBADMSG for a reply whose data differs,
// EHOSTUNREACH or ENETUNREACH for an ICMP error about the request, ETIMEDOUT
// when nothing came back, or the error of the socket call that failed.
bool IcmpPing(PingResult* result, uint8_t ttl, uint32_t timeoutMs, uint8_t payloadSize, const char* host);

// The Internet checksum of an ICMP message (its checksum field included:
// 0 for a message whose checksum is right).
uint16_t IcmpChecksum(const uint8_t* data, size_t len);

// The first IPv4 address of `host` as dotted text; empty when it does not resolve.
std::string ResolveHostToIp(const char* host);
