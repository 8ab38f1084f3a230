#include "foundation/ascii_case.h"

#include <algorithm>
#include <type_traits>

namespace {

template <class Ch>
int Compare(std::basic_string_view<Ch> a, std::basic_string_view<Ch> b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        // Compare as unsigned units so that bytes above 0x7F sort after ASCII.
        using U = std::make_unsigned_t<Ch>;
        U x = static_cast<U>(AsciiToLower(a[i]));
        U y = static_cast<U>(AsciiToLower(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

template <class Ch, Ch (*Fold)(Ch)>
std::basic_string<Ch> Map(std::basic_string_view<Ch> s) {
    std::basic_string<Ch> out(s);
    for (Ch& c : out) c = Fold(c);
    return out;
}

}  // namespace

int AsciiCompareNoCase(std::string_view a, std::string_view b) {
    return Compare(a, b);
}
int AsciiCompareNoCase(std::wstring_view a, std::wstring_view b) {
    return Compare(a, b);
}

std::string AsciiLower(std::string_view s) {
    return Map<char, AsciiToLower<char>>(s);
}
std::wstring AsciiLower(std::wstring_view s) {
    return Map<wchar_t, AsciiToLower<wchar_t>>(s);
}
std::wstring AsciiUpper(std::wstring_view s) {
    return Map<wchar_t, AsciiToUpper<wchar_t>>(s);
}
