#include "nodes/geo/country_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

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

}  // namespace
