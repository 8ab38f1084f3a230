#pragma once
// Where the account service and the geolocation services are, and how long a
// request to them may take. This edition has no built-in hosts: every base is
// empty until config/services.ini (section "basic") names one, and an empty
// base means that no request is made and no name is resolved.
//
// Keys of services.ini:
//   account_url, account_fallback_url   HTTPS origins of the account service
//   geo_text_url                        HTTPS origin of the plain-text service
//   geo_json_a_url, geo_json_b_url,
//   geo_json_c_url                      HTTP origins of the three JSON services
//   exit_ip_a_url, exit_ip_b_url        HTTP origins of two services that answer
//                                       with the caller's address (paths "/ip/"
//                                       and "/"), asked through a node on this
//                                       machine or its network
//   ca_file                             CA certificates that the account
//                                       service's certificate must chain to
//                                       (relative paths are under the program
//                                       folder); empty: the system's own
//   account_timeout, geo_timeout        seconds, 1 to 600
// Origins are written without a trailing slash, e.g. "https://accounts.example.net".

#include <filesystem>
#include <string>

struct ServiceConfig {
    std::string accountBaseUrl;
    std::string accountFallbackUrl;
    std::string geoPlainTextBase;
    std::string geoJsonABase;
    std::string geoJsonBBase;
    std::string geoJsonCBase;
    std::string exitIpABase;
    std::string exitIpBBase;
    std::string caFile;
    long accountTimeout = 30;  // seconds per account-service request
    long geoTimeout = 5;       // seconds per geolocation request
};

// A copy of the record; lookups on many threads read it at once.
ServiceConfig GetServiceConfig();
void SetServiceConfig(const ServiceConfig& config);

// Applies the keys present in <program folder>/config/services.ini over the
// built-in record. 1 when the file exists, 0 when it does not (the record is
// left as it is). A timeout outside 1..600 keeps its value.
int LoadServiceConfig(const std::filesystem::path& programFolder);
