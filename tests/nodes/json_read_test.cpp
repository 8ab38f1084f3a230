#include "nodes/account/json_read.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace {

constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr uint32_t kUIntMax = std::numeric_limits<uint32_t>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();

Json::Value Parse(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(ParseJsonText(text, v)) << text;
    return v;
}

TEST(JsonRead, EveryKindUnderEveryReader) {
    struct Case {
        const char* json;
        const char* text;
        int32_t integer;
        uint32_t unsignedInteger;
        double real;
        bool boolean;
    };
    const Case cases[] = {
        {"null", "", 0, 0, 0.0, false},
        {"true", "true", 1, 1, 1.0, true},
        {"false", "false", 0, 0, 0.0, false},
        {"0", "", 0, 0, 0.0, false},
        {"42", "", 42, 42, 42.0, true},
        {"-7", "", -7, 0, -7.0, true},
        {"4294967296", "", kIntMax, kUIntMax, 4294967296.0, true},
        {"18446744073709551615", "", kIntMax, kUIntMax, 18446744073709551615.0, true},
        {"-9223372036854775808", "", kIntMin, 0, -9223372036854775808.0, true},
        {"1.9", "", 1, 1, 1.9, true},
        {"-1.9", "", -1, 0, -1.9, true},
        {"0.0", "", 0, 0, 0.0, false},
        {"1.5e9", "", 1500000000, 1500000000, 1.5e9, true},
        {"1e300", "", kIntMax, kUIntMax, 1e300, true},
        {"-1e300", "", kIntMin, 0, -1e300, true},
        {"\"123abc\"", "123abc", 123, 123, 123.0, true},
        {"\" \\t-12x\"", " \t-12x", -12, 0, -12.0, true},
        {"\"+5\"", "+5", 5, 5, 5.0, true},
        {"\"1.5e9\"", "1.5e9", 1, 1, 1.0, true},
        {"\"abc\"", "abc", 0, 0, 0.0, true},
        {"\"\"", "", 0, 0, 0.0, false},
        {"\"false\"", "false", 0, 0, 0.0, true},
        {"\"0\"", "0", 0, 0, 0.0, true},
        {"\"99999999999999999999999\"", "99999999999999999999999", kIntMax, kUIntMax, 9223372036854775807.0,
         true},
        {"\"-99999999999999999999999\"", "-99999999999999999999999", kIntMin, 0, -9223372036854775808.0,
         true},
        {"[]", "", 0, 0, 0.0, false},
        {"[0]", "", 0, 0, 0.0, true},
        {"{}", "", 0, 0, 0.0, false},
        {"{\"a\":1}", "", 0, 0, 0.0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        Json::Value v = Parse(c.json);
        EXPECT_EQ(JsonText(v), c.text);
        EXPECT_EQ(JsonInt(v), c.integer);
        EXPECT_EQ(JsonUInt(v), c.unsignedInteger);
        EXPECT_EQ(JsonReal(v), c.real);
        EXPECT_EQ(JsonBool(v), c.boolean);
    }
}

TEST(JsonRead, TextKeepsEmbeddedNulBytes) {
    Json::Value v = Parse(R"("a\u0000b")");
    EXPECT_EQ(JsonText(v), std::string("a\0b", 3));
}

TEST(JsonRead, OnlyCompleteValuesWithinTheNestingLimitParse) {
    struct Case {
        std::string text;
        bool ok;
    };
    const Case cases[] = {
        {"{\"errcode\":0}", true},
        {"  {\"errcode\":0}\r\n", true},
        {"5", true},
        {"\"text\"", true},
        {"", false},
        {"   ", false},
        {"{\"errcode\":0} trailing", false},
        {"{\"errcode\":0}{}", false},
        {"// comment\n{}", false},
        {"{'a':1}", false},
        {"{\"a\":", false},
        {"{\"a\":1", false},
        {"[1,2", false},
        {"NaN", false},
        {"[Infinity]", false},
        {"<html><body>502</body></html>", false},
        {std::string(60, '[') + std::string(60, ']'), true},
        {std::string(100000, '[') + std::string(100000, ']'), false},
        {std::string(100000, '['), false},
        {std::string("{\"a\":\0}", 7), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        Json::Value v(7);
        EXPECT_EQ(ParseJsonText(c.text, v), c.ok);
        if (!c.ok) {
            EXPECT_TRUE(v.isNull());
        }
    }
}

TEST(JsonRead, MembersOnlyOfObjectsAndNothingIsInserted) {
    for (const char* json : {"null", "1", "-1", "1.5", "\"s\"", "true", "[1,2]", "[{\"k\":1}]"}) {
        SCOPED_TRACE(json);
        Json::Value v = Parse(json);
        EXPECT_EQ(JsonMember(v, "k"), nullptr);
        std::string out = "kept";
        int32_t number = 9;
        EXPECT_FALSE(ReadJsonText(v, "k", out));
        EXPECT_FALSE(ReadJsonInt(v, "k", number));
        EXPECT_EQ(out, "kept");
        EXPECT_EQ(number, 9);
    }
    Json::Value object = Parse(R"({"k":"v","n":null})");
    ASSERT_NE(JsonMember(object, "k"), nullptr);
    EXPECT_EQ(JsonMember(object, "missing"), nullptr);
    EXPECT_EQ(JsonMember(object, std::string("k\0", 2)), nullptr);
    // A present null still counts as present and replaces the target.
    std::string out = "kept";
    EXPECT_TRUE(ReadJsonText(object, "n", out));
    EXPECT_EQ(out, "");
    EXPECT_EQ(object.size(), 2u);
}

TEST(JsonRead, LeadingDecimalReadsLikeAtoiAndSaturates) {
    struct Case {
        const char* text;
        int64_t value;
    };
    const Case cases[] = {
        {"", 0},
        {"x12", 0},
        {"12x", 12},
        {"\n\v\f\r\t 7", 7},
        {"-0", 0},
        {"--1", 0},
        {"+-1", 0},
        {"- 1", 0},
        {"9223372036854775807", std::numeric_limits<int64_t>::max()},
        {"9223372036854775808", std::numeric_limits<int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<int64_t>::min()},
        {"-9223372036854775809", std::numeric_limits<int64_t>::min()},
        {"000000000000000000000000000042", 42},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(LeadingDecimal(c.text), c.value);
    }
    EXPECT_EQ(RealToInt64(std::nan("")), 0);
    EXPECT_EQ(RealToInt64(-0.99), 0);
    EXPECT_EQ(RealToInt64(9.3e18), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(RealToInt64(-kInf), std::numeric_limits<int64_t>::min());
}

}  // namespace
