#include "tests/support/node_test_lab.h"

#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <tuple>

#include "tests/support/peers.h"

namespace testsupport {

NodeTestLab::NodeTestLab(const std::vector<std::string>& sites,
                         const std::vector<std::pair<std::string, std::string>>& dnsPairs) {
    try {
        Build(sites, dnsPairs);
    } catch (...) {
        TearDown();
        throw;
    }
}

NodeTestLab::~NodeTestLab() {
    TearDown();
}

void NodeTestLab::TearDown() {
    unbound_.Stop();
    for (auto& p : peers_) p.Stop();
    peers_.clear();
    topology_.reset();
    if (!etc_.empty()) std::filesystem::remove_all(etc_);
    etc_.clear();
}

void NodeTestLab::Build(const std::vector<std::string>& sites,
                        const std::vector<std::pair<std::string, std::string>>& dnsPairs) {
    const std::string d = dir();
    // The test sites' names lead to nginx for every peer of the proxy
    // namespace; the file must be there before they start.
    etc_ = "/etc/netns/cdr-proxy-" + std::to_string(getpid());
    std::filesystem::create_directories(etc_);
    std::string hosts = "127.0.0.1 localhost\n";
    for (const std::string& name : sites) hosts += std::string(EngineTopology::kServerAddress) + " " + name + "\n";
    WriteFile(etc_ + "/hosts", hosts);
    std::filesystem::create_directories(d + "/www");
    WriteFile(d + "/www/index.html", "<html>test site</html>\n");
    topology_ = std::make_unique<EngineTopology>(d);
    const NetNamespace& proxy = topology_->proxy();

    peers_.push_back(proxy.Spawn({"microsocks", "-i", kNodeHost, "-p", std::to_string(kMicrosocksPort)}));
    WriteFile(d + "/tinyproxy.conf", "Port " + std::to_string(kTinyproxyPort) + "\nListen " + kNodeHost +
                                         "\nTimeout 60\nAllow 10.198.76.0/24\n"
                                         "DisableViaHeader Yes\nLogLevel Warning\nLogFile \"" +
                                         d + "/tinyproxy.log\"\n");
    peers_.push_back(proxy.Spawn({"tinyproxy", "-d", "-c", d + "/tinyproxy.conf"}));
    peers_.push_back(proxy.Spawn({"ss-server", "-s", kNodeHost, "-p", std::to_string(kSsPort), "-k", kSsPassword,
                                  "-m", kSsMethod, "-u", "-t", "30"},
                                 d + "/ss-server.log"));
    peers_.push_back(
        topology_->app().Spawn({"microsocks", "-i", "127.0.0.1", "-p", std::to_string(kLocalMicrosocksPort)}));
    for (auto [ns, host, port] :
         {std::tuple{&proxy, kNodeHost, kMicrosocksPort}, std::tuple{&proxy, kNodeHost, kTinyproxyPort},
          std::tuple{&proxy, kNodeHost, kSsPort}, std::tuple{&topology_->app(), "127.0.0.1", kLocalMicrosocksPort}}) {
        if (!WaitTcpListening(*ns, port, std::chrono::seconds(10), host))
            throw std::runtime_error("nothing listens on " + std::to_string(port));
    }

    // The UDP test's DNS servers live in the server namespace.
    const NetNamespace& server = topology_->server();
    AddDummyLink(server, "dns0");
    std::string unbound = "server:\n  port: 53\n  do-ip6: no\n  do-daemonize: no\n  chroot: \"\"\n"
                          "  username: \"\"\n  directory: \"" + d + "\"\n  pidfile: \"" + d +
                          "/unbound.pid\"\n  use-syslog: no\n  access-control: 0.0.0.0/0 allow\n";
    for (const auto& [name, address] : dnsPairs) {
        server.MustExec({"ip", "addr", "add", address + "/32", "dev", "dns0"});
        proxy.MustExec({"ip", "route", "add", address + "/32", "via", EngineTopology::kServerAddress});
        unbound += "  interface: " + address + "\n  local-data: \"" + name + ". 300 IN A " + kNamesAddress + "\"\n";
        dnsServers_.push_back(address);
    }
    server.MustExec({"ip", "link", "set", "dns0", "up"});
    WriteFile(d + "/unbound.conf", unbound + "remote-control:\n  control-enable: no\n");
    StartUnbound();
}

void NodeTestLab::StartUnbound() {
    const std::string d = dir();
    unbound_ = topology_->server().Spawn({"unbound", "-d", "-c", d + "/unbound.conf"}, d + "/unbound.out");
    for (const std::string& address : dnsServers_) {
        if (!WaitTcpListening(topology_->server(), 53, std::chrono::seconds(10), address))
            throw std::runtime_error("unbound does not listen on " + address);
    }
}

}  // namespace testsupport
