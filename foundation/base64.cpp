#include "foundation/base64.h"

#include <array>

#include "foundation/string_util.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of each byte in the alphabet, -1 for every other byte.
constexpr std::array<signed char, 256> MakeValues() {
    std::array<signed char, 256> v{};
    for (auto& x : v) x = -1;
    for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    return v;
}
constexpr std::array<signed char, 256> kValues = MakeValues();

}  // namespace

std::string Base64Encode(const void* data, size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    std::string out;
    if (!p || length == 0) return out;
    out.reserve((length + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        unsigned v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (size_t rest = length - i) {
        unsigned v = p[i] << 16;
        if (rest == 2) v |= p[i + 1] << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string Base64Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 2);
    unsigned acc = 0;
    int have = 0;
    for (char c : text) {
        int v = kValues[static_cast<unsigned char>(c)];
        if (v < 0) break;  // '=' and every other stranger end the text
        acc = (acc << 6) | static_cast<unsigned>(v);
        if (++have == 4) {
            out += static_cast<char>(acc >> 16);
            out += static_cast<char>(acc >> 8);
            out += static_cast<char>(acc);
            acc = 0;
            have = 0;
        }
    }
    if (have == 2) {
        out += static_cast<char>(acc >> 4);
    } else if (have == 3) {
        out += static_cast<char>(acc >> 10);
        out += static_cast<char>(acc >> 2);
    }
    return out;
}

std::string Base64UrlDecode(std::string_view text) {
    std::string s(text);
    ReplaceAll(s, "-", "+");
    ReplaceAll(s, "_", "/");
    s.append((4 - s.size() % 4) % 4, '=');
    return Base64Decode(s);
}
