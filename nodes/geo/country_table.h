#pragma once
// The built-in country table. A node's country index is a row of it and at
// the same time the index of the node's flag in the flag strip, so the order
// of the rows never changes. The names are English message ids, translated
// when shown.

#include <string>
#include <string_view>

// Rows up to the end row: 41.
int GetCountryCount();
// The two-letter code and the English name of a row; null outside the table.
const char* GetCountryCode(int index);
const char* GetCountryEnglishName(int index);
// The row's name in the user's language; "Unkown Country", translated, for
// an index outside the table.
std::wstring GetCountryName(int index);
// The first row whose code equals the first two characters of `code`
// (case-sensitive; later characters are ignored, so "JP\n" finds Japan);
// -1 for a null or shorter text, or no such row.
int GetCountryIndexByCode(const char* code);
int GetCountryIndexByCode(std::string_view code);
