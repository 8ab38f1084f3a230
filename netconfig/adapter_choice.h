#pragma once
// How discovery chooses the local connection and the TAP adapter among the
// listed adapters: a pure function of the records, so that every rule can be
// checked on made-up adapters.

#include <string>
#include <vector>

#include "netconfig/net_adapter_info.h"

// The TAP adapter's own address and the tunnel gateway.
inline constexpr const wchar_t* kTapAddress = L"10.198.75.60";
inline constexpr const wchar_t* kTunnelGateway = L"10.198.75.61";
// Connection names of the program's TAP adapter begin with this word.
inline constexpr const wchar_t* kTapConnectionWord = L"OSTREL";

struct AdapterChoice {
    int local = -1;  // record index of the chosen local connection, or -1
    int localScore = 0;
    int tap = -1;  // record index of the chosen TAP adapter, or -1
    int tapScore = 0;
    int tapCount = 0;
    // TAP adapters that hold our address without being ours: their address
    // fields were set to "0.0.0.0" and their connections go back to automatic
    // configuration.
    std::vector<int> reset;
};

// Whether the record is a TAP adapter for this program (by its description).
bool IsTapAdapterRecord(const CNetAdapterInfo& a);
// The local-connection score: 10 physical with a usable address, 2 physical
// without, 3 other with, 1 other without.
int LocalAdapterScore(const CNetAdapterInfo& a);

// Walks the Ethernet and wireless records in order; changes the address
// fields of the records it lists in `reset`.
AdapterChoice ChooseAdapters(std::vector<CNetAdapterInfo>& records);

// The largest n of the connection names "OSTREL n" among `names` (0 when
// there is none).
int LargestTapConnectionNumber(const std::vector<std::wstring>& names);
