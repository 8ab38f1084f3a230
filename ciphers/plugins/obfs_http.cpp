#include "ciphers/plugins/obfs_http.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "ciphers/plugins/checksums.h"
#include "ciphers/plugins/plugin_buffers.h"
#include "foundation/private_heap.h"
#include "foundation/string_util.h"
#include "foundation/system_helpers.h"

const char* const kHttpUserAgents[12] = {
    "Mozilla/5.0 (Windows NT 6.3; WOW64; rv:40.0) Gecko/20100101 Firefox/40.0",
    "Mozilla/5.0 (Windows NT 6.3; WOW64; rv:40.0) Gecko/20100101 Firefox/44.0",
    "Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/41.0.2228.0 Safari/537.36",
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/535.11 (KHTML, like Gecko) Ubuntu/11.10 "
    "Chromium/27.0.1453.93 Chrome/27.0.1453.93 Safari/537.36",
    "Mozilla/5.0 (X11; Ubuntu; Linux x86_64; rv:35.0) Gecko/20100101 Firefox/35.0",
    "Mozilla/5.0 (compatible; WOW64; MSIE 10.0; Windows NT 6.2)",
    "Mozilla/5.0 (Windows; U; Windows NT 6.1; en-US) AppleWebKit/533.20.25 (KHTML, like Gecko) "
    "Version/5.0.4 Safari/533.20.27",
    "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.3; Trident/7.0; .NET4.0E; .NET4.0C)",
    "Mozilla/5.0 (Windows NT 6.3; Trident/7.0; rv:11.0) like Gecko",
    "Mozilla/5.0 (Linux; Android 4.4; Nexus 5 Build/BuildID) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Version/4.0 Chrome/30.0.0.0 Mobile Safari/537.36",
    "Mozilla/5.0 (iPad; CPU OS 5_0 like Mac OS X) AppleWebKit/534.46 (KHTML, like Gecko) Version/5.1 "
    "Mobile/9A334 Safari/7534.48.3",
    "Mozilla/5.0 (iPhone; CPU iPhone OS 5_0 like Mac OS X) AppleWebKit/534.46 (KHTML, like Gecko) "
    "Version/5.1 Mobile/9A334 Safari/7534.48.3",
};

