// Starting the engine with arguments it must refuse: the start fails with the
// message of the step that failed, releases what it built, and leaves no
// engine running. (Starts that succeed need a TUN device: tests/e2e.)
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "engine/system/bsignal.h"
#include "engine/tun2socks/tun2socks.h"

namespace {

std::mutex g_mutex;
std::vector<std::string> g_lines;

void Capture(int, int, const char* msg) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_lines.push_back(msg);
}

class EngineStart : public ::testing::Test {
protected:
    void SetUp() override {
        g_lines.clear();
        tun2socks_set_log_sink(Capture);
    }
    void TearDown() override { tun2socks_set_log_sink(nullptr); }

    static bool Logged(const std::string& needle) {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (const auto& l : g_lines) {
            if (l.find(needle) != std::string::npos) return true;
        }
        return false;
    }
};

constexpr const char* kDevice = "tap0901:cdr-none0:10.198.75.60:10.198.75.0:255.255.255.0";

}  // namespace

TEST_F(EngineStart, RefusedArgumentsFailWithTheirMessage) {
    struct Case {
        const char* device;
        const char* ipaddr;
        const char* netmask;
        const char* socks;
        const char* username;
        const char* password;
        const char* udpgw;
        const char* stderr_line;  // from the option check, before the log
        const char* message;      // logged by the step that failed
    } cases[] = {
        {kDevice, nullptr, "255.255.255.0", "127.0.0.1:1080", nullptr, nullptr, nullptr,
         "--netif-ipaddr is required\n", "[tun2socks_start] Failed to parse arguments"},
        {kDevice, "10.198.75.61", nullptr, "127.0.0.1:1080", nullptr, nullptr, nullptr,
         "--netif-netmask is required\n", "Failed to parse arguments"},
        {kDevice, "10.198.75.61", "255.255.255.0", nullptr, nullptr, nullptr, nullptr,
         "--socks-server-addr is required\n", "Failed to parse arguments"},
        {kDevice, "10.198.75.61", "255.255.255.0", "127.0.0.1:1080", "user", nullptr, nullptr,
         "username given but password not given\n", "Failed to parse arguments"},
        {kDevice, "engine.example", "255.255.255.0", "127.0.0.1:1080", nullptr, nullptr, nullptr, "",
         "[process_arguments] netif ipaddr: BIPAddr_Resolve failed"},
        {kDevice, "[fd00::61]", "255.255.255.0", "127.0.0.1:1080", nullptr, nullptr, nullptr, "",
         "netif ipaddr: must be an IPv4 address"},
        {kDevice, "10.198.75.61", "mask", "127.0.0.1:1080", nullptr, nullptr, nullptr, "",
         "netif netmask: BIPAddr_Resolve failed"},
        {kDevice, "10.198.75.61", "[::1]", "127.0.0.1:1080", nullptr, nullptr, nullptr, "",
         "netif netmask: must be an IPv4 address"},
        {kDevice, "10.198.75.61", "255.255.255.0", "127.0.0.1", nullptr, nullptr, nullptr, "",
         "socks server addr: BAddr_Parse2 failed"},
        {kDevice, "10.198.75.61", "255.255.255.0", "127.0.0.1:1080", nullptr, nullptr, "127.0.0.1:70000", "",
         "remote udpgw server addr: BAddr_Parse2 failed"},
        {"tap0901:cdr-none0", "10.198.75.61", "255.255.255.0", "127.0.0.1:1080", nullptr, nullptr, nullptr,
         "", "[tun2socks_start] BTap_Init failed"},
        {kDevice, "10.198.75.61", "255.255.255.0", "127.0.0.1:1080", nullptr, nullptr, nullptr, "",
         "[tun2socks_start] BTap_Init failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        g_lines.clear();
        testing::internal::CaptureStderr();
        int result =
            tun2socks_start(c.device, c.ipaddr, c.netmask, c.socks, c.username, c.password, c.udpgw, 0);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, 0);
        EXPECT_FALSE(tun2socks_is_running());
        EXPECT_NE(err.find(c.stderr_line), std::string::npos) << err;
        EXPECT_TRUE(Logged(c.message));
        // Past the option check the start had built things, and released them.
        EXPECT_EQ(Logged("[tun2socks_start] exiting"), *c.stderr_line == '\0');
    }
}

// An adapter name with a colon splits the device text into the wrong fields.
TEST_F(EngineStart, AdapterNameWithAColonCannotBeOpened) {
    TunEngineConfig config;
    config.adapter_name = L"cdr:none";
    config.socks_host = L"127.0.0.1";
    config.socks_port = 1080;
    config.tun_address = L"10.198.75.60";
    config.interface_address = L"10.198.75.61";
    config.tun_network = L"10.198.75.0";
    config.tun_netmask = L"255.255.255.0";
    testing::internal::CaptureStderr();
    EXPECT_EQ(StartTunEngine(config), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(IsTunEngineRunning());
    EXPECT_TRUE(Logged("failed to parse TUN device specification"));
    StopTunEngine();  // nothing runs: returns at once
    EXPECT_FALSE(IsTunEngineRunning());
}

// A start that stops part-way releases what it had built: with the
// console-event hook held elsewhere the start fails there; once the hook is
// free, starts get past it to the missing device, again and again, because
// each failed start gave the hook back.
TEST_F(EngineStart, PartialStartReleasesWhatItBuilt) {
    BReactor reactor;
    ASSERT_EQ(BReactor_Init(&reactor), 1);
    BSignal holder;
    ASSERT_EQ(BSignal_Init(
                  &holder, &reactor, [](void*) {}, nullptr),
              1);
    for (int attempt = 0; attempt < 2; ++attempt) {
        g_lines.clear();
        EXPECT_EQ(tun2socks_start(kDevice, "10.198.75.61", "255.255.255.0", "127.0.0.1:1080", nullptr,
                                  nullptr, nullptr, 0),
                  0);
        EXPECT_TRUE(Logged("[tun2socks_start] BSignal_Init failed"));
        EXPECT_TRUE(Logged("[tun2socks_start] exiting"));
    }
    BSignal_Free(&holder);
    BReactor_Free(&reactor);

    for (int attempt = 0; attempt < 2; ++attempt) {
        g_lines.clear();
        EXPECT_EQ(tun2socks_start(kDevice, "10.198.75.61", "255.255.255.0", "127.0.0.1:1080", nullptr,
                                  nullptr, nullptr, 0),
                  0);
        EXPECT_FALSE(Logged("BSignal_Init failed")) << "the hook of the start before was kept";
        EXPECT_TRUE(Logged("[tun2socks_start] BTap_Init failed"));
        EXPECT_FALSE(tun2socks_is_running());
    }
}
