#pragma once
// printf-style formatting into owned text, and the date and byte-size texts
// that the windows show.

#include <cstdint>
#include <ctime>
#include <string>

// A new[] array holding the formatted text, which the caller frees with
// delete[]; null when the text would be empty or cannot be formatted.
char* FormatNew(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The formatted text replaces the string's contents (empty when formatting fails).
void FormatString(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Wide arguments take %ls; a narrow %s argument must be valid in the current locale.
void FormatStringW(std::wstring& out, const wchar_t* format, ...);

std::wstring IntToWString(int value);

// `time` (seconds since 1970, 0 = now) as local time in a wcsftime format;
// a null format means "%Y-%m-%d %H:%M:%S". Empty when the time cannot be shown.
std::wstring FormatLocalTime(const wchar_t* format, int64_t time);

// "0 B" for negative counts, then "%d B", "%.2f K", "%.2f M", "%.2f G" with
// exclusive limits 1024, 1 MiB and 1 GiB.
std::wstring FormatByteSize(int64_t bytes);
