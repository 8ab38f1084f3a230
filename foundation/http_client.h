#pragma once
// The program's one HTTP(S) client: a thin object around one libcurl easy
// handle that runs a GET or a POST synchronously on the caller's thread and
// keeps the response body, the raw response header text and its parsed
// pairs, libcurl's result and error text, and the HTTP status.
//
// Redirects are followed, cookies are kept for the life of the client, every
// encoding libcurl knows is accepted, and HTTPS is verified against the CA
// bundle "curl-ca-bundle.crt" in the program folder. One client serves one
// thread at a time; distinct clients may run on different threads at once.

#include <curl/curl.h>

#include <atomic>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using HttpHeaderPairs = std::vector<std::pair<std::string, std::string>>;

class CHttpClient {
public:
    CHttpClient();
    ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    // Stores the URL for the next requests.
    void SetUrl(const std::string& url);
    // One GET; an empty URL keeps the one set before. True when libcurl
    // completed the transfer (whatever the HTTP status).
    bool Get(const std::string& url = std::string());
    // One POST of `body` as it stands (an empty body posts nothing) to the
    // URL set before. True when libcurl completed the transfer.
    bool Post(const std::string& body);

    // A header for the next request only. A value of a single line feed sends
    // the header with an empty value ("Name;" to libcurl).
    void AddHeader(const std::string& name, const std::string& value);
    // Passes a numeric option to the handle; it stays for later requests
    // (callers shorten the timeout or switch certificate checks off).
    void SetOption(CURLoption option, long value);
    // The same for a text option (a CA file, the protocols a redirect may
    // lead to); libcurl copies the text.
    void SetOption(CURLoption option, const std::string& value);

    // The most bytes a response body (and, separately, its header text) may
    // hold; 0, the default, sets no limit. A reply that grows past it fails
    // the transfer, whether or not it announced its length, with an error
    // text that says the reply was too large. Stays for later requests.
    void SetMaxBodySize(size_t bytes);
    // A flag the caller owns and raises to end a transfer early: it is read
    // at least once a second, also while connecting, and a raised flag
    // fails the transfer (and any later one until it is lowered). Null
    // forgets it. Stays for later requests.
    void SetAbortFlag(const std::atomic<bool>* flag) { abortFlag_ = flag; }
    bool WasAborted() const { return aborted_; }

    // True when the last transfer failed because the reply passed that limit.
    bool WasBodyTooLarge() const { return bodyTooLarge_; }

    // The HTTP status of the last transfer: 0 when no response arrived, -1
    // when libcurl has no figure.
    long GetResponseCode() const;
    std::string GetResponseBody() const { return body_; }
    // The raw header blocks of the last request (every response of a
    // redirect chain), and their (name, value) pairs.
    const std::string& GetResponseHeaderText() const { return headerText_; }
    const HttpHeaderPairs& GetResponseHeaders() const { return responseHeaders_; }
    // libcurl's text for the last failure; empty after a success.
    std::string GetErrorText() const { return errorBuffer_; }
    CURLcode GetLastResult() const { return lastResult_; }

    // The CA bundle of the program folder that HTTPS is verified against
    // unless a caller names another file.
    const std::string& GetDefaultCaBundle() const { return caBundle_; }

    // libcurl's percent-encoding of every byte that needs it; empty on failure.
    std::string PercentEncode(const std::string& text) const;

    inline static constexpr const char* kUserAgent =
        "Mozilla/5.0 (Windows NT 6.2; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/27.0.1453.94 "
        "Safari/537.36";
    inline static constexpr const char* kCaBundleName = "curl-ca-bundle.crt";

    // Splits raw header text into lines and each line once at its first
    // colon, trimming blanks and line ends from both sides; lines without a
    // colon, or with nothing at all after it, give no pair.
    static HttpHeaderPairs ParseResponseHeaders(std::string_view text);

private:
    struct CallbackContext {
        int isHeader;
        CHttpClient* client;
    };

    void Prepare();
    bool Perform();
    void Finish();
    static size_t WriteCallback(char* data, size_t size, size_t count, void* context);
    static int SocketOptionCallback(void* client, curl_socket_t fd, curlsocktype purpose);
    static int ProgressCallback(void* client, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    bool AbortRaised() const { return abortFlag_ && abortFlag_->load(); }

    static constexpr int kSendBufferBase = 65536;
    static constexpr long kDefaultTimeoutSeconds = 30;

    CURL* handle_ = nullptr;
    CallbackContext writeContext_{0, this};
    CallbackContext headerContext_{1, this};
    std::string url_;
    std::string postBody_;  // lives until the transfer ends: libcurl does not copy it
    CURLcode lastResult_ = CURLE_OK;
    HttpHeaderPairs requestHeaders_;
    HttpHeaderPairs responseHeaders_;
    std::string body_;
    std::string headerText_;
    std::string caBundle_;
    size_t maxBodySize_ = 0;
    bool bodyTooLarge_ = false;
    const std::atomic<bool>* abortFlag_ = nullptr;
    bool aborted_ = false;
    char errorBuffer_[CURL_ERROR_SIZE] = {0};
    curl_slist* headerList_ = nullptr;
};
