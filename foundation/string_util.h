#pragma once
// Splitting, trimming, case, comparison and replacement on narrow and wide
// strings. Case changes and case-insensitive comparisons fold ASCII letters
// only, so results never depend on the locale.

#include <string>
#include <string_view>
#include <vector>

// Appends the pieces of `text` between non-overlapping occurrences of `sep`,
// left to right; empty pieces only with keepEmpty. Returns the number of
// pieces including empty ones (occurrences + 1), or 0 (nothing appended) when
// the text or the separator is empty.
int SplitString(std::string_view text, std::string_view sep, std::vector<std::string>& out, bool keepEmpty);
int SplitStringW(std::wstring_view text, std::wstring_view sep, std::vector<std::wstring>& out,
                 bool keepEmpty);

// Removes every character of `set` from both ends, in place.
std::string& TrimString(std::string& s, std::string_view set);
std::wstring& TrimStringW(std::wstring& s, std::wstring_view set);

std::string ToLower(std::string_view s);
std::wstring ToLowerW(std::wstring_view s);
std::wstring ToUpperW(std::wstring_view s);

// True when `needle` occurs in `haystack` ignoring case; an empty needle always does.
bool ContainsNoCaseW(std::wstring_view needle, std::wstring_view haystack);

bool StringEquals(std::string_view a, std::string_view b, bool ignoreCase);

// Replaces every occurrence of `search` in `text`, in place, scanning on after
// each inserted replacement; returns a copy of the result. An empty search
// text leaves the text unchanged.
std::string ReplaceAll(std::string& text, std::string_view search, std::string_view replacement);
