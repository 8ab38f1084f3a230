#include "nodes/geo/geo_lookup.h"

#include <arpa/inet.h>

#include "foundation/http_client.h"
#include "nodes/account/json_read.h"
#include "nodes/account/service_config.h"

namespace {

// The address goes into the URL as it stands, so only a literal IP address
// (which holds nothing that could change the request) is looked up.
bool IsAddressText(const std::string& address) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, address.c_str(), buffer) == 1 || inet_pton(AF_INET6, address.c_str(), buffer) == 1;
}

// The body of a 200 reply that is not empty; false otherwise.
bool Fetch(const std::string& base, const std::string& path, std::string& body,
           const std::atomic<bool>* abort = nullptr) {
    CHttpClient client;
    client.SetAbortFlag(abort);
    client.SetOption(CURLOPT_SSL_VERIFYPEER, 0L);
    client.SetOption(CURLOPT_SSL_VERIFYHOST, 0L);
    client.SetOption(CURLOPT_TIMEOUT, GetServiceConfig().geoTimeout);
    client.SetMaxBodySize(kMaxGeoReplyBytes);
    if (!client.Get(base + path) || client.GetResponseCode() != 200) return false;
    body = client.GetResponseBody();
    return !body.empty();
}

// The JSON object of a lookup's reply; false when there is none.
bool FetchObject(const std::string& base, const std::string& path, Json::Value& root,
                 const std::atomic<bool>* abort = nullptr) {
    std::string body;
    return Fetch(base, path, body, abort) && ParseJsonText(body, root) && root.isObject();
}

bool CanAsk(const std::string& base, const std::string& address) {
    return !base.empty() && IsAddressText(address);
}

}  // namespace

int LookupCountryPlainText(const std::string& address, std::string& code) {
    std::string base = GetServiceConfig().geoPlainTextBase;
    std::string body;
    if (!CanAsk(base, address) || !Fetch(base, "/" + address + "/country", body)) return 0;
    code = body;
    return 1;
}

int LookupCountryJsonA(const std::string& address, std::string& code, std::string& name, std::string& region) {
    std::string base = GetServiceConfig().geoJsonABase;
    Json::Value root;
    if (!CanAsk(base, address) || !FetchObject(base, "/json/" + address, root)) return 0;
    if (!ReadJsonText(root, "country_code", code)) return 0;
    ReadJsonText(root, "country_name", name);
    ReadJsonText(root, "region_name", region);
    return 1;
}

int LookupCountryJsonB(const std::string& address, std::string& code, std::string& name, std::string& region) {
    std::string base = GetServiceConfig().geoJsonBBase;
    Json::Value root;
    if (!CanAsk(base, address) || !FetchObject(base, "/json/" + address, root)) return 0;
    const Json::Value* status = JsonMember(root, "status");
    if (!status || !JsonMember(root, "countryCode") || JsonText(*status) != "success") return 0;
    ReadJsonText(root, "countryCode", code);
    ReadJsonText(root, "country", name);
    ReadJsonText(root, "regionName", region);
    return 1;
}

int LookupCountryJsonC(const std::string& address, std::string& code, std::string& name, std::string& region,
                       const std::atomic<bool>* abort) {
    std::string base = GetServiceConfig().geoJsonCBase;
    Json::Value root;
    if (!CanAsk(base, address) || !FetchObject(base, "/service/getIpInfo.php?ip=" + address, root, abort)) return 0;
    const Json::Value* result = JsonMember(root, "code");
    const Json::Value* data = JsonMember(root, "data");
    if (!result || !data || JsonInt(*result) != 0 || !JsonMember(*data, "country_id")) return 0;
    ReadJsonText(*data, "country_id", code);
    ReadJsonText(*data, "country", name);
    ReadJsonText(*data, "region", region);
    return 1;
}
