// What adapter configuration answers without touching a link: the command
// keyword, the configuration-object stand-in that always sends callers to
// the functions, and its DNS check against the resolver configuration.
#include "netconfig/adapter_config.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/resolv_conf.h"
#include "tests/support/temp_dir.h"

using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

TEST(AdapterConfig, DnsKeywordOfARecentSystem) {
    std::wstring keyword;
    EXPECT_EQ(GetNetshDnsKeyword(&keyword), 1);
    EXPECT_EQ(keyword, L"dnsservers");
}

TEST(AdapterConfig, ConfigurationObjectsAreNeverAvailable) {
    CWMILib* wmi = CWMILib::GetInstance();
    EXPECT_EQ(wmi->Connect(L"ROOT\\CIMV2"), 0);
    EXPECT_EQ(wmi->Connect(L"ROOT\\CIMV2"), 0);
    wmi->SetAdapterId(L"cendrow");
    wmi->SetAdapterId(nullptr);
    EXPECT_EQ(wmi->GetAdapterId(), L"cendrow");
    std::wstring path;
    EXPECT_EQ(wmi->GetAdapterObjectPath(&path), 0);
    EXPECT_EQ(wmi->EnableStatic(L"10.198.75.60", L"255.255.255.0"), 0);
    EXPECT_EQ(wmi->SetDNSServerSearchOrder(L"8.8.8.8", nullptr), 0);
}

TEST(AdapterConfig, IsDnsServerSetReadsTheResolverConfiguration) {
    TempDir dir;
    std::filesystem::path saved = ResolvConf_GetTarget();
    ResolvConf_SetTarget(dir / "resolv.conf");
    CWMILib* wmi = CWMILib::GetInstance();
    struct Case {
        const char* file;
        const wchar_t *primary, *secondary;
        int want;
    } cases[] = {
        {"nameserver 8.8.8.8\nnameserver 8.8.4.4\n", L"8.8.8.8", L"8.8.4.4", 1},
        {"search x\nnameserver  8.8.8.8 \n\tnameserver 8.8.4.4\n", L"8.8.8.8", L"8.8.4.4", 1},
        {"nameserver 8.8.8.8\nnameserver 8.8.4.4\n", L"8.8.8.8", nullptr, 1},
        {"nameserver 8.8.8.8\nnameserver 8.8.4.4\n", L"8.8.8.8", L"", 1},
        {"nameserver 8.8.8.8\n", L"8.8.8.8", L"8.8.4.4", 0},
        {"nameserver 8.8.4.4\nnameserver 8.8.8.8\n", L"8.8.8.8", nullptr, 0},
        {"", L"8.8.8.8", nullptr, 0},
        {"nameserver 8.8.8.8\n", nullptr, nullptr, 0},
    };
    for (const Case& c : cases) {
        WriteFile(dir / "resolv.conf", c.file);
        EXPECT_EQ(wmi->IsDnsServerSet(c.primary, c.secondary), c.want) << c.file;
    }
    std::filesystem::remove(dir / "resolv.conf");
    EXPECT_EQ(wmi->IsDnsServerSet(L"8.8.8.8", nullptr), 0) << "no file";
    ResolvConf_SetTarget(saved);
}

TEST(AdapterConfig, BadServerAddressesAreRefusedBeforeAnythingIsLookedAt) {
    // No backup file and no such connection: a refusal of the address comes first.
    for (const wchar_t* address : {L"", L"1.2.3.4\ninclude: x", L"8.8.4", L"010.0.0.1", L"256.1.1.1", L"8.8.8.8 "})
        EXPECT_EQ(SetPrimaryDnsServer(L"OSTREL 1", address), 0);
    EXPECT_EQ(SetAdapterDnsServers(L"OSTREL 1", L"8.8.8.8", L"x"), 0);
    EXPECT_EQ(SetAdapterDnsServers(L"OSTREL 1", L"", L""), 0);
}

}  // namespace
