#include "netconfig/adapter_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/text_convert.h"

namespace {

struct Rec {
    const wchar_t* description;
    const wchar_t* name;
    const wchar_t* address;
    int type = kAdapterTypeEthernet;
};

std::vector<CNetAdapterInfo> Records(const std::vector<Rec>& recs) {
    std::vector<CNetAdapterInfo> out;
    for (const Rec& r : recs) {
        CNetAdapterInfo a;
        a.description = r.description;
        a.connectionName = r.name;
        a.ipAddress = r.address;
        a.configuredAddress = r.address;
        a.type = r.type;
        out.push_back(a);
    }
    return out;
}

TEST(AdapterChoice, Table) {
    struct Case {
        const char* what;
        std::vector<Rec> recs;
        int local, localScore, tap, tapScore, tapCount;
        std::vector<int> reset;
    } cases[] = {
        {"nothing listed", {}, -1, 0, -1, 0, 0, {}},
        {"an OpenVPN TAP adapter is a local candidate",
         {{L"TAP-Windows Adapter V9 for OpenVPN Connect", L"Ethernet 3", L"10.8.0.2"}},
         0,
         3,
         -1,
         0,
         0,
         {}},
        {"numbered TAP adapters: the higher number wins",
         {{L"TAP-Windows Adapter V9 #2", L"Local Area Connection 2", L""},
          {L"TAP-Windows Adapter V9 #3", L"Local Area Connection 3", L""}},
         -1,
         0,
         1,
         3,
         2,
         {}},
        {"#12 reads as 1, so #3 wins",
         {{L"TAP-Win32 Adapter V9 #12", L"a", L""}, {L"TAP-Windows Adapter V9 #3", L"b", L""}},
         -1,
         0,
         1,
         3,
         2,
         {}},
        {"#3 before #12 stays",
         {{L"TAP-Windows Adapter V9 #3", L"a", L""}, {L"TAP-Windows Adapter V9 #12", L"b", L""}},
         -1,
         0,
         0,
         3,
         2,
         {}},
        {"a foreign adapter holding our address is reset and competes unnumbered",
         {{L"TAP-Windows Adapter V9 (Route)", L"Route", L"10.198.75.60"}},
         -1,
         0,
         0,
         0,
         1,
         {0}},
        {"after a reset the plain adapter still wins",
         {{L"TAP-Windows Adapter V9 (Route)", L"Route", L"10.198.75.60"},
          {L"TAP-Windows Adapter V9", L"Local Area Connection 4", L""}},
         -1,
         0,
         1,
         1,
         2,
         {0}},
        {"an unnumbered other description counts only when nothing was chosen",
         {{L"TAP-Windows Adapter V9", L"x", L""}, {L"tap-windows adapter v9 (other)", L"y", L""}},
         -1,
         0,
         0,
         1,
         2,
         {}},
        {"our connection name wins with 1000 and stays",
         {{L"TAP-Windows Adapter V9 #9", L"a", L""},
          {L"TAP-Windows Adapter V9", L"OSTREL 1", L""},
          {L"TAP-Windows Adapter V9 #8", L"c", L""}},
         -1,
         0,
         1,
         1000,
         3,
         {}},
        {"our address on the plain adapter: chosen, not reset",
         {{L"TAP-Windows Adapter V9", L"cendrow", L"10.198.75.60"}},
         -1,
         0,
         0,
         1000,
         1,
         {}},
        {"among several of ours the last wins",
         {{L"TAP-Windows Adapter V9", L"ostrel 1", L""}, {L"TAP-Windows Adapter V9 #2", L"OSTREL 2", L""}},
         -1,
         0,
         1,
         1000,
         2,
         {}},
        {"a wireless card with an address beats a virtual one",
         {{L"Virtual Ethernet", L"veth0", L"192.168.1.5"},
          {L"Wireless", L"wlan0", L"192.168.1.6", kAdapterTypeWireless}},
         1,
         10,
         -1,
         0,
         0,
         {}},
        {"two physical cards with addresses: the first wins",
         {{L"Ethernet", L"eth0", L"192.0.2.2"}, {L"Intel(R) PCIe Ethernet", L"eth1", L"198.51.100.2"}},
         0,
         10,
         -1,
         0,
         0,
         {}},
        {"physical without an address (2) loses to other with one (3)",
         {{L"Ethernet", L"eth0", L""}, {L"Bridge", L"br0", L"10.0.0.1"}, {L"Ethernet", L"eth1", L"0.0.0.0"}},
         1,
         3,
         -1,
         0,
         0,
         {}},
        {"VMware and virtual words spoil a physical word",
         {{L"VMware Virtual Ethernet Adapter", L"a", L""}, {L"Realtek PCIe GbE", L"b", L""}},
         1,
         2,
         -1,
         0,
         0,
         {}},
        {"other interface types are not looked at",
         {{L"Ethernet", L"ppp0", L"203.0.113.9", 23}, {L"TAP-Windows Adapter V9", L"x", L"", 53}},
         -1,
         0,
         -1,
         0,
         0,
         {}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<CNetAdapterInfo> recs = Records(c.recs);
        AdapterChoice got = ChooseAdapters(recs);
        EXPECT_EQ(got.local, c.local);
        EXPECT_EQ(got.localScore, c.localScore);
        EXPECT_EQ(got.tap, c.tap);
        EXPECT_EQ(got.tapScore, c.tapScore);
        EXPECT_EQ(got.tapCount, c.tapCount);
        EXPECT_EQ(got.reset, c.reset);
        for (int i : c.reset) {
            EXPECT_EQ(recs[i].ipAddress, L"0.0.0.0");
            EXPECT_EQ(recs[i].configuredAddress, L"0.0.0.0");
        }
        if (got.tap >= 0) {
            EXPECT_EQ(recs[got.tap].score, c.tapScore);
        }
        if (got.local >= 0) {
            EXPECT_EQ(recs[got.local].score, c.localScore);
        }
    }
}

TEST(AdapterChoice, LargestTapConnectionNumber) {
    struct Case {
        std::vector<std::wstring> names;
        int largest;
    } cases[] = {
        {{}, 0},
        {{L"eth0", L"Ethernet 2"}, 0},
        {{L"OSTREL 1"}, 1},
        {{L"OSTREL 2", L"ostrel 7", L"OSTREL 3"}, 7},
        {{L"OSTREL  4 "}, 4},  // empty pieces are dropped
        {{L"OSTREL 4 x", L"OSTREL", L"OSTREL-VPN", L"OSTREL x"}, 0},
        {{L"my OSTREL 9"}, 0},
        {{L"OSTREL 12abc"}, 12},
        {{L"OSTREL 99999999999", L"OSTREL 5"}, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names.empty() ? std::string() : WideToUtf8String(c.names[0]));
        EXPECT_EQ(LargestTapConnectionNumber(c.names), c.largest);
    }
}

}  // namespace
