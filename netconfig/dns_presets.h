#pragma once
// The built-in DNS presets: the smart-DNS preset (the local resolver), the
// user's own servers and a fixed list of public services. Every scan of the
// table stops at the row with an empty English name.

#include <string>

struct DnsPreset {
    int id;
    std::wstring english_name;
    std::wstring chinese_name;
    std::wstring primary;
    std::wstring secondary;  // may be empty
    int flag;                // 1 in every named row but the own-servers row; nothing reads it
    int proxify_hint;        // 1 "Recommend to proxify DNS", 2 "Don't Recommend ...", 0 nothing

    bool IsSmartDNS() const { return id == 0; }
    bool IsOwnDNS() const { return id == 1; }
};

inline constexpr int kSmartDnsPresetId = 0;
inline constexpr int kOwnDnsPresetId = 1;
// Rows of the table, the closing empty row included.
inline constexpr int kDnsPresetRows = 40;

// The process-wide table. Only the own-servers row (id 1) changes at run time.
DnsPreset* GetDnsPresetTable();
