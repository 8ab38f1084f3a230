#pragma once
// The user-interface language as a Windows locale id (1033 English, 2052
// Simplified Chinese, ...), which the language list stores, and its link to
// the locale names gettext uses. One value for the whole process, chosen at
// start-up before other threads exist.

#include <cstdint>
#include <string>
#include <string_view>

// "The user's default": the language the environment asks for.
inline constexpr uint32_t kLocaleUserDefault = 1024;
inline constexpr uint32_t kLocaleEnglishUS = 1033;
inline constexpr uint32_t kLocaleChineseSimplified = 2052;

// The locale name of a known id ("zh_CN" for 2052); empty for others.
std::string LocaleNameFromLcid(uint32_t lcid);
// The id of a locale name as environments write it ("zh_CN.UTF-8", "de_DE@euro",
// "de"); a language without a known country takes its main country. 0 when unknown.
uint32_t LcidFromLocaleName(std::string_view name);

// The id the environment asks for: the first known entry of LANGUAGE, then
// LC_ALL, LC_MESSAGES, LANG; 1033 when none is known.
uint32_t GetUserDefaultLocale();

// The current user-interface language: the last value set, else the
// environment's.
uint32_t GetThreadLocale();
// Sets the user-interface language. 1024 (or 0) follows the environment and
// changes nothing else; a known id also makes gettext look up that language
// first (LANGUAGE). Returns 1 for a known id or 1024, 0 for an unknown id
// (then only the value is kept). Call before other threads exist: it changes
// the environment.
int SetThreadLocale(uint32_t lcid);
