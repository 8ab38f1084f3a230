#include "foundation/ini.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "foundation/ascii_case.h"
#include "foundation/text_convert.h"
#include "platform/ini_file.h"

namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

int DigitValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'z') return c - L'a' + 10;
    if (c >= L'A' && c <= L'Z') return c - L'A' + 10;
    return 99;
}

// wcstoul with a 32-bit result, over the whole text however long.
uint32_t ParseUnsigned32(std::wstring_view s, int base) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == L'+' || s[i] == L'-')) negative = s[i++] == L'-';
    if (base == 16 && i + 1 < s.size() && s[i] == L'0' && (s[i + 1] == L'x' || s[i + 1] == L'X')) i += 2;
    uint64_t value = 0;
    bool overflow = false;
    for (; i < s.size() && DigitValue(s[i]) < base; ++i) {
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(DigitValue(s[i]));
        if (value > UINT32_MAX) {
            overflow = true;
            value = UINT32_MAX;
        }
    }
    if (overflow) return UINT32_MAX;
    auto v = static_cast<uint32_t>(value);
    return negative ? 0u - v : v;
}

// Whether wcstol in base 10 gives a nonzero number.
bool DecimalIsNonZero(std::wstring_view s) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    if (i < s.size() && (s[i] == L'+' || s[i] == L'-')) ++i;
    for (; i < s.size() && s[i] >= L'0' && s[i] <= L'9'; ++i) {
        if (s[i] != L'0') return true;
    }
    return false;
}

// The stored value, or nothing when the key is missing.
bool ReadValue(const std::filesystem::path& path, const wchar_t* section, const wchar_t* key,
               std::wstring* value) {
    if (!section || !key || path.empty()) return false;
    std::string utf8;
    if (!IniReadValue(path, WideToUtf8String(section), WideToUtf8String(key), &utf8)) return false;
    *value = Utf8ToWideString(utf8);
    return true;
}

std::vector<std::pair<std::string, std::string>> Narrow(
    const std::vector<std::pair<std::wstring, std::wstring>>& values) {
    std::vector<std::pair<std::string, std::string>> narrow;
    narrow.reserve(values.size());
    for (const auto& [key, value] : values) narrow.emplace_back(WideToUtf8String(key), WideToUtf8String(value));
    return narrow;
}

}  // namespace

void CIni::SetPathName(const wchar_t* path) {
    if (path) {
        path_ = WideToPath(path);
    } else {
        path_.clear();
    }
}

void CIni::SetPathName(const std::filesystem::path& path) {
    path_ = path;
}

std::wstring CIni::GetString(const wchar_t* section, const wchar_t* key, const wchar_t* def) const {
    std::wstring value;
    if (ReadValue(path_, section, key, &value)) return value;
    return def ? std::wstring(def) : std::wstring();
}

wchar_t* CIni::GetStringNew(const wchar_t* section, const wchar_t* key, const wchar_t* def) const {
    std::wstring value = GetString(section, key, def);
    auto* copy = new wchar_t[value.size() + 1];
    std::wmemcpy(copy, value.c_str(), value.size() + 1);
    return copy;
}

int CIni::GetStringToBuffer(const wchar_t* section, const wchar_t* key, const wchar_t* def, wchar_t* buffer,
                            int size) const {
    if (!buffer || size <= 0) return 0;
    buffer[0] = L'\0';
    std::wstring value = GetString(section, key, def);
    size_t n = std::min(value.size(), static_cast<size_t>(size) - 1);
    std::wmemcpy(buffer, value.data(), n);
    buffer[n] = L'\0';
    return static_cast<int>(n);
}

int CIni::GetInt(const wchar_t* section, const wchar_t* key, int def, int base) const {
    std::wstring value = GetString(section, key, nullptr);
    if (value.empty()) return def;
    if (base != 2 && base != 8 && base != 16) base = 10;
    return static_cast<int>(ParseUnsigned32(value, base));
}

