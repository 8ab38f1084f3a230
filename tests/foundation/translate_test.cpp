#include "foundation/translate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "foundation/thread_locale.h"
#include "tests/support/in_child.h"
#include "tests/support/program_dir.h"
#include "tests/support/temp_dir.h"

using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// A temporary program folder with the built catalogues and, when given, a language.ini.
struct ProgramFolder {
    TempDir dir{"cendrow-lang"};
    explicit ProgramFolder(const char* languageIni, bool withCatalogues = true) {
        std::filesystem::create_directories(dir / "config");
        if (languageIni) WriteFile(dir / "config" / "language.ini", languageIni);
        if (withCatalogues) {
            std::filesystem::copy(testsupport::BuiltProgramDir() / "lang", dir / "lang",
                                  std::filesystem::copy_options::recursive);
        }
    }
    const std::filesystem::path& path() const { return dir.path(); }
};

// gettext keeps what it looked up and the language comes from the
// environment: every language choice runs in a child process of its own.
using testsupport::FreshLanguageEnvironment;
using testsupport::InChild;

std::string Expect(const char* what, const std::string& got, const std::string& want) {
    return got == want ? std::string() : std::string(what) + ": got \"" + got + "\", want \"" + want + "\"";
}

}  // namespace

TEST(LanguageList, ReadFromLanguageIni) {
    struct Entry {
        std::wstring name;
        uint32_t lcid;
        int selected;
    };
    struct Case {
        const char* file;
        std::vector<Entry> entries;
        const wchar_t* chosen;
    };
    const Case cases[] = {
        {"[basic]\nselected=2\nlang1=English,1033\nlang2=Deutsch, 1031\n",
         {{L"English", 1033, 0}, {L"Deutsch", 1031, 1}},
         L"Deutsch"},
        // A choice beyond the list selects nothing; the first entry serves.
        {"[basic]\nselected=5\nlang1=English,1033\nlang2=Deutsch,1031\n",
         {{L"English", 1033, 0}, {L"Deutsch", 1031, 0}},
         L"English"},
        // Malformed values are skipped but keep their number.
        {"[basic]\nselected=2\nlang1=English\nlang2=\xE7\xAE\x80\xE4\xBD\x93\xE4\xB8\xAD\xE6\x96\x87,2052\n"
         "lang3=a,1,2\nlang4= ,1033\nlang5=x,\nlang6=\n",
         {{L"\u7B80\u4F53\u4E2D\u6587", 2052, 1}},
         L"\u7B80\u4F53\u4E2D\u6587"},
        // The list ends at the first missing number.
        {"[basic]\nlang2=Deutsch,1031\n", {{kAutomaticLanguageName, 0, 1}}, kAutomaticLanguageName},
        // No "selected": the first is chosen; an LCID without digits reads as 0.
        {"[basic]\nlang1=Auto,none\nlang2=Francais,1036x\n",
         {{L"Auto", 0, 1}, {L"Francais", 1036, 0}},
         L"Auto"},
        {"[basic]\nselected=\nlang1=A,1\nlang2=B,2\n", {{L"A", 1, 1}, {L"B", 2, 0}}, L"A"},
        {"[other]\nlang1=A,1\n", {{kAutomaticLanguageName, 0, 1}}, kAutomaticLanguageName},
    };
    for (const auto& c : cases) {
        ProgramFolder folder(c.file, false);
        std::deque<LanguageInfo> list;
        EXPECT_EQ(LoadLanguageList(folder.path(), list), static_cast<int>(c.entries.size())) << c.file;
        ASSERT_EQ(list.size(), c.entries.size()) << c.file;
        for (size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(list[i].name, c.entries[i].name) << c.file;
            EXPECT_EQ(list[i].lcid, c.entries[i].lcid) << c.file;
            EXPECT_EQ(list[i].selected, c.entries[i].selected) << c.file;
        }
        ASSERT_NE(GetSelectedLanguage(list), nullptr);
        EXPECT_EQ(GetSelectedLanguage(list)->name, c.chosen) << c.file;
    }
}

TEST(LanguageList, AppendsAndNeverMovesEntries) {
    ProgramFolder missing(nullptr, false);
    std::deque<LanguageInfo> list;
    EXPECT_EQ(LoadLanguageList(missing.path(), list), 0);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(GetSelectedLanguage(list), nullptr);

    std::string longName(150, 'n');
    ProgramFolder folder(("[basic]\nlang1=" + longName + ",1033\n").c_str(), false);
    EXPECT_EQ(LoadLanguageList(folder.path(), list), 1);
    const LanguageInfo* first = &list.front();
    EXPECT_EQ(first->name.size(), 99u);
    EXPECT_EQ(LoadLanguageList(folder.path(), list), 2);
    EXPECT_EQ(&list.front(), first);
    EXPECT_EQ(LoadLanguageList(missing.path(), list), 0);  // a missing file counts nothing
    EXPECT_EQ(list.size(), 2u);
}

