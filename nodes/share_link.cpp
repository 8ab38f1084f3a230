#include "nodes/share_link.h"

#include <string_view>
#include <vector>

#include "ciphers/name_tables.h"
#include "foundation/ascii_case.h"
#include "foundation/base64.h"
#include "foundation/key_values.h"
#include "foundation/string_util.h"
#include "foundation/url_encode.h"

namespace {

// A decimal number made of digits only (blanks around it allowed), at most `max`.
bool ParseDecimal(std::string_view text, uint32_t max, uint32_t* value) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return false;
    text = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    uint32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint32_t>(c - '0');
        if (v > max) return false;  // checked per digit, so nothing overflows
    }
    *value = v;
    return true;
}

bool ParsePort(std::string_view text, uint16_t* port) {
    uint32_t v = 0;
    if (!ParseDecimal(text, 65535, &v) || v == 0) return false;
    *port = static_cast<uint16_t>(v);
    return true;
}

std::vector<std::string> Split(std::string_view text, std::string_view sep) {
    std::vector<std::string> pieces;
    SplitString(text, sep, pieces, true);
    return pieces;
}

// The text after the n-th `c` (n >= 1); empty when there are fewer.
std::string AfterNth(const std::string& text, char c, int n) {
    size_t at = std::string::npos;
    for (int i = 0; i < n; ++i) {
        at = text.find(c, at == std::string::npos ? 0 : at + 1);
        if (at == std::string::npos) return {};
    }
    return text.substr(at + 1);
}

bool IsBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '-' || c == '_';
}

// Decodes a Base64 text of either alphabet (the URL-safe one is what most
// links carry). False when anything but "=" padding (also written %3D) and
// trailing blanks follows the characters, or one is left over: the decoder
// would stop there and hand back an address or password cut short that
// still looks valid (a port of 838 for 8388).
bool DecodeBase64Text(std::string_view text, std::string* out) {
    size_t last = text.find_last_not_of(" \t\r\n");
    text = last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
    size_t length = 0;
    while (length < text.size() && IsBase64Char(text[length])) ++length;
    for (size_t i = length; i < text.size();) {
        if (text[i] == '=') {
            ++i;
        } else if (AsciiEqualsNoCase(text.substr(i, 3), "%3D")) {
            i += 3;
        } else {
            return false;
        }
    }
    if (length % 4 == 1) return false;
    *out = Base64UrlDecode(text.substr(0, length));
    return true;
}

// Host trimmed and present, port valid: what every scheme requires.
bool TakeAddress(std::string host, std::string_view portText, std::string& outHost, uint16_t& outPort) {
    TrimString(host, " ");
    if (host.empty() || !ParsePort(portText, &outPort)) return false;
    outHost = std::move(host);
    return true;
}

std::unique_ptr<CNodeInfo> BuildLinkNode(NodeParams& p) {
    p.serviceState = 1;
    p.countryIndex = -1;
    p.spareFlag = 1;
    return BuildNodeFromParams(p);
}

}  // namespace

std::unique_ptr<CNodeInfo> ParseShareLink(std::string link) {
    // Only the first "//" ends the scheme: Base64 bodies and remarks may hold more.
    size_t slashes = link.find("//");
    if (slashes == std::string::npos) return nullptr;
    std::string_view scheme(link.data(), slashes);
    std::string body = link.substr(slashes + 2);
    if (AsciiEqualsNoCase(scheme, "ss:")) return ParseSsLink(std::move(body));
    if (AsciiEqualsNoCase(scheme, "ssr:")) return ParseSsrLink(std::move(body));
    if (AsciiEqualsNoCase(scheme, "xvantor:")) return ParseVantorLink(std::move(body));
    return nullptr;
}

std::unique_ptr<CNodeInfo> ParseSsLink(std::string body) {
    if (body.empty()) return nullptr;
    NodeParams p;
    p.type = NodeTypeSSR;

    // Remarks follow the first "#", in both forms; the form is told by an "@"
    // before them (an "@" inside the remarks does not count).
    std::string head = body;
    if (size_t hash = body.find('#'); hash != std::string::npos) {
        p.remarks = UrlDecode(std::string_view(body).substr(hash + 1));
        head = body.substr(0, hash);
    }
    std::string main = head;
    if (head.find('@') == std::string::npos && !DecodeBase64Text(head, &main)) return nullptr;
    if (main.empty()) return nullptr;

    size_t at = main.rfind('@');
    if (at == std::string::npos) return nullptr;
    std::string userinfo = main.substr(0, at);
    std::string hostport = main.substr(at + 1);
    // A path or plug-in query after the port ("/?plugin=...") is not ours to read.
    hostport = hostport.substr(0, hostport.find_first_of("/?"));
    if (userinfo.find(':') == std::string::npos) {
        std::string decoded;
        if (!DecodeBase64Text(userinfo, &decoded)) return nullptr;
        userinfo = std::move(decoded);
    }

    std::vector<std::string> info = Split(userinfo, ":");
    std::vector<std::string> address = Split(hostport, ":");
    if (info.size() < 2 || address.size() != 2) return nullptr;

    p.protocol = "origin";
    p.obfs = "plain";
    if (IsCipherName(info[0])) {
        // method:password, the password being the rest, colons included.
        p.method = info[0];
        p.password = AfterNth(userinfo, ':', 1);
    } else if (info.size() >= 4 && IsCipherName(info[2])) {
        // obfs:protocol:method:password
        p.obfs = info[0];
        p.protocol = info[1];
        p.method = info[2];
        p.password = AfterNth(userinfo, ':', 3);
    } else {
        // Leading pieces of an unknown form are ignored; the cipher test below
        // refuses what is left when it names no cipher.
        p.method = info[info.size() - 2];
        p.password = info.back();
    }
    if (!IsAcceptedNodeCipher(NodeTypeSSR, p.method)) return nullptr;
    if (!TakeAddress(address[0], address[1], p.host, p.port)) return nullptr;
    return BuildLinkNode(p);
}

