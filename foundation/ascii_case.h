#pragma once
// Case-insensitive comparison that folds only A-Z and a-z, whatever the
// locale: keys, section names, option names, cipher and plug-in names.

#include <string>
#include <string_view>

template <class Ch>
constexpr Ch AsciiToLower(Ch c) {
    return (c >= Ch('A') && c <= Ch('Z')) ? Ch(c - Ch('A') + Ch('a')) : c;
}

template <class Ch>
constexpr Ch AsciiToUpper(Ch c) {
    return (c >= Ch('a') && c <= Ch('z')) ? Ch(c - Ch('a') + Ch('A')) : c;
}

// <0, 0 or >0 as a sorts before, with or after b, ignoring ASCII case.
int AsciiCompareNoCase(std::string_view a, std::string_view b);
int AsciiCompareNoCase(std::wstring_view a, std::wstring_view b);

inline bool AsciiEqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && AsciiCompareNoCase(a, b) == 0;
}
inline bool AsciiEqualsNoCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && AsciiCompareNoCase(a, b) == 0;
}

// Copies with A-Z lowered (or a-z raised); every other unit unchanged.
std::string AsciiLower(std::string_view s);
std::wstring AsciiLower(std::wstring_view s);
std::wstring AsciiUpper(std::wstring_view s);

// Ordering for maps and sets keyed without regard to ASCII case.
struct AsciiLessNoCase {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return AsciiCompareNoCase(a, b) < 0; }
    bool operator()(std::wstring_view a, std::wstring_view b) const { return AsciiCompareNoCase(a, b) < 0; }
};
