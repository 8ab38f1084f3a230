#pragma once
// One network adapter as discovery reports it. On this system an adapter is a
// link of the network namespace: its GUID is the link's name, its connection
// name the link's alias (else its name), and its description is made up from
// the link's kind so that the adapter choice scores it as it would score the
// adapter it stands for (our TUN device as the TAP adapter, a wireless link
// as a wireless card, a plain Ethernet link as a physical card, veth, bridge
// and other virtual Ethernet links as virtual adapters).

#include <cstdint>
#include <string>

// Interface types as the adapter choice knows them.
inline constexpr int kAdapterTypeEthernet = 6;
inline constexpr int kAdapterTypeWireless = 71;

class CNetAdapterInfo {
public:
    CNetAdapterInfo() = default;
    ~CNetAdapterInfo() = default;

    std::wstring connectionName;
    std::wstring description;
    std::wstring guid;
    uint32_t index = 0;
    int type = kAdapterTypeEthernet;
    std::wstring ipAddress;          // the first IPv4 address, dotted
    std::wstring configuredAddress;  // the first address the link is configured with
    std::wstring mask;               // of the first address
    std::wstring spare;              // not filled by discovery
    int score = 0;                   // the adapter choice's score of the record it chose
    std::wstring primaryDns;
    std::wstring secondaryDns;
    std::wstring dhcpNameServer;
};
