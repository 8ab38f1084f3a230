#pragma once
// Conversions between narrow text (UTF-8; the "ANSI" code page is UTF-8 here
// too) and wide text (std::wstring, one UTF-32 unit per wchar_t).
//
// Invalid input never fails a conversion: every ill-formed UTF-8 sequence, and
// every wide unit that is no Unicode scalar value, becomes U+FFFD. A high and
// low surrogate pair in wide text (text that came from UTF-16) is read as the
// one character it encodes.
//
// "New" forms return an array the caller frees with delete[] (null for null
// input). "Static" forms return a buffer of this thread that the next call of
// the same function on the same thread overwrites; results are cut at a
// character boundary to 4094 units. A null input gives an empty text there.

#include <string>
#include <string_view>

std::wstring Utf8ToWideString(std::string_view utf8);
std::wstring Utf8ToWideString(const char* utf8);
std::string WideToUtf8String(std::wstring_view wide);
std::string WideToUtf8String(const wchar_t* wide);
std::string WideToAnsiString(std::wstring_view wide);
std::string WideToAnsiString(const wchar_t* wide);

wchar_t* Utf8ToWideNew(const char* utf8);
wchar_t* AnsiToWideNew(const char* ansi);
char* WideToUtf8New(const wchar_t* wide);
char* WideToAnsiNew(const wchar_t* wide);

const wchar_t* Utf8ToWideStatic(const char* utf8);
const wchar_t* AnsiToWideStatic(const char* ansi);
const char* WideToUtf8Static(const wchar_t* wide);
const char* WideToAnsiStatic(const wchar_t* wide);

// Units of each static conversion buffer; results hold at most kStaticConvertUnits - 2.
inline constexpr size_t kStaticConvertUnits = 4096;
