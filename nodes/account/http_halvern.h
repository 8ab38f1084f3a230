#pragma once
// The account, the login token, the last error and the HTTP client of the
// account-service client, and the wire protocol every request shares: the
// form body and one POST to a base URL of the service.
//
// The password travels in every request, so every request is verified HTTPS
// against the configured CA file, a redirect may only lead to HTTPS, and the
// password, the token and the request body never appear in an error text.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/http_client.h"

class CHTTPHalvern {
public:
    CHTTPHalvern();
    virtual ~CHTTPHalvern();
    CHTTPHalvern(const CHTTPHalvern&) = delete;
    CHTTPHalvern& operator=(const CHTTPHalvern&) = delete;

    // The requests; the base versions make none and return 1.
    virtual int Login();
    virtual int GetClientInfo();
    virtual int GetProduct();
    virtual int GetAllProxyList();
    // 1 when the reply carried a token, which is stored (logged in).
    virtual int ParseTokenReply(const std::string& body) = 0;
    // 1 when the proxy list was read.
    virtual int ParseProxyList(const std::string& body) = 0;

    // Stores the account (UTF-16 texts converted to UTF-8). A new account
    // forgets the token and the logged-in state of the old one.
    void SetAccountW(const std::wstring& email, const std::wstring& password);
    void SetAccount(const std::string& email, const std::string& password);

    // The last failure as UTF-8 text; when none is held, the HTTP client's
    // own text of the last transfer failure. May be empty.
    const std::string& GetLastErrorText();

    // The caller's stop request for every later request (null: none): a
    // raised flag ends the running transfer within a second and makes no
    // further attempt or fallback.
    void SetAbortFlag(const std::atomic<bool>* flag) { http_.SetAbortFlag(flag); }

    int IsLoggedIn() const { return loggedIn_; }
    // The token of the last token reply; meaningful only when logged in.
    uint32_t GetToken() const { return token_; }

    // The most bytes a reply may have.
    static constexpr size_t kMaxReplyBytes = 4u << 20;
    // The fixed access token of every request.
    static constexpr const char* kAccessToken = "wokz";
    // The service's one endpoint below a base URL.
    static constexpr const char* kEndpointPath = "/SSPANEL_API_MOD.php";

protected:
    enum class AttemptResult { kTransferFailed, kBadStatus, kOk };
    enum class Servers { kMainOnly, kMainThenFallback };

    // The form body of `command`: every value percent-encoded, the token
    // appended when `withToken`.
    std::string BuildBody(std::string_view command, bool withToken) const;

    // The request of one command: up to three attempts at the main base
    // while transfers fail and, for kMainThenFallback, one at the fallback
    // when the main base gave up or answered a status other than 200. `body`
    // receives the reply of the status-200 attempt. A status other than 200
    // sets the last error to "Login retrun: <status>" when `statusIsError`.
    // The last error is cleared when the first request goes out.
    AttemptResult Request(const std::string& formBody, Servers servers, bool statusIsError, std::string& body);

    int loggedIn_ = 0;
    int32_t retryCount_ = 3;
    std::string email_;
    std::string password_;
    std::string lastError_;
    uint32_t token_ = 0;
    CHttpClient http_;

private:
    // One POST of `formBody` to the endpoint below `baseUrl`; an empty base
    // makes no request and counts as a failed transfer.
    AttemptResult Attempt(const std::string& baseUrl, const std::string& formBody, bool& sentOne,
                          long& status, std::string& body);
};
