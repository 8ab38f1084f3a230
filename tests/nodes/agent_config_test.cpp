#include "nodes/account/agent_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "foundation/file_builder.h"
#include "nodes/account/json_read.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

class AgentConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetAgentConfig();
        std::filesystem::create_directories(dir.path() / "config");
    }
    void TearDown() override { ResetAgentConfig(); }

    std::filesystem::path AgentFile() const { return dir.path() / "config" / "agent.dat"; }
    void WriteAgentFile(const std::string& text) {
        CFileBuilder file(AgentFile());
        ASSERT_EQ(file.Open(0, 0), 1);
        ASSERT_EQ(file.Write(text.data(), text.size()), FB_SUCCESS);
    }
    int Apply(const std::string& json) {
        Json::Value root;
        EXPECT_TRUE(ParseJsonText(json, root)) << json;
        return ReadAgentConfigKeys(root);
    }

    TempDir dir;
};

TEST_F(AgentConfigTest, NoFileKeepsTheDefaults) {
    EXPECT_EQ(LoadAgentConfig(dir.path()), 0);
    EXPECT_EQ(IsAgentConfigLoaded(), 0);
    EXPECT_EQ(IsHideNodeAddress(), 0);
    EXPECT_EQ(GetAgentSoftName(), L"Cendrow");
    const AgentConfig& c = GetAgentConfig();
    EXPECT_EQ(c.interface_access_key, "pkey3864");
    EXPECT_EQ(c.data_encrypt_key, "#@velorint42-7@#");
    EXPECT_EQ(c.data_encrypt_iv, "4817302659148273");
    EXPECT_EQ(c.webad_height, 100);
}

TEST_F(AgentConfigTest, EveryKeyFromAContainer) {
    WriteAgentFile(R"({"interface_access_key":"k1","data_encrypt_key":"k2","data_encrypt_iv":"k3",
        "login_url":"https://l.example/in","logout_url":"https://l.example/out","register_url":"r",
        "refresh_proxy_url":"rp","show_package_url":"sp","hidden_ip_port":true,"disable_donate_btn":1,
        "donot_import_browser":"yes","help_url":"h","contactme_url":"c","feedback_url":"f",
        "softname":"Z\u00f6 \u5c0f\u98de","donate_url":"d","ad_url":"a1","ad_url2":"a2",
        "always_enable_sysproxy":[1],"webad_height":"42","disable_sysproxy_function":{"x":0},
        "disable_add_nodes":0.5,"newversion_url":"nv","newverion_download_url_1":"dl","unknown":1})");
    ASSERT_EQ(LoadAgentConfig(dir.path()), 1);
    EXPECT_EQ(IsAgentConfigLoaded(), 1);
    EXPECT_EQ(IsHideNodeAddress(), 1);
    EXPECT_EQ(GetAgentSoftName(), L"Z\u00f6 \u5c0f\u98de");
    const AgentConfig& c = GetAgentConfig();
    EXPECT_EQ(c.interface_access_key, "k1");
    EXPECT_EQ(c.data_encrypt_key, "k2");
    EXPECT_EQ(c.data_encrypt_iv, "k3");
    EXPECT_EQ(c.login_url, L"https://l.example/in");
    EXPECT_EQ(c.logout_url, L"https://l.example/out");
    EXPECT_EQ(c.register_url, L"r");
    EXPECT_EQ(c.refresh_proxy_url, L"rp");
    EXPECT_EQ(c.show_package_url, L"sp");
    EXPECT_TRUE(c.disable_donate_btn);
    EXPECT_TRUE(c.donot_import_browser);
    EXPECT_EQ(c.help_url, L"h");
    EXPECT_EQ(c.contactme_url, L"c");
    EXPECT_EQ(c.feedback_url, L"f");
    EXPECT_EQ(c.donate_url, L"d");
    EXPECT_EQ(c.ad_url, L"a1");
    EXPECT_EQ(c.ad_url2, L"a2");
    EXPECT_TRUE(c.always_enable_sysproxy);
    EXPECT_EQ(c.webad_height, 42);
    EXPECT_TRUE(c.disable_sysproxy_function);
    EXPECT_TRUE(c.disable_add_nodes);
    EXPECT_EQ(c.newversion_url, L"nv");
    EXPECT_EQ(c.newverion_download_url_1, L"dl");
}

