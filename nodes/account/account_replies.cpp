#include "nodes/account/account_replies.h"

#include <memory>
#include <utility>

#include "ciphers/name_tables.h"
#include "foundation/string_util.h"
#include "foundation/text_convert.h"
#include "foundation/text_format.h"
#include "nodes/account/json_read.h"
#include "nodes/node_info.h"
#include "nodes/node_mgr.h"

namespace {

constexpr size_t kErrorBodyBytes = 200;

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// A host that could only be an attempt to smuggle something into a request
// line, a log line or a resolver query: control bytes or an inner space.
bool IsUsableHost(const std::string& host) {
    for (unsigned char c : host) {
        if (IsControl(c) || c == ' ') return false;
    }
    return true;
}

struct PackageTexts {
    std::string paymentMethod, paymentMethodName, billingCycle, nextDueDate;
};

// One node object of a package entry, or null when it is not acceptable.
std::unique_ptr<CNodeInfo> ReadNode(const Json::Value& item, const PackageTexts& package) {
    int32_t type = NodeTypeSSR;
    int32_t port = 0;
    std::string remarks, host, password, method, protocol, protocolParam, obfs, obfsParam, productName,
        groupName;
    double traffic = 0.0;
    ReadJsonInt(item, "type", type);
    ReadJsonInt(item, "port", port);
    ReadJsonText(item, "name", remarks);
    ReadJsonText(item, "hostname", host);
    ReadJsonText(item, "password", password);
    ReadJsonText(item, "method", method);
    ReadJsonText(item, "protocol", protocol);
    ReadJsonText(item, "protocolparam", protocolParam);
    ReadJsonText(item, "obfs", obfs);
    ReadJsonText(item, "obfsparam", obfsParam);
    ReadJsonReal(item, "traffic_remaining", traffic);
    ReadJsonText(item, "product_name", productName);
    bool hasGroupName = ReadJsonText(item, "group_name", groupName);

    // A port outside 1..65535 is refused rather than wrapped to another port.
    if (host.empty() || port < 1 || port > 65535 || password.empty() || method.empty()) return nullptr;

    protocol = StripCompatibleSuffix(std::move(protocol));
    obfs = StripCompatibleSuffix(std::move(obfs));
    for (std::string* text :
         {&host, &password, &method, &remarks, &protocol, &obfs, &protocolParam, &obfsParam}) {
        TrimString(*text, " ");
    }
    if (!IsUsableHost(host)) return nullptr;
    // The list reads other types' unknown names as "none".
    if (!IsAcceptedNodeCipher(type, method)) return nullptr;
    if (!IsObfsName(obfs)) obfs = "plain";
    if (!IsProtocolName(protocol)) protocol = "origin";

    auto node = std::make_unique<CNodeInfo>();
    node->type = type;
    node->host = std::move(host);
    node->port = static_cast<uint16_t>(port);
    node->password = std::move(password);
    node->method = std::move(method);
    node->remarks = std::move(remarks);
    node->protocol = std::move(protocol);
    node->obfs = std::move(obfs);
    node->protocolParam = std::move(protocolParam);
    node->obfsParam = std::move(obfsParam);
    node->origin = NodeOriginService;
    node->countryIndex = -1;
    node->trafficRemaining = RealToInt64(traffic);
    node->nextDueDate = package.nextDueDate;
    node->paymentMethod = package.paymentMethod;
    node->paymentMethodName = package.paymentMethodName;
    node->billingCycle = package.billingCycle;
    if (!productName.empty()) {
        node->group = std::move(productName);
    } else if (hasGroupName) {
        node->group = std::move(groupName);
    }
    return node;
}

// The configuration option names of a product, compared ignoring case.
enum ProductOption { kEncryptMethod, kProtocol, kObfs, kOnlineDevices, kOptionCount };
const wchar_t* const kOptionNames[kOptionCount] = {
    L"\u52a0\u5bc6\u65b9\u5f0f",                     // encryption method
    L"\u534f\u8bae\u63d2\u4ef6",                     // protocol plug-in
    L"\u6df7\u6dc6\u63d2\u4ef6",                     // obfuscation plug-in
    L"\u540c\u65f6\u5728\u7ebf\u8bbe\u5907\u6570:",  // devices online at once
};

void ReadProductOptions(const Json::Value& item, ProductRecord& record) {
    const Json::Value* options = JsonMember(item, "configoptions");
    const Json::Value* list = options ? JsonMember(*options, "configoption") : nullptr;
    if (!list || !list->isArray()) return;
    for (const Json::Value& option : *list) {
        const Json::Value* name = JsonMember(option, "option");
        const Json::Value* value = JsonMember(option, "value");
        if (!name || !value) continue;
        std::string nameText = JsonText(*name);
        std::string valueText = JsonText(*value);
        if (nameText.empty() || valueText.empty()) continue;
        std::wstring wideName = ToLowerW(Utf8ToWideString(nameText));
        for (int i = 0; i < kOptionCount; ++i) {
            if (wideName != ToLowerW(kOptionNames[i])) continue;
            switch (i) {
                case kEncryptMethod:
                    record.encryptMethod = valueText;
                    break;
                case kProtocol:
                    record.protocol = StripCompatibleSuffix(valueText);
                    break;
                case kObfs:
                    record.obfs = StripCompatibleSuffix(valueText);
                    break;
                default:
                    record.onlineDevices = valueText;
                    break;
            }
            break;
        }
    }
}

ProductRecord ReadProduct(const Json::Value& item) {
    ProductRecord r;
    const std::pair<const char*, std::string ProductRecord::*> leading[] = {
        {"id", &ProductRecord::id},
        {"clientid", &ProductRecord::clientid},
        {"orderid", &ProductRecord::orderid},
        {"pid", &ProductRecord::pid},
        {"regdate", &ProductRecord::regdate},
        {"name", &ProductRecord::name},
        {"translated_name", &ProductRecord::translated_name},
        {"groupname", &ProductRecord::groupname},
        {"translated_groupname", &ProductRecord::translated_groupname},
    };
    const std::pair<const char*, std::string ProductRecord::*> trailing[] = {
        {"dedicatedip", &ProductRecord::dedicatedip},
        {"serverid", &ProductRecord::serverid},
        {"servername", &ProductRecord::servername},
        {"serverip", &ProductRecord::serverip},
        {"serverhostname", &ProductRecord::serverhostname},
        {"suspensionreason", &ProductRecord::suspensionreason},
        {"firstpaymentamount", &ProductRecord::firstpaymentamount},
        {"recurringamount", &ProductRecord::recurringamount},
        {"paymentmethod", &ProductRecord::paymentmethod},
        {"paymentmethodname", &ProductRecord::paymentmethodname},
        {"billingcycle", &ProductRecord::billingcycle},
        {"nextduedate", &ProductRecord::nextduedate},
        {"status", &ProductRecord::status},
        {"username", &ProductRecord::username},
        {"password", &ProductRecord::password},
        {"subscriptionid", &ProductRecord::subscriptionid},
        {"promoid", &ProductRecord::promoid},
    };
    for (const auto& [key, field] : leading) ReadJsonText(item, key, r.*field);
    std::string domain;
    if (ReadJsonText(item, "domain", domain)) {
        int64_t v = LeadingDecimal(domain);
        r.domain = v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
    }
    for (const auto& [key, field] : trailing) ReadJsonText(item, key, r.*field);
    ReadProductOptions(item, r);
    return r;
}

}  // namespace

