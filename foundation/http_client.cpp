#include "foundation/http_client.h"

#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "foundation/app_paths.h"
#include "foundation/named_lock.h"

namespace {

// The one-time global initialisation, shared by every client.
CNamedLock& GlobalInitLock() {
    static CNamedLock lock(L"Unspecific", 0);
    return lock;
}
bool g_globalInitDone = false;

void InitCurlOnce() {
    CNamedLockGuard guard(&GlobalInitLock());
    if (g_globalInitDone) return;
    curl_global_init(CURL_GLOBAL_ALL);
    std::atexit(curl_global_cleanup);
    g_globalInitDone = true;
}

// The CA bundle in the program folder (the executable's folder when no
// program folder was fixed).
std::string CaBundlePath() {
    std::filesystem::path folder = GetAppDir();
    if (folder.empty()) {
        std::error_code ec;
        folder = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    }
    return (folder / CHttpClient::kCaBundleName).string();
}

constexpr std::string_view kBlanks = " \t\r\n";

std::string_view Trim(std::string_view s) {
    size_t b = s.find_first_not_of(kBlanks);
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(kBlanks) - b + 1);
}

}  // namespace

CHttpClient::CHttpClient() {
    InitCurlOnce();
    caBundle_ = CaBundlePath();
    handle_ = curl_easy_init();
    if (!handle_) return;
    // An empty cookie line switches the cookie engine on for this handle.
    curl_easy_setopt(handle_, CURLOPT_COOKIELIST, "");
    curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &CHttpClient::WriteCallback);
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &writeContext_);
    curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, &CHttpClient::WriteCallback);
    curl_easy_setopt(handle_, CURLOPT_HEADERDATA, &headerContext_);
    curl_easy_setopt(handle_, CURLOPT_ERRORBUFFER, errorBuffer_);
    // The progress callback runs about once a second even when nothing
    // moves, so a raised abort flag ends a stalled connect or reply too.
    curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, &CHttpClient::ProgressCallback);
    curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle_, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(handle_, CURLOPT_SOCKOPTFUNCTION, &CHttpClient::SocketOptionCallback);
    curl_easy_setopt(handle_, CURLOPT_SOCKOPTDATA, this);
    curl_easy_setopt(handle_, CURLOPT_CAINFO, caBundle_.c_str());
    curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle_, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle_, CURLOPT_AUTOREFERER, 1L);
    curl_easy_setopt(handle_, CURLOPT_BUFFERSIZE, 32768L);
    curl_easy_setopt(handle_, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(handle_, CURLOPT_TIMEOUT, kDefaultTimeoutSeconds);
    // Requests run on many threads: no signals for name-resolution timeouts.
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
}

CHttpClient::~CHttpClient() {
    if (handle_) curl_easy_cleanup(handle_);
    curl_slist_free_all(headerList_);
}

void CHttpClient::SetUrl(const std::string& url) {
    url_ = url;
    if (handle_) curl_easy_setopt(handle_, CURLOPT_URL, url_.c_str());
}

void CHttpClient::AddHeader(const std::string& name, const std::string& value) {
    requestHeaders_.emplace_back(name, value);
}

void CHttpClient::SetOption(CURLoption option, long value) {
    if (handle_) curl_easy_setopt(handle_, option, value);
}

void CHttpClient::SetOption(CURLoption option, const std::string& value) {
    if (handle_) curl_easy_setopt(handle_, option, value.c_str());
}

void CHttpClient::SetMaxBodySize(size_t bytes) {
    maxBodySize_ = bytes;
    // libcurl refuses an announced length past the limit before any body
    // byte arrives; the write callback catches everything else.
    if (handle_) curl_easy_setopt(handle_, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(bytes));
}

long CHttpClient::GetResponseCode() const {
    long code = 0;
    if (!handle_ || curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK) return -1;
    return code;
}

std::string CHttpClient::PercentEncode(const std::string& text) const {
    if (!handle_) return {};
    char* escaped = curl_easy_escape(handle_, text.data(), static_cast<int>(text.size()));
    if (!escaped) return {};
    std::string out(escaped);
    curl_free(escaped);
    return out;
}

bool CHttpClient::Get(const std::string& url) {
    if (!url.empty()) SetUrl(url);
    Prepare();
    if (handle_) curl_easy_setopt(handle_, CURLOPT_HTTPGET, 1L);
    return Perform();
}

bool CHttpClient::Post(const std::string& body) {
    Prepare();
    postBody_ = body;
    if (handle_) {
        curl_easy_setopt(handle_, CURLOPT_POST, 1L);
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postBody_.size()));
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, postBody_.c_str());
    }
    return Perform();
}

