#pragma once
// What the UDP step of the node tests looks up, and where.

// (name to resolve, DNS server), in the order tried.
struct UdpTestPair {
    const wchar_t* name;
    const wchar_t* server;
};
extern const UdpTestPair kUdpTestPairs[4];
