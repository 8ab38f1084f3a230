#include "netconfig/adapter_choice.h"

#include <arpa/inet.h>

#include "foundation/ascii_case.h"
#include "foundation/string_util.h"
#include "foundation/text_convert.h"

namespace {

constexpr std::wstring_view kTapNames[] = {L"TAP-Win32 Adapter V9", L"TAP-Windows Adapter V9"};
constexpr std::wstring_view kNumberedTapNames[] = {L"TAP-Win32 Adapter V9 #", L"TAP-Windows Adapter V9 #"};
constexpr std::wstring_view kPhysicalWords[] = {L"PCIe",  L"PCI E",    L"Wireless",
                                                L"PCI-E", L"Ethernet", L"b/g/n"};
constexpr std::wstring_view kVirtualWords[] = {L"VMware Virtual", L"Virtual Ethernet", L"Virtual"};

bool StartsNoCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && AsciiEqualsNoCase(text.substr(0, prefix.size()), prefix);
}

template <size_t N>
bool StartsWithAny(std::wstring_view text, const std::wstring_view (&prefixes)[N]) {
    for (std::wstring_view p : prefixes)
        if (StartsNoCase(text, p)) return true;
    return false;
}

template <size_t N>
bool EqualsAny(std::wstring_view text, const std::wstring_view (&names)[N]) {
    for (std::wstring_view n : names)
        if (AsciiEqualsNoCase(text, n)) return true;
    return false;
}

template <size_t N>
bool ContainsAny(std::wstring_view text, const std::wstring_view (&words)[N]) {
    for (std::wstring_view w : words)
        if (ContainsNoCaseW(w, text)) return true;
    return false;
}

bool HoldsTapAddress(const CNetAdapterInfo& a) {
    return a.ipAddress == kTapAddress || a.configuredAddress == kTapAddress;
}

bool HasUsableAddress(const CNetAdapterInfo& a) {
    in_addr_t v = inet_addr(WideToAnsiString(a.ipAddress).c_str());
    return v != INADDR_NONE && v != 0;
}

// The single character after the first '#', read as a number (a non-digit is 0).
int NumberAfterHash(const std::wstring& description) {
    size_t hash = description.find(L'#');
    if (hash == std::wstring::npos || hash + 1 >= description.size()) return 0;
    wchar_t c = description[hash + 1];
    return c >= L'0' && c <= L'9' ? c - L'0' : 0;
}

void ScoreTap(const CNetAdapterInfo& a, int i, AdapterChoice& c) {
    if (HoldsTapAddress(a) || StartsNoCase(a.connectionName, kTapConnectionWord)) {
        // Ours, whatever was chosen before; among several the last one wins.
        c.tap = i;
        c.tapScore = 1000;
    } else if (StartsWithAny(a.description, kNumberedTapNames)) {
        int n = NumberAfterHash(a.description);
        if (n > c.tapScore) {
            c.tap = i;
            c.tapScore = n;
        }
    } else if (EqualsAny(a.description, kTapNames)) {
        if (1 > c.tapScore) {
            c.tap = i;
            c.tapScore = 1;
        }
    } else if (c.tapScore == 0 && c.tap < 0) {
        c.tap = i;
    }
}

}  // namespace

bool IsTapAdapterRecord(const CNetAdapterInfo& a) {
    return StartsWithAny(a.description, kTapNames) && !ContainsNoCaseW(L"openvpn", a.description);
}

int LocalAdapterScore(const CNetAdapterInfo& a) {
    bool physical = ContainsAny(a.description, kPhysicalWords) && !ContainsAny(a.description, kVirtualWords);
    bool usable = HasUsableAddress(a);
    if (physical) return usable ? 10 : 2;
    return usable ? 3 : 1;
}

AdapterChoice ChooseAdapters(std::vector<CNetAdapterInfo>& records) {
    AdapterChoice c;
    for (int i = 0; i < static_cast<int>(records.size()); ++i) {
        CNetAdapterInfo& a = records[i];
        if (a.type != kAdapterTypeEthernet && a.type != kAdapterTypeWireless) continue;
        if (IsTapAdapterRecord(a)) {
            ++c.tapCount;
            // Another TAP adapter holding our address would take our traffic.
            if (HoldsTapAddress(a) && !EqualsAny(a.description, kTapNames) &&
                !StartsWithAny(a.description, kNumberedTapNames)) {
                a.ipAddress = L"0.0.0.0";
                a.configuredAddress = L"0.0.0.0";
                c.reset.push_back(i);
            }
            ScoreTap(a, i, c);
        } else {
            int score = LocalAdapterScore(a);
            if (score > c.localScore) {
                c.local = i;
                c.localScore = score;
            }
        }
    }
    if (c.local >= 0) records[c.local].score = c.localScore;
    if (c.tap >= 0) records[c.tap].score = c.tapScore;
    return c;
}

int LargestTapConnectionNumber(const std::vector<std::wstring>& names) {
    int largest = 0;
    for (const std::wstring& name : names) {
        if (!ContainsNoCaseW(kTapConnectionWord, name)) continue;
        std::vector<std::wstring> pieces;
        SplitStringW(name, L" ", pieces, false);
        if (pieces.size() != 2) continue;
        // Leading digits of the second piece; more than six of them are no
        // number a connection of ours would carry.
        int n = 0;
        size_t digits = 0;
        for (wchar_t ch : pieces[1]) {
            if (ch < L'0' || ch > L'9') break;
            n = n * 10 + (ch - L'0');
            if (++digits > 6) break;
        }
        if (digits <= 6 && n > largest) largest = n;
    }
    return largest;
}