TEST(Translations, ChosenLanguageTranslates) {
    const char* twoLanguages =
        "[basic]\nselected=%d\nlang1=English,1033\nlang2=\xE4\xB8\xAD\xE6\x96\x87,2052\nlang3=Deutsch, "
        "1031\n";
    struct Case {
        int selected;
        uint32_t locale;
        const char* ready;
    };
    const Case cases[] = {
        {1, 1033, "Ready!"},
        {2, 2052, "\xE5\xB0\xB1\xE7\xBB\xAA\xEF\xBC\x81"},
        {3, 1031, "Ready!"},  // no German catalogue
    };
    for (const auto& c : cases) {
        char ini[200];
        std::snprintf(ini, sizeof ini, twoLanguages, c.selected);
        ProgramFolder folder(ini);
        ASSERT_TRUE(FileExists(folder.path() / "lang" / "zh_CN" / "LC_MESSAGES" / "vokt.mo"))
            << "the build lays the catalogues into the program folder";
        InChild([&] {
            FreshLanguageEnvironment("C");
            InitTranslations(folder.path(), kTextDomain);
            std::string failure = Expect("Ready!", Translate("Ready!"), c.ready);
            if (GetThreadLocale() != c.locale) failure += " locale " + std::to_string(GetThreadLocale());
            failure +=
                Expect("no entry", Translate("A message no catalogue has"), "A message no catalogue has");
            failure += Expect("null", Translate(nullptr), "");
            return failure;
        });
    }
}

TEST(Translations, AutomaticChoiceFollowsTheEnvironment) {
    struct Case {
        const char* file;  // null: no language.ini
        const char* lang;
        uint32_t locale;
        const char* connect;
    };
    const Case cases[] = {
        // Chinese asked for by the environment, even without that locale installed.
        {nullptr, "zh_CN.UTF-8", 2052, "\xE8\xBF\x9E\xE6\x8E\xA5"},
        {nullptr, "C", 1033, "CONNECT"},
        {nullptr, "en_US.UTF-8", 1033, "CONNECT"},
        // lang1 missing: the automatic entry, which follows the environment.
        {"[basic]\nlang2=English,1033\n", "zh_CN.UTF-8", 2052, "\xE8\xBF\x9E\xE6\x8E\xA5"},
        // A single entry with LCID 0 is the user's default too.
        {"[basic]\nlang1=System,0\n", "en_GB.UTF-8", 2057, "CONNECT"},
    };
    for (const auto& c : cases) {
        ProgramFolder folder(c.file);
        InChild([&] {
            FreshLanguageEnvironment(c.lang);
            InitTranslations(folder.path(), kTextDomain);
            std::string failure = Expect("CONNECT", Translate("CONNECT"), c.connect);
            if (GetThreadLocale() != c.locale) failure += " locale " + std::to_string(GetThreadLocale());
            return failure.empty() ? failure : failure + " (LANG=" + c.lang + ")";
        });
    }
}

TEST(Translations, MissingCatalogueGivesTheEnglishText) {
    ProgramFolder folder("[basic]\nselected=1\nlang1=Chinese,2052\n", false);
    InChild([&] {
        FreshLanguageEnvironment("zh_CN.UTF-8");
        InitTranslations(folder.path(), kTextDomain);
        std::string failure = Expect("Ready!", Translate("Ready!"), "Ready!");
        if (GetThreadLocale() != 2052) failure += " locale " + std::to_string(GetThreadLocale());
        return failure;
    });
}

TEST(Translations, FormatsAndLanguageNameTranslate) {
    ProgramFolder folder("[basic]\nlang1=Chinese,2052\n");
    InChild([&] {
        FreshLanguageEnvironment("C");
        InitTranslations(folder.path(), kTextDomain);
        char line[100];
        std::snprintf(line, sizeof line, Translate("Proxy: %s-%s:%d"), "SOCKS 5", "1.2.3.4", 1080);
        std::string failure = Expect("format", line,
                                     "\xE4\xBB\xA3\xE7\x90\x86\xEF\xBC\x9A"
                                     "SOCKS 5-1.2.3.4:1080");
        failure += Expect("automatic",
                          Utf8ToWideString(Translate(WideToUtf8String(kAutomaticLanguageName).c_str())) ==
                                  L"\u81EA\u52A8\u9009\u62E9\u8BED\u8A00"
                              ? "ok"
                              : "other",
                          "ok");
        return failure;
    });
}
