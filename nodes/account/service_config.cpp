#include "nodes/account/service_config.h"

#include <mutex>

#include "foundation/ini.h"
#include "foundation/string_util.h"
#include "foundation/text_convert.h"

namespace {

std::mutex g_configMutex;
ServiceConfig g_config;

constexpr const wchar_t* kSection = L"basic";

// A present key replaces the value, with blanks and trailing slashes trimmed.
void ReadUrl(const CIni& ini, const wchar_t* key, std::string& out) {
    if (!ini.IsKeyExist(kSection, key)) return;
    std::string text = WideToUtf8String(ini.GetString(kSection, key, L""));
    TrimString(text, " \t");
    while (!text.empty() && text.back() == '/') text.pop_back();
    out = text;
}

void ReadTimeout(const CIni& ini, const wchar_t* key, long& out) {
    int seconds = ini.GetInt(kSection, key, 0);
    if (seconds >= 1 && seconds <= 600) out = seconds;
}

}  // namespace

ServiceConfig GetServiceConfig() {
    std::lock_guard<std::mutex> lock(g_configMutex);
    return g_config;
}

void SetServiceConfig(const ServiceConfig& config) {
    std::lock_guard<std::mutex> lock(g_configMutex);
    g_config = config;
}

int LoadServiceConfig(const std::filesystem::path& programFolder) {
    CIniNembril ini(programFolder, "services.ini");
    std::error_code ec;
    if (!std::filesystem::is_regular_file(ini.GetPathName(), ec)) return 0;
    ServiceConfig config = GetServiceConfig();
    ReadUrl(ini, L"account_url", config.accountBaseUrl);
    ReadUrl(ini, L"account_fallback_url", config.accountFallbackUrl);
    ReadUrl(ini, L"geo_text_url", config.geoPlainTextBase);
    ReadUrl(ini, L"geo_json_a_url", config.geoJsonABase);
    ReadUrl(ini, L"geo_json_b_url", config.geoJsonBBase);
    ReadUrl(ini, L"geo_json_c_url", config.geoJsonCBase);
    ReadUrl(ini, L"exit_ip_a_url", config.exitIpABase);
    ReadUrl(ini, L"exit_ip_b_url", config.exitIpBBase);
    if (ini.IsKeyExist(kSection, L"ca_file")) {
        std::filesystem::path ca = WideToPath(ini.GetString(kSection, L"ca_file", L""));
        if (!ca.empty() && ca.is_relative()) ca = programFolder / ca;
        config.caFile = ca.string();
    }
    ReadTimeout(ini, L"account_timeout", config.accountTimeout);
    ReadTimeout(ini, L"geo_timeout", config.geoTimeout);
    SetServiceConfig(config);
    return 1;
}