TEST_F(AgentConfigTest, KeysReadByTheLenientRules) {
    struct Case {
        const char* json;
        int result;
        bool hidden;
        const wchar_t* softname;
        int32_t height;
    };
    const Case cases[] = {
        {R"({"hidden_ip_port":true})", 1, true, L"Cendrow", 100},
        {R"({"hidden_ip_port":"false"})", 1, true, L"Cendrow", 100},
        {R"({"hidden_ip_port":""})", 1, false, L"Cendrow", 100},
        {R"({"hidden_ip_port":0})", 1, false, L"Cendrow", 100},
        {R"({"softname":""})", 1, false, L"", 100},
        {R"({"softname":5})", 1, false, L"", 100},
        {R"({"softname":"\u00ff\ud83d\ude00"})", 1, false, L"\u00ff\U0001F600", 100},
        {R"({"webad_height":250})", 1, false, L"Cendrow", 100},
        {R"({"webad_height":-5})", 1, false, L"Cendrow", 0},
        {R"({"webad_height":"77px"})", 1, false, L"Cendrow", 77},
        {R"({"webad_height":1e300})", 1, false, L"Cendrow", 100},
        {R"({})", 1, false, L"Cendrow", 100},
        {R"([{"hidden_ip_port":true}])", 0, false, L"Cendrow", 100},
        {R"("softname")", 0, false, L"Cendrow", 100},
        {"null", 0, false, L"Cendrow", 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        ResetAgentConfig();
        EXPECT_EQ(Apply(c.json), c.result);
        EXPECT_EQ(IsAgentConfigLoaded(), c.result);
        EXPECT_EQ(IsHideNodeAddress(), c.hidden ? 1 : 0);
        EXPECT_EQ(GetAgentSoftName(), c.softname);
        EXPECT_EQ(GetAgentConfig().webad_height, c.height);
    }
}

TEST_F(AgentConfigTest, FilesThatDoNotLoad) {
    const std::string valid = R"({"hidden_ip_port":true,"softname":"X"})";
    struct Case {
        const char* name;
        std::string bytes;  // empty: write `text` through the container
        std::string text;
    };
    WriteAgentFile(valid);
    std::string container = ReadFile(AgentFile());
    std::string flipped = container;
    flipped[60] ^= 0x01;  // a ciphertext byte: the digest no longer matches
    std::string cut = container.substr(0, container.size() - 5);
    const Case cases[] = {
        {"tampered", flipped, ""},
        {"truncated", cut, ""},
        {"plain JSON", valid, ""},
        {"empty file", "", "-"},
        {"not JSON", "", "hidden_ip_port=1"},
        {"array root", "", "[1]"},
        {"trailing text", "", valid + " x"},
        {"too deep", "", std::string(200, '[') + std::string(200, ']')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetAgentConfig();
        if (c.text.empty()) {
            WriteFile(AgentFile(), c.bytes);
        } else if (c.text == "-") {
            WriteFile(AgentFile(), "");
        } else {
            WriteAgentFile(c.text);
        }
        EXPECT_EQ(LoadAgentConfig(dir.path()), 0);
        EXPECT_EQ(IsAgentConfigLoaded(), 0);
        EXPECT_EQ(IsHideNodeAddress(), 0);
        EXPECT_EQ(GetAgentSoftName(), L"Cendrow");
    }
    // The untouched container still loads.
    WriteFile(AgentFile(), container);
    EXPECT_EQ(LoadAgentConfig(dir.path()), 1);
    EXPECT_EQ(GetAgentSoftName(), L"X");
}

}  // namespace
