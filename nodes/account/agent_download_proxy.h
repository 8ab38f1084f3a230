#pragma once
// The account-service client: logs the user in, fetches the user's packages
// with their proxy nodes into the node list, and the products. One client per
// process. Every request runs synchronously on the caller's thread (the login
// dialog's worker) and may take several request timeouts.
//
// The service's replies are untrusted: they are read by the lenient rules of
// json_read.h, and a reply that fails leaves the node list, the package
// record, the token, the logged-in state and the product list as they were.

#include <json/json.h>

#include <string>
#include <vector>

#include "foundation/singleton.h"
#include "nodes/account/account_replies.h"
#include "nodes/account/http_halvern.h"

// The singleton base comes first, so that the instance and its base pointer share one address.
class CAgentDownloadProxy : public CSingleton<CAgentDownloadProxy>, public CHTTPHalvern {
public:
    // "login" to the main, then the fallback server: 1 logged in, 0 failed.
    int Login() override;
    // "getclientinfo": the token again; 1 refreshed. Nothing calls it yet.
    int GetClientInfo() override;
    // "getproduct": 1 when at least one product is held. Nothing calls it yet.
    int GetProduct() override;
    // "allproxylist": the account's nodes into the node list; 1 when read.
    int GetAllProxyList() override;
    int ParseTokenReply(const std::string& body) override;
    int ParseProxyList(const std::string& body) override;

    // The envelope of every reply: 1 and the root in `root` when "errcode"
    // is 0, else 0 with the last error set.
    virtual int ParseReply(const std::string& body, Json::Value& root);
    virtual int ParseProduct(const std::string& body);

    const PackageRecord& GetPackageInfo() const { return package_; }
    const std::vector<ProductRecord>& GetProducts() const { return products_; }

private:
    friend class CSingleton<CAgentDownloadProxy>;
    CAgentDownloadProxy() = default;

    PackageRecord package_;
    std::vector<ProductRecord> products_;
};
