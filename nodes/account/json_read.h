#pragma once
// Parsing of service replies and data files, and the lenient readers through
// which every member of them is taken.
//
// Replies are untrusted input. Parsing never throws (JsonCpp's exceptions mean
// "not JSON"), nesting deeper than 64 levels is refused, comments are
// switched off, and text after the value makes the whole text "not JSON".
//
// The readers accept a member of any kind and convert it by fixed rules that
// the stored files and the service's replies rely on:
//   text      a string's bytes; true/false give "true"/"false"; any other kind "".
//   integer   integer kinds their value; a real cut toward zero; a string its
//             leading decimal digits read the way atoi reads them (blanks and a
//             sign first; no digits gives 0); true 1, false 0; null, array and
//             object 0.
//   real      integer kinds their value; a real itself; a string the integer
//             value of its leading digits; true 1.0, false 0.0; other kinds 0.
//   boolean   a number is true when not zero; a string when not empty (so
//             "false" is true); arrays and objects when they have members;
//             null is false.
// Values outside the target's range saturate at its limits (an unsigned target
// takes negative values as 0); NaN reads as 0. No conversion is undefined.

#include <json/json.h>

#include <cstdint>
#include <string>
#include <string_view>

// The root of `text` in `root`; false (root left null) when the text is not
// one complete JSON value or nests too deeply.
bool ParseJsonText(std::string_view text, Json::Value& root);

// The member `key` of `value`, or null when `value` is not an object or has no
// such member. Nothing is inserted.
const Json::Value* JsonMember(const Json::Value& value, std::string_view key);

std::string JsonText(const Json::Value& value);
int32_t JsonInt(const Json::Value& value);
uint32_t JsonUInt(const Json::Value& value);
double JsonReal(const Json::Value& value);
bool JsonBool(const Json::Value& value);

// Helpers for the common "present member replaces the target" pattern: the
// target is set only when the member exists; true when it did.
bool ReadJsonText(const Json::Value& object, std::string_view key, std::string& out);
bool ReadJsonInt(const Json::Value& object, std::string_view key, int32_t& out);
bool ReadJsonUInt(const Json::Value& object, std::string_view key, uint32_t& out);
bool ReadJsonReal(const Json::Value& object, std::string_view key, double& out);
bool ReadJsonBool(const Json::Value& object, std::string_view key, bool& out);

// Leading decimal digits of `text` as atoi reads them, saturated to int64.
int64_t LeadingDecimal(std::string_view text);
// A real cut toward zero into int64, saturating; NaN gives 0.
int64_t RealToInt64(double value);
