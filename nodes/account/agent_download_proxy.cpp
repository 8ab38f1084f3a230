#include "nodes/account/agent_download_proxy.h"

#include "nodes/account/json_read.h"
#include "nodes/node_mgr.h"

int CAgentDownloadProxy::Login() {
    if (email_.empty() || password_.empty()) return 0;
    std::string reply;
    if (Request(BuildBody("login", false), Servers::kMainThenFallback, true, reply) != AttemptResult::kOk) return 0;
    return ParseTokenReply(reply);
}

int CAgentDownloadProxy::GetAllProxyList() {
    if (!loggedIn_) return 0;
    std::string reply;
    if (Request(BuildBody("allproxylist", true), Servers::kMainThenFallback, true, reply) != AttemptResult::kOk)
        return 0;
    return ParseProxyList(reply);
}

int CAgentDownloadProxy::GetProduct() {
    if (!loggedIn_) return 0;
    std::string reply;
    if (Request(BuildBody("getproduct", true), Servers::kMainOnly, false, reply) != AttemptResult::kOk) return 0;
    return ParseProduct(reply);
}

int CAgentDownloadProxy::GetClientInfo() {
    if (!loggedIn_) return 0;
    std::string reply;
    if (Request(BuildBody("getclientinfo", true), Servers::kMainOnly, false, reply) != AttemptResult::kOk)
        return 0;
    return ParseTokenReply(reply);
}

int CAgentDownloadProxy::ParseReply(const std::string& body, Json::Value& root) {
    return ParseReplyEnvelope(body, root, lastError_);
}

int CAgentDownloadProxy::ParseTokenReply(const std::string& body) {
    Json::Value root;
    if (!ParseReply(body, root)) return 0;
    const Json::Value* token = JsonMember(root, "token");
    if (!token) return 0;
    token_ = JsonUInt(*token);
    loggedIn_ = 1;
    return 1;
}

int CAgentDownloadProxy::ParseProxyList(const std::string& body) {
    Json::Value root;
    if (!ParseReply(body, root)) return 0;
    return ReadProxyList(root, package_, *CNodeMgr::GetInstance());
}

int CAgentDownloadProxy::ParseProduct(const std::string& body) {
    Json::Value root;
    if (!ParseReply(body, root)) return 0;
    return ReadProducts(root, products_);
}
