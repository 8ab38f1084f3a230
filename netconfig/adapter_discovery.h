#pragma once
// Adapter discovery: finds the local connection (the link that carries the
// machine's traffic) and the program's TUN device, names the TUN's
// connection "OSTREL n", and records both in the adapter part of the
// settings. Adapters are the links of the calling thread's network
// namespace (net_adapter_info.h says how a link becomes a record); the loopback
// link and tunnels of other programs (tun, tap, wireguard) are not listed.
// DNS is machine-wide here: every listed link but the TUN device carries the
// machine's own servers (those the DNS backup keeps while ours are in place).

#include <cstdint>
#include <string>
#include <vector>

#include "netconfig/net_adapter_info.h"

// Appends a record for every listed link, in the kernel's order; returns the
// number appended (0 when the links cannot be read).
int EnumNetworkConnections(std::vector<CNetAdapterInfo>& list);

// The first IPv4 address, its mask and the gateway of the default route of
// the link named `guid`; 1, or 0 when no listed link has that name.
int ReadAdapterAddress(const std::wstring& guid, std::wstring* address, std::wstring* mask,
                       std::wstring* gateway);

// The connection name, GUID and DNS fields of the listed link `index`; 0 and
// nothing written when none has it.
int AdapterInfoByIndex(uint32_t index, std::wstring* connectionName, std::wstring* guid, std::wstring* primaryDns,
                       std::wstring* secondaryDns, std::wstring* dhcpNameServer);

// What FindLocalAndTapAdapters chose.
struct FoundAdapters {
    std::wstring localName, localGuid;
    uint32_t localIndex = 0;
    std::wstring localPrimaryDns, localSecondaryDns, localDhcpNameServer;
    std::wstring tapAddress, tunnelGateway;
    std::wstring tapName, tapGuid;
    uint32_t tapIndex = 0;
    int tapScore = 0;
    int tapCount = 0;  // added to what the caller put there
};

// Lists, chooses the local connection and the TUN device, and gives the TUN
// a connection name "OSTREL n" when its name has none. Returns 1.
int FindLocalAndTapAdapters(FoundAdapters* out);

// Writes the best default route's next hop, direct flag and interface into
// the settings (empty, 0, -1 without one) and saves them.
void StoreBestDefaultRoute();

// The whole discovery, into the settings, which it saves; returns the number
// of TUN devices found (0 or 1).
int DetectNetworkAdapters();

// "OSTREL n" with n one more than the largest n any connection's name carries
// (1 when none does), so that it is free.
std::wstring MakeTapConnectionName();

// 1 when the listed link `guid` has the connection name `name` (both without
// regard to case).
int IsConnectionNamed(const std::wstring& guid, const std::wstring& name);

// RenameConnection, then IsConnectionNamed(guid, newName).
int RenameTapConnection(const std::wstring& guid, const std::wstring& currentName, const std::wstring& newName);

// 1 when link `index` is not operational (not present, down, or its lower
// layer down); 0 otherwise, also for an unknown index.
int IsInterfaceDown(uint32_t index);
