#include "nodes/account/json_read.h"

#include <cmath>
#include <limits>
#include <memory>

namespace {

// One builder for every parse: newCharReader is a const operation, so readers
// may be made on many threads at once.
const Json::CharReaderBuilder& ReaderBuilder() {
    static const Json::CharReaderBuilder builder = [] {
        Json::CharReaderBuilder b;
        b["collectComments"] = false;
        b["allowComments"] = false;
        // Deep enough for every reply; shallow enough for the probes' small stacks.
        b["stackLimit"] = 64;
        b["failIfExtra"] = true;
        b["allowSpecialFloats"] = false;
        b["rejectDupKeys"] = false;
        b["strictRoot"] = false;
        return b;
    }();
    return builder;
}

template <class T>
T Clamp64(int64_t v) {
    if (v < static_cast<int64_t>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (v > static_cast<int64_t>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(v);
}

std::string_view StringBytes(const Json::Value& value) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!value.getString(&begin, &end) || !begin) return {};
    return std::string_view(begin, static_cast<size_t>(end - begin));
}

// Integer kinds, reals and strings as a signed 64-bit figure (saturated);
// booleans 1 or 0; other kinds 0.
int64_t AsInt64(const Json::Value& value) {
    switch (value.type()) {
        case Json::intValue:
            return value.asLargestInt();
        case Json::uintValue: {
            Json::LargestUInt u = value.asLargestUInt();
            return u > static_cast<Json::LargestUInt>(std::numeric_limits<int64_t>::max())
                       ? std::numeric_limits<int64_t>::max()
                       : static_cast<int64_t>(u);
        }
        case Json::realValue:
            return RealToInt64(value.asDouble());
        case Json::stringValue:
            return LeadingDecimal(StringBytes(value));
        case Json::booleanValue:
            return value.asBool() ? 1 : 0;
        default:
            return 0;
    }
}

template <class T, class Convert>
bool ReadMember(const Json::Value& object, std::string_view key, T& out, Convert convert) {
    const Json::Value* member = JsonMember(object, key);
    if (member) out = convert(*member);
    return member != nullptr;
}

}  // namespace

bool ParseJsonText(std::string_view text, Json::Value& root) {
    root = Json::Value();
    try {
        std::unique_ptr<Json::CharReader> reader(ReaderBuilder().newCharReader());
        Json::Value parsed;
        const char* begin = text.data();
        if (!begin) begin = "";
        if (!reader->parse(begin, begin + text.size(), &parsed, nullptr)) return false;
        root.swap(parsed);
        return true;
    } catch (...) {
        // Too deep, out of memory or any other complaint of the library.
        root = Json::Value();
        return false;
    }
}

const Json::Value* JsonMember(const Json::Value& value, std::string_view key) {
    if (!value.isObject()) return nullptr;
    return value.find(key.data(), key.data() + key.size());
}

int64_t LeadingDecimal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulate toward the sign so that INT64_MIN itself is reachable.
    int64_t value = 0;
    const int64_t lo = std::numeric_limits<int64_t>::min();
    const int64_t hi = std::numeric_limits<int64_t>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        if (negative) {
            value = value < (lo + digit) / 10 ? lo : value * 10 - digit;
        } else {
            value = value > (hi - digit) / 10 ? hi : value * 10 + digit;
        }
    }
    return value;
}

int64_t RealToInt64(double value) {
    if (std::isnan(value)) return 0;
    // 2^63 is exactly representable; everything at or past it saturates.
    if (value >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    if (value <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

std::string JsonText(const Json::Value& value) {
    if (value.isString()) return std::string(StringBytes(value));
    if (value.isBool()) return value.asBool() ? "true" : "false";
    return std::string();
}

int32_t JsonInt(const Json::Value& value) {
    return Clamp64<int32_t>(AsInt64(value));
}

uint32_t JsonUInt(const Json::Value& value) {
    if (value.type() == Json::uintValue) {
        Json::LargestUInt u = value.asLargestUInt();
        return u > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                        : static_cast<uint32_t>(u);
    }
    return Clamp64<uint32_t>(AsInt64(value));
}

double JsonReal(const Json::Value& value) {
    switch (value.type()) {
        case Json::intValue:
            return static_cast<double>(value.asLargestInt());
        case Json::uintValue:
            return static_cast<double>(value.asLargestUInt());
        case Json::realValue:
            return value.asDouble();
        case Json::stringValue:
            return static_cast<double>(LeadingDecimal(StringBytes(value)));
        case Json::booleanValue:
            return value.asBool() ? 1.0 : 0.0;
        default:
            return 0.0;
    }
}

bool JsonBool(const Json::Value& value) {
    switch (value.type()) {
        case Json::intValue:
            return value.asLargestInt() != 0;
        case Json::uintValue:
            return value.asLargestUInt() != 0;
        case Json::realValue:
            return value.asDouble() != 0.0;
        case Json::stringValue:
            return !StringBytes(value).empty();
        case Json::booleanValue:
            return value.asBool();
        case Json::arrayValue:
        case Json::objectValue:
            return value.size() != 0;
        default:
            return false;
    }
}

bool ReadJsonText(const Json::Value& object, std::string_view key, std::string& out) {
    return ReadMember(object, key, out, JsonText);
}
bool ReadJsonInt(const Json::Value& object, std::string_view key, int32_t& out) {
    return ReadMember(object, key, out, JsonInt);
}
bool ReadJsonUInt(const Json::Value& object, std::string_view key, uint32_t& out) {
    return ReadMember(object, key, out, JsonUInt);
}
bool ReadJsonReal(const Json::Value& object, std::string_view key, double& out) {
    return ReadMember(object, key, out, JsonReal);
}
bool ReadJsonBool(const Json::Value& object, std::string_view key, bool& out) {
    return ReadMember(object, key, out, JsonBool);
}
