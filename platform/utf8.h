#pragma once
// UTF-8 encoding of one code point, shared by every text codec of the program,
// and of wide text (one UTF-32 unit per wchar_t, or a UTF-16 surrogate pair).

#include <string>
#include <string_view>
#include <type_traits>

inline void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Every wide unit that is no Unicode scalar value becomes U+FFFD; a high and
// low surrogate pair is read as the one character it encodes.
inline std::string WideToUtf8(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        // wchar_t is signed here: negative units are no characters either.
        auto u = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(wide[i]));
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < wide.size()) {
            auto low = static_cast<char32_t>(wide[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if ((u >= 0xD800 && u <= 0xDFFF) || u > 0x10FFFF) u = 0xFFFD;
        AppendUtf8(out, u);
    }
    return out;
}
