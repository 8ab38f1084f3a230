#include "foundation/text_format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

// Wide formatting reports "too small" and "cannot format" alike, so the
// buffer grows only up to a limit.
constexpr size_t kMaxWideFormat = size_t(1) << 20;

bool VFormat(std::string& out, const char* format, va_list args) {
    out.clear();
    if (!format) return false;
    va_list probe;
    va_copy(probe, args);
    int n = std::vsnprintf(nullptr, 0, format, probe);
    va_end(probe);
    if (n < 0) return false;
    out.resize(static_cast<size_t>(n));
    std::vsnprintf(out.data(), out.size() + 1, format, args);
    return true;
}

}  // namespace

char* FormatNew(const char* format, ...) {
    std::string text;
    va_list args;
    va_start(args, format);
    bool ok = VFormat(text, format, args);
    va_end(args);
    if (!ok || text.empty()) return nullptr;
    char* p = new char[text.size() + 1];
    std::memcpy(p, text.c_str(), text.size() + 1);
    return p;
}

void FormatString(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    VFormat(out, format, args);
    va_end(args);
}

void FormatStringW(std::wstring& out, const wchar_t* format, ...) {
    out.clear();
    if (!format) return;
    for (size_t cap = 256; cap <= kMaxWideFormat; cap *= 2) {
        std::vector<wchar_t> buf(cap);
        va_list args;
        va_start(args, format);
        int n = std::vswprintf(buf.data(), cap, format, args);
        va_end(args);
        if (n >= 0) {
            out.assign(buf.data(), static_cast<size_t>(n));
            return;
        }
    }
}

std::wstring IntToWString(int value) {
    return std::to_wstring(value);
}

std::wstring FormatLocalTime(const wchar_t* format, int64_t time) {
    if (!format) format = L"%Y-%m-%d %H:%M:%S";
    std::time_t t = time == 0 ? std::time(nullptr) : static_cast<std::time_t>(time);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return {};
    if (!*format) return {};
    // wcsftime returns 0 both for "too small" and for an empty result.
    for (size_t cap = 64; cap <= 65536; cap *= 2) {
        std::vector<wchar_t> buf(cap);
        size_t n = std::wcsftime(buf.data(), cap, format, &tm);
        if (n > 0) return std::wstring(buf.data(), n);
    }
    return {};
}

std::wstring FormatByteSize(int64_t bytes) {
    wchar_t buf[64];
    if (bytes < 0) return L"0 B";
    if (bytes > 1073741824LL)
        std::swprintf(buf, 64, L"%.2f G", static_cast<double>(bytes) / 1073741824.0);
    else if (bytes > 1048576LL)
        std::swprintf(buf, 64, L"%.2f M", static_cast<double>(bytes) / 1048576.0);
    else if (bytes > 1024)
        std::swprintf(buf, 64, L"%.2f K", static_cast<double>(bytes) / 1024.0);
    else
        std::swprintf(buf, 64, L"%d B", static_cast<int>(bytes));
    return buf;
}
