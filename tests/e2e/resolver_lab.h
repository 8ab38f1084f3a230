#pragma once
// The resolver lab: an "app" namespace where the program runs, and a "dns"
// namespace, linked only to it, where two unbound servers stand in for the
// remote and the domestic DNS services on the presets' own addresses
// (8.8.8.8/8.8.4.4 and 119.29.29.29/119.28.28.28). Both answer the same
// names (www.domestic.example, www.other.example) with different addresses
// and log every query, so the answers show which one was asked. The program folder holds the shipped
// resolver templates, the build's resolver and a template
// "template.lab.conf" listing domestic.example; the app namespace's
// resolv.conf is the DNS layer's target. The controller starts with the DNS
// manager's remote and domestic presets and that template.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "netconfig/unbound_controller.h"
#include "tests/support/net.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace resolverlab {

inline constexpr const char* kRemoteAnswer = "198.51.100.1";
inline constexpr const char* kDomesticAnswer = "198.51.100.2";
inline constexpr const char* kOriginalResolvConf = "search lab.example\nnameserver 192.0.2.53\noptions ndots:1\n";

// The build's program folder and the source tree.
std::filesystem::path ProgramDir();
std::filesystem::path SourceDir();
// Sorted lines of `ip route show table all` in the calling namespace.
std::string SortedHostRoutes();
bool WaitUntil(const std::function<bool()>& cond, int ms = 5000);
// One A query over UDP from the calling thread's namespace; the first answer's address, or empty.
std::string QueryA(const std::string& server, const std::string& name);
// An unbound server configuration answering the lab's names with `answer`
// on the given addresses and logging its queries; returns its path.
std::string ServerConf(const std::filesystem::path& dir, const std::string& name,
                       const std::vector<std::string>& addresses, const std::string& answer);
// A forward-zone template that sends `zone` to the domestic resolver.
std::string ZoneTemplate(const std::string& zone);

class ResolverLab : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // getent in the app namespace, through its resolv.conf.
    std::string Resolve(const std::string& name);
    int Start();
    int IsRunning();

    std::filesystem::path resolver_;
    std::string routes_before_;
    std::unique_ptr<testsupport::NetNamespace> app_, dns_;
    testsupport::TempDir prog_;
    std::filesystem::path servers_dir_, netns_etc_, saved_target_, saved_backup_;
    testsupport::ChildProcess remote_, domestic_;
    CUnboundController* ctl_ = nullptr;
};

}  // namespace resolverlab
