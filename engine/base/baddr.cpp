#include "engine/base/baddr.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>

void BIPAddr_InitInvalid(BIPAddr* addr) {
    std::memset(addr, 0, sizeof *addr);
    addr->type = BADDR_TYPE_NONE;
}

void BIPAddr_InitIPv4(BIPAddr* addr, uint32_t ip) {
    std::memset(addr, 0, sizeof *addr);
    addr->type = BADDR_TYPE_IPV4;
    addr->ipv4 = ip;
}

void BIPAddr_InitIPv6(BIPAddr* addr, const uint8_t* ip) {
    std::memset(addr, 0, sizeof *addr);
    addr->type = BADDR_TYPE_IPV6;
    std::memcpy(addr->ipv6, ip, 16);
}

namespace {

// Looks up `name` (length `len`, not terminated) in one family.
int LookupName(const char* name, size_t len, int family, int noresolve, BIPAddr* out) {
    if (len > BADDR_MAX_NAME_LEN) return 0;
    char buf[BADDR_MAX_NAME_LEN + 1];
    std::memcpy(buf, name, len);
    buf[len] = '\0';

    addrinfo hints{};
    hints.ai_family = family;
    if (noresolve) hints.ai_flags = AI_NUMERICHOST;
    addrinfo* res = nullptr;
    if (getaddrinfo(buf, nullptr, &hints, &res) != 0 || !res) return 0;
    int ok = 0;
    if (family == AF_INET && res->ai_addr && res->ai_addrlen >= sizeof(sockaddr_in) &&
        res->ai_addr->sa_family == AF_INET) {
        BIPAddr_InitIPv4(out, reinterpret_cast<const sockaddr_in*>(res->ai_addr)->sin_addr.s_addr);
        ok = 1;
    } else if (family == AF_INET6 && res->ai_addr && res->ai_addrlen >= sizeof(sockaddr_in6) &&
               res->ai_addr->sa_family == AF_INET6) {
        BIPAddr_InitIPv6(out, reinterpret_cast<const sockaddr_in6*>(res->ai_addr)->sin6_addr.s6_addr);
        ok = 1;
    }
    freeaddrinfo(res);
    return ok;
}

}  // namespace

int BIPAddr_Resolve(const char* str, BIPAddr* out, int noresolve) {
    if (!str) return 0;
    size_t len = std::strlen(str);
    if (len >= 2 && str[0] == '[' && str[len - 1] == ']') {
        return LookupName(str + 1, len - 2, AF_INET6, noresolve, out);
    }
    return LookupName(str, len, AF_INET, noresolve, out);
}

