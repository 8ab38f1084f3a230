#include "tests/e2e/route_lab.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "netconfig/route_table.h"
#include "platform/tun_device.h"

namespace routelab {

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

}  // namespace

RouteLab::RouteLab(const std::string& base) : ns_(std::make_unique<testsupport::NetNamespace>(base)) {
    testsupport::AddDummyLink(*ns_, "up0");
    Ip({"addr", "add", "192.0.2.2/24", "dev", "up0"});
    Ip({"link", "set", "up0", "up"});
    Ip({"route", "add", "default", "via", "192.0.2.1", "dev", "up0", "metric", "100"});
    Ip({"tuntap", "add", "dev", "ztun0", "mode", "tun"});
    Ip({"addr", "add", "10.198.75.60/24", "dev", "ztun0"});
    Ip({"link", "set", "ztun0", "up"});
    testsupport::NetNamespace::Scope scope(*ns_);
    tunFd_ = TunDevice_Open("ztun0");
    EXPECT_GE(tunFd_, 0) << "TUN device not opened";
    up0_ = if_nametoindex("up0");
    tun_ = if_nametoindex("ztun0");
    SetInterfaceMetricValue(up0_, 100);
    SetInterfaceMetricValue(tun_, 1);
}

RouteLab::~RouteLab() {
    if (tunFd_ >= 0) close(tunFd_);
}

void RouteLab::Ip(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {"ip"};
    argv.insert(argv.end(), args.begin(), args.end());
    ns_->MustExec(argv);
}

std::vector<std::string> RouteLab::Snapshot() const {
    std::string out;
    ns_->Exec({"ip", "route", "show", "table", "all"}, &out);
    std::vector<std::string> lines = Lines(out);
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> RouteLab::Routes(const std::vector<std::string>& selectors) const {
    std::vector<std::string> argv = {"ip", "route", "show"};
    argv.insert(argv.end(), selectors.begin(), selectors.end());
    std::string out;
    ns_->Exec(argv, &out);
    return Lines(out);
}

std::string RouteLab::RouteGet(const std::string& address) const {
    std::string out;
    ns_->Exec({"ip", "route", "get", address}, &out);
    std::vector<std::string> lines = Lines(out);
    return lines.empty() ? std::string() : lines.front();
}

std::string Difference(const std::vector<std::string>& before, const std::vector<std::string>& after) {
    std::string text;
    for (const auto& line : before) {
        if (!std::binary_search(after.begin(), after.end(), line)) text += "  gone: " + line + "\n";
    }
    for (const auto& line : after) {
        if (!std::binary_search(before.begin(), before.end(), line)) text += "  new:  " + line + "\n";
    }
    return text;
}

}  // namespace routelab
