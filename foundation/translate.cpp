#include "foundation/translate.h"

#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <vector>

#include "foundation/ini.h"
#include "foundation/string_util.h"
#include "foundation/thread_locale.h"

namespace {

// Built at start-up, read-only afterwards.
std::deque<LanguageInfo> g_languages;

constexpr size_t kMaxNameChars = 99;
constexpr size_t kMaxValueChars = 499;
constexpr size_t kMaxSelectedChars = 63;

// The leading decimal number of the text, as _wtol reads it: leading blanks
// and a sign accepted, conversion stops at the first non-digit, 0 without digits.
long LeadingNumber(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        if (value < 100000000000L) value = value * 10 + (text[i] - L'0');
    }
    return negative ? -value : value;
}

// The language the environment asks for ("zh_CN" of LANG=zh_CN.UTF-8);
// empty for none or the C locale.
std::string EnvironmentLanguage() {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(var);
        if (!value || !value[0]) continue;
        std::string name(value);
        name = name.substr(0, name.find_first_of(".@"));
        if (name == "C" || name == "POSIX") return {};
        return name;
    }
    return {};
}

// gettext picks no language at all under the "C" locale, whatever LANGUAGE
// says; C.UTF-8 exists on every machine and lets LANGUAGE decide. A language
// whose locale is not installed on the machine is still found through LANGUAGE.
void PrepareMessageLocale() {
    const char* current = std::setlocale(LC_MESSAGES, "");
    if (current && std::strcmp(current, "C") != 0 && std::strcmp(current, "POSIX") != 0) return;
    std::setlocale(LC_MESSAGES, "C.UTF-8");
    const char* language = std::getenv("LANGUAGE");
    std::string wanted = EnvironmentLanguage();
    if ((!language || !language[0]) && !wanted.empty()) setenv("LANGUAGE", wanted.c_str(), 1);
}

}  // namespace

const char* Translate(const char* message) {
    if (!message) return "";
    return gettext(message);
}

void InitTranslations(const std::filesystem::path& programFolder, const char* domain) {
    if (!domain || !domain[0]) domain = kTextDomain;
    PrepareMessageLocale();
    std::filesystem::path lang = programFolder / "lang";
    textdomain(domain);
    bindtextdomain(domain, lang.c_str());
    bind_textdomain_codeset(domain, "UTF-8");
    LoadLanguageList(programFolder);
    if (const LanguageInfo* chosen = GetSelectedLanguage())
        SetThreadLocale(chosen->lcid ? chosen->lcid : kLocaleUserDefault);
}

int LoadLanguageList(const std::filesystem::path& programFolder, std::deque<LanguageInfo>& list) {
    CIniNembril ini(programFolder, "language.ini");
    std::error_code ec;
    if (programFolder.empty() || !std::filesystem::exists(ini.GetPathName(), ec)) return 0;

    std::wstring selectedText = ini.GetString(L"basic", L"selected", L"").substr(0, kMaxSelectedChars);
    unsigned long selected = 1;
    if (!selectedText.empty()) selected = static_cast<unsigned long>(LeadingNumber(selectedText));

    for (unsigned long i = 1;; ++i) {
        std::wstring key = L"lang" + std::to_wstring(i);
        std::wstring value = ini.GetString(L"basic", key.c_str(), kIniSentinel);
        if (value == kIniSentinel) break;
        value = value.substr(0, kMaxValueChars);
        if (value.empty()) continue;
        std::vector<std::wstring> pieces;
        if (SplitStringW(value, L",", pieces, true) != 2) continue;
        TrimStringW(pieces[0], L" ");
        TrimStringW(pieces[1], L" ");
        if (pieces[0].empty() || pieces[1].empty()) continue;
        LanguageInfo info;
        info.name = pieces[0].substr(0, kMaxNameChars);
        info.lcid = static_cast<uint32_t>(LeadingNumber(pieces[1]));
        info.selected = i == selected ? 1 : 0;
        list.push_back(std::move(info));
    }
    if (list.empty()) list.push_back({kAutomaticLanguageName, 0, 1});
    return static_cast<int>(list.size());
}

int LoadLanguageList(const std::filesystem::path& programFolder) {
    return LoadLanguageList(programFolder, g_languages);
}

const std::deque<LanguageInfo>& GetLanguageList() {
    return g_languages;
}

const LanguageInfo* GetSelectedLanguage(const std::deque<LanguageInfo>& list) {
    for (const auto& info : list) {
        if (info.selected) return &info;
    }
    return list.empty() ? nullptr : &list.front();
}

const LanguageInfo* GetSelectedLanguage() {
    return GetSelectedLanguage(g_languages);
}