int ParseSsrLinkBody(const std::string& text, SsrLinkFields& out) {
    if (text.empty()) return 0;
    std::vector<std::string> parts = Split(text, "/?");
    if (parts.empty()) return 0;
    std::vector<std::string> fields = Split(parts[0], ":");
    if (fields.size() != 6) return 0;

    if (!TakeAddress(fields[0], fields[1], out.host, out.port)) return 0;
    out.protocol = fields[2];
    out.method = fields[3];
    out.obfs = fields[4];
    if (!DecodeBase64Text(fields[5], &out.password)) return 0;

    // With more than one "/?" the query is ignored and the body still counts.
    if (parts.size() != 2) return 1;
    std::vector<CKeyValuesA> pairs;
    if (ParseKeyValues(parts[1], "=", "&", pairs) == 0) return 1;

    auto firstText = [&](std::string_view key, std::string& field) {
        for (const auto& kv : pairs) {
            if (!kv.value.empty() && AsciiEqualsNoCase(kv.key, key)) {
                field = Base64UrlDecode(kv.value);
                return;
            }
        }
    };
    auto firstNumber = [&](std::string_view key, uint32_t max) -> uint32_t {
        for (const auto& kv : pairs) {
            if (!AsciiEqualsNoCase(kv.key, key)) continue;
            uint32_t v = 0;
            return ParseDecimal(kv.value, max, &v) ? v : 0;
        }
        return 0;
    };
    firstText("obfsparam", out.obfsParam);
    firstText("protoparam", out.protocolParam);
    firstText("remarks", out.remarks);
    firstText("group", out.group);
    out.udpPort = static_cast<uint16_t>(firstNumber("udpport", 65535));
    out.udpOverTcp = static_cast<uint8_t>(firstNumber("uot", 255));
    return 1;
}

std::unique_ptr<CNodeInfo> ParseSsrLink(std::string body) {
    if (body.empty()) return nullptr;
    // A body with ":" is already in clear.
    std::string decoded = body;
    if (body.find(':') == std::string::npos && !DecodeBase64Text(body, &decoded)) return nullptr;
    if (decoded.empty()) return nullptr;
    SsrLinkFields f;
    if (!ParseSsrLinkBody(decoded, f)) return nullptr;
    if (!IsAcceptedNodeCipher(NodeTypeSSR, f.method)) return nullptr;

    NodeParams p;
    p.type = NodeTypeSSR;
    p.host = std::move(f.host);
    p.port = f.port;
    p.password = std::move(f.password);
    p.method = std::move(f.method);
    p.remarks = std::move(f.remarks);
    p.protocol = std::move(f.protocol);
    p.obfs = std::move(f.obfs);
    ReplaceAll(p.protocol, "_compatible", "");
    ReplaceAll(p.obfs, "_compatible", "");
    p.obfsParam = std::move(f.obfsParam);
    p.protocolParam = std::move(f.protocolParam);
    p.group = std::move(f.group);
    p.udpPort = f.udpPort;
    p.udpOverTcp = f.udpOverTcp;
    return BuildLinkNode(p);
}

std::unique_ptr<CNodeInfo> ParseVantorLink(std::string body) {
    // user:method:password@type:host:port, in clear or as one Base64 text.
    if (body.empty()) return nullptr;
    std::string main = body;
    if (body.find('@') == std::string::npos) {
        std::string decoded;
        if (DecodeBase64Text(body, &decoded) && !decoded.empty()) main = std::move(decoded);
    }
    size_t at = main.rfind('@');
    if (at == std::string::npos) return nullptr;
    std::vector<std::string> account = Split(std::string_view(main).substr(0, at), ":");
    std::vector<std::string> server = Split(std::string_view(main).substr(at + 1), ":");
    if (account.size() != 3 || server.size() != 3) return nullptr;

    NodeParams p;
    uint32_t type = 0;
    if (!ParseDecimal(server[0], 6, &type) || type < NodeTypeHttp) return nullptr;
    p.type = static_cast<int32_t>(type);
    p.user = account[0];
    p.method = account[1];
    p.password = account[2];
    if (!IsAcceptedNodeCipher(p.type, p.method)) return nullptr;
    if (!TakeAddress(server[1], server[2], p.host, p.port)) return nullptr;
    return BuildLinkNode(p);
}
