#include "foundation/string_util.h"

#include "foundation/ascii_case.h"

namespace {

template <class Ch>
int Split(std::basic_string_view<Ch> text, std::basic_string_view<Ch> sep,
          std::vector<std::basic_string<Ch>>& out, bool keepEmpty) {
    if (text.empty() || sep.empty()) return 0;
    int pieces = 0;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(sep, start);
        size_t end = at == text.npos ? text.size() : at;
        if (end > start || keepEmpty) out.emplace_back(text.substr(start, end - start));
        ++pieces;
        if (at == text.npos) return pieces;
        start = at + sep.size();
    }
}

template <class Ch>
std::basic_string<Ch>& Trim(std::basic_string<Ch>& s, std::basic_string_view<Ch> set) {
    size_t first = s.find_first_not_of(set.data(), 0, set.size());
    if (first == s.npos) {
        s.clear();
        return s;
    }
    size_t last = s.find_last_not_of(set.data(), s.npos, set.size());
    s.erase(last + 1);
    s.erase(0, first);
    return s;
}

}  // namespace

int SplitString(std::string_view text, std::string_view sep, std::vector<std::string>& out, bool keepEmpty) {
    return Split(text, sep, out, keepEmpty);
}

int SplitStringW(std::wstring_view text, std::wstring_view sep, std::vector<std::wstring>& out,
                 bool keepEmpty) {
    return Split(text, sep, out, keepEmpty);
}

std::string& TrimString(std::string& s, std::string_view set) {
    return Trim(s, set);
}

std::wstring& TrimStringW(std::wstring& s, std::wstring_view set) {
    return Trim(s, set);
}

std::string ToLower(std::string_view s) {
    return AsciiLower(s);
}

std::wstring ToLowerW(std::wstring_view s) {
    return AsciiLower(s);
}

std::wstring ToUpperW(std::wstring_view s) {
    return AsciiUpper(s);
}

bool ContainsNoCaseW(std::wstring_view needle, std::wstring_view haystack) {
    return AsciiUpper(haystack).find(AsciiUpper(needle)) != std::wstring::npos;
}

bool StringEquals(std::string_view a, std::string_view b, bool ignoreCase) {
    return ignoreCase ? AsciiEqualsNoCase(a, b) : a == b;
}

std::string ReplaceAll(std::string& text, std::string_view search, std::string_view replacement) {
    if (search.empty()) return text;
    for (size_t at = text.find(search); at != text.npos; at = text.find(search, at + replacement.size()))
        text.replace(at, search.size(), replacement);
    return text;
}