namespace {

// Used as Host when neither the parameter nor the node names one.
constexpr const char* kDefaultHost = "www.bing.com";

std::string PercentEncode(const unsigned char* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(3 * n);
    for (size_t i = 0; i < n; ++i) {
        s += '%';
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

std::string Boundary() {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string s;
    for (int i = 0; i < 32; ++i) s += alphabet[RandomInt(61)];
    return s;
}

}  // namespace

CObfsHttpSimple::CObfsHttpSimple(std::string name, std::string param) : CObfs(std::move(name), std::move(param)) {
    ResetHttpState();
}

void CObfsHttpSimple::ResetHttpState() {
    headerSent_ = 0;
    responseSeen_ = 0;
    userAgentIndex_ = RandomInt(12) % 12;
    responseHead_.clear();
    responseHead_.shrink_to_fit();
}

void CObfsHttpSimple::SetIvKey(const unsigned char* iv, int ivLength, const unsigned char* key, int keyLength) {
    CObfs::SetIvKey(iv, ivLength, key, keyLength);
    ResetHttpState();
}

std::string CObfsHttpSimple::BuildRequestHead(const unsigned char* pathBytes, size_t count) const {
    const SSRServerInfo& info = serverInfo_;
    std::string hostList = !info.param.empty() ? info.param : info.host;
    if (hostList.empty()) hostList = kDefaultHost;

    std::string customHeader;
    std::vector<std::string> pieces;
    SplitString(hostList, "#", pieces, false);
    if (pieces.size() >= 2) {
        hostList = pieces[0];
        customHeader = pieces[1];
    }
    if (!customHeader.empty()) {
        TrimString(customHeader, " ");
        ReplaceAll(customHeader, "\\r", "");
        ReplaceAll(customHeader, "\\n", "\r\n");
    }

    std::string host = info.host;
    if (!hostList.empty()) {
        std::vector<std::string> hosts;
        SplitString(hostList, ",", hosts, false);
        if (hosts.size() > 1)
            host = hosts[static_cast<size_t>(RandomInt(static_cast<int>(hosts.size()))) % hosts.size()];
        else if (hosts.size() == 1)
            host = hosts[0];
        TrimString(host, " ");
    }
    std::string hostField = host;
    if (info.port != 80) hostField += ":" + std::to_string(info.port);

    const bool post = StringEquals(name_, "http_post", true);
    std::string extra;
    if (post) extra = "Content-Type: multipart/form-data; boundary=" + Boundary() + "\r\n";

    std::string head = post ? "POST /" : "GET /";
    head += PercentEncode(pathBytes, count);
    head += " HTTP/1.1\r\nHost: " + hostField + "\r\n";
    if (customHeader.empty()) {
        head += "User-Agent: ";
        head += kHttpUserAgents[userAgentIndex_];
        head +=
            "\r\nAccept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
            "Accept-Language: en-US,en;q=0.8\r\nAccept-Encoding: gzip, deflate\r\nDNT: 1\r\n";
        head += extra;
        head += "Connection: keep-alive\r\n\r\n";
    } else {
        head += extra;
        head += customHeader;
        head += "\r\n\r\n";
    }
    return head;
}

int CObfsHttpSimple::ClientEncode(unsigned char** data, int length, int, int* outLength) {
    if (headerSent_) {
        *outLength = length;
        return 1;
    }
    const size_t total = static_cast<size_t>(std::max(length, 0));
    const size_t headSize = std::min<size_t>(serverInfo_.ivLength + serverInfo_.headLength, total);
    std::string out = BuildRequestHead(*data, headSize);
    out.append(reinterpret_cast<const char*>(*data) + headSize, total - headSize);
    if (!plugin::HandOver(data, out, outLength)) return 0;
    headerSent_ = 1;
    return 1;
}

int CObfsHttpSimple::ClientDecode(unsigned char** data, int length, int, int* outLength, int* sendBack) {
    *sendBack = 0;
    if (responseSeen_) {
        *outLength = length;
        return 1;
    }
    *outLength = 0;
    responseHead_.append(plugin::View(*data, length));
    const size_t end = responseHead_.find("\r\n\r\n");
    if (end == std::string::npos) {
        // Not all of the head yet: wait for more, within reason.
        return responseHead_.size() <= kMaxResponseHead ? 1 : 0;
    }
    const std::string rest = responseHead_.substr(end + 4);
    responseHead_.clear();
    responseHead_.shrink_to_fit();
    responseSeen_ = 1;
    return plugin::HandOver(data, rest, outLength);
}

CObfsRandomHead::CObfsRandomHead(std::string param) : CObfsHttpSimple("random_head", std::move(param)) {}

CObfsRandomHead::~CObfsRandomHead() {
    CObfsRandomHead::SetIvKey(nullptr, 0, nullptr, 0);
}

void CObfsRandomHead::SetIvKey(const unsigned char* iv, int ivLength, const unsigned char* key, int keyLength) {
    CObfs::SetIvKey(iv, ivLength, key, keyLength);
    ResetHttpState();
    held_.clear();
    held_.shrink_to_fit();
}

std::string CObfsRandomHead::MakeHead(size_t randomLength) {
    std::string head = plugin::RandomString(randomLength + 4);
    plugin::AppendLe32(head, ~Crc32(plugin::Bytes(head), head.size()));
    return head;
}

int CObfsRandomHead::ClientEncode(unsigned char** data, int length, int, int* outLength) {
    if (!headerSent_) {
        const std::string head = MakeHead(static_cast<size_t>(RandomInt(96) % 96));
        held_.assign(plugin::View(*data, length));
        if (!plugin::HandOver(data, head, outLength)) return 0;
        headerSent_ = 1;
        return 1;
    }
    if (!responseSeen_) {
        held_.append(plugin::View(*data, length));
        *outLength = 0;
        return 1;
    }
    if (held_.empty()) {
        *outLength = length;
        return 1;
    }
    std::string out = std::move(held_);
    held_.clear();
    out.append(plugin::View(*data, length));
    return plugin::HandOver(data, out, outLength);
}

int CObfsRandomHead::ClientDecode(unsigned char**, int length, int, int* outLength, int* sendBack) {
    if (!responseSeen_) {
        // The server's first block only answers the head; what we held goes
        // out with the send-back upload.
        responseSeen_ = 1;
        *outLength = 0;
        *sendBack = 1;
        return 1;
    }
    *outLength = length;
    *sendBack = 0;
    return 1;
}