int CIni::GetBool(const wchar_t* section, const wchar_t* key, int def) const {
    std::wstring value = GetString(section, key, nullptr);
    if (value.empty()) return def;
    if (AsciiEqualsNoCase(value, L"true") || AsciiEqualsNoCase(value, L"yes")) return 1;
    return DecimalIsNonZero(value) ? 1 : 0;
}

int CIni::IsKeyExist(const wchar_t* section, const wchar_t* key) const {
    if (!section || !key) return 0;
    return GetString(section, key, kIniSentinel) == kIniSentinel ? 0 : 1;
}

int CIni::GetSectionNamesLength() const {
    int length = 1;
    for (const auto& name : IniSectionNames(path_)) {
        length += static_cast<int>(Utf8ToWideString(name).size()) + 1;
    }
    return length == 1 ? 2 : length;
}

std::vector<std::wstring> CIni::GetKeyNames(const wchar_t* section) const {
    std::vector<std::wstring> names;
    if (!section || path_.empty()) return names;
    for (const auto& name : IniKeyNames(path_, WideToUtf8String(section))) names.push_back(Utf8ToWideString(name));
    return names;
}

int CIni::IsSectionExist(const wchar_t* section) const {
    if (!section || path_.empty()) return 0;
    std::string wanted = WideToUtf8String(section);
    for (const auto& name : IniSectionNames(path_)) {
        if (AsciiEqualsNoCase(name, wanted)) return 1;
    }
    return 0;
}

int CIni::WriteString(const wchar_t* section, const wchar_t* key, const wchar_t* value) const {
    if (!section || !key || path_.empty()) return 0;
    return IniWriteValue(path_, WideToUtf8String(section), WideToUtf8String(key),
                         WideToUtf8String(value ? value : L""))
               ? 1
               : 0;
}

int CIni::DeleteKey(const wchar_t* section, const wchar_t* key) const {
    if (!section || !key || path_.empty()) return 0;
    return IniDeleteKey(path_, WideToUtf8String(section), WideToUtf8String(key)) ? 1 : 0;
}

int CIni::WriteInt(const wchar_t* section, const wchar_t* key, int value, int base) const {
    if (base == 2 || base == 8 || base == 16) {
        return WriteString(section, key, IntToTextBase(static_cast<unsigned int>(value), base).c_str());
    }
    return WriteString(section, key, std::to_wstring(value).c_str());
}

int CIni::WriteUInt(const wchar_t* section, const wchar_t* key, unsigned int value, int base) const {
    return WriteString(section, key, IntToTextBase(value, base).c_str());
}

int CIni::WriteBool(const wchar_t* section, const wchar_t* key, int flag) const {
    return WriteString(section, key, flag ? L"1" : L"0");
}

int CIni::WriteStrings(const wchar_t* section,
                       const std::vector<std::pair<std::wstring, std::wstring>>& values) const {
    if (!section || path_.empty()) return 0;
    return IniWriteValues(path_, WideToUtf8String(section), Narrow(values)) ? 1 : 0;
}

int CIni::WriteSectionFile(const wchar_t* section,
                           const std::vector<std::pair<std::wstring, std::wstring>>& values) const {
    if (!section || path_.empty()) return 0;
    return IniWriteSectionFile(path_, WideToUtf8String(section), Narrow(values)) ? 1 : 0;
}

CIniNembril::CIniNembril(const std::filesystem::path& programFolder, const std::filesystem::path& fileName) {
    if (!programFolder.empty() && !fileName.empty()) SetPathName(programFolder / "config" / fileName);
}

std::wstring IntToTextBase(unsigned int value, int base) {
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    unsigned int radix = (base == 2 || base == 8 || base == 16) ? static_cast<unsigned int>(base) : 10u;
    std::wstring text;
    do {
        text.insert(text.begin(), kDigits[value % radix]);
        value /= radix;
    } while (value != 0);
    return text;
}
