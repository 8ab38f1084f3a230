#include "foundation/url_encode.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string UrlEncode(std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (IsAsciiAlnum(c)) {
            out += ch;
        } else {
            out += '%';
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        }
    }
    return out;
}

std::string UrlDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && text.size() - i >= 3) {
            // Like a base-16 conversion of the pair: it stops at the first non-digit.
            int value = 0;
            for (size_t k = i + 1; k <= i + 2; ++k) {
                int d = HexValue(text[k]);
                if (d < 0) break;
                value = value * 16 + d;
            }
            out += static_cast<char>(value);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}
