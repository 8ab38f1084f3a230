#include "foundation/crack_url.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <string_view>

#include "foundation/ascii_case.h"

namespace {

struct UrlHandleFree {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};

// One part of the parsed URL; empty when it is absent.
std::string GetPart(CURLU* u, CURLUPart what, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(u, what, &text, flags) != CURLUE_OK || !text) return {};
    std::string out(text);
    curl_free(text);
    return out;
}

int SchemeCode(std::string_view scheme) {
    static const struct {
        const char* name;
        int code;
    } kSchemes[] = {
        {"ftp", kUrlSchemeFtp},       {"gopher", kUrlSchemeGopher}, {"http", kUrlSchemeHttp},
        {"https", kUrlSchemeHttps},   {"file", kUrlSchemeFile},     {"news", kUrlSchemeNews},
        {"mailto", kUrlSchemeMailto},
    };
    for (const auto& s : kSchemes)
        if (AsciiEqualsNoCase(scheme, s.name)) return s.code;
    return kUrlSchemeUnknown;
}

std::string_view TrimBlanks(std::string_view s) {
    constexpr std::string_view kBlanks = " \t\r\n";
    size_t first = s.find_first_not_of(kBlanks);
    if (first == s.npos) return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

bool CrackUrlRaw(const char* url, UrlParts& parts, int& schemeCode, int& port) {
    schemeCode = kUrlSchemeUnknown;
    port = 0;
    parts = UrlParts{};
    if (!url) return false;
    std::unique_ptr<CURLU, UrlHandleFree> u(curl_url());
    if (!u) return false;
    // Spaces are encoded rather than refused, and dot segments are resolved,
    // as a browser would before it sends the request.
    std::string text(TrimBlanks(url));
    if (curl_url_set(u.get(), CURLUPART_URL, text.c_str(),
                     CURLU_NON_SUPPORT_SCHEME | CURLU_ALLOW_SPACE | CURLU_URLENCODE) != CURLUE_OK)
        return false;

    parts.scheme = GetPart(u.get(), CURLUPART_SCHEME);
    parts.user = GetPart(u.get(), CURLUPART_USER);
    parts.password = GetPart(u.get(), CURLUPART_PASSWORD);
    parts.host = GetPart(u.get(), CURLUPART_HOST);
    if (parts.host.size() >= 2 && parts.host.front() == '[' && parts.host.back() == ']')
        parts.host = parts.host.substr(1, parts.host.size() - 2);
    parts.path = GetPart(u.get(), CURLUPART_PATH);
    if (parts.path.empty()) parts.path.push_back('/');
    std::string query = GetPart(u.get(), CURLUPART_QUERY);
    if (!query.empty()) parts.path += "?" + query;
    std::string portText = GetPart(u.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    parts.port = portText.empty() ? 0 : std::atoi(portText.c_str());

    schemeCode = SchemeCode(parts.scheme);
    port = parts.port;
    return true;
}

bool CrackUrl(std::string& path, const char* url, int& schemeCode, std::string& host, int& port) {
    schemeCode = kUrlSchemeUnknown;
    if (!url) return false;
    std::string text(TrimBlanks(url));
    if (text.find("://") == std::string::npos) text = "http://" + text;
    UrlParts parts;
    if (!CrackUrlRaw(text.c_str(), parts, schemeCode, port)) return false;
    host = parts.host;
    path = parts.path;
    return true;
}
