// Address-text tests and masks of the system helpers.
#include <arpa/inet.h>

#include <cstring>

#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"

namespace {

// inet_addr's reading of the text; false for its failure value.
bool ParseInetAddr(const char* text, uint32_t* address) {
    in_addr_t a = inet_addr(text);
    if (a == INADDR_NONE) return false;
    *address = a;
    return true;
}

template <class Ch>
bool IsStrictDottedQuad(std::basic_string_view<Ch> text) {
    int parts = 0;
    size_t i = 0;
    while (true) {
        size_t start = i;
        unsigned value = 0;
        while (i < text.size() && i - start < 4 && text[i] >= Ch('0') && text[i] <= Ch('9')) {
            value = value * 10 + static_cast<unsigned>(text[i] - Ch('0'));
            ++i;
        }
        size_t digits = i - start;
        if (digits == 0 || digits > 3 || value > 255) return false;
        if (digits > 1 && text[start] == Ch('0')) return false;  // inet_addr would read octal
        if (parts == 0 && value == 0) return false;
        ++parts;
        if (parts == 4) return i == text.size();
        if (i >= text.size() || text[i] != Ch('.')) return false;
        ++i;
    }
}

}  // namespace

int IsAddressText(const char* text) {
    if (!text) return 0;
    if (std::strchr(text, ':')) return 1;
    uint32_t address;
    return ParseInetAddr(text, &address) ? 1 : 0;
}

int IsAddressTextW(const std::wstring& text) {
    if (text.empty()) return 0;
    return IsAddressText(WideToAnsiString(text).c_str());
}

int IsLoopbackText(const std::wstring& text) {
    uint32_t address;
    if (!ParseInetAddr(WideToAnsiString(text).c_str(), &address)) return 0;
    return IsLoopbackInAddr(address);
}

int IsLoopbackInAddr(uint32_t addressNetworkOrder) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&addressNetworkOrder);
    return bytes[0] == 127 ? 1 : 0;
}

int IsValidIPv4W(const std::wstring& text) {
    return IsStrictDottedQuad(std::wstring_view(text)) ? 1 : 0;
}

int IsValidIPv4(const std::string& text) {
    return IsStrictDottedQuad(std::string_view(text)) ? 1 : 0;
}

uint32_t PrefixToNetmask(int prefix) {
    if (prefix <= 0) return 0;
    if (prefix >= 32) return 0xFFFFFFFFu;
    return htonl(0xFFFFFFFFu << (32 - prefix));
}