void BIPAddr_ToText(const BIPAddr* addr, char* out) {
    switch (addr->type) {
        case BADDR_TYPE_NONE:
            std::snprintf(out, BIPADDR_MAX_PRINT_LEN, "(none)");
            break;
        case BADDR_TYPE_IPV4: {
            const auto* b = reinterpret_cast<const uint8_t*>(&addr->ipv4);
            std::snprintf(out, BIPADDR_MAX_PRINT_LEN, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
            break;
        }
        case BADDR_TYPE_IPV6: {
            const uint8_t* b = addr->ipv6;
            unsigned g[8];
            for (int i = 0; i < 8; ++i) g[i] = static_cast<unsigned>(b[2 * i] << 8 | b[2 * i + 1]);
            std::snprintf(out, BIPADDR_MAX_PRINT_LEN, "%x:%x:%x:%x:%x:%x:%x:%x", g[0], g[1], g[2], g[3], g[4],
                          g[5], g[6], g[7]);
            break;
        }
        default:
            break;
    }
}

void BAddr_InitNone(BAddr* addr) {
    std::memset(addr, 0, sizeof *addr);
    addr->type = BADDR_TYPE_NONE;
}

void BAddr_InitIPv4(BAddr* addr, uint32_t ip, uint16_t port) {
    std::memset(addr, 0, sizeof *addr);
    addr->type = BADDR_TYPE_IPV4;
    addr->ipv4.ip = ip;
    addr->ipv4.port = port;
}

void BAddr_InitIPv6(BAddr* addr, const uint8_t* ip, uint16_t port) {
    std::memset(addr, 0, sizeof *addr);
    addr->type = BADDR_TYPE_IPV6;
    std::memcpy(addr->ipv6.ip, ip, 16);
    addr->ipv6.port = port;
}

void BAddr_InitFromIPAddr(BAddr* addr, const BIPAddr* ip, uint16_t port) {
    switch (ip->type) {
        case BADDR_TYPE_IPV4:
            BAddr_InitIPv4(addr, ip->ipv4, port);
            break;
        case BADDR_TYPE_IPV6:
            BAddr_InitIPv6(addr, ip->ipv6, port);
            break;
        default:
            BAddr_InitNone(addr);
            break;
    }
}

uint16_t BAddr_GetPort(const BAddr* addr) {
    switch (addr->type) {
        case BADDR_TYPE_IPV4:
            return addr->ipv4.port;
        case BADDR_TYPE_IPV6:
            return addr->ipv6.port;
        default:
            return 0;
    }
}

int BAddr_Parse2(const char* str, BAddr* out, int noresolve) {
    if (!str) return 0;
    size_t len = std::strlen(str);
    if (len < 1 || len > 1000) return 0;

    const char* addr_start;
    size_t addr_len;
    const char* port_start;
    int family;
    if (str[0] == '[') {
        const char* close = static_cast<const char*>(std::memchr(str, ']', len));
        if (!close || close + 1 >= str + len || close[1] != ':') return 0;
        addr_start = str + 1;
        addr_len = static_cast<size_t>(close - addr_start);
        port_start = close + 2;
        family = AF_INET6;
    } else {
        const char* colon = static_cast<const char*>(std::memchr(str, ':', len));
        if (!colon) return 0;
        addr_start = str;
        addr_len = static_cast<size_t>(colon - str);
        port_start = colon + 1;
        family = AF_INET;
    }
    size_t port_len = static_cast<size_t>(str + len - port_start);
    if (addr_len >= BADDR_MAX_NAME_LEN || port_len == 0 || port_len >= 6) return 0;

    unsigned long port = 0;
    for (size_t i = 0; i < port_len; ++i) {
        int d = DecimalDigitValue(port_start[i]);
        if (d < 0) return 0;
        port = port * 10 + static_cast<unsigned long>(d);
    }
    if (port > 65535) return 0;

    BIPAddr ip;
    if (!LookupName(addr_start, addr_len, family, noresolve, &ip)) return 0;
    BAddr_InitFromIPAddr(out, &ip, htons(static_cast<uint16_t>(port)));
    return 1;
}

void BAddr_ToText(const BAddr* addr, char* out) {
    BIPAddr ip;
    switch (addr->type) {
        case BADDR_TYPE_NONE:
            std::snprintf(out, BADDR_MAX_PRINT_LEN, "(none)");
            return;
        case BADDR_TYPE_IPV4:
            BIPAddr_InitIPv4(&ip, addr->ipv4.ip);
            break;
        case BADDR_TYPE_IPV6:
            BIPAddr_InitIPv6(&ip, addr->ipv6.ip);
            break;
        default:
            return;
    }
    char text[BIPADDR_MAX_PRINT_LEN];
    BIPAddr_ToText(&ip, text);
    std::snprintf(out, BADDR_MAX_PRINT_LEN, "%s:%u", text, static_cast<unsigned>(ntohs(BAddr_GetPort(addr))));
}

int BAddr_Compare(const BAddr* a, const BAddr* b) {
    if (a->type != b->type) return a->type < b->type ? -1 : 1;
    switch (a->type) {
        case BADDR_TYPE_IPV4: {
            uint32_t ia = ntohl(a->ipv4.ip), ib = ntohl(b->ipv4.ip);
            if (ia != ib) return ia < ib ? -1 : 1;
            uint16_t pa = ntohs(a->ipv4.port), pb = ntohs(b->ipv4.port);
            if (pa != pb) return pa < pb ? -1 : 1;
            return 0;
        }
        case BADDR_TYPE_IPV6: {
            int c = std::memcmp(a->ipv6.ip, b->ipv6.ip, 16);
            if (c != 0) return c < 0 ? -1 : 1;
            uint16_t pa = ntohs(a->ipv6.port), pb = ntohs(b->ipv6.port);
            if (pa != pb) return pa < pb ? -1 : 1;
            return 0;
        }
        default:
            return 0;
    }
}

int DecimalDigitValue(char c) {
    return (c >= '0' && c <= '9') ? c - '0' : -1;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

namespace {

// Exactly four decimal parts, each 0..255, no leading zeros, none empty.
bool ParseEmbeddedIPv4(const char* s, size_t len, uint8_t* out) {
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= len || s[pos] != '.') return false;
            ++pos;
        }
        size_t start = pos;
        unsigned value = 0;
        while (pos < len && DecimalDigitValue(s[pos]) >= 0) {
            value = value * 10 + static_cast<unsigned>(DecimalDigitValue(s[pos]));
            ++pos;
            if (pos - start > 3) return false;
        }
        size_t digits = pos - start;
        if (digits == 0 || value > 255 || (digits > 1 && s[start] == '0')) return false;
        out[part] = static_cast<uint8_t>(value);
    }
    return pos == len;
}

}  // namespace

