#include "tests/support/peers.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace testsupport {
namespace {

sockaddr_in Address(const std::string& address, int port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1)
        throw std::runtime_error("bad address " + address);
    return to;
}

// A socket of the namespace's network stack.
int SocketIn(const NetNamespace& ns, int type) {
    NetNamespace::Scope scope(ns);
    return socket(AF_INET, type | SOCK_CLOEXEC, 0);
}

bool PollUntil(const std::function<bool()>& ready, std::chrono::seconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

void BuildSuitePeers(std::initializer_list<const char*> programs, const std::function<void()>& build,
                     const std::function<void()>& tearDown) {
    if (!CanUseNetns()) return;
    for (const char* program : programs) {
        if (!HaveProgram(program)) return;
    }
    try {
        build();
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        tearDown();
    }
}

bool WaitTcpListening(const NetNamespace& ns, int port, std::chrono::seconds limit,
                      const std::string& address) {
    const sockaddr_in to = Address(address, port);
    return PollUntil(
        [&] {
            const int s = SocketIn(ns, SOCK_STREAM);
            const bool up = s >= 0 && connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
            if (s >= 0) close(s);
            return up;
        },
        limit);
}

bool WaitUdpEcho(const NetNamespace& ns, int port, std::chrono::seconds limit) {
    const int s = SocketIn(ns, SOCK_DGRAM);
    if (s < 0) return false;
    const sockaddr_in to = Address("127.0.0.1", port);
    const bool answered = PollUntil(
        [&] {
            sendto(s, "?", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            pollfd p{s, POLLIN, 0};
            char c;
            return poll(&p, 1, 100) == 1 && recv(s, &c, 1, 0) == 1;
        },
        limit);
    close(s);
    return answered;
}

std::vector<std::string> DantedCommand(const std::string& dir, int port, const std::string& method) {
    const std::string base = dir + "/danted-" + std::to_string(port);
    WriteFile(base + ".conf", "logoutput: " + base + ".log\ninternal: 127.0.0.1 port = " +
                                  std::to_string(port) + "\nexternal: lo\nsocksmethod: " + method +
                                  "\nclientmethod: none\nuser.privileged: root\nuser.unprivileged: nobody\n"
                                  "client pass { from: 0.0.0.0/0 to: 0.0.0.0/0 }\n"
                                  "socks pass { from: 0.0.0.0/0 to: 0.0.0.0/0 }\n");
    return {"danted", "-f", base + ".conf"};
}

std::string ServerPeersScript() {
    const char* source = std::getenv("CENDROW_SOURCE_DIR");
    return std::string(source ? source : ".") + "/tests/support/server_peers.py";
}

}  // namespace testsupport
