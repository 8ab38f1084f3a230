#include "nodes/account/service_config.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

class ServiceConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved = GetServiceConfig();
        SetServiceConfig(ServiceConfig());
        std::filesystem::create_directories(dir.path() / "config");
    }
    void TearDown() override { SetServiceConfig(saved); }

    ServiceConfig saved;
    TempDir dir;
};

TEST_F(ServiceConfigTest, BuiltInRecordNamesNoHost) {
    ServiceConfig c = GetServiceConfig();
    EXPECT_EQ(c.accountBaseUrl, "");
    EXPECT_EQ(c.accountFallbackUrl, "");
    EXPECT_EQ(c.geoPlainTextBase, "");
    EXPECT_EQ(c.geoJsonABase, "");
    EXPECT_EQ(c.geoJsonBBase, "");
    EXPECT_EQ(c.geoJsonCBase, "");
    EXPECT_EQ(c.caFile, "");
    EXPECT_EQ(c.accountTimeout, 30);
    EXPECT_EQ(c.geoTimeout, 5);
    // No file: nothing changes.
    EXPECT_EQ(LoadServiceConfig(dir.path()), 0);
    EXPECT_EQ(GetServiceConfig().accountTimeout, 30);
}

TEST_F(ServiceConfigTest, OverridesFromServicesIni) {
    WriteFile(dir / "config/services.ini",
              "[basic]\n"
              "account_url = https://a.example:8443/\n"
              "account_fallback_url=\"https://b.example\"\n"
              "geo_text_url=https://t.example\n"
              "geo_json_a_url=http://ja.example\n"
              "geo_json_b_url=http://jb.example//\n"
              "geo_json_c_url=http://jc.example\n"
              "exit_ip_a_url=http://ipa.example/\n"
              "exit_ip_b_url=http://ipb.example:8080\n"
              "ca_file=certs/ca.pem\n"
              "account_timeout=12\n"
              "geo_timeout=0\n");
    ASSERT_EQ(LoadServiceConfig(dir.path()), 1);
    ServiceConfig c = GetServiceConfig();
    EXPECT_EQ(c.accountBaseUrl, "https://a.example:8443");
    EXPECT_EQ(c.accountFallbackUrl, "https://b.example");
    EXPECT_EQ(c.geoPlainTextBase, "https://t.example");
    EXPECT_EQ(c.geoJsonABase, "http://ja.example");
    EXPECT_EQ(c.geoJsonBBase, "http://jb.example");
    EXPECT_EQ(c.geoJsonCBase, "http://jc.example");
    EXPECT_EQ(c.exitIpABase, "http://ipa.example");
    EXPECT_EQ(c.exitIpBBase, "http://ipb.example:8080");
    EXPECT_EQ(std::filesystem::path(c.caFile), dir.path() / "certs/ca.pem");
    EXPECT_EQ(c.accountTimeout, 12);
    EXPECT_EQ(c.geoTimeout, 5);  // 0 is out of range

    // Absent keys keep what the record holds; a present empty key clears.
    WriteFile(dir / "config/services.ini",
              "[basic]\naccount_url=\nca_file=/etc/ssl/x.pem\ngeo_timeout=601\n");
    ASSERT_EQ(LoadServiceConfig(dir.path()), 1);
    c = GetServiceConfig();
    EXPECT_EQ(c.accountBaseUrl, "");
    EXPECT_EQ(c.accountFallbackUrl, "https://b.example");
    EXPECT_EQ(c.caFile, "/etc/ssl/x.pem");
    EXPECT_EQ(c.geoTimeout, 5);
}

}  // namespace
