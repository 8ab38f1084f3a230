#include "foundation/string_util.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "foundation/ascii_case.h"
#include "foundation/text_format.h"

TEST(StringUtil, SplitString) {
    struct Case {
        std::string text, sep;
        bool keepEmpty;
        int pieces;
        std::vector<std::string> appended;
    };
    const Case cases[] = {
        {"a,,b", ",", false, 3, {"a", "b"}},
        {"a,,b", ",", true, 3, {"a", "", "b"}},
        {"abc", ",", true, 1, {"abc"}},
        {"", ",", true, 0, {}},
        {"abc", "", true, 0, {}},
        {",a,", ",", true, 3, {"", "a", ""}},
        {",a,", ",", false, 3, {"a"}},
        {"x--y--z", "--", false, 3, {"x", "y", "z"}},
        {"x---y", "--", true, 2, {"x", "-y"}},  // occurrences do not overlap
        {",", ",", true, 2, {"", ""}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> out{"kept"};
        EXPECT_EQ(SplitString(c.text, c.sep, out, c.keepEmpty), c.pieces) << c.text;
        std::vector<std::string> expected{"kept"};
        expected.insert(expected.end(), c.appended.begin(), c.appended.end());
        EXPECT_EQ(out, expected) << c.text << " on " << c.sep;
    }
    std::vector<std::wstring> w;
    EXPECT_EQ(SplitStringW(L"\u00E9|\u00E8||", L"|", w, false), 4);
    EXPECT_EQ(w, (std::vector<std::wstring>{L"\u00E9", L"\u00E8"}));
}

TEST(StringUtil, TrimString) {
    struct Case {
        std::string in, set, out;
    };
    const Case cases[] = {
        {"  \t", " \t", ""}, {"", " ", ""}, {" a b\t", " \t", "a b"}, {"xxaxx", "x", "a"}, {"abc", "", "abc"},
    };
    for (const auto& c : cases) {
        std::string s = c.in;
        EXPECT_EQ(&TrimString(s, c.set), &s);
        EXPECT_EQ(s, c.out) << '"' << c.in << '"';
    }
    std::wstring w = L"\u3000 x \u3000";
    EXPECT_EQ(TrimStringW(w, L" \u3000"), L"x");
}

TEST(StringUtil, CaseFoldsAsciiLettersOnly) {
    EXPECT_EQ(ToLower("HideIcon-\xC3\x89"), "hideicon-\xC3\x89");
    EXPECT_EQ(ToLowerW(L"ABC\u00C9z"), L"abc\u00C9z");
    EXPECT_EQ(ToUpperW(L"abc\u00E9Z"), L"ABC\u00E9Z");
    EXPECT_TRUE(ContainsNoCaseW(L"BC", L"abcd"));
    EXPECT_TRUE(ContainsNoCaseW(L"", L"abcd"));
    EXPECT_FALSE(ContainsNoCaseW(L"\u00E9", L"\u00C9"));
    EXPECT_TRUE(StringEquals("AES-256-CFB", "aes-256-cfb", true));
    EXPECT_FALSE(StringEquals("AES-256-CFB", "aes-256-cfb", false));
    EXPECT_FALSE(StringEquals("aes", "aes-", true));
    EXPECT_FALSE(StringEquals("\xC3\x89", "\xC3\xA9", true));
}

TEST(StringUtil, AsciiCaseHelpersOrderKeys) {
    EXPECT_TRUE(AsciiEqualsNoCase(L"Basic", L"BASIC"));
    EXPECT_FALSE(AsciiEqualsNoCase("\xC3\x89", "\xC3\xA9"));
    EXPECT_LT(AsciiCompareNoCase("abc", "ABD"), 0);
    EXPECT_LT(AsciiCompareNoCase("ab", "AB\x80"), 0);
    EXPECT_GT(AsciiCompareNoCase("Z\x80", "z"), 0);
    std::map<std::wstring, int, AsciiLessNoCase> keys;
    keys[L"Username"] = 1;
    keys[L"USERNAME"] = 2;
    keys[L"password"] = 3;
    EXPECT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys.find(std::wstring_view(L"username"))->second, 2);
}

TEST(StringUtil, ReplaceAll) {
    struct Case {
        std::string text, search, replacement, out;
    };
    const Case cases[] = {
        {"aaa", "a", "aa", "aaaaaa"},  // the replacement is not searched again
        {"a-b_c", "-", "+", "a+b_c"}, {"abab", "ab", "", ""},
        {"abc", "", "x", "abc"},  // an empty search text changes nothing
        {"", "a", "b", ""},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(ReplaceAll(text, c.search, c.replacement), c.out) << c.text;
        EXPECT_EQ(text, c.out);
    }
}

TEST(TextFormat, Printf) {
    std::unique_ptr<char[]> p(FormatNew("%s:%d", "host", 8388));
    EXPECT_STREQ(p.get(), "host:8388");
    EXPECT_EQ(FormatNew("%s", ""), nullptr);
    std::string s = "old";
    FormatString(s, "%05.1f|%s", 3.14159, std::string(3000, 'x').c_str());
    EXPECT_EQ(s, "003.1|" + std::string(3000, 'x'));
    std::wstring w = L"old";
    FormatStringW(w, L"%ls=%d", std::wstring(1000, L'\u00E9').c_str(), -7);
    EXPECT_EQ(w, std::wstring(1000, L'\u00E9') + L"=-7");
    EXPECT_EQ(IntToWString(-42), L"-42");
}

TEST(TextFormat, FormatByteSize) {
    struct Case {
        int64_t bytes;
        const wchar_t* text;
    };
    const Case cases[] = {
        {-5, L"0 B"},
        {0, L"0 B"},
        {512, L"512 B"},
        {1024, L"1024 B"},
        {1536, L"1.50 K"},
        {1048576, L"1024.00 K"},
        {1048577, L"1.00 M"},
        {1073741824, L"1024.00 M"},
        {1073741825, L"1.00 G"},
        {int64_t(5) << 40, L"5120.00 G"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatByteSize(c.bytes), c.text) << c.bytes;
}

TEST(TextFormat, FormatLocalTime) {
    std::wstring now = FormatLocalTime(nullptr, 0);
    ASSERT_EQ(now.size(), 19u);
    EXPECT_EQ(now[4], L'-');
    EXPECT_EQ(now[13], L':');

    const std::time_t t = 1456833600;  // 2016-03-01 12:00:00 UTC
    std::tm tm{};
    localtime_r(&t, &tm);
    char expected[64];
    std::strftime(expected, sizeof expected, "%Y-%m-%d %H:%M:%S", &tm);
    EXPECT_EQ(FormatLocalTime(nullptr, t), std::wstring(expected, expected + 19));
    std::strftime(expected, sizeof expected, "[%M:%S]  ", &tm);
    EXPECT_EQ(FormatLocalTime(L"[%M:%S]  ", t), std::wstring(expected, expected + 9));
    EXPECT_EQ(FormatLocalTime(L"", t), L"");
}
