#include "nodes/account/http_halvern.h"

#include "foundation/text_convert.h"
#include "foundation/text_format.h"
#include "foundation/url_encode.h"
#include "nodes/account/service_config.h"

CHTTPHalvern::CHTTPHalvern() = default;
CHTTPHalvern::~CHTTPHalvern() = default;

int CHTTPHalvern::Login() {
    return 1;
}
int CHTTPHalvern::GetClientInfo() {
    return 1;
}
int CHTTPHalvern::GetProduct() {
    return 1;
}
int CHTTPHalvern::GetAllProxyList() {
    return 1;
}

void CHTTPHalvern::SetAccountW(const std::wstring& email, const std::wstring& password) {
    SetAccount(WideToUtf8String(email), WideToUtf8String(password));
}

void CHTTPHalvern::SetAccount(const std::string& email, const std::string& password) {
    email_ = email;
    password_ = password;
    // The token belongs to the account that logged in, not to the new one.
    token_ = 0;
    loggedIn_ = 0;
}

const std::string& CHTTPHalvern::GetLastErrorText() {
    if (lastError_.empty()) {
        std::string transferError = http_.GetErrorText();
        // Through wide text and back (the narrow code page is UTF-8): valid
        // UTF-8, whatever bytes libcurl wrote.
        if (!transferError.empty()) lastError_ = WideToUtf8String(Utf8ToWideString(transferError));
    }
    return lastError_;
}

std::string CHTTPHalvern::BuildBody(std::string_view command, bool withToken) const {
    // Every value is encoded: an '&' or '+' in the e-mail or the password
    // must arrive as itself, not split the body or turn into a space.
    std::string body = "command=" + UrlEncode(command) + "&acctoken=" + UrlEncode(kAccessToken) +
                       "&email=" + UrlEncode(email_) + "&password=" + UrlEncode(password_);
    if (withToken) body += "&token=" + std::to_string(token_);
    return body;
}

CHTTPHalvern::AttemptResult CHTTPHalvern::Attempt(const std::string& baseUrl, const std::string& formBody,
                                                  bool& sentOne, long& status, std::string& body) {
    if (baseUrl.empty()) return AttemptResult::kTransferFailed;  // no address, no request, no lookup
    if (!sentOne) {
        // A failure of this operation shows its own text, not an older one.
        lastError_.clear();
        sentOne = true;
    }
    ServiceConfig config = GetServiceConfig();
    http_.SetOption(CURLOPT_SSL_VERIFYPEER, 1L);
    http_.SetOption(CURLOPT_SSL_VERIFYHOST, 2L);
    http_.SetOption(CURLOPT_CAINFO, config.caFile.empty() ? http_.GetDefaultCaBundle() : config.caFile);
    // The body carries the password: it goes to HTTPS addresses only, and a
    // redirect (a 307 or 308 posts it again) may not lead anywhere else.
    http_.SetOption(CURLOPT_PROTOCOLS_STR, std::string("https"));
    http_.SetOption(CURLOPT_REDIR_PROTOCOLS_STR, std::string("https"));
    http_.SetOption(CURLOPT_TIMEOUT, config.accountTimeout);
    http_.SetMaxBodySize(kMaxReplyBytes);
    http_.SetUrl(baseUrl + kEndpointPath);
    if (!http_.Post(formBody)) return AttemptResult::kTransferFailed;
    status = http_.GetResponseCode();
    if (status != 200) return AttemptResult::kBadStatus;
    body = http_.GetResponseBody();
    return AttemptResult::kOk;
}

CHTTPHalvern::AttemptResult CHTTPHalvern::Request(const std::string& formBody, Servers servers,
                                                  bool statusIsError, std::string& body) {
    ServiceConfig config = GetServiceConfig();
    bool sentOne = false;
    long status = 0;
    AttemptResult result = AttemptResult::kTransferFailed;
    for (retryCount_ = 3; --retryCount_ >= 0;) {
        result = Attempt(config.accountBaseUrl, formBody, sentOne, status, body);
        if (result != AttemptResult::kTransferFailed || http_.WasAborted()) break;
    }
    if (http_.WasAborted()) return result;
    if (result == AttemptResult::kOk) return result;
    if (result == AttemptResult::kBadStatus && statusIsError) FormatString(lastError_, "Login retrun: %d", static_cast<int>(status));
    if (servers == Servers::kMainThenFallback) {
        result = Attempt(config.accountFallbackUrl, formBody, sentOne, status, body);
        if (result == AttemptResult::kBadStatus && statusIsError)
            FormatString(lastError_, "Login retrun: %d", static_cast<int>(status));
    }
    if (!sentOne) lastError_ = "No address of the account service is configured.";
    return result;
}
