#pragma once
// INI access for the program's configuration files. Sections, keys and values
// are wide texts; a null section or key reads as the default and writes
// nothing. Reads never fail: a missing file, section or key gives the default.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// A default that no stored value equals: reading it back means the key is missing.
inline constexpr const wchar_t* kIniSentinel = L"{63788286-AE30-4D6B-95DF-3B451C1C79F9}";

class CIni {
public:
    CIni() = default;
    explicit CIni(const wchar_t* path) { SetPathName(path); }
    explicit CIni(const std::filesystem::path& path) { SetPathName(path); }
    virtual ~CIni() = default;

    // A null path makes the path empty.
    void SetPathName(const wchar_t* path);
    void SetPathName(const std::filesystem::path& path);
    const std::filesystem::path& GetPathName() const { return path_; }

    // The value (trimmed, surrounding quotes removed), or a copy of the
    // default (empty for null), as a new array the caller frees with delete[].
    wchar_t* GetStringNew(const wchar_t* section, const wchar_t* key, const wchar_t* def) const;
    std::wstring GetString(const wchar_t* section, const wchar_t* key, const wchar_t* def) const;
    // Copies at most size - 1 characters of the value and a terminator into
    // `buffer`; returns the number of characters stored.
    int GetStringToBuffer(const wchar_t* section, const wchar_t* key, const wchar_t* def, wchar_t* buffer,
                          int size) const;
    // An empty or missing value gives `def`; otherwise the text as an
    // unsigned 32-bit number in base 2, 8 or 16 (any other base reads as 10:
    // leading blanks and a sign accepted, digits up to the first invalid
    // character, overflow gives 0xFFFFFFFF), returned as signed ("-1" is -1).
    int GetInt(const wchar_t* section, const wchar_t* key, int def, int base = 10) const;
    // An empty or missing value gives `def`; "true" or "yes" in any case, or
    // a nonzero decimal number, gives 1; anything else 0.
    int GetBool(const wchar_t* section, const wchar_t* key, int def) const;
    // 1 when the key is present (an empty value counts; the sentinel text does not).
    int IsKeyExist(const wchar_t* section, const wchar_t* key) const;
    // Characters of the section-name list, each name with its terminator,
    // plus the list's final terminator (2 for an empty list).
    int GetSectionNamesLength() const;
    // 1 when the file has the section, names compared without regard to case.
    int IsSectionExist(const wchar_t* section) const;
    // The key names of the section in file order (empty for a missing one).
    std::vector<std::wstring> GetKeyNames(const wchar_t* section) const;

    // Writes return 1, or 0 when the file could not be written. A null value
    // writes an empty one.
    int WriteString(const wchar_t* section, const wchar_t* key, const wchar_t* value) const;
    // Base 2, 8 and 16 as IntToTextBase of the unsigned value; others "%d".
    int WriteInt(const wchar_t* section, const wchar_t* key, int value, int base = 10) const;
    int WriteUInt(const wchar_t* section, const wchar_t* key, unsigned int value, int base = 10) const;
    int WriteBool(const wchar_t* section, const wchar_t* key, int flag) const;
    // Every key of `values` in one rewrite of the file: 1 when all of them
    // were stored, 0 when none was.
    int WriteStrings(const wchar_t* section, const std::vector<std::pair<std::wstring, std::wstring>>& values) const;
    // Removes the key; 1 when it is gone afterwards, 0 when the file could not be written.
    int DeleteKey(const wchar_t* section, const wchar_t* key) const;
    // Saving by rewriting: replaces the whole file, in one atomic write, by
    // one holding `section` with `values` as its keys in order. 1, or 0 when
    // the file could not be written (it is then left as it was).
    int WriteSectionFile(const wchar_t* section,
                         const std::vector<std::pair<std::wstring, std::wstring>>& values) const;

private:
    std::filesystem::path path_;
};

// A CIni on "<program folder>/config/<file name>"; no path unless both are given.
class CIniNembril : public CIni {
public:
    CIniNembril(const std::filesystem::path& programFolder, const std::filesystem::path& fileName);
};

// Base 8 "%o", base 16 "%X", base 2 binary digits without leading zeros
// ("0" for zero), any other base "%u".
std::wstring IntToTextBase(unsigned int value, int base);