std::string StripCompatibleSuffix(std::string name) {
    ReplaceAll(name, "_compatible", "");
    return name;
}

std::string ShortenBodyForError(std::string_view body) {
    size_t length = body.size();
    if (length > kErrorBodyBytes) {
        // body[length] is the first byte dropped; while it continues a
        // character, the earlier bytes of that character go too.
        length = kErrorBodyBytes;
        while (length > 0 && (static_cast<unsigned char>(body[length]) & 0xC0) == 0x80) --length;
    }
    std::string out(body.substr(0, length));
    for (char& c : out) {
        if (IsControl(static_cast<unsigned char>(c))) c = ' ';
    }
    return out;
}

int ParseReplyEnvelope(std::string_view body, Json::Value& root, std::string& lastError) {
    if (body.empty()) {
        lastError = "Empty resp.";
        return 0;
    }
    if (!ParseJsonText(body, root)) {
        lastError = "Can not parse resp: " + ShortenBodyForError(body);
        return 0;
    }
    const Json::Value* code = JsonMember(root, "errcode");
    if (!code) {
        lastError = "Resp data error.";
        return 0;
    }
    std::string message;
    ReadJsonText(root, "errmsg", message);
    int32_t errcode = JsonInt(*code);
    if (errcode != 0) {
        if (message.empty()) FormatString(message, "Error Code: %d", errcode);
        lastError = message;
        return 0;
    }
    return 1;
}

int ReadProxyList(const Json::Value& root, PackageRecord& package, CNodeMgr& nodes, size_t* added) {
    if (added) *added = 0;
    const Json::Value* list = JsonMember(root, "proxylist");
    if (!list || !list->isArray()) return 0;
    for (const Json::Value& entry : *list) {
        const Json::Value* nodeList = JsonMember(entry, "nodelist");
        if (!nodeList) continue;
        PackageTexts texts;
        ReadJsonText(entry, "paymentmethod", texts.paymentMethod);
        ReadJsonText(entry, "paymentmethodname", texts.paymentMethodName);
        ReadJsonText(entry, "billingcycle", texts.billingCycle);
        ReadJsonText(entry, "nextduedate", texts.nextDueDate);
        ReadJsonText(entry, "traffic_remaining", package.texts[PackageRecord::kTrafficRemaining]);
        if (!nodeList->isArray()) continue;
        for (const Json::Value& item : *nodeList) {
            if (!item.isObject()) continue;
            std::unique_ptr<CNodeInfo> node = ReadNode(item, texts);
            if (node && nodes.AddNodeObject(std::move(node)) && added) ++*added;
        }
    }
    nodes.ValidateCurrentId();
    return 1;
}

int ReadProducts(const Json::Value& root, std::vector<ProductRecord>& products) {
    const Json::Value* list = JsonMember(root, "product");
    if (!list || !list->isArray()) return 0;
    for (const Json::Value& item : *list) {
        if (!item.isObject()) continue;
        ProductRecord record = ReadProduct(item);
        if (!record.encryptMethod.empty() && record.domain != 0) products.push_back(std::move(record));
    }
    return products.empty() ? 0 : 1;
}
