#include "foundation/text_convert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <latch>
#include <memory>
#include <thread>

namespace {

struct DecodeCase {
    const char* name;
    std::string utf8;
    std::wstring wide;
};

const std::wstring R(1, L'\uFFFD');

}  // namespace

TEST(TextConvert, Utf8ToWideDecodesAndReplacesIllFormedSequences) {
    const DecodeCase cases[] = {
        {"ascii", "abc", L"abc"},
        {"two bytes", "\xC3\xA9", L"\u00E9"},
        {"three bytes", "\xE2\x82\xAC", L"\u20AC"},
        {"four bytes", "\xF0\x9F\x98\x80", std::wstring(1, wchar_t(0x1F600))},
        {"embedded nul", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
        {"lone continuation", "a\x80z", L"a" + R + L"z"},
        {"overlong two-byte", "\xC0\x80", R + R},
        {"overlong three-byte", "\xE0\x80\x80", R + R + R},
        {"encoded surrogate", "\xED\xA0\x80", R + R + R},
        {"above U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
        {"invalid lead", "\xF5\xFF", R + R},
        {"truncated at end", "x\xE2\x82", L"x" + R},
        {"truncated before ascii",
         "\xE2\x82"
         "A",
         R + L"A"},
        {"highest scalar", "\xF4\x8F\xBF\xBF", std::wstring(1, wchar_t(0x10FFFF))},
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8ToWideString(c.utf8), c.wide) << c.name;
}

TEST(TextConvert, WideToUtf8EncodesAndReplacesNonCharacters) {
    struct Case {
        const char* name;
        std::wstring wide;
        std::string utf8;
    };
    const std::string r = "\xEF\xBF\xBD";
    const Case cases[] = {
        {"mixed", L"a\u00E9\u20AC", "a\xC3\xA9\xE2\x82\xAC"},
        {"astral", std::wstring(1, wchar_t(0x1F600)), "\xF0\x9F\x98\x80"},
        {"utf-16 surrogate pair", std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}, "\xF0\x9F\x98\x80"},
        {"lone high surrogate", std::wstring{wchar_t(0xD83D), L'x'}, r + "x"},
        {"lone low surrogate", std::wstring{wchar_t(0xDE00)}, r},
        {"high surrogate at end", std::wstring{L'x', wchar_t(0xD83D)}, "x" + r},
        {"above U+10FFFF", std::wstring{wchar_t(0x110000)}, r},
        {"negative unit", std::wstring{wchar_t(-1)}, r},
    };
    for (const auto& c : cases) EXPECT_EQ(WideToUtf8String(c.wide), c.utf8) << c.name;
}

TEST(TextConvert, EveryScalarValueRoundTrips) {
    std::wstring all;
    for (wchar_t c = 1; c <= 0x10FFFF; ++c)
        if (c < 0xD800 || c > 0xDFFF) all += c;
    EXPECT_EQ(Utf8ToWideString(WideToUtf8String(all)), all);
}

TEST(TextConvert, NullInputs) {
    EXPECT_EQ(Utf8ToWideNew(nullptr), nullptr);
    EXPECT_EQ(AnsiToWideNew(nullptr), nullptr);
    EXPECT_EQ(WideToUtf8New(nullptr), nullptr);
    EXPECT_EQ(WideToAnsiNew(nullptr), nullptr);
    EXPECT_EQ(WideToAnsiString(static_cast<const wchar_t*>(nullptr)), "");
    EXPECT_EQ(Utf8ToWideString(static_cast<const char*>(nullptr)), L"");
    ASSERT_NE(WideToAnsiStatic(nullptr), nullptr);
    EXPECT_STREQ(WideToAnsiStatic(nullptr), "");
    ASSERT_NE(Utf8ToWideStatic(nullptr), nullptr);
    EXPECT_STREQ(Utf8ToWideStatic(nullptr), L"");
}

TEST(TextConvert, NewFormsAreOwnedTerminatedCopies) {
    std::unique_ptr<wchar_t[]> w(Utf8ToWideNew("gr\xC3\xBC\xC3\x9F"));
    EXPECT_STREQ(w.get(), L"gr\u00FC\u00DF");
    std::unique_ptr<char[]> n(WideToAnsiNew(L"\u00FC"));
    EXPECT_STREQ(n.get(), "\xC3\xBC");
}

TEST(TextConvert, StaticResultsAreCutAtACharacterBoundary) {
    std::wstring euros(3000, L'\u20AC');  // 9000 bytes of UTF-8
    const char* narrow = WideToUtf8Static(euros.c_str());
    size_t n = std::strlen(narrow);
    EXPECT_EQ(n, 4092u);  // 1364 whole characters; 4094 would split one
    EXPECT_EQ(Utf8ToWideString(narrow), std::wstring(1364, L'\u20AC'));

    std::string many(5000, 'x');
    const wchar_t* wide = Utf8ToWideStatic(many.c_str());
    EXPECT_EQ(std::wcslen(wide), kStaticConvertUnits - 2);
    EXPECT_EQ(wide[kStaticConvertUnits - 1], L'\0');
}

TEST(TextConvert, StaticBuffersBelongToTheirThread) {
    const wchar_t* mine = Utf8ToWideStatic("main thread");
    std::latch converted(1);
    std::thread other([&] {
        Utf8ToWideStatic("other thread overwrites nothing of ours");
        converted.count_down();
    });
    converted.wait();
    other.join();
    EXPECT_STREQ(mine, L"main thread");
    // The directions keep separate buffers too.
    const char* narrow = WideToUtf8Static(L"narrow");
    Utf8ToWideStatic("wide");
    EXPECT_STREQ(narrow, "narrow");
}
