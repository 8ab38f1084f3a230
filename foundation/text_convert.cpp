#include "foundation/text_convert.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <memory>
#include <type_traits>

#include "platform/utf8.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool InRange(unsigned char b, unsigned char lo, unsigned char hi) {
    return b >= lo && b <= hi;
}

// Decodes one character at s[i], advancing i. An ill-formed sequence yields
// U+FFFD and consumes its maximal valid prefix (at least one byte), so the
// byte that broke it is read again as the start of the next character.
char32_t DecodeOne(std::string_view s, size_t& i) {
    unsigned char b0 = static_cast<unsigned char>(s[i++]);
    if (b0 < 0x80) return b0;
    int more;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    char32_t cp;
    if (InRange(b0, 0xC2, 0xDF)) {
        more = 1;
        cp = b0 & 0x1F;
    } else if (InRange(b0, 0xE0, 0xEF)) {
        more = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0)
            lo = 0xA0;  // no overlong forms
        else if (b0 == 0xED)
            hi = 0x9F;  // no surrogates
    } else if (InRange(b0, 0xF0, 0xF4)) {
        more = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0)
            lo = 0x90;
        else if (b0 == 0xF4)
            hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return kReplacement;
    }
    for (int k = 0; k < more; ++k) {
        if (i >= s.size()) return kReplacement;
        unsigned char b = static_cast<unsigned char>(s[i]);
        if (k == 0 ? !InRange(b, lo, hi) : !InRange(b, 0x80, 0xBF)) return kReplacement;
        cp = (cp << 6) | (b & 0x3F);
        ++i;
    }
    return cp;
}

template <class Ch>
Ch* NewCopy(const std::basic_string<Ch>& s) {
    Ch* p = new Ch[s.size() + 1];
    std::memcpy(p, s.c_str(), (s.size() + 1) * sizeof(Ch));
    return p;
}

// The per-thread buffer behind one static conversion; allocated on first use
// so that pool threads with small stacks carry no large thread-local block.
template <class Ch, int Which>
Ch* StaticBuffer() {
    thread_local std::unique_ptr<Ch[]> buffer;
    if (!buffer) buffer = std::make_unique<Ch[]>(kStaticConvertUnits);
    return buffer.get();
}

template <class Ch, int Which>
const Ch* ToStatic(const std::basic_string<Ch>& s) {
    Ch* buf = StaticBuffer<Ch, Which>();
    size_t n = std::min(s.size(), kStaticConvertUnits - 2);
    if constexpr (sizeof(Ch) == 1) {
        // Never split a UTF-8 sequence: back off to the start of the character.
        if (n < s.size())
            while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(buf, s.data(), n * sizeof(Ch));
    buf[n] = 0;
    buf[kStaticConvertUnits - 1] = 0;
    return buf;
}

}  // namespace

std::wstring Utf8ToWideString(std::string_view utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) out += static_cast<wchar_t>(DecodeOne(utf8, i));
    return out;
}

std::wstring Utf8ToWideString(const char* utf8) {
    return utf8 ? Utf8ToWideString(std::string_view(utf8)) : std::wstring();
}

std::string WideToUtf8String(std::wstring_view wide) {
    return WideToUtf8(wide);
}

std::string WideToUtf8String(const wchar_t* wide) {
    return wide ? WideToUtf8String(std::wstring_view(wide)) : std::string();
}

std::string WideToAnsiString(std::wstring_view wide) {
    return WideToUtf8String(wide);
}
std::string WideToAnsiString(const wchar_t* wide) {
    return WideToUtf8String(wide);
}

wchar_t* Utf8ToWideNew(const char* utf8) {
    return utf8 ? NewCopy(Utf8ToWideString(std::string_view(utf8))) : nullptr;
}
wchar_t* AnsiToWideNew(const char* ansi) {
    return Utf8ToWideNew(ansi);
}
char* WideToUtf8New(const wchar_t* wide) {
    return wide ? NewCopy(WideToUtf8String(std::wstring_view(wide))) : nullptr;
}
char* WideToAnsiNew(const wchar_t* wide) {
    return WideToUtf8New(wide);
}

// Four buffers, one per direction, as callers may hold the result of one
// direction while converting in another.
const wchar_t* Utf8ToWideStatic(const char* utf8) {
    return ToStatic<wchar_t, 0>(Utf8ToWideString(utf8));
}
const wchar_t* AnsiToWideStatic(const char* ansi) {
    return ToStatic<wchar_t, 1>(Utf8ToWideString(ansi));
}
const char* WideToUtf8Static(const wchar_t* wide) {
    return ToStatic<char, 2>(WideToUtf8String(wide));
}
const char* WideToAnsiStatic(const wchar_t* wide) {
    return ToStatic<char, 3>(WideToUtf8String(wide));
}

std::wstring PathToWide(const std::filesystem::path& path) {
    return Utf8ToWideString(path.native());
}

std::filesystem::path WideToPath(std::wstring_view wide) {
    return std::filesystem::path(WideToUtf8String(wide));
}
