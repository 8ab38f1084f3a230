#pragma once
// Translations of the texts the program shows, through GNU gettext catalogues
// in the program folder's "lang" folder (lang/<locale>/LC_MESSAGES/<domain>.mo),
// and the list of languages the user can choose in config/language.ini.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>

// The program's text domain.
inline constexpr const char* kTextDomain = "vokt";

// The translation of an English message in UTF-8, or the message itself when
// the catalogue has none (an empty text for null). The text stays valid for
// the life of the process; callable from any thread.
const char* Translate(const char* message);

// Binds the domain to "<programFolder>/lang" with UTF-8 output, loads the
// language list and makes the chosen language the user-interface language
// (an id of 0 follows the environment). Run once at start-up, before other
// threads exist.
void InitTranslations(const std::filesystem::path& programFolder, const char* domain);

struct LanguageInfo {
    std::wstring name;  // at most 99 characters
    uint32_t lcid = 0;  // Windows locale id; 0 leaves the choice to the environment
    uint8_t selected = 0;
};

// Name of the entry added when language.ini lists no usable language.
inline constexpr const wchar_t* kAutomaticLanguageName = L"Automatically assign lanaguage";

// Appends the languages of "<programFolder>/config/language.ini" to `list`
// and returns the number of entries in it; 0, and `list` untouched, when the
// file does not exist.
int LoadLanguageList(const std::filesystem::path& programFolder, std::deque<LanguageInfo>& list);
// The same for the process-wide list, which is appended to and never cleared
// (entries never move, so pointers to them stay valid).
int LoadLanguageList(const std::filesystem::path& programFolder);
const std::deque<LanguageInfo>& GetLanguageList();

// The first selected entry, else the first entry; null when the list is empty.
const LanguageInfo* GetSelectedLanguage(const std::deque<LanguageInfo>& list);
const LanguageInfo* GetSelectedLanguage();
