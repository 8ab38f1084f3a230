#pragma once
// Splitting of URLs into their parts, for the node tests' test URLs.

#include <string>

// Scheme codes, as the node tests and their callers know them.
enum UrlSchemeCode : int {
    kUrlSchemeFtp = 1,
    kUrlSchemeGopher = 2,
    kUrlSchemeHttp = 3,
    kUrlSchemeHttps = 0x100B,
    kUrlSchemeFile = 0x1001,
    kUrlSchemeNews = 0x1006,
    kUrlSchemeMailto = 0x1002,
    kUrlSchemeUnknown = 0x1000,
};

struct UrlParts {
    std::string scheme;  // lower case
    std::string user;
    std::string password;
    std::string host;  // an IPv6 address without its brackets
    std::string path;  // path and query, percent-encoded; the fragment is dropped
    int port = 0;      // explicit, else the scheme's default, else 0
};

// Normalises and splits a URL that names its scheme. On failure returns false
// with the scheme code kUrlSchemeUnknown.
bool CrackUrlRaw(const char* url, UrlParts& parts, int& schemeCode, int& port);

// As CrackUrlRaw, for a text that may lack its scheme ("example.com/x" is
// read as http://example.com/x). Null text fails.
bool CrackUrl(std::string& path, const char* url, int& schemeCode, std::string& host, int& port);