void CHttpClient::Prepare() {
    // An Expect header with no value keeps libcurl from sending its own, so a
    // POST body goes out at once instead of after an interim 100 response.
    requestHeaders_.emplace_back("Expect", "");
    responseHeaders_.clear();
    body_.clear();
    headerText_.clear();
    bodyTooLarge_ = false;
    aborted_ = false;
    errorBuffer_[0] = '\0';
    if (!handle_) return;
    curl_easy_setopt(handle_, CURLOPT_USERAGENT, kUserAgent);
    curl_slist_free_all(headerList_);
    headerList_ = nullptr;
    for (const auto& [name, value] : requestHeaders_) {
        std::string line = value == "\n" ? name + ";" : name + ": " + value;
        if (curl_slist* grown = curl_slist_append(headerList_, line.c_str())) headerList_ = grown;
    }
    curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headerList_);
    curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, static_cast<char*>(nullptr));
    curl_easy_setopt(handle_, CURLOPT_UPLOAD, 0L);
}

bool CHttpClient::Perform() {
    if (!handle_) {
        lastResult_ = CURLE_FAILED_INIT;
        std::strncpy(errorBuffer_, curl_easy_strerror(lastResult_), sizeof errorBuffer_ - 1);
    } else if (AbortRaised()) {
        // Stopped before it began: no connection is made.
        lastResult_ = CURLE_ABORTED_BY_CALLBACK;
        aborted_ = true;
        std::strncpy(errorBuffer_, "The request was cancelled.", sizeof errorBuffer_ - 1);
    } else {
        lastResult_ = curl_easy_perform(handle_);
        if (lastResult_ == CURLE_ABORTED_BY_CALLBACK && aborted_)
            std::strncpy(errorBuffer_, "The request was cancelled.", sizeof errorBuffer_ - 1);
        if (lastResult_ == CURLE_FILESIZE_EXCEEDED) bodyTooLarge_ = true;
        if (bodyTooLarge_) {
            if (lastResult_ == CURLE_OK) lastResult_ = CURLE_WRITE_ERROR;
            std::snprintf(errorBuffer_, sizeof errorBuffer_, "The reply was too large (more than %zu bytes).",
                          maxBodySize_);
            body_.clear();
        }
        if (lastResult_ != CURLE_OK && errorBuffer_[0] == '\0')
            std::strncpy(errorBuffer_, curl_easy_strerror(lastResult_), sizeof errorBuffer_ - 1);
    }
    Finish();
    return lastResult_ == CURLE_OK;
}

void CHttpClient::Finish() {
    requestHeaders_.clear();
    if (handle_) {
        curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, static_cast<char*>(nullptr));
        curl_easy_setopt(handle_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
    }
    curl_slist_free_all(headerList_);
    headerList_ = nullptr;
    postBody_.clear();
    responseHeaders_ = ParseResponseHeaders(headerText_);
}

size_t CHttpClient::WriteCallback(char* data, size_t size, size_t count, void* context) {
    auto* ctx = static_cast<CallbackContext*>(context);
    if (!ctx || !ctx->client) return 0;
    size_t bytes = size * count;
    CHttpClient& client = *ctx->client;
    std::string& target = ctx->isHeader ? client.headerText_ : client.body_;
    if (client.maxBodySize_ && (bytes > client.maxBodySize_ || target.size() > client.maxBodySize_ - bytes)) {
        // Returning less than was handed over makes libcurl end the transfer.
        client.bodyTooLarge_ = true;
        return 0;
    }
    target.append(data, bytes);
    return bytes;
}

int CHttpClient::SocketOptionCallback(void* /*client*/, curl_socket_t fd, curlsocktype /*purpose*/) {
    int sendBuffer = kSendBufferBase + 32;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    return CURL_SOCKOPT_OK;
}

int CHttpClient::ProgressCallback(void* client, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* self = static_cast<CHttpClient*>(client);
    if (!self || !self->AbortRaised()) return 0;
    self->aborted_ = true;
    return 1;  // libcurl ends the transfer with CURLE_ABORTED_BY_CALLBACK
}

HttpHeaderPairs CHttpClient::ParseResponseHeaders(std::string_view text) {
    HttpHeaderPairs pairs;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
        // Runs of colons count as one delimiter and never give an empty piece.
        size_t nameStart = line.find_first_not_of(':');
        if (nameStart == std::string_view::npos) continue;
        size_t colon = line.find(':', nameStart);
        if (colon == std::string_view::npos) continue;
        size_t valueStart = line.find_first_not_of(':', colon);
        if (valueStart == std::string_view::npos) continue;
        pairs.emplace_back(std::string(Trim(line.substr(nameStart, colon - nameStart))),
                           std::string(Trim(line.substr(valueStart))));
    }
    return pairs;
}
