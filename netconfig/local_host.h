#pragma once
// This machine's own host name and IPv4 addresses, recorded once at start-up
// in "config/localhost.ini" and in memory, and the test whether a server
// address is this machine or lies in one of its /24 networks (a proxy
// chained on the local machine or network).

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

// Writes section "basic" of "<folder>/config/localhost.ini": "dummyip" ("10",
// or "240" when one of the machine's addresses starts with 10), "hostname"
// and "iplist" (the addresses, dotted, joined with ","), and keeps host name
// and addresses for the tests below. The addresses are those of the
// machine's interfaces (IPv4, loopback excluded), in interface order: the
// host name itself often maps to 127.0.1.1 only. 1 on success; 0 when the
// host name or the interface list cannot be read (keys written so far stay).
int WriteLocalHostIni(const std::filesystem::path& folder);

// 1 when `host` is this machine: null, "localhost" or the machine's host name
// (without regard to case), a 127.x address, or an address whose first three
// octets equal those of one of the machine's addresses. Any other name is not
// local (0). Until WriteLocalHostIni has run only the first three forms are.
int IsLocalAddress(const char* host);
// The same for wide text; null gives 1.
int IsLocalAddressW(const wchar_t* host);
// 1 when the first three octets of `address` (network order) equal those of
// one of the machine's addresses.
int IsInOwnSubnet(uint32_t address);

// What WriteLocalHostIni recorded (empty before it ran).
std::string GetLocalHostName();
std::set<uint32_t> GetOwnAddresses();
