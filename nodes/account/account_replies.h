#pragma once
// The account service's replies turned into the program's data: the common
// envelope, the proxy list (nodes for the node list and the package record)
// and the product list.

#include <json/json.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CNodeMgr;

// The account's package texts. Only the remaining traffic is filled; the other
// positions keep the record's layout for the account panel and stay empty.
struct PackageRecord {
    static constexpr size_t kCount = 39;
    static constexpr size_t kTrafficRemaining = 21;  // the 22nd text

    std::array<std::string, kCount> texts;

    const std::string& TrafficRemaining() const { return texts[kTrafficRemaining]; }
};

// One product of the "getproduct" reply, each text from the member of its name.
struct ProductRecord {
    std::string id, clientid, orderid, pid, regdate, name, translated_name, groupname, translated_groupname;
    int32_t domain = 0;  // the text of "domain" read as atoi reads it
    std::string dedicatedip, serverid, servername, serverip, serverhostname, suspensionreason,
        firstpaymentamount, recurringamount, paymentmethod, paymentmethodname, billingcycle, nextduedate,
        status, username, password, subscriptionid, promoid;
    // From the product's configuration options.
    std::string encryptMethod, protocol, obfs, onlineDevices;
};

// The envelope every reply shares: 1 when the body is a JSON object whose
// "errcode" is 0 (the root is left in `root`), else 0 with `lastError` set to
// "Empty resp.", "Can not parse resp: " and the start of the body,
// "Resp data error.", the reply's "errmsg" or "Error Code: <code>".
int ParseReplyEnvelope(std::string_view body, Json::Value& root, std::string& lastError);

// At most 200 bytes of `body`, cut at a character boundary, with control
// characters shown as spaces: enough to recognise an error page, never a
// flood of bytes in the status line.
std::string ShortenBodyForError(std::string_view body);

// Adds every acceptable node of the "proxylist" array of `root` to `nodes`
// (origin 2, consecutive ids in reply order), stores the last entry's remaining
// traffic in the package record, and validates the current node id. 0, changing
// nothing, when "proxylist" is missing or not an array; 1 otherwise, also when
// no node was acceptable. Returns the number of nodes added through `added`
// when given.
int ReadProxyList(const Json::Value& root, PackageRecord& package, CNodeMgr& nodes, size_t* added = nullptr);

// Appends every usable product (an encryption method and a "domain" other than
// 0) of the "product" array of `root`. 1 when `products` is not empty
// afterwards, 0 otherwise; 0 when "product" is not an array.
int ReadProducts(const Json::Value& root, std::vector<ProductRecord>& products);

// Every occurrence of "_compatible" removed, as plug-in names arrive from
// services that append it.
std::string StripCompatibleSuffix(std::string name);
