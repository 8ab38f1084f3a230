#include "proxy/node_testing.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "foundation/crack_url.h"
#include "foundation/text_convert.h"
#include "foundation/translate.h"
#include "nodes/node_mgr.h"
#include "proxy/node_testing_detail.h"

const char* const kTcpTestUrls[4] = {
    "www.google.com",
    "www.bing.com",
    "www.wikipedia.org",
    "www.baidu.com",
};

namespace nodetest {

std::string BuildTestRequest(const std::string& path, const std::string& host) {
    std::string request = "GET ";
    request += path;
    request += " HTTP/1.1\r\nHost: ";
    request += host;
    request +=
        "\r\nConnection: keep-alive\r\n"
        "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,image/webp,*/*;q=0.8\r\n"
        "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
        "Chrome/43.0.2357.130 Safari/537.36\r\n"
        "Accept-Encoding: gzip, deflate, sdch\r\nAccept-Language: en-US,en;q=0.8\r\n\r\n";
    return request;
}

bool ParseTestUrl(const char* url, std::string* path, std::string* host, int* port) {
    int scheme = 0;
    if (!CrackUrl(*path, url, scheme, *host, *port) || host->empty() || *port <= 0 || *port > 65535) return false;
    if (path->empty()) path->push_back('/');
    return true;
}

int ConnectOnce(const NodeFields& fields, CNodeInfo* node, bool udp, bool nonBlocking, int waitSeconds,
                sockaddr_in* out, int* elapsedMs, bool* resolved) {
    if (node) node->CountConnectAttempt();
    sockaddr_in to{};
    *resolved = ResolveSockAddrCached(fields.port, &to, fields.host.c_str()) != 0;
    int s = -1;
    if (*resolved) {
        if (out) *out = to;
        s = ConnectSocketTo(to, udp, nonBlocking, elapsedMs, waitSeconds);
    }
    if (s < 0 && node) node->CountFailedAttempt();
    return s;
}

}  // namespace nodetest

CTestingBase::CTestingBase(TestLogCallback callback, void* userData, int option)
    : option_(option), userData_(userData), callback_(callback) {}

CTestingBase::~CTestingBase() = default;

void CTestingBase::LogRaw(int level, const std::string& text) {
    if (callback_ == nullptr) return;
    std::wstring wide = Utf8ToWideString(text);
    callback_(userData_, wide.c_str(), level);
}

bool CTestingBase::LogOutcome(bool ok, const char* passed, const char* failed) {
    Log(ok ? kTestLogPassed : kTestLogError, ok ? passed : failed);
    return ok;
}

void CTestingBase::Log(int level, const char* message) {
    if (callback_) LogRaw(level, Translate(message));
}

void CTestingBase::LogFormat(int level, const char* format, ...) {
    if (callback_ == nullptr) return;
    const char* translated = Translate(format);
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, translated, copy);
    va_end(copy);
    std::vector<char> text(n > 0 ? static_cast<size_t>(n) + 1 : 1, '\0');
    if (n > 0) vsnprintf(text.data(), text.size(), translated, args);
    va_end(args);
    LogRaw(level, text.data());
}

void CTestingBase::WriteHeader(CNodeInfo* node) {
    if (node == nullptr) return;
    std::string location;
    if (!node->locationText.empty()) {
        location += ' ';
        location += node->locationText;
        location += ' ';
        location += node->regionText;
    }
    LogFormat(kTestLogInfo, "Server IP: %s%s", "***", location.c_str());
    LogFormat(kTestLogInfo, "Server Port: %d", 0);
    if (node->type != NodeTypeSSR) {
        std::string type = "Type: ";
        type += GetProxyTypeName(node->type, 0);
        LogRaw(kTestLogInfo, type);
        LogFormat(kTestLogInfo, "Username: %s", "***");
    }
    LogFormat(kTestLogInfo, "Password: %s", "***");
    if (node->type == NodeTypeSSR) LogFormat(kTestLogInfo, "Encryption: %s / %s / %s", "***", "***", "***");
}
