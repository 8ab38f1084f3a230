#pragma once
// The country of an IP address, from four public geolocation services: one
// plain-text service over HTTPS and three JSON services over plain HTTP. Their
// base URLs are configuration (service_config.h); a service without one is
// never asked. Nothing secret travels here, so certificates are not checked.
//
// Each lookup owns its HTTP client, so lookups run on many threads at once.
// It waits at most the configured geolocation timeout and accepts a reply of
// at most kMaxGeoReplyBytes. The out texts (UTF-8) are written only on
// success, name and region only when the reply has them; on failure they keep
// what the caller put in them.

#include <atomic>
#include <cstddef>
#include <string>

inline constexpr size_t kMaxGeoReplyBytes = 64 * 1024;

// GET <base>/<address>/country: the whole body of a 200 reply is the code.
int LookupCountryPlainText(const std::string& address, std::string& code);
// GET <base>/json/<address>: "country_code", "country_name", "region_name".
int LookupCountryJsonA(const std::string& address, std::string& code, std::string& name, std::string& region);
// GET <base>/json/<address>: "status" "success", "countryCode", "country", "regionName".
int LookupCountryJsonB(const std::string& address, std::string& code, std::string& name, std::string& region);
// GET <base>/service/getIpInfo.php?ip=<address>: "code" 0 and "data" holding
// "country_id", "country" and "region". A raised `abort` flag ends the
// request within a moment (a failure).
int LookupCountryJsonC(const std::string& address, std::string& code, std::string& name, std::string& region,
                       const std::atomic<bool>* abort = nullptr);