int IPv6Text_Parse(const char* str, size_t len, uint8_t* out) {
    if (!str) return 0;
    uint16_t head[8];
    uint16_t tail[8];
    int nhead = 0, ntail = 0;
    bool compressed = false;
    size_t pos = 0;

    if (len >= 2 && str[0] == ':' && str[1] == ':') {
        compressed = true;
        pos = 2;
    } else if (len >= 1 && str[0] == ':') {
        return 0;  // a lone leading colon
    }

    while (pos < len) {
        int total = nhead + ntail;
        // A dotted IPv4 tail: the rest of the text contains a '.' before any ':'.
        size_t scan = pos;
        while (scan < len && str[scan] != ':' && str[scan] != '.') ++scan;
        if (scan < len && str[scan] == '.') {
            if (total + 2 > 8) return 0;
            uint8_t v4[4];
            if (!ParseEmbeddedIPv4(str + pos, len - pos, v4)) return 0;
            uint16_t g1 = static_cast<uint16_t>(v4[0] << 8 | v4[1]);
            uint16_t g2 = static_cast<uint16_t>(v4[2] << 8 | v4[3]);
            uint16_t* dst = compressed ? tail : head;
            int& n = compressed ? ntail : nhead;
            dst[n++] = g1;
            dst[n++] = g2;
            pos = len;
            break;
        }
        // A hexadecimal group of 1 to 4 digits.
        size_t start = pos;
        unsigned value = 0;
        while (pos < len && HexDigitValue(str[pos]) >= 0) {
            value = value * 16 + static_cast<unsigned>(HexDigitValue(str[pos]));
            ++pos;
            if (pos - start > 4) return 0;
        }
        if (pos == start) return 0;
        if (total + 1 > 8) return 0;
        if (compressed) {
            tail[ntail++] = static_cast<uint16_t>(value);
        } else {
            head[nhead++] = static_cast<uint16_t>(value);
        }
        if (pos == len) break;
        if (str[pos] != ':') return 0;
        ++pos;
        if (pos < len && str[pos] == ':') {
            if (compressed) return 0;  // a second "::"
            compressed = true;
            ++pos;
        } else if (pos == len) {
            return 0;  // a trailing single colon
        }
    }

    int total = nhead + ntail;
    if (compressed) {
        if (total > 7) return 0;  // "::" stands for at least one group
    } else if (total != 8) {
        return 0;
    }
    uint16_t groups[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < nhead; ++i) groups[i] = head[i];
    for (int i = 0; i < ntail; ++i) groups[8 - ntail + i] = tail[i];
    for (int i = 0; i < 8; ++i) {
        out[2 * i] = static_cast<uint8_t>(groups[i] >> 8);
        out[2 * i + 1] = static_cast<uint8_t>(groups[i]);
    }
    return 1;
}
