#include "nodes/geo/country_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "foundation/text_convert.h"
#include "foundation/translate.h"
#include "tests/support/in_child.h"
#include "tests/support/program_dir.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(CountryTable, RowsInFlagOrder) {
    ASSERT_EQ(GetCountryCount(), 41);
    // Spot rows across the table; the flag strip depends on every position.
    EXPECT_STREQ(GetCountryCode(0), "CN");
    EXPECT_STREQ(GetCountryCode(1), "US");
    EXPECT_STREQ(GetCountryCode(14), "JP");
    EXPECT_STREQ(GetCountryCode(21), "HK");
    EXPECT_STREQ(GetCountryCode(38), "ZA");
    EXPECT_STREQ(GetCountryEnglishName(38), "Africa");
    EXPECT_STREQ(GetCountryCode(40), "RO");
    EXPECT_STREQ(GetCountryEnglishName(40), "Romania");
    EXPECT_EQ(GetCountryCode(41), nullptr);
    EXPECT_EQ(GetCountryCode(-1), nullptr);
    EXPECT_EQ(GetCountryEnglishName(41), nullptr);
    // Every code is two upper-case letters and appears once.
    std::set<std::string> codes;
    for (int i = 0; i < GetCountryCount(); ++i) {
        std::string code = GetCountryCode(i);
        EXPECT_EQ(code.size(), 2u);
        EXPECT_TRUE(isupper(code[0]) && isupper(code[1])) << code;
        EXPECT_TRUE(codes.insert(code).second) << code;
        EXPECT_EQ(GetCountryIndexByCode(code.c_str()), i);
    }
}

TEST(CountryTable, IndexByCode) {
    struct Case {
        const char* code;
        int index;
    };
    const Case cases[] = {
        {"US", 1},  {"USA", 1}, {"us", -1}, {"U", -1},   {"", -1},  {"JP\n", 14},
        {"RO", 40}, {"XX", -1}, {"ZA", 38}, {" US", -1}, {"CN", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(GetCountryIndexByCode(c.code), c.index);
        EXPECT_EQ(GetCountryIndexByCode(std::string_view(c.code)), c.index);
    }
    EXPECT_EQ(GetCountryIndexByCode(static_cast<const char*>(nullptr)), -1);
    EXPECT_EQ(GetCountryIndexByCode(std::string_view("U\0S", 3)), -1);
}

TEST(CountryTable, NamesInTheUsersLanguage) {
    testsupport::TempDir dir{"cendrow-country"};
    std::filesystem::copy(testsupport::BuiltProgramDir() / "lang", dir / "lang",
                          std::filesystem::copy_options::recursive);
    struct Case {
        const char* lang;
        int index;
        const char* name;
    };
    const Case cases[] = {
        {"C", 1, "United States of America"},
        {"C", 38, "Africa"},
        {"C", 41, "Unkown Country"},
        {"C", -1, "Unkown Country"},
        {"zh_CN.UTF-8", 0, "\xE4\xB8\xAD\xE5\x9B\xBD"},                // China
        {"zh_CN.UTF-8", 38, "\xE9\x9D\x9E\xE6\xB4\xB2"},               // Africa
        {"zh_CN.UTF-8", 40, "\xE7\xBD\x97\xE9\xA9\xAC\xE5\xB0\xBC\xE4\xBA\x9A"},  // Romania
        {"zh_CN.UTF-8", 41, "\xE6\x9C\xAA\xE7\x9F\xA5\xE5\x9B\xBD\xE5\xAE\xB6"},  // unknown country
        {"zh_CN.UTF-8", -7, "\xE6\x9C\xAA\xE7\x9F\xA5\xE5\x9B\xBD\xE5\xAE\xB6"},
    };
    for (const Case& c : cases) {
        testsupport::InChild([&] {
            testsupport::FreshLanguageEnvironment(c.lang);
            InitTranslations(dir.path(), kTextDomain);
            std::string got = WideToUtf8String(GetCountryName(c.index));
            if (got == c.name) return std::string();
            return std::string(c.lang) + " " + std::to_string(c.index) + ": got " + got + ", want " + c.name;
        });
    }
    // Every row has a translation in the Chinese catalogue.
    testsupport::InChild([&] {
        testsupport::FreshLanguageEnvironment("zh_CN.UTF-8");
        InitTranslations(dir.path(), kTextDomain);
        std::string failure;
        for (int i = 0; i < GetCountryCount(); ++i) {
            if (WideToUtf8String(GetCountryName(i)) == GetCountryEnglishName(i)) failure += GetCountryEnglishName(i) + std::string(" ");
        }
        return failure.empty() ? failure : "untranslated: " + failure;
    });
}

}  // namespace
