#include "tests/support/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

#include "platform/host_guard.h"

namespace testsupport {
namespace {

// Test programs never change the machine's own network: every network change
// of the program's layers is refused outside the namespaces tests create.
const bool g_hostGuard = (HostGuard_Enable(), true);

int BindLoopback(int type, int port) {
    int fd = socket(AF_INET, type, 0);
    if (fd < 0) return -1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int FreeLoopbackPort() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        int tcp = BindLoopback(SOCK_STREAM, 0);
        if (tcp < 0) continue;
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        getsockname(tcp, reinterpret_cast<sockaddr*>(&sa), &len);
        int port = ntohs(sa.sin_port);
        int udp = BindLoopback(SOCK_DGRAM, port);
        close(tcp);
        if (udp >= 0) {
            close(udp);
            return port;
        }
    }
    throw std::runtime_error("no free loopback port");
}

int ListenLoopback(int* port, int backlog) {
    int fd = BindLoopback(SOCK_STREAM, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (listen(fd, backlog) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(sa.sin_port);
    return fd;
}

bool CanUseNetns() {
    return geteuid() == 0 && HaveProgram("ip");
}

NetNamespace::NetNamespace(const std::string& base) {
    name_ = base + "-" + std::to_string(getpid());
    RunCommand({"ip", "netns", "del", name_});  // a leftover of a crashed run
    if (RunCommand({"ip", "netns", "add", name_}) != 0)
        throw std::runtime_error("ip netns add " + name_ + " failed");
    Exec({"ip", "link", "set", "lo", "up"});
}

NetNamespace::~NetNamespace() {
    std::string pids;
    RunCommand({"ip", "netns", "pids", name_}, &pids);
    std::istringstream in(pids);
    pid_t pid;
    while (in >> pid) {
        if (pid > 1 && pid != getpid()) kill(pid, SIGKILL);
    }
    RunCommand({"ip", "netns", "del", name_});
}

std::vector<std::string> NetNamespace::Wrap(const std::vector<std::string>& argv) const {
    std::vector<std::string> full = {"ip", "netns", "exec", name_};
    full.insert(full.end(), argv.begin(), argv.end());
    return full;
}

int NetNamespace::Exec(const std::vector<std::string>& argv, std::string* out) const {
    return RunCommand(Wrap(argv), out);
}

void NetNamespace::MustExec(const std::vector<std::string>& argv) const {
    int rc = Exec(argv);
    if (rc != 0) {
        std::string cmd;
        for (const auto& a : argv) cmd += a + " ";
        ADD_FAILURE() << "in " << name_ << ": " << cmd << "exited with " << rc;
    }
}

ChildProcess NetNamespace::Spawn(const std::vector<std::string>& argv, const std::string& log_path) const {
    return ChildProcess(Wrap(argv), log_path);
}

NetNamespace::Scope::Scope(const std::string& name) {
    saved_fd_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    std::string path = "/run/netns/" + name;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
        if (fd >= 0) close(fd);
        throw std::runtime_error("setns into " + name + " failed");
    }
    close(fd);
}

NetNamespace::Scope::~Scope() {
    if (saved_fd_ >= 0) {
        setns(saved_fd_, CLONE_NEWNET);
        close(saved_fd_);
    }
}

void LinkNamespaces(const NetNamespace& a, const std::string& if_a, const std::string& cidr_a,
                    const NetNamespace& b, const std::string& if_b, const std::string& cidr_b) {
    // Create the pair inside `a` so that no end ever appears in the machine's namespace.
    a.MustExec({"ip", "link", "add", if_a, "type", "veth", "peer", "name", if_b, "netns", b.name()});
    a.MustExec({"ip", "addr", "add", cidr_a, "dev", if_a});
    a.MustExec({"ip", "link", "set", if_a, "up"});
    b.MustExec({"ip", "addr", "add", cidr_b, "dev", if_b});
    b.MustExec({"ip", "link", "set", if_b, "up"});
}

void AddDummyLink(const NetNamespace& ns, const std::string& dev) {
    if (ns.Exec({"ip", "link", "add", dev, "type", "dummy"}) == 0) return;
    ns.MustExec({"ip", "link", "add", dev, "type", "ifb"});
}

}  // namespace testsupport
