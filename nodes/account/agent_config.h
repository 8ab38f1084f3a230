#pragma once
// config/agent.dat: the account edition's configuration, one JSON object in
// an encrypted data file, read once at start-up into process-wide values with
// built-in defaults. Of them the program uses whether the file was loaded,
// "hidden_ip_port" (node lists hide host and port) and "softname" (the window
// title); the other keys are kept so that a file is read the same way.

#include <json/json.h>

#include <cstdint>
#include <filesystem>
#include <string>

struct AgentConfig {
    std::string interface_access_key = "pkey3864";
    std::string data_encrypt_key = "#@velorint42-7@#";
    std::string data_encrypt_iv = "4817302659148273";
    std::wstring login_url;
    std::wstring logout_url;
    std::wstring register_url;
    std::wstring refresh_proxy_url;
    std::wstring show_package_url;
    bool hidden_ip_port = false;
    bool disable_donate_btn = false;
    bool donot_import_browser = false;
    std::wstring help_url;
    std::wstring contactme_url;
    std::wstring feedback_url;
    std::wstring softname = L"Cendrow";
    std::wstring donate_url;
    std::wstring ad_url;
    std::wstring ad_url2;
    bool always_enable_sysproxy = false;
    int32_t webad_height = 100;  // kept within 0..100
    bool disable_sysproxy_function = false;
    bool disable_add_nodes = false;
    std::wstring newversion_url;
    std::wstring newverion_download_url_1;
    bool loaded = false;  // a file was read through to the end
};

// Reads <program folder>/config/agent.dat. 1 when the file was decoded and its
// root is an object (its keys applied); 0, silently and with the values left
// as they were, when it is missing, does not decode or verify, is not JSON or
// is not an object.
int LoadAgentConfig(const std::filesystem::path& programFolder);

// Applies every key present in `root` (absent keys keep their value; a
// present key replaces it, also with an empty text) and sets the loaded flag.
// 0, applying nothing, when the root is not an object.
int ReadAgentConfigKeys(const Json::Value& root);

const AgentConfig& GetAgentConfig();
int IsAgentConfigLoaded();
int IsHideNodeAddress();
std::wstring GetAgentSoftName();

// Back to the built-in defaults, loaded flag 0 (for tests, which load many files in one process).
void ResetAgentConfig();
