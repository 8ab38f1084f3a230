#include "nodes/account/agent_config.h"

#include <cstring>
#include <string_view>

#include "foundation/file_builder.h"
#include "foundation/text_convert.h"
#include "nodes/account/json_read.h"

namespace {

AgentConfig g_agentConfig;

// The keys in the order they are read, each with its conversion and target.
struct AgentKey {
    const char* key;
    std::string AgentConfig::*narrow;
    std::wstring AgentConfig::*wide;
    bool AgentConfig::*flag;
    int32_t AgentConfig::*number;
};

constexpr AgentKey Narrow(const char* key, std::string AgentConfig::*m) {
    return {key, m, nullptr, nullptr, nullptr};
}
constexpr AgentKey Wide(const char* key, std::wstring AgentConfig::*m) {
    return {key, nullptr, m, nullptr, nullptr};
}
constexpr AgentKey Flag(const char* key, bool AgentConfig::*m) {
    return {key, nullptr, nullptr, m, nullptr};
}
constexpr AgentKey Number(const char* key, int32_t AgentConfig::*m) {
    return {key, nullptr, nullptr, nullptr, m};
}

const AgentKey kAgentKeys[] = {
    Narrow("interface_access_key", &AgentConfig::interface_access_key),
    Narrow("data_encrypt_key", &AgentConfig::data_encrypt_key),
    Narrow("data_encrypt_iv", &AgentConfig::data_encrypt_iv),
    Wide("login_url", &AgentConfig::login_url),
    Wide("logout_url", &AgentConfig::logout_url),
    Wide("register_url", &AgentConfig::register_url),
    Wide("refresh_proxy_url", &AgentConfig::refresh_proxy_url),
    Wide("show_package_url", &AgentConfig::show_package_url),
    Flag("hidden_ip_port", &AgentConfig::hidden_ip_port),
    Flag("disable_donate_btn", &AgentConfig::disable_donate_btn),
    Flag("donot_import_browser", &AgentConfig::donot_import_browser),
    Wide("help_url", &AgentConfig::help_url),
    Wide("contactme_url", &AgentConfig::contactme_url),
    Wide("feedback_url", &AgentConfig::feedback_url),
    Wide("softname", &AgentConfig::softname),
    Wide("donate_url", &AgentConfig::donate_url),
    Wide("ad_url", &AgentConfig::ad_url),
    Wide("ad_url2", &AgentConfig::ad_url2),
    Flag("always_enable_sysproxy", &AgentConfig::always_enable_sysproxy),
    Number("webad_height", &AgentConfig::webad_height),
    Flag("disable_sysproxy_function", &AgentConfig::disable_sysproxy_function),
    Flag("disable_add_nodes", &AgentConfig::disable_add_nodes),
    Wide("newversion_url", &AgentConfig::newversion_url),
    Wide("newverion_download_url_1", &AgentConfig::newverion_download_url_1),
};

}  // namespace

int ReadAgentConfigKeys(const Json::Value& root) {
    if (!root.isObject()) return 0;
    AgentConfig& c = g_agentConfig;
    for (const AgentKey& k : kAgentKeys) {
        const Json::Value* member = JsonMember(root, k.key);
        if (!member) continue;
        if (k.narrow) c.*k.narrow = JsonText(*member);
        if (k.wide) c.*k.wide = Utf8ToWideString(JsonText(*member));
        if (k.flag) c.*k.flag = JsonBool(*member);
        if (k.number) c.*k.number = JsonInt(*member);
    }
    if (c.webad_height < 0) c.webad_height = 0;
    if (c.webad_height > 100) c.webad_height = 100;
    c.loaded = true;
    return 1;
}

int LoadAgentConfig(const std::filesystem::path& programFolder) {
    CFileBuilder file(programFolder / "config" / "agent.dat");
    if (!file.Open(1, 0)) return 0;
    const char* text = file.Read();
    if (!text) return 0;
    Json::Value root;
    if (!ParseJsonText(std::string_view(text, std::strlen(text)), root)) return 0;
    return ReadAgentConfigKeys(root);
}

const AgentConfig& GetAgentConfig() {
    return g_agentConfig;
}
int IsAgentConfigLoaded() {
    return g_agentConfig.loaded ? 1 : 0;
}
int IsHideNodeAddress() {
    return g_agentConfig.hidden_ip_port ? 1 : 0;
}
std::wstring GetAgentSoftName() {
    return g_agentConfig.softname;
}

void ResetAgentConfig() {
    g_agentConfig = AgentConfig();
}
